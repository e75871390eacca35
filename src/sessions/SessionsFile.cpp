#include "sessions/SessionsFile.h"

#include "core/Json.h"

#include <QJsonArray>

namespace {

std::optional<QString> optionalText(const QJsonObject& object, const QString& key) {
    const auto field = Json::optString(object, key);
    if (!field.ok()) return std::nullopt;
    return field.value;
}

void putText(QJsonObject& object, const QString& key, const std::optional<QString>& value) {
    if (value) object.insert(key, *value);
}

}  // namespace

QJsonObject SavedSession::toJson() const {
    QJsonObject object;
    object.insert(QStringLiteral("name"), name.value_or(QString()));
    putText(object, QStringLiteral("worktreePath"), worktreePath);
    putText(object, QStringLiteral("agentType"), agentType);
    object.insert(QStringLiteral("isOrchestrator"), isOrchestrator);
    putText(object, QStringLiteral("agentSessionID"), agentSessionID);
    putText(object, QStringLiteral("transcriptPath"), transcriptPath);
    if (exited) object.insert(QStringLiteral("exited"), true);
    putText(object, QStringLiteral("tabID"), tabID);
    return object;
}

SavedSession SavedSession::fromJson(const QJsonObject& object) {
    SavedSession saved;
    saved.name = optionalText(object, QStringLiteral("name"));
    saved.worktreePath = optionalText(object, QStringLiteral("worktreePath"));
    saved.agentType = optionalText(object, QStringLiteral("agentType"));
    saved.isOrchestrator = object.value(QStringLiteral("isOrchestrator")).toBool(false);
    saved.agentSessionID = optionalText(object, QStringLiteral("agentSessionID"));
    saved.transcriptPath = optionalText(object, QStringLiteral("transcriptPath"));
    saved.exited = object.value(QStringLiteral("exited")).toBool(false);
    saved.tabID = optionalText(object, QStringLiteral("tabID"));
    return saved;
}

QJsonObject SessionsFile::toJson() const {
    QJsonArray list;
    for (const SavedSession& saved : sessions) list.append(saved.toJson());
    QJsonObject object;
    object.insert(QStringLiteral("projectDir"), projectDir);
    object.insert(QStringLiteral("sessions"), list);
    return object;
}

std::optional<SessionsFile> SessionsFile::fromJson(const QJsonObject& object) {
    const auto dir = Json::optString(object, QStringLiteral("projectDir"));
    const auto list = Json::optArray(object, QStringLiteral("sessions"));
    if (!dir.ok() || !list.ok()) return std::nullopt;
    SessionsFile file;
    file.projectDir = dir.value;
    for (const QJsonValue& entry : list.value) {
        if (entry.isObject()) file.sessions.append(SavedSession::fromJson(entry.toObject()));
    }
    return file;
}

QString SessionsFile::fileName(const QString& projectDir) {
    QString mangled = projectDir;
    mangled.replace(QLatin1Char('/'), QLatin1Char('_'));
    mangled.replace(QLatin1Char(' '), QLatin1Char('_'));
    return QStringLiteral("sessions_") + mangled + QStringLiteral(".json");
}

QString SessionsFile::path(const QString& configDir, const QString& projectDir) {
    return configDir + QLatin1Char('/') + fileName(projectDir);
}

std::optional<SessionsFile> SessionsFile::load(const QString& path) {
    const auto object = Json::readObject(path);
    if (!object) return std::nullopt;
    return fromJson(*object);
}

bool SessionsFile::write(const QString& path) const { return Json::writePretty(path, toJson(), Json::Mode::Atomic); }
