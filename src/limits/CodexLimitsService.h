#pragma once

#include "limits/AgentLimitsService.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <memory>
#include <optional>

struct CodexCredentials {
    QString accessToken;  // never empty
    std::optional<QString> accountID;
    std::optional<QString> refreshToken;
    friend bool operator==(const CodexCredentials&, const CodexCredentials&) = default;
};

class CodexCredentialsReading {
public:
    virtual ~CodexCredentialsReading() = default;
    virtual std::optional<CodexCredentials> readCredentials() const = 0;
};

// ~/.codex/auth.json as the Codex program writes it; read only.
class CodexCredentialsReader : public CodexCredentialsReading {
public:
    explicit CodexCredentialsReader(std::optional<QString> fileURL = std::nullopt);

    std::optional<CodexCredentials> readCredentials() const override;
    // {"tokens": {"access_token": ..., "account_id": ..., "refresh_token": ...}, ...}
    static std::optional<CodexCredentials> parse(const QByteArray& data);

    const QString& fileURL() const { return fileURL_; }

private:
    QString fileURL_;
};

struct CodexUsageWindow {
    std::optional<double> usedPercent;        // "used_percent", 0-100
    std::optional<double> resetAt;            // "reset_at", seconds since 1970
    std::optional<double> resetAfterSeconds;  // "reset_after_seconds", from now
};

struct CodexRateLimit {
    std::optional<CodexUsageWindow> primaryWindow;    // "primary_window"
    std::optional<CodexUsageWindow> secondaryWindow;  // "secondary_window"
};

struct CodexUsageResponse {
    std::optional<CodexRateLimit> rateLimit;  // "rate_limit"

    // Strict on the listed keys' types; missing or null keys are absent; others are ignored.
    static std::optional<CodexUsageResponse> decode(const QByteArray& data);
};

class CodexLimitsService : public AgentLimitsService {
public:
    static inline const QString kDefaultBaseURL = QStringLiteral("https://chatgpt.com");
    static inline const QString kUsagePath = QStringLiteral("/backend-api/wham/usage");
    static inline const QString kBaseURLEnv = QStringLiteral("VRNX_CODEX_LIMITS_BASE_URL");
    static inline const QString kBaseURLPref = QStringLiteral("Varnix.limits.codexBaseURL");

    CodexLimitsService(std::shared_ptr<const CodexCredentialsReading> credentialsReader,
                       std::shared_ptr<HttpClient> session = nullptr, Clock now = {},
                       const QString& queueLabel = QStringLiteral("com.varnix.codex-limits"));

    static const std::shared_ptr<CodexLimitsService>& shared();

    // "varnix/<version>" with the build's version; "0.0.0" when it has none.
    static const QString& userAgent();
    static QString userAgentFor(const QString& version);
    static QUrl usageURL(QStringView logLabel = u"CodexLimits");

    // `now` is the moment of decoding, the base of "reset_after_seconds".
    static AgentLimits mapToAgentLimits(const CodexUsageResponse& response, const QDateTime& now);

    LimitsFetchPlan buildRequest() override;
    std::optional<AgentLimits> decodeLimits(const QByteArray& data) override;

private:
    std::shared_ptr<const CodexCredentialsReading> credentialsReader_;
};
