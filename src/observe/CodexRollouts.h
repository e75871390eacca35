#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class SerialQueue;
class RepeatingTimer;

// Codex's rollout store: <home>/.codex/sessions/YYYY/MM/DD/rollout-*.jsonl, by local date.
namespace CodexRolloutLocator {

QString sessionsRoot();
// One directory per local calendar day from the earlier moment's day to the later one's, inclusive.
QStringList dayDirs(const QString& root, const QDateTime& from, const QDateTime& to);
// The newest rollout (by modification date) whose recorded cwd is the working directory, both
// with symbolic links resolved and one trailing "/" removed. Only rollouts modified at or after
// `after` count; without `after` the last day is searched. `root` and `now` are for tests.
std::optional<QString> findLatestRollout(const QString& workingDirectory, const std::optional<QDateTime>& after,
                                         const std::optional<QString>& root = {},
                                         const std::optional<QDateTime>& now = {});
// From the "session_meta" record within the first 64 KiB.
std::optional<QString> cwd(const QString& rolloutPath);
std::optional<QString> sessionID(const QString& rolloutPath);

// The rollout of a conversation id anywhere in the date tree, newest day first; unreadable
// directories count as empty.
std::optional<QString> findRollout(const QString& sessionID, const QString& root);
// The names of the entries of `directory` made only of digits, numerically descending.
QStringList sortedNumericSubdirs(const QString& directory);

// Symbolic links resolved (when the path exists) and one trailing "/" removed.
QString normalizedDirectory(const QString& path);

}  // namespace CodexRolloutLocator

// Looks for the rollout of a freshly started Codex session: at once, then every 2 seconds until
// found, then reports it once. Confined to its queue: construct, start and destroy it there.
class CodexRolloutResolver {
public:
    using Resolved = std::function<void(const QString& path)>;
    struct Options {
        int pollIntervalMs = 2000;
        std::optional<QString> sessionsRoot;
    };

    CodexRolloutResolver(QString workingDirectory, QDateTime after, SerialQueue& queue, Resolved onResolved);
    CodexRolloutResolver(QString workingDirectory, QDateTime after, SerialQueue& queue, Resolved onResolved,
                         Options options);
    ~CodexRolloutResolver();
    CodexRolloutResolver(const CodexRolloutResolver&) = delete;
    CodexRolloutResolver& operator=(const CodexRolloutResolver&) = delete;

    void start();
    void poll();
    // Stops polling; a resolver that is not started again never reports.
    void cancel();
    bool isResolved() const { return resolved_; }

private:
    QString workingDirectory_;
    QDateTime after_;
    Resolved onResolved_;
    SerialQueue& queue_;
    Options options_;
    std::unique_ptr<RepeatingTimer> timer_;
    bool resolved_ = false;
};

// Usage folded from rollout records. Token counts in a rollout are running totals: they replace.
struct CodexUsageState {
    qint64 totalTokensIn = 0;
    qint64 totalTokensOut = 0;
    QString latestModel = QStringLiteral("gpt-5");
    std::optional<double> latestContextPercent;
};

namespace CodexUsage {

// Lower-cased, trimmed, and only the part after the last "/".
QString normalizeModel(const QString& model);
// last_token_usage.total_tokens ÷ model_context_window × 100; none without a positive window.
std::optional<double> contextPercent(const QJsonObject& info);
// Folds one rollout line in; true when the token usage changed (a model alone does not count).
bool applyLine(CodexUsageState& state, QStringView line);

}  // namespace CodexUsage
