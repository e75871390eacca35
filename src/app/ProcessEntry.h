#pragma once

#include <QStringList>
#include <optional>

// The command-line arguments without argument 0, kept for the life of the process.
const QStringList& cliArgs();
void setCliArgs(int argc, char** argv);

enum class ProcessMode { Application, Bridge };

struct ModeSelection {
    ProcessMode mode = ProcessMode::Application;
    QStringList arguments;  // for the bridge: cliArgs without the leading "mcp-bridge"
};

// Only the first argument counts: exactly "mcp-bridge" selects the bridge.
ModeSelection selectMode(const QStringList& args);

// `varnix PATH`: the project directory named by the first argument, absolute (relative paths
// are taken from `workingDirectory`). No path when the first argument is absent or an option;
// `error` tells why a named path cannot be opened.
struct ProjectArgument {
    std::optional<QString> path;
    QString error;
};
ProjectArgument projectArgument(const QStringList& args, const QString& workingDirectory);
