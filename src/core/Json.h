#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <optional>

// JSON files: read leniently (anything unreadable is absent), written after creating missing
// directories. Key order comes out sorted because QJsonObject keeps its keys sorted.
namespace Json {

std::optional<QJsonObject> readObject(const QString& path);
std::optional<QJsonArray> readArray(const QString& path);
std::optional<QJsonObject> parseObject(const QByteArray& bytes);

enum class Mode { Atomic, InPlace };

// Pretty-printed (indented). Returns false when the file could not be written.
bool writePretty(const QString& path, const QJsonObject& object, Mode mode = Mode::Atomic);
bool writePretty(const QString& path, const QJsonArray& array, Mode mode = Mode::Atomic);
// Single-line.
bool writeCompact(const QString& path, const QJsonObject& object, Mode mode = Mode::Atomic);
bool writeCompact(const QString& path, const QJsonArray& array, Mode mode = Mode::Atomic);

// Writes bytes with missing parent directories created; permissions applied before any byte
// lands when given (files that hold secrets are never readable by others, not even briefly).
bool writeFile(const QString& path, const QByteArray& bytes, Mode mode = Mode::Atomic,
               std::optional<int> unixMode = std::nullopt);

// Typed access that tells "absent" from "present with the wrong type".
enum class Lookup { Absent, WrongType, Ok };
template <typename T>
struct Field {
    Lookup state = Lookup::Absent;
    T value{};
    bool ok() const { return state == Lookup::Ok; }
};
Field<QString> optString(const QJsonObject& obj, const QString& key);
Field<bool> optBool(const QJsonObject& obj, const QString& key);
Field<double> optDouble(const QJsonObject& obj, const QString& key);
Field<QJsonObject> optObject(const QJsonObject& obj, const QString& key);
Field<QJsonArray> optArray(const QJsonObject& obj, const QString& key);

// Value as text when it is a JSON string, else the fallback.
QString stringOr(const QJsonObject& obj, const QString& key, const QString& fallback = {});

}  // namespace Json
