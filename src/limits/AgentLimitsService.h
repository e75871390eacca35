#pragma once

#include "limits/AgentLimits.h"
#include "limits/HttpClient.h"

#include <QDateTime>
#include <QString>
#include <QUuid>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class SerialQueue;

// What a provider's request builder decided.
struct LimitsFetchPlan {
    enum class Kind {
        Request,           // credentials present and not known to be expired: send `request`
        StaleCredentials,  // credentials known to be expired: do not contact the server
        Unavailable,       // no usable credentials: do not contact the server
    };
    Kind kind = Kind::Unavailable;
    HttpRequest request;  // only meaningful for Kind::Request

    static LimitsFetchPlan makeRequest(HttpRequest r) { return {Kind::Request, std::move(r)}; }
    static LimitsFetchPlan staleCredentials() { return {Kind::StaleCredentials, {}}; }
    static LimitsFetchPlan unavailable() { return {Kind::Unavailable, {}}; }
};

// Fetches one provider's plan limits on demand, throttled, with one retry after a 401 when
// the credentials changed meanwhile; caches the last value and pushes every change to the
// subscribers on the main thread. There is no polling: fetches happen when the first
// subscriber arrives and on refreshNow().
//
// All state lives on the service's serial queue; buildRequest() and decodeLimits() run there.
// Instances must be owned by a std::shared_ptr (queued work holds them weakly).
class AgentLimitsService : public std::enable_shared_from_this<AgentLimitsService> {
public:
    using Handler = std::function<void(const AgentLimits&)>;
    using Clock = std::function<QDateTime()>;

    virtual ~AgentLimitsService();
    AgentLimitsService(const AgentLimitsService&) = delete;
    AgentLimitsService& operator=(const AgentLimitsService&) = delete;

    // Any thread. The handler is called on the main thread with the cached value (if any) and
    // with every later change. Only the first subscriber triggers a fetch.
    QUuid subscribe(Handler handler);
    // Any thread. An outstanding request is not cancelled.
    void unsubscribe(const QUuid& token);
    // Any thread. Fetches unless one is outstanding or the last one started less than the
    // minimum interval ago.
    void refreshNow();

    // Wait on the queue; never call these from a subscriber that the queue waits for.
    std::optional<QDateTime> lastSuccessfulFetch() const;
    bool isFetching() const;

    const QString& logLabel() const { return logLabel_; }
    double minRefreshInterval() const { return minRefreshInterval_; }

    static QDateTime systemNow();

protected:
    // `session` may be null: a network client is then made on the queue when first needed.
    // `now` may be empty: the system clock is used.
    AgentLimitsService(QString logLabel, const QString& queueLabel, std::shared_ptr<HttpClient> session,
                       double minRefreshInterval, Clock now);

    virtual LimitsFetchPlan buildRequest() = 0;
    virtual std::optional<AgentLimits> decodeLimits(const QByteArray& data) = 0;

    QDateTime now() const { return now_(); }
    void log(const QString& message) const;

private:
    void onQueue(std::function<void(AgentLimitsService&)> work);
    void fetchIfNeeded();
    void perform(const HttpRequest& request, bool isRetry);
    void handleResponse(const HttpResponse& response, const std::optional<QByteArray>& sentAuthorization,
                        bool isRetry);
    void handleUnauthorized(const std::optional<QByteArray>& sentAuthorization, bool isRetry);
    void markCachedLimitsStale();
    void applyAndBroadcast(const AgentLimits& limits);

    const QString logLabel_;
    std::shared_ptr<HttpClient> session_;
    SerialQueue& queue_;
    const double minRefreshInterval_;
    const Clock now_;

    // Queue only.
    std::map<QUuid, Handler> observers_;
    std::optional<AgentLimits> latestLimits_;
    bool fetchInFlight_ = false;
    std::optional<QDateTime> lastFetchStartedAt_;
    std::optional<QDateTime> lastFetchSucceededAt_;
};
