#include "core/Preferences.h"

#include "core/Json.h"
#include "core/Log.h"
#include "core/Paths.h"

#include <QFileInfo>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <cmath>
#include <mutex>

namespace {

std::atomic<Preferences*>& sharedSlot() {
    static std::atomic<Preferences*> slot{new MemoryPreferences};
    return slot;
}

const QString kDataKey = QStringLiteral("$data");

QJsonValue toJson(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Bool: return v.toBool();
    case QMetaType::QString: return v.toString();
    case QMetaType::QByteArray:
        return QJsonObject{{kDataKey, QString::fromLatin1(v.toByteArray().toBase64())}};
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float: return v.toDouble();
    default: return QJsonValue::fromVariant(v);
    }
}

std::optional<QVariant> fromJson(const QJsonValue& v) {
    if (v.isBool()) return QVariant(v.toBool());
    if (v.isDouble()) return QVariant(v.toDouble());
    if (v.isString()) return QVariant(v.toString());
    if (v.isObject()) {
        const QJsonObject o = v.toObject();
        if (o.size() == 1 && o.value(kDataKey).isString())
            return QVariant(QByteArray::fromBase64(o.value(kDataKey).toString().toLatin1()));
    }
    if (v.isNull() || v.isUndefined()) return std::nullopt;
    return v.toVariant();
}

QVariant normalise(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float: return QVariant(v.toDouble());
    default: return v;
    }
}

}  // namespace

std::optional<bool> Preferences::boolValue(const QString& key) const {
    auto v = value(key);
    if (!v || v->typeId() != QMetaType::Bool) return std::nullopt;
    return v->toBool();
}

std::optional<QString> Preferences::stringValue(const QString& key) const {
    auto v = value(key);
    if (!v || v->typeId() != QMetaType::QString) return std::nullopt;
    return v->toString();
}

std::optional<QByteArray> Preferences::dataValue(const QString& key) const {
    auto v = value(key);
    if (!v || v->typeId() != QMetaType::QByteArray) return std::nullopt;
    return v->toByteArray();
}

double Preferences::doubleValue(const QString& key, double fallback) const {
    auto v = value(key);
    if (!v) return fallback;
    switch (v->typeId()) {
    case QMetaType::Bool: return v->toBool() ? 1 : 0;
    case QMetaType::Double: return v->toDouble();
    case QMetaType::QString: {
        bool ok = false;
        double d = v->toString().trimmed().toDouble(&ok);
        return ok && std::isfinite(d) ? d : fallback;
    }
    default: return fallback;
    }
}

qint64 Preferences::integerValue(const QString& key, qint64 fallback) const {
    auto v = value(key);
    if (!v) return fallback;
    const double d = doubleValue(key, std::nan(""));
    if (!std::isfinite(d)) return fallback;
    return qint64(d);
}

Preferences& Preferences::shared() { return *sharedSlot().load(); }

Preferences* Preferences::setShared(Preferences* prefs) { return sharedSlot().exchange(prefs); }

std::optional<QVariant> MemoryPreferences::value(const QString& key) const {
    auto it = values_.constFind(key);
    if (it == values_.constEnd()) return std::nullopt;
    return *it;
}

void MemoryPreferences::setValue(const QString& key, const QVariant& value) {
    values_.insert(key, normalise(value));
}

void MemoryPreferences::remove(const QString& key) { values_.remove(key); }

struct JsonFilePreferences::State {
    mutable std::mutex mutex;
    QJsonObject values;
    QDateTime mtime;
    qint64 size = -1;
    bool loaded = false;
};

JsonFilePreferences::JsonFilePreferences(QString path) : path_(std::move(path)), state_(new State) {}

JsonFilePreferences::~JsonFilePreferences() { delete state_; }

void JsonFilePreferences::reloadIfChanged() const {
    QFileInfo fi(path_);
    const QDateTime mtime = fi.exists() ? fi.lastModified() : QDateTime();
    const qint64 size = fi.exists() ? fi.size() : -1;
    if (state_->loaded && mtime == state_->mtime && size == state_->size) return;
    state_->values = Json::readObject(path_).value_or(QJsonObject{});
    state_->mtime = mtime;
    state_->size = size;
    state_->loaded = true;
}

void JsonFilePreferences::save() const {
    if (!Json::writePretty(path_, state_->values)) {
        SystemLog::write(u"Preferences", QStringLiteral("could not write %1").arg(path_));
        return;
    }
    QFileInfo fi(path_);
    state_->mtime = fi.lastModified();
    state_->size = fi.size();
}

std::optional<QVariant> JsonFilePreferences::value(const QString& key) const {
    std::lock_guard lock(state_->mutex);
    reloadIfChanged();
    auto it = state_->values.constFind(key);
    if (it == state_->values.constEnd()) return std::nullopt;
    return fromJson(*it);
}

void JsonFilePreferences::setValue(const QString& key, const QVariant& value) {
    std::lock_guard lock(state_->mutex);
    reloadIfChanged();
    state_->values.insert(key, toJson(value));
    save();
}

void JsonFilePreferences::remove(const QString& key) {
    std::lock_guard lock(state_->mutex);
    reloadIfChanged();
    if (!state_->values.contains(key)) return;
    state_->values.remove(key);
    save();
}

void installDefaultPreferences() {
    delete Preferences::setShared(new JsonFilePreferences(Paths::configFile(QStringLiteral("preferences.json"))));
}
