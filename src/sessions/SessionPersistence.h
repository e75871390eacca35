#pragma once

#include "sessions/AgentSessionResume.h"
#include "sessions/SessionsFile.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>

class QTimer;
class SessionManager;

// Saves each project's agent sessions to its sessions file (a second after the last change,
// and at once when a window closes or the application quits) and brings them back when the
// project is opened again, resuming their conversations. Plain terminal tabs are never saved.
// Main thread only.
class SessionPersistence : public QObject {
    Q_OBJECT
public:
    static SessionPersistence& shared();
    // Every session manager's autosave requests go to the shared instance from now on.
    static void installAutosave();

    // `configDir` none: ~/.config/varnix of the current home, looked up at each use.
    explicit SessionPersistence(std::optional<QString> configDir = std::nullopt, QObject* parent = nullptr);
    ~SessionPersistence() override;

    QString configDir() const;
    QString sessionsFilePath(const QString& projectDir) const;
    // How saved sessions resume; none: the user's own stores and probes (the default).
    void setSessionResume(std::optional<AgentSessionResume> resume);

    // The manager's agent sessions in tab order, as they are saved.
    static QList<SavedSession> records(const SessionManager& manager);

    // Writes the manager's agent sessions now. With none, an existing file is left as it is.
    void saveSessions(SessionManager& manager);
    // Writes the manager's sessions `delaySeconds` after the last request for its project, or
    // deletes the project's file when it then has no agent session. Without a project directory
    // nothing happens.
    void autosave(SessionManager& manager, double delaySeconds = kAutosaveDelay);
    bool autosavePending(const QString& projectDir) const;

    // The project has a sessions file of its own that lists at least one session.
    bool hasSessionsToRestore(const QString& projectDir) const;
    // Re-creates the saved sessions in the manager, the last one active. The file stays until the
    // autosave those creations request rewrites it, so a crash in between loses nothing.
    void restoreSessions(const QString& projectDir, SessionManager& manager);
    // Deletes the project's sessions file. A file that belongs to another project (two project
    // paths can give one file name) or that cannot be read as a sessions file is left alone.
    void clearSavedSessions(const QString& projectDir);

    // At quit, window by window: save each manager, then stop its sessions' usage watchers from
    // the last session to the first.
    void saveForQuit(const QList<SessionManager*>& managers);

    static constexpr double kAutosaveDelay = 1.0;

signals:
    // A project's sessions file was written.
    void sessionsWritten(const QString& projectDir);

private:
    void write(const QString& projectDir, const QList<SavedSession>& records);
    void autosaveFired(QTimer* timer, const QPointer<SessionManager>& manager, const QString& projectDir);

    std::optional<QString> configDir_;
    std::optional<AgentSessionResume> sessionResume_;
    QHash<QString, QPointer<QTimer>> autosaveTimers_;
};
