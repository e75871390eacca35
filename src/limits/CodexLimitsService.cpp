#include "limits/CodexLimitsService.h"

#include "core/Paths.h"
#include "limits/LimitsEndpoint.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

namespace {

QDateTime fromSeconds(double seconds) {
    constexpr double kLimit = 8.64e12;  // 275,000 years either way
    const double clamped = std::clamp(seconds, -kLimit, kLimit);
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(clamped * 1000)), Qt::UTC);
}

// false on a type error; missing and null leave `out` empty.
bool decodeNumber(const QJsonObject& o, const QString& key, std::optional<double>& out) {
    const QJsonValue v = o.value(key);
    if (v.isUndefined() || v.isNull()) return true;
    if (!v.isDouble()) return false;
    out = v.toDouble();
    return true;
}

bool decodeWindow(const QJsonObject& o, const QString& key, std::optional<CodexUsageWindow>& out) {
    const QJsonValue v = o.value(key);
    if (v.isUndefined() || v.isNull()) return true;
    if (!v.isObject()) return false;
    const QJsonObject w = v.toObject();
    CodexUsageWindow window;
    if (!decodeNumber(w, QStringLiteral("used_percent"), window.usedPercent) ||
        !decodeNumber(w, QStringLiteral("reset_at"), window.resetAt) ||
        !decodeNumber(w, QStringLiteral("reset_after_seconds"), window.resetAfterSeconds))
        return false;
    out = window;
    return true;
}

std::optional<LimitWindow> mapWindow(const std::optional<CodexUsageWindow>& window, const QDateTime& now) {
    if (!window || !window->usedPercent) return std::nullopt;
    LimitWindow result;
    result.usedPercent = *window->usedPercent;
    if (window->resetAt) result.resetsAt = fromSeconds(*window->resetAt);
    else if (window->resetAfterSeconds)
        result.resetsAt = fromSeconds(double(now.toMSecsSinceEpoch()) / 1000 + *window->resetAfterSeconds);
    return result;
}

}  // namespace

// --- credentials

CodexCredentialsReader::CodexCredentialsReader(std::optional<QString> fileURL)
    : fileURL_(fileURL ? *fileURL : Paths::home() + QStringLiteral("/.codex/auth.json")) {}

std::optional<CodexCredentials> CodexCredentialsReader::parse(const QByteArray& data) {
    const QJsonDocument doc = QJsonDocument::fromJson(data);
    if (!doc.isObject()) return std::nullopt;
    const QJsonValue tokens = doc.object().value(QLatin1String("tokens"));
    if (!tokens.isObject()) return std::nullopt;
    const QJsonObject t = tokens.toObject();
    const QJsonValue access = t.value(QLatin1String("access_token"));
    if (!access.isString() || access.toString().isEmpty()) return std::nullopt;

    CodexCredentials c;
    c.accessToken = access.toString();
    const QJsonValue account = t.value(QLatin1String("account_id"));
    if (account.isString()) c.accountID = account.toString();
    const QJsonValue refresh = t.value(QLatin1String("refresh_token"));
    if (refresh.isString()) c.refreshToken = refresh.toString();
    return c;
}

std::optional<CodexCredentials> CodexCredentialsReader::readCredentials() const {
    QFile file(fileURL_);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return parse(file.readAll());
}

// --- response

std::optional<CodexUsageResponse> CodexUsageResponse::decode(const QByteArray& data) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    CodexUsageResponse r;
    const QJsonValue rate = doc.object().value(QLatin1String("rate_limit"));
    if (rate.isUndefined() || rate.isNull()) return r;
    if (!rate.isObject()) return std::nullopt;
    CodexRateLimit limit;
    if (!decodeWindow(rate.toObject(), QStringLiteral("primary_window"), limit.primaryWindow) ||
        !decodeWindow(rate.toObject(), QStringLiteral("secondary_window"), limit.secondaryWindow))
        return std::nullopt;
    r.rateLimit = limit;
    return r;
}

// --- service

CodexLimitsService::CodexLimitsService(std::shared_ptr<const CodexCredentialsReading> credentialsReader,
                                       std::shared_ptr<HttpClient> session, Clock now, const QString& queueLabel)
    : AgentLimitsService(QStringLiteral("CodexLimits"), queueLabel, std::move(session), 10, std::move(now)),
      credentialsReader_(std::move(credentialsReader)) {}

const std::shared_ptr<CodexLimitsService>& CodexLimitsService::shared() {
    // Never released: queued work may still reach it while the process exits.
    static auto* instance = new std::shared_ptr<CodexLimitsService>(
        std::make_shared<CodexLimitsService>(std::make_shared<CodexCredentialsReader>()));
    return *instance;
}

QString CodexLimitsService::userAgentFor(const QString& version) {
    return QStringLiteral("varnix/") + (version.isEmpty() ? QStringLiteral("0.0.0") : version);
}

const QString& CodexLimitsService::userAgent() {
    static const QString agent = userAgentFor(QStringLiteral(VARNIX_VERSION));
    return agent;
}

QUrl CodexLimitsService::usageURL(QStringView logLabel) {
    static const LimitsEndpoint endpoint{kBaseURLEnv, kBaseURLPref, kDefaultBaseURL, kUsagePath};
    return endpoint.url(logLabel);
}

LimitsFetchPlan CodexLimitsService::buildRequest() {
    const std::optional<CodexCredentials> credentials = credentialsReader_->readCredentials();
    if (!credentials) return LimitsFetchPlan::unavailable();

    HttpRequest r;
    r.method = "GET";
    r.url = usageURL(logLabel());
    r.timeoutMs = 60000;
    r.setHeader("Authorization", "Bearer " + credentials->accessToken.toUtf8());
    r.setHeader("Accept", "application/json");
    if (credentials->accountID && !credentials->accountID->isEmpty())
        r.setHeader("ChatGPT-Account-Id", credentials->accountID->toUtf8());
    r.setHeader("User-Agent", userAgent().toUtf8());
    return LimitsFetchPlan::makeRequest(std::move(r));
}

std::optional<AgentLimits> CodexLimitsService::decodeLimits(const QByteArray& data) {
    const std::optional<CodexUsageResponse> response = CodexUsageResponse::decode(data);
    if (!response) return std::nullopt;
    return mapToAgentLimits(*response, now());
}

AgentLimits CodexLimitsService::mapToAgentLimits(const CodexUsageResponse& response, const QDateTime& now) {
    AgentLimits limits;
    if (response.rateLimit) {
        limits.fiveHour = mapWindow(response.rateLimit->primaryWindow, now);
        limits.weekly = mapWindow(response.rateLimit->secondaryWindow, now);
    }
    limits.stale = false;
    return limits;
}
