#include "app/AppIcon.h"

#include <QDir>
#include <QFileInfo>

std::optional<QString> findAppIcon(const QString& executablePath) {
    const QFileInfo exe(executablePath);
    const QString exeDir = exe.absolutePath();
    auto existing = [](const QString& p) -> std::optional<QString> {
        QFileInfo fi(p);
        if (fi.isFile()) return QDir::cleanPath(fi.absoluteFilePath());
        return std::nullopt;
    };
    if (auto p = existing(exeDir + QStringLiteral("/../Resources/AppIcon.png"))) return p;
    if (auto p = existing(exeDir + QStringLiteral("/../share/varnix/AppIcon.png"))) return p;
    if (auto p = existing(exeDir + QStringLiteral("/AppIcon.png"))) return p;
    QString dir = QDir::cleanPath(exeDir);
    for (int step = 0; step < 10; ++step) {
        if (auto p = existing(dir + QStringLiteral("/Sources/Varnix/AppIcon.png"))) return p;
        dir = QFileInfo(dir).absolutePath();
        if (dir == QLatin1String("/")) break;
    }
    return std::nullopt;
}
