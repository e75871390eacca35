#include "limits/LimitsEndpoint.h"

#include "core/Log.h"
#include "core/Preferences.h"

#include <QHostAddress>

std::optional<QUrl> LimitsEndpoint::acceptableBase(const QString& text) {
    QString trimmed = text.trimmed();
    while (trimmed.endsWith(QLatin1Char('/'))) trimmed.chop(1);
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || url.hasQuery() || url.hasFragment() || !url.userInfo().isEmpty())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https")) return url;
    if (scheme == QLatin1String("http")) {
        const QString host = url.host();
        if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 || QHostAddress(host).isLoopback())
            return url;
    }
    return std::nullopt;
}

QUrl LimitsEndpoint::url(QStringView logLabel) const {
    QString base = defaultBase;
    QString configured = qEnvironmentVariable(envVar.toLocal8Bit().constData());
    if (configured.trimmed().isEmpty()) configured = Preferences::shared().stringValue(prefKey).value_or(QString());
    if (!configured.trimmed().isEmpty()) {
        if (auto accepted = acceptableBase(configured)) {
            base = accepted->toString();
        } else {
            SystemLog::write(logLabel, QStringLiteral("ignoring usage endpoint override \"%1\"; it must be https, "
                                                      "or http to this machine")
                                           .arg(configured));
        }
    }
    return QUrl(base + path);
}
