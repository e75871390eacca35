#pragma once

#include "sessions/SessionState.h"

#include <QColor>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <optional>

// What the tab bar shows, computed without any view: the signature that decides whether the bar
// needs rebuilding, the worktree grouping, the next file after a close and the zoom arithmetic.
namespace TabBarLogic {

// The facts of one session that the tab bar draws.
struct TabSession {
    QUuid id;
    QString name;
    SessionState state = SessionState::idle;
    bool isOrchestrator = false;
    std::optional<QString> branch;
    std::optional<QString> worktreePath;
};

struct TabFile {
    QString path;
    bool hasUnsavedChanges = false;
};

// "a<active>;f<file or ∅>;<id>|<name>|<state>|<orchestrator>|<branch or ∅>|<worktree or ∅>;...;<path>|<dirty>".
QString tabsSignature(int activeIndex, const std::optional<QString>& selectedFile, const QList<TabSession>& sessions,
                      const QList<TabFile>& files);

struct GroupChip {
    QString label;
    QColor color;
    bool operator==(const GroupChip&) const = default;
};

struct GroupedOrder {
    QList<int> order;           // session indexes in display order
    QMap<int, GroupChip> chips;  // keyed by the first session index of each group
};

// Sessions grouped by worktree path ("main" for the checkout itself), groups in order of first
// appearance; chips only when there are at least two groups.
GroupedOrder groupedTabOrder(const QList<TabSession>& sessions);

// The file to select after closing one. `closedPosition` is where the closed file stood in
// `openFiles` (none when it was not there); both lists no longer hold the closed path.
std::optional<QString> nextFileSelection(std::optional<int> closedPosition, const QStringList& openFiles,
                                         const QStringList& mru);

inline constexpr double kBaseFontSize = 13;
inline constexpr double kMinFontSize = 8;
inline constexpr double kMaxFontSize = 40;

double clampFontSize(double size);
// The delta that `base + wanted` comes to once the size is clamped: (base + wanted) in 8...40, minus base.
double clampedDelta(double base, double wantedDelta);
// The base size of the terminal font: VRNXTerminalFontSize when greater than 0, else 13.
double terminalBaseFontSize(double storedSize);

}  // namespace TabBarLogic
