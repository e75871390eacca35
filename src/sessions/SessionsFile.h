#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

// One saved agent session of a project's sessions file.
struct SavedSession {
    // Always written. A record read without one still restores, under a freshly picked name.
    std::optional<QString> name;
    std::optional<QString> worktreePath;
    std::optional<QString> agentType;
    bool isOrchestrator = false;  // always written
    std::optional<QString> agentSessionID;
    std::optional<QString> transcriptPath;
    bool exited = false;  // written only when true
    std::optional<QString> tabID;

    QJsonObject toJson() const;
    // Any object reads; values of the wrong type count as absent.
    static SavedSession fromJson(const QJsonObject& object);
    bool operator==(const SavedSession&) const = default;
};

// ~/.config/varnix/sessions_<project>.json: the agent sessions of one project, in tab order.
struct SessionsFile {
    QString projectDir;
    QList<SavedSession> sessions;

    QJsonObject toJson() const;
    // None unless "projectDir" is text and "sessions" a list; entries that are not objects are skipped.
    static std::optional<SessionsFile> fromJson(const QJsonObject& object);

    // "sessions_" + the directory with every "/" and space made "_" + ".json".
    static QString fileName(const QString& projectDir);
    static QString path(const QString& configDir, const QString& projectDir);

    // None when the file is missing or does not decode.
    static std::optional<SessionsFile> load(const QString& path);
    // Pretty-printed with sorted keys, replacing the file atomically (a crash never leaves half a
    // file); the configuration directory is created when missing. False when it could not be written.
    bool write(const QString& path) const;
};
