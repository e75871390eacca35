#include "sessions/SandboxLauncher.h"

#include "core/Log.h"
#include "core/Paths.h"
#include "git/ProcessRunner.h"

#include <QDir>
#include <QFileInfo>

namespace {

bool isExecutableFile(const QString& path) {
    const QFileInfo fi(path);
    return fi.isFile() && fi.isExecutable();
}

bool strictlyUnder(const QString& path, const QString& dir) {
    return path.startsWith(dir + QLatin1Char('/'));
}

}  // namespace

const SandboxLauncher* SandboxLauncher::platformDefault() {
#if defined(Q_OS_MACOS)
    static const SeatbeltLauncher launcher;
#else
    static const BubblewrapLauncher launcher;
#endif
    return &launcher;
}

// ---- sandbox-exec

bool SeatbeltLauncher::isAvailable() const {
    return isExecutableFile(QStringLiteral("/usr/bin/sandbox-exec"));
}

std::optional<SandboxLauncher::Command> SeatbeltLauncher::wrap(const QString& worktreePath,
                                                               const QString& repoRoot,
                                                               const QString& home,
                                                               const QString& executable,
                                                               const QStringList& args) const {
    const auto profile = SandboxProfile::profile(worktreePath, repoRoot, home);
    if (!profile) return std::nullopt;
    return SandboxProfile::wrap(*profile, executable, args);
}

// ---- bubblewrap

BubblewrapLauncher::BubblewrapLauncher(QString bwrapPath, Probe probe)
    : bwrap_(std::move(bwrapPath)), probe_(std::move(probe)) {}

bool BubblewrapLauncher::defaultProbe(const QString& bwrapPath, QString* reason) {
    // The same kind of mount the real launch makes; containers that forbid user namespaces
    // fail here rather than at every session start.
    const auto r = ProcessRunner::runAndWait(
        bwrapPath, {QStringLiteral("--dev-bind"), QStringLiteral("/"), QStringLiteral("/"),
                    QStringLiteral("--die-with-parent"), QStringLiteral("--"), QStringLiteral("true")},
        std::nullopt, std::nullopt, 10.0);
    if (r.exitCode == 0 && !r.timedOut) return true;
    if (reason) {
        *reason = r.timedOut ? QStringLiteral("no answer within 10 s") : r.stdErr.trimmed();
        if (reason->isEmpty()) *reason = QStringLiteral("exit status %1").arg(r.exitCode);
    }
    return false;
}

bool BubblewrapLauncher::isAvailable() const {
    std::call_once(probed_, [this] {
        if (!isExecutableFile(bwrap_)) return;  // no launcher: silently unconfined
        QString reason;
        available_ = probe_ && probe_(bwrap_, &reason);
        if (!available_)
            SystemLog::write(u"Sandbox", QStringLiteral("%1 cannot create its namespaces here (%2) "
                                                         "\u2014 worktree sessions run unconfined")
                                             .arg(bwrap_, reason));
    });
    return available_;
}

QStringList BubblewrapLauncher::mountArguments(const QString& w, const QString& r, const QString& h,
                                               const QString& t) {
    const auto bind = [](QStringList& a, const char* op, const QString& path) {
        a << QLatin1String(op) << path << path;
    };
    QStringList a;
    bind(a, "--dev-bind", QStringLiteral("/"));

    // (1) the home and the main repository read-only
    bind(a, QFileInfo(h).isDir() ? "--ro-bind" : "--ro-bind-try", h);
    bind(a, "--ro-bind", r);
    if (!t.isEmpty() && (strictlyUnder(t, h) || strictlyUnder(t, r))) {
        bind(a, "--bind-try", t);
        if (strictlyUnder(r, t)) bind(a, "--ro-bind", r);
    }

    // (2) caches and agent configuration; missing ones are skipped by bwrap and stay read-only
    for (const QString& d : SandboxProfile::writableHomeDirectories())
        bind(a, "--bind-try", h + QLatin1Char('/') + d);
    for (const QString& f : SandboxProfile::writableHomeFiles())
        bind(a, "--bind-try", h + QLatin1Char('/') + f);

    // (3) the worktree and the git database
    bind(a, "--bind", w);
    bind(a, "--bind-try", r + QStringLiteral("/.git"));

    // (4) the control channel read-only except the turn-events directory; secrets hidden
    bind(a, "--ro-bind-try", h + QStringLiteral("/.config/varnix"));
    bind(a, "--bind-try", h + QStringLiteral("/.config/varnix/orch-events"));
    for (const QString& s : SandboxProfile::secretHomeDirectories()) {
        const QString path = h + QLatin1Char('/') + s;
        const QFileInfo fi(path);
        if (fi.isDir()) {
            a << QStringLiteral("--tmpfs") << path;
        } else if (fi.exists() || fi.isSymLink()) {
            // A file (or dangling link) cannot take a tmpfs; an empty device hides it as well.
            a << QStringLiteral("--ro-bind") << QStringLiteral("/dev/null") << path;
        }
    }
    return a;
}

std::optional<SandboxLauncher::Command> BubblewrapLauncher::wrap(const QString& worktreePath,
                                                                 const QString& repoRoot,
                                                                 const QString& home,
                                                                 const QString& executable,
                                                                 const QStringList& args) const {
    const auto w = SandboxProfile::realPath(worktreePath);
    if (!w) return std::nullopt;
    const auto r = SandboxProfile::realPath(repoRoot);
    if (!r) return std::nullopt;
    const QString h = SandboxProfile::realPath(home).value_or(home);
    const QString t = SandboxProfile::realPath(Paths::tempDir()).value_or(Paths::tempDir());
    // A writable location has to exist before the launch (bwrap skips missing ones, leaving them
    // read-only under their parent); the agent's turn-end hook must be able to write here.
    QDir().mkpath(h + QStringLiteral("/.config/varnix/orch-events"));

    Command c;
    c.executable = bwrap_;
    c.args = mountArguments(*w, *r, h, t);
    c.args << QStringLiteral("--die-with-parent") << QStringLiteral("--") << executable << args;
    return c;
}

// ---- session creation's step

namespace Sandbox {

SandboxProfile::Command confine(const QString& worktreePath, const QString& sandboxRepoRoot,
                                const QString& home, const QString& executable,
                                const QStringList& args, const SandboxLauncher* launcher) {
    SandboxProfile::Command plain{executable, args};
    if (worktreePath.isEmpty() || sandboxRepoRoot.isEmpty()) return plain;
    if (!launcher || !launcher->isAvailable()) return plain;
    const QString h = home.isEmpty() ? Paths::home() : home;
    auto wrapped = launcher->wrap(worktreePath, sandboxRepoRoot, h, executable, args);
    if (!wrapped) {
        SystemLog::write(u"Sandbox", QStringLiteral("could not build profile for %1 \u2014 running "
                                                    "unconfined")
                                         .arg(worktreePath));
        return plain;
    }
    return *wrapped;
}

}  // namespace Sandbox
