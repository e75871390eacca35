#include "core/Json.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Json {

namespace {

std::optional<QJsonDocument> readDocument(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    QJsonParseError err{};
    QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &err);
    if (err.error != QJsonParseError::NoError) return std::nullopt;
    return doc;
}

bool ensureParent(const QString& path) {
    const QString dir = QFileInfo(path).absolutePath();
    return QDir().mkpath(dir);
}

}  // namespace

std::optional<QJsonObject> readObject(const QString& path) {
    auto doc = readDocument(path);
    if (!doc || !doc->isObject()) return std::nullopt;
    return doc->object();
}

std::optional<QJsonArray> readArray(const QString& path) {
    auto doc = readDocument(path);
    if (!doc || !doc->isArray()) return std::nullopt;
    return doc->array();
}

std::optional<QJsonObject> parseObject(const QByteArray& bytes) {
    QJsonParseError err{};
    QJsonDocument doc = QJsonDocument::fromJson(bytes, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    return doc.object();
}

bool writeFile(const QString& path, const QByteArray& bytes, Mode mode, std::optional<int> unixMode) {
    if (!ensureParent(path)) return false;
    if (mode == Mode::Atomic) {
        QSaveFile f(path);
        if (!f.open(QIODevice::WriteOnly)) return false;
        if (unixMode) ::fchmod(f.handle(), mode_t(*unixMode));
        if (f.write(bytes) != bytes.size()) {
            f.cancelWriting();
            return false;
        }
        return f.commit();
    }
    if (unixMode) {
        // Create with the final mode so the content is never exposed.
        const QByteArray native = QFile::encodeName(path);
        int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode_t(*unixMode));
        if (fd < 0) return false;
        ::fchmod(fd, mode_t(*unixMode));
        qint64 off = 0;
        while (off < bytes.size()) {
            ssize_t n = ::write(fd, bytes.constData() + off, size_t(bytes.size() - off));
            if (n <= 0) {
                ::close(fd);
                return false;
            }
            off += n;
        }
        return ::close(fd) == 0;
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(bytes) == bytes.size();
}

bool writePretty(const QString& path, const QJsonObject& object, Mode mode) {
    return writeFile(path, QJsonDocument(object).toJson(QJsonDocument::Indented), mode);
}
bool writePretty(const QString& path, const QJsonArray& array, Mode mode) {
    return writeFile(path, QJsonDocument(array).toJson(QJsonDocument::Indented), mode);
}
bool writeCompact(const QString& path, const QJsonObject& object, Mode mode) {
    return writeFile(path, QJsonDocument(object).toJson(QJsonDocument::Compact), mode);
}
bool writeCompact(const QString& path, const QJsonArray& array, Mode mode) {
    return writeFile(path, QJsonDocument(array).toJson(QJsonDocument::Compact), mode);
}

namespace {
template <typename T, typename Check, typename Get>
Field<T> lookup(const QJsonObject& obj, const QString& key, Check check, Get get) {
    auto it = obj.constFind(key);
    if (it == obj.constEnd() || it->isUndefined()) return {};
    if (!check(*it)) return {Lookup::WrongType, T{}};
    return {Lookup::Ok, get(*it)};
}
}  // namespace

Field<QString> optString(const QJsonObject& o, const QString& k) {
    return lookup<QString>(o, k, [](const QJsonValue& v) { return v.isString(); },
                           [](const QJsonValue& v) { return v.toString(); });
}
Field<bool> optBool(const QJsonObject& o, const QString& k) {
    return lookup<bool>(o, k, [](const QJsonValue& v) { return v.isBool(); },
                        [](const QJsonValue& v) { return v.toBool(); });
}
Field<double> optDouble(const QJsonObject& o, const QString& k) {
    return lookup<double>(o, k, [](const QJsonValue& v) { return v.isDouble(); },
                          [](const QJsonValue& v) { return v.toDouble(); });
}
Field<QJsonObject> optObject(const QJsonObject& o, const QString& k) {
    return lookup<QJsonObject>(o, k, [](const QJsonValue& v) { return v.isObject(); },
                               [](const QJsonValue& v) { return v.toObject(); });
}
Field<QJsonArray> optArray(const QJsonObject& o, const QString& k) {
    return lookup<QJsonArray>(o, k, [](const QJsonValue& v) { return v.isArray(); },
                              [](const QJsonValue& v) { return v.toArray(); });
}

QString stringOr(const QJsonObject& obj, const QString& key, const QString& fallback) {
    auto f = optString(obj, key);
    return f.ok() ? f.value : fallback;
}

}  // namespace Json
