#include "limits/AgentLimitsService.h"

#include "core/Log.h"
#include "core/MainThread.h"
#include "core/SerialQueue.h"

#include <QList>

AgentLimitsService::AgentLimitsService(QString logLabel, const QString& queueLabel,
                                       std::shared_ptr<HttpClient> session, double minRefreshInterval,
                                       Clock now)
    : logLabel_(std::move(logLabel)),
      session_(std::move(session)),
      queue_(SerialQueue::named(queueLabel)),
      minRefreshInterval_(minRefreshInterval),
      now_(now ? std::move(now) : Clock(&AgentLimitsService::systemNow)) {}

AgentLimitsService::~AgentLimitsService() {
    // A network client belongs to the queue's thread and must be destroyed there.
    queue_.sync([this] { session_.reset(); });
}

QDateTime AgentLimitsService::systemNow() { return QDateTime::currentDateTimeUtc(); }

void AgentLimitsService::log(const QString& message) const { SystemLog::write(logLabel_, message); }

void AgentLimitsService::onQueue(std::function<void(AgentLimitsService&)> work) {
    queue_.async([weak = weak_from_this(), work = std::move(work)] {
        if (auto self = weak.lock()) work(*self);
    });
}

QUuid AgentLimitsService::subscribe(Handler handler) {
    const QUuid token = QUuid::createUuid();
    onQueue([token, handler = std::move(handler)](AgentLimitsService& s) {
        s.observers_[token] = handler;
        if (s.latestLimits_) runOnMain([handler, limits = *s.latestLimits_] { handler(limits); });
        if (s.observers_.size() == 1) s.fetchIfNeeded();
    });
    return token;
}

void AgentLimitsService::unsubscribe(const QUuid& token) {
    onQueue([token](AgentLimitsService& s) { s.observers_.erase(token); });
}

void AgentLimitsService::refreshNow() {
    onQueue([](AgentLimitsService& s) { s.fetchIfNeeded(); });
}

std::optional<QDateTime> AgentLimitsService::lastSuccessfulFetch() const {
    std::optional<QDateTime> result;
    queue_.sync([&] { result = lastFetchSucceededAt_; });
    return result;
}

bool AgentLimitsService::isFetching() const {
    bool result = false;
    queue_.sync([&] { result = fetchInFlight_; });
    return result;
}

void AgentLimitsService::fetchIfNeeded() {
    if (fetchInFlight_) return;
    if (lastFetchStartedAt_ && lastFetchStartedAt_->msecsTo(now()) < qint64(minRefreshInterval_ * 1000)) return;

    LimitsFetchPlan plan = buildRequest();
    switch (plan.kind) {
    case LimitsFetchPlan::Kind::Request:
        fetchInFlight_ = true;
        lastFetchStartedAt_ = now();
        perform(plan.request, false);
        break;
    case LimitsFetchPlan::Kind::StaleCredentials:
        // The start time is left alone so the next trigger looks at the credentials again at once.
        log(QStringLiteral("access token expired; marking cached limits stale"));
        markCachedLimitsStale();
        break;
    case LimitsFetchPlan::Kind::Unavailable:
        log(QStringLiteral("no credentials; skipping usage fetch"));
        break;
    }
}

void AgentLimitsService::perform(const HttpRequest& request, bool isRetry) {
    if (!session_) session_ = std::make_shared<NetworkHttpClient>();
    const std::optional<QByteArray> sentAuthorization = request.header("Authorization");
    std::weak_ptr<AgentLimitsService> weak = weak_from_this();
    SerialQueue* queue = &queue_;
    session_->send(request, [weak, queue, sentAuthorization, isRetry](HttpResponse response) {
        if (weak.expired()) return;
        queue->async([weak, response = std::move(response), sentAuthorization, isRetry] {
            if (auto self = weak.lock()) self->handleResponse(response, sentAuthorization, isRetry);
        });
    });
}

void AgentLimitsService::handleResponse(const HttpResponse& response,
                                        const std::optional<QByteArray>& sentAuthorization, bool isRetry) {
    if (response.transportError) {
        fetchInFlight_ = false;
        log(QStringLiteral("usage fetch failed: ") + *response.transportError);
        return;
    }
    if (response.status && (*response.status < 200 || *response.status > 299)) {
        if (*response.status == 401) {
            handleUnauthorized(sentAuthorization, isRetry);
            return;
        }
        fetchInFlight_ = false;
        log(QStringLiteral("usage fetch HTTP %1; skipping").arg(*response.status));
        return;
    }
    fetchInFlight_ = false;
    const std::optional<AgentLimits> limits = decodeLimits(response.body);
    if (!limits) {
        log(QStringLiteral("failed to decode usage response"));
        return;
    }
    lastFetchSucceededAt_ = now();
    applyAndBroadcast(*limits);
}

void AgentLimitsService::handleUnauthorized(const std::optional<QByteArray>& sentAuthorization, bool isRetry) {
    if (!isRetry) {
        // The agent may have renewed its token since we read it.
        LimitsFetchPlan plan = buildRequest();
        if (plan.kind == LimitsFetchPlan::Kind::Request &&
            plan.request.header("Authorization") != sentAuthorization) {
            log(QStringLiteral("usage fetch HTTP 401; retrying with re-read credentials"));
            perform(plan.request, true);
            return;
        }
    }
    fetchInFlight_ = false;
    log(QStringLiteral("usage fetch HTTP 401; marking cached limits stale"));
    markCachedLimitsStale();
}

void AgentLimitsService::markCachedLimitsStale() {
    if (!latestLimits_ || latestLimits_->stale) return;
    AgentLimits stale = *latestLimits_;
    stale.stale = true;
    applyAndBroadcast(stale);
}

void AgentLimitsService::applyAndBroadcast(const AgentLimits& limits) {
    if (latestLimits_ && *latestLimits_ == limits) return;
    latestLimits_ = limits;
    QList<Handler> handlers;
    handlers.reserve(qsizetype(observers_.size()));
    for (const auto& entry : observers_) handlers.append(entry.second);
    if (handlers.isEmpty()) return;
    runOnMain([handlers, limits] {
        for (const Handler& h : handlers) h(limits);
    });
}
