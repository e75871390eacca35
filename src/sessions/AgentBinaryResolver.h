#pragma once

#include "sessions/PlatformPaths.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// The user's explicit executable for an agent: preference "Varnix.binaryPath.<agent id>".
class AgentBinaryOverride {
public:
    // The stored value trimmed; none when absent or blank.
    static std::optional<QString> path(const QString& agentID);
    // Stores the trimmed value, or removes the key when it is blank or none.
    static void set(const std::optional<QString>& value, const QString& agentID);
};

// Finds the program to launch for an agent: the override, what the user's interactive login
// shell resolves the name to, the child's PATH, well-known install places, else the bare name.
// The shell's answer is cached per name for the life of the process, "not found" included.
class AgentBinaryResolver {
public:
    static QString resolveCommand(const QString& agentID, const QString& binaryName, const QString& augmentedPath,
                                  const QStringList& additionalLocations);
    static QString resolve(const QString& name, const QStringList& extraLocations, const QString& augmentedPath,
                           const std::optional<QString>& override);
    static std::optional<QString> resolveViaInteractiveShell(const QString& name);
    // Runs the command in the user's login shell (interactive when asked) with the application's
    // environment; its standard output, also on a non-zero status; none when it could not start
    // or ran out of time.
    static std::optional<QString> runLoginShellCommand(const QString& command, bool interactive,
                                                       double timeoutSeconds);
    // The last line of shell output that, stripped of terminal control sequences, is an
    // absolute path to an executable file.
    static std::optional<QString> firstExecutablePath(const QString& output);

    // The well-known places for `name`: the table's directories, the caller's locations, the
    // user's npm global bin directory, then the table's home directories.
    static QStringList extraLocations(const QString& name, const QStringList& additionalLocations,
                                      const PlatformPaths& paths = PlatformPaths::current());
    // The user's npm global prefix: npm_config_prefix, else "prefix" in ~/.npmrc, else
    // ~/.npm-global.
    static QString npmUserPrefix();

    // Makes the next lookup of `name` ask the shell again.
    static void forgetInteractive(const QString& name);
    static void clearInteractiveCache();

    static constexpr double kInteractiveTimeout = 6.0;

    // Test seams: the shell runner and the interactive timeout (null / nullopt restore them).
    using ShellRunner = std::function<std::optional<QString>(const QString& command, bool interactive,
                                                             double timeoutSeconds)>;
    static void setShellRunner(ShellRunner runner);
    static void setInteractiveTimeout(std::optional<double> seconds);
};
