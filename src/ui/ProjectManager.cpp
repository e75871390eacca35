#include "ui/ProjectManager.h"

#include "core/Json.h"
#include "core/Paths.h"

#include <QFileInfo>

namespace {
std::unique_ptr<ProjectManager>& sharedSlot() {
    static std::unique_ptr<ProjectManager> instance;
    return instance;
}
}  // namespace

ProjectManager& ProjectManager::shared() {
    auto& slot = sharedSlot();
    if (!slot) slot = std::make_unique<ProjectManager>(defaultFilePath());
    return *slot;
}

void ProjectManager::resetShared() { sharedSlot().reset(); }

ProjectManager::ProjectManager(QString filePath) : filePath_(std::move(filePath)) { projects = load(filePath_); }

QString ProjectManager::defaultFilePath() { return Paths::configFile(QStringLiteral("projects.json")); }

QList<Project> ProjectManager::load(const QString& filePath) {
    const std::optional<QJsonArray> array = Json::readArray(filePath);
    if (!array) return {};
    QList<Project> decoded;
    for (const QJsonValue& value : *array) {
        if (!value.isObject()) return {};
        const QJsonObject object = value.toObject();
        const auto path = Json::optString(object, QStringLiteral("path"));
        const auto expanded = Json::optBool(object, QStringLiteral("isExpanded"));
        // One broken entry makes the whole file unreadable.
        if (!path.ok() || !expanded.ok()) return {};
        decoded << Project{path.value, expanded.value};
    }
    QList<Project> existing;
    for (const Project& project : decoded) {
        if (!project.path.isEmpty() && QFileInfo::exists(project.path)) existing << project;
    }
    return existing;
}

bool ProjectManager::save() const {
    QJsonArray array;
    for (const Project& project : projects) {
        array.append(QJsonObject{{QStringLiteral("path"), project.path},
                                 {QStringLiteral("isExpanded"), project.isExpanded}});
    }
    return Json::writeCompact(filePath_, array, Json::Mode::InPlace);
}

void ProjectManager::recordOpened(const QString& path) {
    projects.removeIf([&path](const Project& p) { return p.path == path; });
    projects.prepend(Project{path, true});
    save();
}

void ProjectManager::remove(const QString& path) {
    projects.removeIf([&path](const Project& p) { return p.path == path; });
    save();
}
