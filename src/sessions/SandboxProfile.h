#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Confinement profile for agents working in a worktree, in the sandbox-exec profile language.
// Stateless. The text is generated on every platform (it is data); only macOS runs it.
class SandboxProfile {
public:
    struct Command {
        QString executable;
        QStringList args;
        bool operator==(const Command&) const = default;
    };

    // The profile, or nothing when the worktree or the repository root does not exist.
    static std::optional<QString> profile(const QString& worktreePath, const QString& repoRoot,
                                          const QString& home);

    // "/usr/bin/sandbox-exec" "-p" <profile> <inner executable> <inner args...>
    static Command wrap(const QString& profile, const QString& innerExecutable,
                        const QStringList& innerArgs);

    // Nothing when nothing exists at the path; otherwise the path with symbolic links resolved.
    static std::optional<QString> realPath(const QString& path);

    // Directories and files under the home that agents need to write (caches, their own config).
    static const QStringList& writableHomeDirectories();
    static const QStringList& writableHomeFiles();
    // Directories under the home that the agent must not reach at all.
    static const QStringList& secretHomeDirectories();
};
