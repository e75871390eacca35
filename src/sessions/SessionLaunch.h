#pragma once

#include "sessions/PlatformPaths.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <optional>

// How a tab's child is launched: its shell, its environment and the one command text it runs
// as `<shell> -l -c <text>`. Pure functions; the session manager does the launching.
namespace SessionLaunch {

using Environment = QMap<QString, QString>;

// The user's entry in the password database.
struct UserAccount {
    QString home;
    QString loginName;
    QString shell;
    static UserAccount current();
};

// A regular file this process may execute.
bool isExecutableFile(const QString& path);

// The application's own environment.
Environment currentEnvironment();

// SHELL when it is an absolute executable; else the shell's name (SHELL's last component, else
// the account's shell's, else the table's default) in the table's directories; else the
// account's shell, then the table's last resorts.
QString resolveShellPath(const Environment& parentEnv, const PlatformPaths& paths = PlatformPaths::current(),
                         const UserAccount& account = UserAccount::current());

// A fresh environment: PATH with the table's prefixes in front, TERM, COLORTERM, LANG, SHELL,
// HOME, USER, LOGNAME and the table's copied variables. Nothing else of the parent passes.
Environment childEnvironment(const Environment& parentEnv, const QString& shell,
                             const PlatformPaths& paths = PlatformPaths::current(),
                             const UserAccount& account = UserAccount::current());

// The variables that tell a tab's processes which session they belong to.
struct SessionIdentity {
    QUuid id;
    QString name;
    QString agentID;
    std::optional<QString> worktreePath;
    bool orchestrator = false;
};
void addSessionVariables(Environment& env, const SessionIdentity& identity);

// "NAME=value" entries, as a child process takes them.
QStringList environmentList(const Environment& env);

// The directory a session runs in: its worktree, else the project directory (empty ones count
// as none).
std::optional<QString> sessionDirectory(const std::optional<QString>& worktreePath,
                                        const std::optional<QString>& projectDir);

// The tmux session of a plain terminal tab: the directory's last component with every character
// outside [A-Za-z0-9_-] made "_", "_" trimmed from both ends; "project" when nothing remains.
QString tmuxSessionName(const QString& directory);

// Attaches to (or creates) the directory's tmux session when tmux is installed, then continues
// as the interactive login shell.
QString plainTabScript(const QString& directory, const QString& shell);

struct CommandSpec {
    std::optional<QString> command;  // a complete replacement for the built text
    QString agentID;
    std::optional<QString> directory;
    QString launchCommand;  // the agent's resolved command, inserted unquoted; empty for a shell
    QStringList launchArgs;
    std::optional<QString> initialPrompt;
    std::optional<QString> launchBanner;
    QString shell;
};

// The text run by `<shell> -l -c`; none when the tab is a bare shell without a directory.
std::optional<QString> commandText(const CommandSpec& cmd);

// "-l", "-c", text with a command text; nothing without one.
QStringList shellArguments(const std::optional<QString>& commandText);

}  // namespace SessionLaunch

// Tab-list bookkeeping of the session manager.
namespace SessionIndexes {

// The active index after the tab at `closed` was removed and `remaining` tabs are left. The
// active session stays active when another tab closes; when it closes itself, the tab that took
// its place (or the new last one) becomes active.
int activeIndexAfterClose(int activeIndex, int closed, int remaining);

// The active index after a new tab was appended (the list now holds `count` tabs).
int activeIndexAfterCreate(bool activate, int activeIndex, int count);

// The terminal font size: the preference (13 when not above 0) plus the window's delta,
// clamped to 8...40.
double terminalFontSize(double preference, double delta);

}  // namespace SessionIndexes
