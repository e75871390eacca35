#include "sessions/SessionLaunch.h"

#include "core/Text.h"

#include <QFile>
#include <QProcessEnvironment>

#include <algorithm>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace SessionLaunch {

UserAccount UserAccount::current() {
    UserAccount account;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size_t(size > 0 ? size : 16384));
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found) {
        if (found->pw_dir) account.home = QFile::decodeName(found->pw_dir);
        if (found->pw_name) account.loginName = QFile::decodeName(found->pw_name);
        if (found->pw_shell) account.shell = QFile::decodeName(found->pw_shell);
    }
    return account;
}

bool isExecutableFile(const QString& path) {
    if (path.isEmpty()) return false;
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    return ::stat(native.constData(), &st) == 0 && S_ISREG(st.st_mode) && ::access(native.constData(), X_OK) == 0;
}

Environment currentEnvironment() {
    Environment env;
    const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    for (const QString& key : system.keys()) env.insert(key, system.value(key));
    return env;
}

namespace {

QString lastComponent(const QString& path) {
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/'))) p.chop(1);
    return p.mid(p.lastIndexOf(QLatin1Char('/')) + 1);
}

// An empty value counts as unset.
QString nonEmpty(const Environment& env, const QString& key) { return env.value(key); }

}  // namespace

QString resolveShellPath(const Environment& parentEnv, const PlatformPaths& paths, const UserAccount& account) {
    const QString shell = nonEmpty(parentEnv, QStringLiteral("SHELL"));
    if (shell.startsWith(QLatin1Char('/')) && isExecutableFile(shell)) return shell;

    QString name = lastComponent(shell);
    if (name.isEmpty() && paths.useAccountShell) name = lastComponent(account.shell);
    if (name.isEmpty()) name = paths.defaultShellName;
    for (const QString& dir : paths.shellDirectories) {
        if (isExecutableFile(dir + name)) return dir + name;
    }

    QStringList candidates;
    if (paths.useAccountShell && account.shell.startsWith(QLatin1Char('/'))) candidates << account.shell;
    candidates << paths.lastResortShells;
    for (const QString& candidate : candidates)
        if (isExecutableFile(candidate)) return candidate;
    return paths.lastResortShells.isEmpty() ? QStringLiteral("/bin/sh") : paths.lastResortShells.last();
}

Environment childEnvironment(const Environment& parentEnv, const QString& shell, const PlatformPaths& paths,
                             const UserAccount& account) {
    Environment env;
    QString home = nonEmpty(parentEnv, QStringLiteral("HOME"));
    if (home.isEmpty()) home = account.home;

    QStringList entries = parentEnv.value(QStringLiteral("PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    QStringList front;
    for (QString prefix : paths.pathPrefixes) {
        if (prefix.startsWith(QStringLiteral("~/"))) prefix = home + prefix.mid(1);
        if (!entries.contains(prefix) && !front.contains(prefix)) front << prefix;
    }
    env.insert(QStringLiteral("PATH"), (front + entries).join(QLatin1Char(':')));
    env.insert(QStringLiteral("TERM"), QStringLiteral("xterm-256color"));
    env.insert(QStringLiteral("COLORTERM"), QStringLiteral("truecolor"));
    const QString lang = nonEmpty(parentEnv, QStringLiteral("LANG"));
    env.insert(QStringLiteral("LANG"), lang.isEmpty() ? paths.defaultLang : lang);
    env.insert(QStringLiteral("SHELL"), shell);
    env.insert(QStringLiteral("HOME"), home);
    for (const QString& key : {QStringLiteral("USER"), QStringLiteral("LOGNAME")}) {
        const QString value = nonEmpty(parentEnv, key);
        env.insert(key, value.isEmpty() ? account.loginName : value);
    }
    for (const QString& key : paths.copiedVariables) {
        if (parentEnv.contains(key)) env.insert(key, parentEnv.value(key));
    }
    return env;
}

void addSessionVariables(Environment& env, const SessionIdentity& identity) {
    env.insert(QStringLiteral("VRNX_SESSION_ID"), uuidText(identity.id));
    env.insert(QStringLiteral("VRNX_AGENT_NAME"), identity.name);
    env.insert(QStringLiteral("VRNX_AGENT"), identity.agentID);
    if (identity.worktreePath) env.insert(QStringLiteral("VRNX_WORKTREE"), *identity.worktreePath);
    if (identity.orchestrator) env.insert(QStringLiteral("VRNX_ORCHESTRATOR"), QStringLiteral("1"));
}

QStringList environmentList(const Environment& env) {
    QStringList list;
    list.reserve(env.size());
    for (auto it = env.cbegin(); it != env.cend(); ++it) list << it.key() + QLatin1Char('=') + it.value();
    return list;
}

std::optional<QString> sessionDirectory(const std::optional<QString>& worktreePath,
                                        const std::optional<QString>& projectDir) {
    if (worktreePath && !worktreePath->isEmpty()) return worktreePath;
    if (projectDir && !projectDir->isEmpty()) return projectDir;
    return std::nullopt;
}

QString tmuxSessionName(const QString& directory) {
    QString name = lastComponent(directory);
    for (QChar& c : name) {
        const char16_t u = c.unicode();
        const bool keep = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-' ||
                          u == '_';
        if (!keep) c = QLatin1Char('_');
    }
    qsizetype begin = 0, end = name.size();
    while (begin < end && name[begin] == QLatin1Char('_')) ++begin;
    while (end > begin && name[end - 1] == QLatin1Char('_')) --end;
    name = name.mid(begin, end - begin);
    return name.isEmpty() ? QStringLiteral("project") : name;
}

namespace {
QString directoryPrefix(const std::optional<QString>& directory) {
    return directory ? QStringLiteral("cd ") + shellQuote(*directory) + QStringLiteral(" && ") : QString();
}
QString execShell(const QString& shell) { return QStringLiteral("exec ") + shellQuote(shell) + QStringLiteral(" -il"); }
}  // namespace

QString plainTabScript(const QString& directory, const QString& shell) {
    const QString n = shellQuote(tmuxSessionName(directory));
    return directoryPrefix(directory) + QStringLiteral("if command -v tmux >/dev/null 2>&1; then") +
           QStringLiteral(" if tmux has-session -t ") + n + QStringLiteral(" 2>/dev/null;") +
           QStringLiteral(" then tmux attach -t ") + n + QStringLiteral("; else tmux new -s ") + n +
           QStringLiteral("; fi; fi; ") + execShell(shell);
}

std::optional<QString> commandText(const CommandSpec& cmd) {
    if (cmd.command) return *cmd.command;
    if (cmd.agentID == QLatin1String("shell") && cmd.directory) return plainTabScript(*cmd.directory, cmd.shell);
    const QString prefix = directoryPrefix(cmd.directory);
    if (!cmd.launchCommand.isEmpty()) {
        QString text = prefix;
        if (cmd.launchBanner) text += QStringLiteral("echo ") + shellQuote(*cmd.launchBanner) + QStringLiteral("; ");
        text += cmd.launchCommand;
        for (const QString& arg : cmd.launchArgs) text += QLatin1Char(' ') + shellQuote(arg);
        if (cmd.initialPrompt && !cmd.initialPrompt->isEmpty())
            text += QLatin1Char(' ') + shellQuote(*cmd.initialPrompt);
        return text + QStringLiteral("; ") + execShell(cmd.shell);
    }
    if (cmd.directory) return prefix + execShell(cmd.shell);
    return std::nullopt;
}

QStringList shellArguments(const std::optional<QString>& commandText) {
    if (!commandText) return {};
    return {QStringLiteral("-l"), QStringLiteral("-c"), *commandText};
}

}  // namespace SessionLaunch

namespace SessionIndexes {

int activeIndexAfterClose(int activeIndex, int closed, int remaining) {
    if (remaining <= 0) return -1;
    if (activeIndex < 0) return activeIndex;
    if (closed < activeIndex) --activeIndex;
    return std::min(activeIndex, remaining - 1);
}

int activeIndexAfterCreate(bool activate, int activeIndex, int count) {
    return (activate || activeIndex < 0) ? count - 1 : activeIndex;
}

double terminalFontSize(double preference, double delta) {
    const double base = preference > 0 ? preference : 13.0;
    return std::clamp(base + delta, 8.0, 40.0);
}

}  // namespace SessionIndexes
