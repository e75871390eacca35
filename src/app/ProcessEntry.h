#pragma once

#include <QStringList>

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
