#pragma once

#include "sessions/SandboxProfile.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <mutex>
#include <optional>

// The seam between session creation and the platform's confinement tool. A launcher turns the
// child's executable and arguments into a confined command for one worktree.
class SandboxLauncher {
public:
    using Command = SandboxProfile::Command;

    virtual ~SandboxLauncher() = default;

    // Whether the tool can confine anything on this machine. Cheap after the first call.
    virtual bool isAvailable() const = 0;

    // The confined command, or nothing when the worktree or the repository root does not exist.
    virtual std::optional<Command> wrap(const QString& worktreePath, const QString& repoRoot,
                                        const QString& home, const QString& executable,
                                        const QStringList& args) const = 0;

    // The launcher of this platform (bubblewrap on Linux, sandbox-exec on macOS); process-wide.
    static const SandboxLauncher* platformDefault();
};

// macOS: sandbox-exec with the generated profile.
class SeatbeltLauncher final : public SandboxLauncher {
public:
    bool isAvailable() const override;
    std::optional<Command> wrap(const QString& worktreePath, const QString& repoRoot,
                                const QString& home, const QString& executable,
                                const QStringList& args) const override;
};

// Linux: bubblewrap with the same policy as the profile. Mounts apply in argument order, so the
// last rule for a path wins, as in the profile. No namespaces beyond the mount namespace and no
// new session: the child keeps the terminal as its controlling terminal and keeps the network.
class BubblewrapLauncher final : public SandboxLauncher {
public:
    // Runs the tool once to see whether it can create its namespaces; false with a reason when not.
    using Probe = std::function<bool(const QString& bwrapPath, QString* reason)>;

    explicit BubblewrapLauncher(QString bwrapPath = QStringLiteral("/usr/bin/bwrap"),
                                Probe probe = defaultProbe);

    // Executable and the probe succeeded. Probed once; a failed probe is logged once.
    bool isAvailable() const override;

    std::optional<Command> wrap(const QString& worktreePath, const QString& repoRoot,
                                const QString& home, const QString& executable,
                                const QStringList& args) const override;

    // The bubblewrap options for already resolved paths: W worktree, R repository root, H home,
    // T temporary directory. T is re-opened only when it lies under H or R (elsewhere it stays
    // writable anyway, and binding a parent of R again would undo R's read-only mount).
    static QStringList mountArguments(const QString& w, const QString& r, const QString& h,
                                      const QString& t);

    static bool defaultProbe(const QString& bwrapPath, QString* reason);

    const QString& path() const { return bwrap_; }

private:
    QString bwrap_;
    Probe probe_;
    mutable std::once_flag probed_;
    mutable bool available_ = false;
};

namespace Sandbox {

// Session creation's sandbox step: the child's command confined to its worktree when a repository
// root and a worktree are given and the platform's launcher works. Unconfined, with a log line,
// when the paths do not exist; silently unconfined when there is no launcher. An empty `home`
// means the user's home.
SandboxProfile::Command confine(const QString& worktreePath, const QString& sandboxRepoRoot,
                                const QString& home, const QString& executable,
                                const QStringList& args,
                                const SandboxLauncher* launcher = SandboxLauncher::platformDefault());

}  // namespace Sandbox
