#include "observe/ObserveJson.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace ObserveJson {

std::optional<QJsonObject> parseLine(QStringView line) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    return doc.object();
}

}  // namespace ObserveJson
