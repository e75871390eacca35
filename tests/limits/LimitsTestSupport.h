#pragma once

#include "core/MainThread.h"
#include "limits/AgentLimitsService.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QList>
#include <atomic>
#include <memory>

// A clock the test moves by hand; read from the service's queue.
class TestClock {
public:
    TestClock() : ms_(QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch()) {}
    QDateTime now() const { return QDateTime::fromMSecsSinceEpoch(ms_.load(), Qt::UTC); }
    void advance(double seconds) { ms_ += qint64(seconds * 1000); }
    AgentLimitsService::Clock fn() const {
        return [this] { return now(); };
    }
private:
    std::atomic<qint64> ms_;
};

// Records what a subscriber receives. The state is shared so a late main-thread delivery
// never touches a dead object.
class Received {
public:
    AgentLimitsService::Handler handler() const {
        return [state = state_](const AgentLimits& limits) {
            if (!isMainThread()) state->offMain = true;
            state->values.append(limits);
        };
    }
    const QList<AgentLimits>& values() const { return state_->values; }
    qsizetype count() const { return state_->values.size(); }
    bool allOnMainThread() const { return !state_->offMain; }
private:
    struct State {
        QList<AgentLimits> values;
        bool offMain = false;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Lets queued service work finish and delivers the main-thread hops it scheduled.
inline void drain(const AgentLimitsService& service) {
    (void)service.lastSuccessfulFetch();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

inline int countLines(const LogCapture& log, const QString& line) {
    return int(log.lines().count(line));
}

inline LimitWindow window(double percent, std::optional<QDateTime> resetsAt = std::nullopt) {
    return LimitWindow{percent, resetsAt};
}

inline QDateTime utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

// Sets an environment variable for a scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value) : name_(name), had_(qEnvironmentVariableIsSet(name)),
                                                           previous_(qgetenv(name)) {
        qputenv(name, value);
    }
    ~ScopedEnv() {
        if (had_) qputenv(name_, previous_);
        else qunsetenv(name_);
    }
private:
    const char* name_;
    bool had_;
    QByteArray previous_;
};

constexpr int kWaitMs = 30000;

#include <ostream>
inline void PrintTo(const LimitWindow& w, std::ostream* os) {
    *os << w.usedPercent << "%";
    if (w.resetsAt) *os << " until " << w.resetsAt->toString(Qt::ISODateWithMs).toStdString();
}
inline void PrintTo(const AgentLimits& l, std::ostream* os) {
    auto one = [os](const char* name, const std::optional<LimitWindow>& w) {
        *os << name << "=";
        if (w) PrintTo(*w, os);
        else *os << "-";
        *os << " ";
    };
    one("5h", l.fiveHour);
    one("week", l.weekly);
    one("opus", l.weeklyOpus);
    one("sonnet", l.weeklySonnet);
    *os << (l.stale ? "stale" : "fresh");
}
