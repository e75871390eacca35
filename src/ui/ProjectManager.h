#pragma once

#include <QList>
#include <QString>
#include <memory>

// One recent project as stored in projects.json.
struct Project {
    QString path;
    bool isExpanded = true;
    bool operator==(const Project&) const = default;
};

// The recent-projects list, most recently opened first, kept in ~/.config/varnix/projects.json
// as a compact JSON array of {"path", "isExpanded"} objects.
class ProjectManager {
public:
    // The process-wide store, loaded from the file on first use.
    static ProjectManager& shared();
    // Drops the shared store so that the next shared() loads again from the current $HOME; for
    // tests that point $HOME elsewhere.
    static void resetShared();

    // Loads `filePath` at once.
    explicit ProjectManager(QString filePath);

    // Read and replaced by the users; save() writes it.
    QList<Project> projects;

    // Writes the whole list, compact and in place, creating the directory. Failures are ignored and
    // leave the list in memory as it is; the result only tells whether the file was written.
    bool save() const;

    // The open flow: drops every entry with this exact path, puts it in front (expanded), saves.
    void recordOpened(const QString& path);
    // Drops every entry with this exact path and saves at once.
    void remove(const QString& path);

    QString filePath() const { return filePath_; }
    static QString defaultFilePath();

    // The file's entries, in stored order, keeping only paths that exist. An unreadable file, one
    // that is not an array, or any entry without a string "path" and a boolean "isExpanded" gives
    // an empty list.
    static QList<Project> load(const QString& filePath);

private:
    QString filePath_;
};
