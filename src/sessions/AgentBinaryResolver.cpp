#include "sessions/AgentBinaryResolver.h"

#include "app/PreferenceKeys.h"
#include "core/Paths.h"
#include "core/Preferences.h"
#include "core/Text.h"
#include "git/ProcessRunner.h"
#include "sessions/SessionLaunch.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>

#include <mutex>

namespace {

struct ResolverState {
    std::mutex mutex;  // guards `cache` only; never held while a shell runs
    QHash<QString, std::optional<QString>> cache;
    AgentBinaryResolver::ShellRunner runner;
    std::optional<double> timeout;
};

ResolverState& state() {
    static ResolverState s;
    return s;
}

QString expandTilde(const QString& path) {
    if (path == QLatin1String("~")) return Paths::home();
    if (path.startsWith(QStringLiteral("~/"))) return Paths::home() + path.mid(1);
    return path;
}

bool isPlainName(const QString& name) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._+-]+$"));
    return plain.match(name).hasMatch();
}

}  // namespace

std::optional<QString> AgentBinaryOverride::path(const QString& agentID) {
    const std::optional<QString> stored = Preferences::shared().stringValue(PrefKey::binaryPath(agentID));
    if (!stored) return std::nullopt;
    const QString trimmed = stored->trimmed();
    if (trimmed.isEmpty()) return std::nullopt;
    return trimmed;
}

void AgentBinaryOverride::set(const std::optional<QString>& value, const QString& agentID) {
    const QString trimmed = value ? value->trimmed() : QString();
    if (trimmed.isEmpty()) Preferences::shared().remove(PrefKey::binaryPath(agentID));
    else Preferences::shared().setValue(PrefKey::binaryPath(agentID), trimmed);
}

QString AgentBinaryResolver::npmUserPrefix() {
    const QString home = Paths::home();
    auto expand = [&](QString p) {
        p = p.trimmed();
        if ((p.startsWith(QLatin1Char('"')) && p.endsWith(QLatin1Char('"')) && p.size() >= 2)) p = p.mid(1, p.size() - 2);
        p.replace(QStringLiteral("${HOME}"), home);
        p.replace(QStringLiteral("$HOME"), home);
        return expandTilde(p);
    };
    for (const char* var : {"npm_config_prefix", "NPM_CONFIG_PREFIX"}) {
        const QString v = qEnvironmentVariable(var);
        if (!v.trimmed().isEmpty()) return expand(v);
    }
    QFile rc(home + QStringLiteral("/.npmrc"));
    if (rc.open(QIODevice::ReadOnly)) {
        for (const QByteArray& raw : rc.readAll().split('\n')) {
            const QString line = QString::fromUtf8(raw).trimmed();
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            if (eq > 0 && line.left(eq).trimmed() == QLatin1String("prefix")) {
                const QString value = expand(line.mid(eq + 1));
                if (!value.isEmpty()) return value;
            }
        }
    }
    return home + QStringLiteral("/.npm-global");
}

QStringList AgentBinaryResolver::extraLocations(const QString& name, const QStringList& additionalLocations,
                                                const PlatformPaths& paths) {
    QStringList locations;
    for (const QString& dir : paths.agentDirectories) locations << dir + name;
    locations << additionalLocations;
    if (paths.useNpmUserPrefix) locations << npmUserPrefix() + QStringLiteral("/bin/") + name;
    for (const QString& dir : paths.agentHomeDirectories) locations << Paths::home() + QLatin1Char('/') + dir + name;
    return locations;
}

QString AgentBinaryResolver::resolveCommand(const QString& agentID, const QString& binaryName,
                                            const QString& augmentedPath, const QStringList& additionalLocations) {
    return resolve(binaryName, extraLocations(binaryName, additionalLocations), augmentedPath,
                   AgentBinaryOverride::path(agentID));
}

QString AgentBinaryResolver::resolve(const QString& name, const QStringList& extraLocations,
                                     const QString& augmentedPath, const std::optional<QString>& override) {
    if (override) {
        const QString trimmed = override->trimmed();
        if (!trimmed.isEmpty()) {
            const QString expanded = expandTilde(trimmed);
            if (SessionLaunch::isExecutableFile(expanded)) return expanded;
        }
    }
    if (std::optional<QString> viaShell = resolveViaInteractiveShell(name)) return *viaShell;
    for (const QString& dir : augmentedPath.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QString candidate = dir.endsWith(QLatin1Char('/')) ? dir + name : dir + QLatin1Char('/') + name;
        if (SessionLaunch::isExecutableFile(candidate)) return candidate;
    }
    for (const QString& candidate : extraLocations)
        if (SessionLaunch::isExecutableFile(candidate)) return candidate;
    return name;
}

std::optional<QString> AgentBinaryResolver::resolveViaInteractiveShell(const QString& name) {
    ResolverState& s = state();
    ShellRunner runner;
    double timeout = kInteractiveTimeout;
    {
        std::lock_guard lock(s.mutex);
        if (auto it = s.cache.constFind(name); it != s.cache.constEnd()) return *it;
        runner = s.runner;
        if (s.timeout) timeout = *s.timeout;
    }
    const QString command = QStringLiteral("command -v ") + (isPlainName(name) ? name : shellQuote(name));
    const std::optional<QString> output =
        runner ? runner(command, true, timeout) : runLoginShellCommand(command, true, timeout);
    std::optional<QString> answer;
    if (output) answer = firstExecutablePath(*output);
    std::lock_guard lock(s.mutex);
    s.cache.insert(name, answer);
    return answer;
}

std::optional<QString> AgentBinaryResolver::runLoginShellCommand(const QString& command, bool interactive,
                                                                  double timeoutSeconds) {
    const QString shell = SessionLaunch::resolveShellPath(SessionLaunch::currentEnvironment());
    const QStringList args = interactive
        ? QStringList{QStringLiteral("-l"), QStringLiteral("-i"), QStringLiteral("-c"), command}
        : QStringList{QStringLiteral("-l"), QStringLiteral("-c"), command};
    const ProcessRunner::Result r = ProcessRunner::runAndWait(shell, args, std::nullopt, std::nullopt, timeoutSeconds);
    if (r.launchFailed() || r.timedOut) return std::nullopt;
    return r.stdOut;
}

std::optional<QString> AgentBinaryResolver::firstExecutablePath(const QString& output) {
    static const QRegularExpression csi(QStringLiteral("\x1b\\[[0-9;?]*[ -/]*[@-~]"));
    static const QRegularExpression osc(QStringLiteral("\x1b\\][^\x07]*\x07"));
    const QStringList lines = output.split(QLatin1Char('\n'));
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        QString line = *it;
        line.remove(csi);
        line.remove(osc);
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('/')) && SessionLaunch::isExecutableFile(line)) return line;
    }
    return std::nullopt;
}

void AgentBinaryResolver::forgetInteractive(const QString& name) {
    std::lock_guard lock(state().mutex);
    state().cache.remove(name);
}

void AgentBinaryResolver::clearInteractiveCache() {
    std::lock_guard lock(state().mutex);
    state().cache.clear();
}

void AgentBinaryResolver::setShellRunner(ShellRunner runner) {
    std::lock_guard lock(state().mutex);
    state().runner = std::move(runner);
}

void AgentBinaryResolver::setInteractiveTimeout(std::optional<double> seconds) {
    std::lock_guard lock(state().mutex);
    state().timeout = seconds;
}
