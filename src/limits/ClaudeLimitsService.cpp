#include "limits/ClaudeLimitsService.h"

#include "core/Paths.h"
#include "limits/LimitsEndpoint.h"
#include "platform/iface/SecretStore.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace {

// Milliseconds since 1970 as a date; kept inside the range a date can hold so absurd values
// still order correctly (far past: expired, far future: not).
QDateTime fromMillis(double ms) {
    constexpr double kLimit = 8.64e15;  // 275,000 years either way
    const double clamped = std::clamp(ms, -kLimit, kLimit);
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(clamped)), Qt::UTC);
}

std::optional<QByteArray> readWholeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return file.readAll();
}

// An internet date-time (with a zone designator), with or without fractional seconds.
std::optional<QDateTime> parseResetTime(const QString& text) {
    static const QRegularExpression internetDateTime(
        QStringLiteral(R"(^\d{4}-\d{2}-\d{2}[Tt]\d{2}:\d{2}:\d{2}(\.\d+)?([Zz]|[+-]\d{2}:\d{2})$)"));
    if (!internetDateTime.match(text).hasMatch()) return std::nullopt;
    QString normalized = text;
    normalized[10] = QLatin1Char('T');
    if (normalized.endsWith(QLatin1Char('z'))) normalized.back() = QLatin1Char('Z');
    const bool hasFraction = normalized.contains(QLatin1Char('.'));
    QDateTime date = QDateTime::fromString(normalized, hasFraction ? Qt::ISODateWithMs : Qt::ISODate);
    if (!date.isValid()) return std::nullopt;
    return date.toUTC();
}

std::optional<LimitWindow> mapWindow(const std::optional<OAuthUsageWindow>& window) {
    if (!window || !window->utilization) return std::nullopt;
    LimitWindow result;
    result.usedPercent = *window->utilization;
    if (window->resetsAt) result.resetsAt = parseResetTime(*window->resetsAt);
    return result;
}

// false on a type error; missing and null leave `out` empty.
bool decodeWindow(const QJsonObject& body, const QString& key, std::optional<OAuthUsageWindow>& out) {
    const QJsonValue v = body.value(key);
    if (v.isUndefined() || v.isNull()) return true;
    if (!v.isObject()) return false;
    const QJsonObject o = v.toObject();
    OAuthUsageWindow w;
    const QJsonValue utilization = o.value(QLatin1String("utilization"));
    if (utilization.isDouble()) w.utilization = utilization.toDouble();
    else if (!utilization.isUndefined() && !utilization.isNull()) return false;
    const QJsonValue resetsAt = o.value(QLatin1String("resets_at"));
    if (resetsAt.isString()) w.resetsAt = resetsAt.toString();
    else if (!resetsAt.isUndefined() && !resetsAt.isNull()) return false;
    out = w;
    return true;
}

}  // namespace

// --- credentials

ClaudeCredentialsReader::ClaudeCredentialsReader(std::optional<QString> fileURL, KeychainRead keychainRead,
                                                 Clock now)
    : fileURL_(fileURL ? *fileURL : Paths::home() + QStringLiteral("/.claude/.credentials.json")),
      keychainRead_(keychainRead ? std::move(keychainRead) : KeychainRead(&ClaudeCredentialsReader::readKeychainData)),
      now_(now ? std::move(now) : Clock(&AgentLimitsService::systemNow)) {}

std::optional<QByteArray> ClaudeCredentialsReader::readKeychainData() {
    return SecretStore::platformDefault()->read(kKeychainService);
}

std::optional<ClaudeCredentials> ClaudeCredentialsReader::parse(const QByteArray& data) {
    const QJsonDocument doc = QJsonDocument::fromJson(data);
    if (!doc.isObject()) return std::nullopt;
    const QJsonValue oauth = doc.object().value(QLatin1String("claudeAiOauth"));
    if (!oauth.isObject()) return std::nullopt;
    const QJsonObject o = oauth.toObject();
    const QJsonValue token = o.value(QLatin1String("accessToken"));
    if (!token.isString() || token.toString().isEmpty()) return std::nullopt;

    ClaudeCredentials c;
    c.accessToken = token.toString();
    const QJsonValue refresh = o.value(QLatin1String("refreshToken"));
    if (refresh.isString()) c.refreshToken = refresh.toString();
    const QJsonValue expires = o.value(QLatin1String("expiresAt"));
    if (expires.isDouble()) c.expiresAt = fromMillis(expires.toDouble());
    return c;
}

std::optional<ClaudeCredentials> ClaudeCredentialsReader::readCredentials() const {
    const QDateTime now = now_();
    std::optional<ClaudeCredentials> file;
    if (auto bytes = readWholeFile(fileURL_)) file = parse(*bytes);
    if (file && !file->isExpired(now)) return file;

    std::optional<ClaudeCredentials> keychain;
    if (auto bytes = keychainRead_()) keychain = parse(*bytes);
    if (keychain && !keychain->isExpired(now)) return keychain;

    return file ? file : keychain;
}

// --- response

std::optional<OAuthUsageResponse> OAuthUsageResponse::decode(const QByteArray& data) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    const QJsonObject body = doc.object();
    OAuthUsageResponse r;
    if (!decodeWindow(body, QStringLiteral("five_hour"), r.fiveHour) ||
        !decodeWindow(body, QStringLiteral("seven_day"), r.sevenDay) ||
        !decodeWindow(body, QStringLiteral("seven_day_opus"), r.sevenDayOpus) ||
        !decodeWindow(body, QStringLiteral("seven_day_sonnet"), r.sevenDaySonnet))
        return std::nullopt;
    return r;
}

// --- service

ClaudeLimitsService::ClaudeLimitsService(std::shared_ptr<const ClaudeCredentialsReading> credentialsReader,
                                         std::shared_ptr<HttpClient> session, Clock now, const QString& queueLabel)
    : AgentLimitsService(QStringLiteral("ClaudeLimits"), queueLabel, std::move(session), 10, std::move(now)),
      credentialsReader_(std::move(credentialsReader)) {}

const std::shared_ptr<ClaudeLimitsService>& ClaudeLimitsService::shared() {
    // Never released: queued work may still reach it while the process exits.
    static auto* instance =
        new std::shared_ptr<ClaudeLimitsService>(std::make_shared<ClaudeLimitsService>(
            std::make_shared<ClaudeCredentialsReader>()));
    return *instance;
}

QUrl ClaudeLimitsService::usageURL(QStringView logLabel) {
    static const LimitsEndpoint endpoint{kBaseURLEnv, kBaseURLPref, kDefaultBaseURL, kUsagePath};
    return endpoint.url(logLabel);
}

LimitsFetchPlan ClaudeLimitsService::buildRequest() {
    const std::optional<ClaudeCredentials> credentials = credentialsReader_->readCredentials();
    if (!credentials) return LimitsFetchPlan::unavailable();
    if (credentials->isExpired(now())) return LimitsFetchPlan::staleCredentials();

    HttpRequest r;
    r.method = "GET";
    r.url = usageURL(logLabel());
    r.timeoutMs = 60000;
    r.setHeader("Authorization", "Bearer " + credentials->accessToken.toUtf8());
    r.setHeader("Accept", "application/json");
    r.setHeader("Content-Type", "application/json");
    r.setHeader("anthropic-beta", "oauth-2025-04-20");
    r.setHeader("User-Agent", "claude-code/2.1.0");
    return LimitsFetchPlan::makeRequest(std::move(r));
}

std::optional<AgentLimits> ClaudeLimitsService::decodeLimits(const QByteArray& data) {
    const std::optional<OAuthUsageResponse> response = OAuthUsageResponse::decode(data);
    if (!response) return std::nullopt;
    return mapToAgentLimits(*response);
}

AgentLimits ClaudeLimitsService::mapToAgentLimits(const OAuthUsageResponse& response) {
    AgentLimits limits;
    limits.fiveHour = mapWindow(response.fiveHour);
    limits.weekly = mapWindow(response.sevenDay);
    limits.weeklyOpus = mapWindow(response.sevenDayOpus);
    limits.weeklySonnet = mapWindow(response.sevenDaySonnet);
    limits.stale = false;
    return limits;
}
