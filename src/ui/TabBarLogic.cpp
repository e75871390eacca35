#include "ui/TabBarLogic.h"

#include "ui/Theme.h"

#include <algorithm>

namespace TabBarLogic {

namespace {
const QString kNone = QStringLiteral("∅");

QString lastComponent(const QString& text) {
    const int slash = text.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? text : text.mid(slash + 1);
}
}  // namespace

QString tabsSignature(int activeIndex, const std::optional<QString>& selectedFile, const QList<TabSession>& sessions,
                      const QList<TabFile>& files) {
    QStringList parts;
    parts.reserve(2 + sessions.size() + files.size());
    parts << QStringLiteral("a") + QString::number(activeIndex);
    parts << QStringLiteral("f") + selectedFile.value_or(kNone);
    for (const TabSession& s : sessions) {
        parts << s.id.toString(QUuid::WithoutBraces).toUpper() + QLatin1Char('|') + s.name + QLatin1Char('|') +
                     sessionStateText(s.state) + QLatin1Char('|') +
                     (s.isOrchestrator ? QStringLiteral("true") : QStringLiteral("false")) + QLatin1Char('|') +
                     s.branch.value_or(kNone) + QLatin1Char('|') + s.worktreePath.value_or(kNone);
    }
    for (const TabFile& f : files) {
        parts << f.path + QLatin1Char('|') + (f.hasUnsavedChanges ? QStringLiteral("true") : QStringLiteral("false"));
    }
    return parts.join(QLatin1Char(';'));
}

GroupedOrder groupedTabOrder(const QList<TabSession>& sessions) {
    QStringList keys;
    QMap<QString, QList<int>> members;
    for (int i = 0; i < sessions.size(); ++i) {
        const QString key = sessions[i].worktreePath.value_or(QStringLiteral("main"));
        if (!members.contains(key)) keys << key;
        members[key] << i;
    }
    GroupedOrder result;
    for (const QString& key : keys) result.order << members[key];
    if (keys.size() < 2) return result;
    for (const QString& key : keys) {
        const int first = members[key].first();
        const std::optional<QString>& branch = sessions[first].branch;
        GroupChip chip;
        if (!branch) {
            chip = {QStringLiteral("main"), Theme::text3()};
        } else if (branch->isEmpty()) {
            chip = {QStringLiteral("main"), Theme::branchColor(QString())};
        } else {
            chip = {lastComponent(*branch), Theme::branchColor(*branch)};
        }
        result.chips.insert(first, chip);
    }
    return result;
}

std::optional<QString> nextFileSelection(std::optional<int> closedPosition, const QStringList& openFiles,
                                         const QStringList& mru) {
    for (const QString& path : mru) {
        if (openFiles.contains(path)) return path;
    }
    if (closedPosition && *closedPosition >= 0 && !openFiles.isEmpty()) {
        return openFiles[std::min<qsizetype>(*closedPosition, openFiles.size() - 1)];
    }
    return std::nullopt;
}

double clampFontSize(double size) { return std::clamp(size, kMinFontSize, kMaxFontSize); }

double clampedDelta(double base, double wantedDelta) { return clampFontSize(base + wantedDelta) - base; }

double terminalBaseFontSize(double storedSize) { return storedSize > 0 ? storedSize : kBaseFontSize; }

}  // namespace TabBarLogic
