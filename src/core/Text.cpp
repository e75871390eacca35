#include "core/Text.h"

#include <QStringDecoder>

QString shellQuote(const QString& value) {
    QString escaped = value;
    escaped.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

QString uuidText(const QUuid& uuid) { return uuid.toString(QUuid::WithoutBraces).toUpper(); }

std::optional<QString> decodeUtf8Strict(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = decoder.decode(bytes);
    if (decoder.hasError()) return std::nullopt;
    return s;
}

QString pathExtension(const QString& path) {
    QString name = path;
    while (name.size() > 1 && name.endsWith(QLatin1Char('/'))) name.chop(1);
    name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == name.size() - 1) return {};
    // Only leading dots: ".env" / "..x"
    bool leadingOnly = true;
    for (qsizetype i = 0; i < dot; ++i) {
        if (name[i] != QLatin1Char('.')) { leadingOnly = false; break; }
    }
    if (leadingOnly) return {};
    return name.mid(dot + 1);
}
