#pragma once

#include "core/MainThread.h"
#include "core/SerialQueue.h"
#include "limits/AgentLimitsService.h"
#include "sessions/UsageWatching.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QList>
#include <QMutex>
#include <QStringList>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>

constexpr int kWaitMs = 30000;

// Appends bytes to a file as a writer process would.
inline bool appendToFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append)) return false;
    return f.write(bytes) == bytes.size();
}

// Sets a file's modification time.
inline bool setModified(const QString& path, const QDateTime& when) {
    const qint64 ms = when.toMSecsSinceEpoch();
    timespec times[2];
    times[0].tv_sec = time_t(ms / 1000);
    times[0].tv_nsec = long(ms % 1000) * 1000000L;
    times[1] = times[0];
    return utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

// Collects what a callback running on another thread delivers.
template <typename T>
class Inbox {
public:
    void add(const T& value) {
        QMutexLocker lock(&mutex_);
        values_.append(value);
    }
    QList<T> values() const {
        QMutexLocker lock(&mutex_);
        return values_;
    }
    qsizetype size() const { return values().size(); }
    T last() const { return values().last(); }
private:
    mutable QMutex mutex_;
    QList<T> values_;
};

// Snapshots as the session receives them: on the main thread, checked.
class SnapshotLog {
public:
    std::function<void(const UsageSnapshot&)> callback() {
        return [state = state_](const UsageSnapshot& s) {
            if (!isMainThread()) state->offMain = true;
            state->values.append(s);
        };
    }
    const QList<UsageSnapshot>& values() const { return state_->values; }
    bool allOnMain() const { return !state_->offMain; }
    std::optional<UsageSnapshot> last() const {
        if (state_->values.isEmpty()) return std::nullopt;
        return state_->values.last();
    }
    // Waits for a snapshot that satisfies pred.
    template <typename Pred>
    bool waitFor(Pred pred, int timeoutMs = kWaitMs) const {
        return waitUntil([&] { return last() && pred(*last()); }, timeoutMs);
    }
private:
    struct State {
        QList<UsageSnapshot> values;
        bool offMain = false;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// A limits service that answers every fetch with the limits it holds.
class FakeLimitsService : public AgentLimitsService {
public:
    static std::shared_ptr<FakeLimitsService> make(AgentLimits limits) {
        return std::shared_ptr<FakeLimitsService>(new FakeLimitsService(std::move(limits)));
    }
    void setLimits(const AgentLimits& limits) {
        QMutexLocker lock(&mutex_);
        limits_ = limits;
    }
    int fetches() const { return fetches_; }

protected:
    LimitsFetchPlan buildRequest() override {
        HttpRequest request;
        request.url = QUrl(QStringLiteral("http://limits.invalid/usage"));
        return LimitsFetchPlan::makeRequest(request);
    }
    std::optional<AgentLimits> decodeLimits(const QByteArray&) override {
        ++fetches_;
        QMutexLocker lock(&mutex_);
        return limits_;
    }

private:
    class Answer : public HttpClient {
    public:
        void send(const HttpRequest&, Completion done) override { done(HttpResponse{std::nullopt, 200, "{}"}); }
    };
    explicit FakeLimitsService(AgentLimits limits)
        : AgentLimitsService(QStringLiteral("FakeLimits"), QStringLiteral("com.varnix.test-limits"),
                             std::make_shared<Answer>(), 0, {}),
          limits_(std::move(limits)) {}
    QMutex mutex_;
    AgentLimits limits_;
    std::atomic<int> fetches_{0};
};

inline AgentLimits limitsWithFiveHour(double percent) {
    AgentLimits limits;
    limits.fiveHour = LimitWindow{percent, std::nullopt};
    return limits;
}
