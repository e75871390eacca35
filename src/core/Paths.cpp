#include "core/Paths.h"

#include <QDir>
#include <QFileInfo>

#include <pwd.h>
#include <unistd.h>

namespace Paths {

QString home() {
    const QByteArray env = qgetenv("HOME");
    if (!env.isEmpty()) return QFile::decodeName(env);
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return QFile::decodeName(pw->pw_dir);
    return QStringLiteral("/");
}

QString configDir() { return home() + QStringLiteral("/.config/varnix"); }

QString configFile(const QString& name) { return configDir() + QLatin1Char('/') + name; }

QString runtimeDir() {
    const QByteArray env = qgetenv("XDG_RUNTIME_DIR");
    if (!env.isEmpty()) {
        QFileInfo fi(QFile::decodeName(env));
        if (fi.isDir() && fi.isWritable()) return fi.absoluteFilePath();
    }
    return configDir();
}

QString tempDir() {
    QString t = QDir::tempPath();
    while (t.size() > 1 && t.endsWith(QLatin1Char('/'))) t.chop(1);
    return t;
}

QString executablePath() {
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return exe;
}

}  // namespace Paths
