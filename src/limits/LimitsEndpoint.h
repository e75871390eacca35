#pragma once

#include <QString>
#include <QStringView>
#include <QUrl>
#include <optional>

// Where a provider's usage endpoint lives. The base (scheme, host, optional port and path
// prefix) comes from the environment variable, else the preference, else the production host;
// it is read at every use so a changed setting applies to the next fetch.
struct LimitsEndpoint {
    QString envVar;
    QString prefKey;
    QString defaultBase;
    QString path;  // begins with "/"

    QUrl url(QStringView logLabel) const;

    // An override is used only when it is https, or plain http to this machine (a bearer token
    // must never cross the network unencrypted). Trailing slashes are dropped.
    static std::optional<QUrl> acceptableBase(const QString& text);
};
