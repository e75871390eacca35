#include "orchestration/OrchestrationToken.h"

#include "core/Json.h"
#include "core/Paths.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <sys/random.h>

#include <cerrno>

namespace OrchestrationToken {

QString defaultPath() {
    QDir().mkpath(Paths::configDir());
    return Paths::configFile(QStringLiteral("orch-token"));
}

std::optional<QString> read(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QString text = QString::fromUtf8(file.readAll()).trimmed();
    if (text.isEmpty()) return std::nullopt;
    return text;
}

namespace {

bool fillFromKernel(unsigned char* bytes, size_t count) {
    size_t filled = 0;
    while (filled < count) {
        const ssize_t n = ::getrandom(bytes + filled, count - filled, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        filled += size_t(n);
    }
    return true;
}

bool fillFromDevice(unsigned char* bytes, size_t count) {
    QFile dev(QStringLiteral("/dev/urandom"));
    return dev.open(QIODevice::ReadOnly) && dev.read(reinterpret_cast<char*>(bytes), qint64(count)) == qint64(count);
}

}  // namespace

QString make() {
    alignas(quint32) unsigned char bytes[32];
    // getrandom() only fails on kernels without it; the device is the same source.
    if (!fillFromKernel(bytes, sizeof bytes) && !fillFromDevice(bytes, sizeof bytes))
        QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes), sizeof bytes / 4);
    QString hex;
    hex.reserve(64);
    for (unsigned char b : bytes) hex += QString::asprintf("%02x", b);
    return hex;
}

QString loadOrCreate(const QString& path, const std::function<QString()>& generator) {
    if (auto existing = read(path)) return *existing;
    const QString token = generator();
    // Written atomically and 0600 from the first byte, so a bridge never reads half a token.
    Json::writeFile(path, token.toUtf8(), Json::Mode::Atomic, 0600);
    return token;
}

}  // namespace OrchestrationToken
