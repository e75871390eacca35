#include "app/ProcessEntry.h"

#include <QFile>

namespace {
QStringList& argsSlot() {
    static QStringList args;
    return args;
}
}  // namespace

const QStringList& cliArgs() { return argsSlot(); }

void setCliArgs(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i) args << QFile::decodeName(argv[i]);
    argsSlot() = args;
}

ModeSelection selectMode(const QStringList& args) {
    if (!args.isEmpty() && args.first() == QLatin1String("mcp-bridge"))
        return {ProcessMode::Bridge, args.mid(1)};
    return {ProcessMode::Application, {}};
}
