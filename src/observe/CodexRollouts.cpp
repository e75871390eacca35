#include "observe/CodexRollouts.h"

#include "core/Paths.h"
#include "core/SerialQueue.h"
#include "core/Text.h"
#include "observe/ObserveJson.h"
#include "observe/RepeatingTimer.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace CodexRolloutLocator {

namespace {

constexpr qint64 kMetaReadLimit = 64 * 1024;

std::optional<QJsonObject> sessionMeta(const QString& rolloutPath) {
    QFile file(rolloutPath);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const auto text = decodeUtf8Strict(file.read(kMetaReadLimit));
    if (!text) return std::nullopt;
    for (QStringView line : QStringView(*text).split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty() || !line.contains(QLatin1StringView("session_meta"))) continue;
        const auto record = ObserveJson::parseLine(line);
        if (!record || record->value(QLatin1StringView("type")).toString() != QLatin1StringView("session_meta"))
            continue;
        const QJsonValue payload = record->value(QLatin1StringView("payload"));
        if (payload.isObject()) return payload.toObject();
    }
    return std::nullopt;
}

std::optional<QString> metaText(const QString& rolloutPath, QLatin1StringView key) {
    const auto payload = sessionMeta(rolloutPath);
    if (!payload) return std::nullopt;
    const QJsonValue value = payload->value(key);
    if (!value.isString()) return std::nullopt;
    return value.toString();
}

}  // namespace

QString sessionsRoot() { return Paths::home() + QStringLiteral("/.codex/sessions"); }

QStringList dayDirs(const QString& root, const QDateTime& from, const QDateTime& to) {
    QDate first = from.toLocalTime().date();
    QDate last = to.toLocalTime().date();
    if (last < first) std::swap(first, last);
    QStringList dirs;
    for (QDate day = first; day.isValid() && day <= last; day = day.addDays(1)) {
        dirs << QStringLiteral("%1/%2/%3/%4")
                    .arg(root)
                    .arg(day.year(), 4, 10, QLatin1Char('0'))
                    .arg(day.month(), 2, 10, QLatin1Char('0'))
                    .arg(day.day(), 2, 10, QLatin1Char('0'));
    }
    return dirs;
}

QString normalizedDirectory(const QString& path) {
    QString resolved = QFileInfo(path).canonicalFilePath();
    if (resolved.isEmpty()) resolved = path;
    if (resolved.size() > 1 && resolved.endsWith(QLatin1Char('/'))) resolved.chop(1);
    return resolved;
}

std::optional<QString> findLatestRollout(const QString& workingDirectory, const std::optional<QDateTime>& after,
                                         const std::optional<QString>& root, const std::optional<QDateTime>& now) {
    const QString target = normalizedDirectory(workingDirectory);
    const QDateTime end = now.value_or(QDateTime::currentDateTime());
    const QDateTime begin = after.value_or(end.addSecs(-86400));

    struct Candidate {
        QString path;
        QDateTime modified;
    };
    QList<Candidate> candidates;
    for (const QString& dir : dayDirs(root.value_or(sessionsRoot()), begin, end)) {
        QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System);
        while (it.hasNext()) {
            it.next();
            const QFileInfo info = it.fileInfo();
            const QString name = info.fileName();
            if (!name.startsWith(QLatin1StringView("rollout-")) || !name.endsWith(QLatin1StringView(".jsonl")))
                continue;
            const QDateTime modified = info.lastModified();
            if (!modified.isValid()) continue;
            if (after && modified < *after) continue;
            candidates.append({info.filePath(), modified});
        }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.modified > b.modified; });
    for (const Candidate& candidate : candidates) {
        const auto recorded = cwd(candidate.path);
        if (recorded && normalizedDirectory(*recorded) == target) return candidate.path;
    }
    return std::nullopt;
}

std::optional<QString> cwd(const QString& rolloutPath) { return metaText(rolloutPath, QLatin1StringView("cwd")); }

std::optional<QString> sessionID(const QString& rolloutPath) {
    return metaText(rolloutPath, QLatin1StringView("id"));
}

}  // namespace CodexRolloutLocator

CodexRolloutResolver::CodexRolloutResolver(QString workingDirectory, QDateTime after, SerialQueue& queue,
                                           Resolved onResolved)
    : CodexRolloutResolver(std::move(workingDirectory), std::move(after), queue, std::move(onResolved), Options{}) {}

CodexRolloutResolver::CodexRolloutResolver(QString workingDirectory, QDateTime after, SerialQueue& queue,
                                           Resolved onResolved, Options options)
    : workingDirectory_(std::move(workingDirectory)),
      after_(std::move(after)),
      onResolved_(std::move(onResolved)),
      queue_(queue),
      options_(std::move(options)) {}

CodexRolloutResolver::~CodexRolloutResolver() = default;

void CodexRolloutResolver::start() {
    Q_ASSERT(queue_.isCurrent());
    if (resolved_) return;
    timer_ = std::make_unique<RepeatingTimer>(options_.pollIntervalMs, [this] { poll(); });
    poll();
}

void CodexRolloutResolver::poll() {
    if (resolved_) return;
    const auto path =
        CodexRolloutLocator::findLatestRollout(workingDirectory_, after_, options_.sessionsRoot, std::nullopt);
    if (!path) return;
    resolved_ = true;
    timer_.reset();
    if (onResolved_) onResolved_(*path);
}

void CodexRolloutResolver::cancel() { timer_.reset(); }

namespace CodexUsage {

QString normalizeModel(const QString& model) {
    QString name = model.toLower().trimmed();
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    if (slash >= 0) name = name.mid(slash + 1);
    return name;
}

std::optional<double> contextPercent(const QJsonObject& info) {
    const QJsonValue window = info.value(QLatin1StringView("model_context_window"));
    if (!window.isDouble() || !(window.toDouble() > 0)) return std::nullopt;
    const QJsonValue total =
        info.value(QLatin1StringView("last_token_usage")).toObject().value(QLatin1StringView("total_tokens"));
    if (!total.isDouble()) return std::nullopt;
    return total.toDouble() / window.toDouble() * 100.0;
}

bool applyLine(CodexUsageState& state, QStringView line) {
    // Only two record kinds matter; skip the parse for the rest.
    const bool maybeContext = line.contains(QLatin1StringView("turn_context"));
    const bool maybeTokens = line.contains(QLatin1StringView("token_count"));
    if (!maybeContext && !maybeTokens) return false;
    const auto record = ObserveJson::parseLine(line);
    if (!record) return false;
    const QJsonValue type = record->value(QLatin1StringView("type"));
    const QJsonValue payloadValue = record->value(QLatin1StringView("payload"));
    if (!type.isString() || !payloadValue.isObject()) return false;
    const QJsonObject payload = payloadValue.toObject();

    if (type.toString() == QLatin1StringView("turn_context")) {
        const QJsonValue model = payload.value(QLatin1StringView("model"));
        if (model.isString() && !model.toString().isEmpty()) {
            const QString normalized = normalizeModel(model.toString());
            // A name of blanks only would leave the session without one.
            if (!normalized.isEmpty()) state.latestModel = normalized;
        }
        return false;
    }
    if (type.toString() == QLatin1StringView("event_msg") &&
        payload.value(QLatin1StringView("type")).toString() == QLatin1StringView("token_count")) {
        const QJsonValue infoValue = payload.value(QLatin1StringView("info"));
        if (!infoValue.isObject()) return false;
        const QJsonObject info = infoValue.toObject();
        const QJsonValue totalsValue = info.value(QLatin1StringView("total_token_usage"));
        if (!totalsValue.isObject()) return false;
        const QJsonObject totals = totalsValue.toObject();
        using ObserveJson::integerOrZero;
        state.totalTokensIn = integerOrZero(totals, QLatin1StringView("input_tokens"));
        state.totalTokensOut = integerOrZero(totals, QLatin1StringView("output_tokens")) +
                               integerOrZero(totals, QLatin1StringView("reasoning_output_tokens"));
        if (auto percent = contextPercent(info)) state.latestContextPercent = percent;
        return true;
    }
    return false;
}

}  // namespace CodexUsage

// Lookups for resuming a saved conversation.
namespace CodexRolloutLocator {

QStringList sortedNumericSubdirs(const QString& directory) {
    QStringList names;
    const QStringList entries = QDir(directory).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString& name : entries) {
        if (!name.isEmpty() && std::all_of(name.cbegin(), name.cend(), [](QChar c) {
                return c >= QLatin1Char('0') && c <= QLatin1Char('9');
            }))
            names << name;
    }
    // Numeric order without overflow: leading zeros off, then the longer number is the larger.
    const auto magnitude = [](const QString& name) {
        qsizetype i = 0;
        while (i + 1 < name.size() && name[i] == QLatin1Char('0')) ++i;
        return QStringView(name).mid(i);
    };
    std::stable_sort(names.begin(), names.end(), [&](const QString& a, const QString& b) {
        const QStringView x = magnitude(a), y = magnitude(b);
        if (x.size() != y.size()) return x.size() > y.size();
        return x.compare(y) > 0;
    });
    return names;
}

std::optional<QString> findRollout(const QString& sessionID, const QString& root) {
    if (sessionID.isEmpty()) return std::nullopt;
    const QString suffix = QLatin1Char('-') + sessionID + QStringLiteral(".jsonl");
    for (const QString& year : sortedNumericSubdirs(root)) {
        const QString yearDir = root + QLatin1Char('/') + year;
        for (const QString& month : sortedNumericSubdirs(yearDir)) {
            const QString monthDir = yearDir + QLatin1Char('/') + month;
            for (const QString& day : sortedNumericSubdirs(monthDir)) {
                const QDir dayDir(monthDir + QLatin1Char('/') + day);
                const QStringList entries =
                    dayDir.entryList({QStringLiteral("rollout-*")}, QDir::Files | QDir::Hidden | QDir::System,
                                     QDir::Name);
                for (const QString& entry : entries) {
                    if (entry.endsWith(suffix)) return dayDir.filePath(entry);
                }
            }
        }
    }
    return std::nullopt;
}

}  // namespace CodexRolloutLocator
