#include "sessions/ClaudeLiveSessionProbe.h"

#include "core/Paths.h"
#include "git/ProcessRunner.h"
#include "sessions/AgentBinaryResolver.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <mutex>

namespace {

struct ProbeState {
    std::mutex mutex;
    bool hasCached = false;
    std::optional<QSet<QString>> ids;
    qint64 at = 0;
    ClaudeLiveSessionProbe::Clock clock;
};

ProbeState& probeState() {
    static ProbeState s;
    return s;
}

qint64 monotonicMs() {
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer.elapsed();
}

std::optional<QSet<QString>> probe(double timeoutSeconds) {
    const QString claude = AgentBinaryResolver::resolveCommand(
        QStringLiteral("claude"), QStringLiteral("claude"), qEnvironmentVariable("PATH"),
        {ClaudeLiveSessionProbe::localInstallPath()});
    if (!claude.startsWith(QLatin1Char('/'))) return std::nullopt;
    const ProcessRunner::Result r = ProcessRunner::runAndWait(claude, {QStringLiteral("agents"), QStringLiteral("--json")},
                                                              std::nullopt, std::nullopt, timeoutSeconds);
    if (r.launchFailed() || r.timedOut || r.exitCode != 0) return std::nullopt;
    return ClaudeLiveSessionProbe::parseSessionIDs(r.stdOut.toUtf8());
}

}  // namespace

QString ClaudeLiveSessionProbe::localInstallPath() { return Paths::home() + QStringLiteral("/.claude/local/claude"); }

std::optional<QSet<QString>> ClaudeLiveSessionProbe::parseSessionIDs(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) return std::nullopt;
    QJsonArray agents;
    if (doc.isArray()) agents = doc.array();
    else if (doc.isObject() && doc.object().value(QStringLiteral("agents")).isArray())
        agents = doc.object().value(QStringLiteral("agents")).toArray();
    else return std::nullopt;
    QSet<QString> ids;
    for (const QJsonValue& entry : agents) {
        const QJsonValue id = entry.toObject().value(QStringLiteral("sessionId"));
        if (id.isString() && !id.toString().isEmpty()) ids.insert(id.toString());
    }
    return ids;
}

std::optional<QSet<QString>> ClaudeLiveSessionProbe::liveSessionIDs(double timeoutSeconds) {
    ProbeState& s = probeState();
    Clock clock;
    {
        std::lock_guard lock(s.mutex);
        clock = s.clock ? s.clock : Clock(monotonicMs);
        if (s.hasCached && clock() - s.at < kCacheMs) return s.ids;
    }
    std::optional<QSet<QString>> ids = probe(timeoutSeconds);
    std::lock_guard lock(s.mutex);
    s.hasCached = true;
    s.ids = ids;
    s.at = clock();
    return ids;
}

void ClaudeLiveSessionProbe::setClock(Clock clock) {
    std::lock_guard lock(probeState().mutex);
    probeState().clock = std::move(clock);
}

void ClaudeLiveSessionProbe::reset() {
    std::lock_guard lock(probeState().mutex);
    probeState().hasCached = false;
    probeState().ids.reset();
}
