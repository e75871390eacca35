#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QStringView>
#include <cmath>
#include <optional>

// Small JSON readers shared by the transcript and rollout parsers.
namespace ObserveJson {

// The line as a JSON object; none for anything else.
std::optional<QJsonObject> parseLine(QStringView line);

// An integral JSON number as an integer; none for a fraction, a non-number or a value out of range.
inline std::optional<qint64> integer(const QJsonValue& value) {
    if (!value.isDouble()) return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 9.0e15) return std::nullopt;
    return qint64(d);
}

// Missing or non-integer values count as 0.
inline qint64 integerOrZero(const QJsonObject& object, QLatin1StringView key) {
    return integer(object.value(key)).value_or(0);
}

}  // namespace ObserveJson
