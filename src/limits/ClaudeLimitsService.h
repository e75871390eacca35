#pragma once

#include "limits/AgentLimitsService.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

struct ClaudeCredentials {
    QString accessToken;  // never empty
    std::optional<QString> refreshToken;
    std::optional<QDateTime> expiresAt;

    // Expired when the expiry is known and not later than `now`.
    bool isExpired(const QDateTime& now) const { return expiresAt && *expiresAt <= now; }
    friend bool operator==(const ClaudeCredentials&, const ClaudeCredentials&) = default;
};

class ClaudeCredentialsReading {
public:
    virtual ~ClaudeCredentialsReading() = default;
    virtual std::optional<ClaudeCredentials> readCredentials() const = 0;
};

// Reads what Claude Code stored: the credentials file first, then the secret store item.
// Unexpired credentials win; the file wins when both are usable; expired ones are still
// returned so the service can tell "expired" from "missing". Never writes either.
class ClaudeCredentialsReader : public ClaudeCredentialsReading {
public:
    using KeychainRead = std::function<std::optional<QByteArray>()>;
    using Clock = std::function<QDateTime()>;

    // Empty arguments take the defaults: ~/.claude/.credentials.json, the platform's secret
    // store item "Claude Code-credentials", and the system clock.
    explicit ClaudeCredentialsReader(std::optional<QString> fileURL = std::nullopt, KeychainRead keychainRead = {},
                                     Clock now = {});

    std::optional<ClaudeCredentials> readCredentials() const override;

    // {"claudeAiOauth": {"accessToken": ..., "refreshToken": ..., "expiresAt": <ms since 1970>}}
    static std::optional<ClaudeCredentials> parse(const QByteArray& data);

    const QString& fileURL() const { return fileURL_; }

    static inline const QString kKeychainService = QStringLiteral("Claude Code-credentials");

private:
    static std::optional<QByteArray> readKeychainData();

    QString fileURL_;
    KeychainRead keychainRead_;
    Clock now_;
};

// The decoded usage answer.
struct OAuthUsageWindow {
    std::optional<double> utilization;  // "utilization", 0-100
    std::optional<QString> resetsAt;    // "resets_at"
};

struct OAuthUsageResponse {
    std::optional<OAuthUsageWindow> fiveHour;        // "five_hour"
    std::optional<OAuthUsageWindow> sevenDay;        // "seven_day"
    std::optional<OAuthUsageWindow> sevenDayOpus;    // "seven_day_opus"
    std::optional<OAuthUsageWindow> sevenDaySonnet;  // "seven_day_sonnet"

    // Strict: a listed key of the wrong type fails the whole body; missing or null keys are
    // absent; unlisted keys are ignored.
    static std::optional<OAuthUsageResponse> decode(const QByteArray& data);
};

class ClaudeLimitsService : public AgentLimitsService {
public:
    static inline const QString kDefaultBaseURL = QStringLiteral("https://api.anthropic.com");
    static inline const QString kUsagePath = QStringLiteral("/api/oauth/usage");
    // Overrides of the base URL, for a proxy or a test server.
    static inline const QString kBaseURLEnv = QStringLiteral("VRNX_CLAUDE_LIMITS_BASE_URL");
    static inline const QString kBaseURLPref = QStringLiteral("Varnix.limits.claudeBaseURL");

    ClaudeLimitsService(std::shared_ptr<const ClaudeCredentialsReading> credentialsReader,
                        std::shared_ptr<HttpClient> session = nullptr, Clock now = {},
                        const QString& queueLabel = QStringLiteral("com.varnix.claude-limits"));

    static const std::shared_ptr<ClaudeLimitsService>& shared();

    static AgentLimits mapToAgentLimits(const OAuthUsageResponse& response);
    // The usage URL as configured right now.
    static QUrl usageURL(QStringView logLabel = u"ClaudeLimits");

    LimitsFetchPlan buildRequest() override;
    std::optional<AgentLimits> decodeLimits(const QByteArray& data) override;

private:
    std::shared_ptr<const ClaudeCredentialsReading> credentialsReader_;
};
