#include "app/ProcessEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

ProjectArgument projectArgument(const QStringList& args, const QString& workingDirectory) {
    if (args.isEmpty() || args.first().isEmpty() || args.first().startsWith(QLatin1Char('-'))) return {};
    const QString given = args.first();
    const QFileInfo info(QDir(workingDirectory), given);
    const QString path = QDir::cleanPath(info.absoluteFilePath());
    if (!info.exists()) return {std::nullopt, QStringLiteral("no such directory: %1").arg(given)};
    if (!info.isDir()) return {std::nullopt, QStringLiteral("not a directory: %1").arg(given)};
    return {path, {}};
}
