#include "platform/linux/SecretToolStore.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

SecretToolStore::SecretToolStore(QString program, int timeoutMs)
    : program_(std::move(program)), timeoutMs_(timeoutMs) {}

QString SecretToolStore::resolvedProgram() const {
    if (program_.contains(QLatin1Char('/'))) {
        const QFileInfo info(program_);
        return info.isFile() && info.isExecutable() ? info.absoluteFilePath() : QString();
    }
    return QStandardPaths::findExecutable(program_);
}

namespace {

// A tiny private child runner: one short lookup, its standard output kept, nothing else.
std::optional<QByteArray> runLookup(const QString& program, const QStringList& args, int timeoutMs) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(args);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(timeoutMs)) return std::nullopt;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return std::nullopt;
    return process.readAllStandardOutput();
}

}  // namespace

std::optional<QByteArray> SecretToolStore::read(const QString& service) const {
    const QString program = resolvedProgram();
    if (program.isEmpty()) return std::nullopt;
    auto secret = runLookup(program, {QStringLiteral("lookup"), QStringLiteral("service"), service}, timeoutMs_);
    if (!secret || secret->isEmpty()) return std::nullopt;
    return secret;
}

std::shared_ptr<SecretStore> SecretStore::platformDefault() {
    auto tool = std::make_shared<SecretToolStore>();
    if (tool->resolvedProgram().isEmpty()) return std::make_shared<NullSecretStore>();
    return tool;
}
