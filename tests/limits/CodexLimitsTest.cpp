#include "FakeHttpServer.h"
#include "LimitsTestSupport.h"

#include "limits/CodexLimitsService.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(CodexCredentials, Parse) {
    struct Case {
        const char* name;
        QByteArray json;
        std::optional<CodexCredentials> expected;
    };
    const std::vector<Case> cases = {
        {"full", R"({"OPENAI_API_KEY": null, "tokens": {"access_token": "a", "account_id": "acc", "refresh_token": "r",
                    "id_token": "i"}, "last_refresh": "2025-01-01T00:00:00Z"})",
         CodexCredentials{"a", QStringLiteral("acc"), QStringLiteral("r")}},
        {"empty account id is kept", R"({"tokens": {"access_token": "a", "account_id": ""}})",
         CodexCredentials{"a", QString(""), std::nullopt}},
        {"non-text extras are absent", R"({"tokens": {"access_token": "a", "account_id": 5, "refresh_token": {}}})",
         CodexCredentials{"a", std::nullopt, std::nullopt}},
        {"empty access token", R"({"tokens": {"access_token": ""}})", std::nullopt},
        {"access token not text", R"({"tokens": {"access_token": 1}})", std::nullopt},
        {"no tokens", R"({"OPENAI_API_KEY": "sk-1"})", std::nullopt},
        {"tokens not an object", R"({"tokens": "a"})", std::nullopt},
        {"top level array", "[]", std::nullopt},
        {"not json", "tokens", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(CodexCredentialsReader::parse(c.json), c.expected) << c.name;
}

TEST(CodexCredentials, DefaultFileIsUnderHome) {
    TempHome home;
    EXPECT_EQ(CodexCredentialsReader().fileURL(), home.path() + "/.codex/auth.json");
}

TEST(CodexLimits, UserAgentCarriesTheBuildVersion) {
    EXPECT_EQ(CodexLimitsService::userAgentFor(QString()), "varnix/0.0.0");
    EXPECT_EQ(CodexLimitsService::userAgentFor("1.2.3"), "varnix/1.2.3");
    EXPECT_EQ(CodexLimitsService::userAgent(), CodexLimitsService::userAgentFor(QStringLiteral(VARNIX_VERSION)));
}

TEST(CodexLimits, BuildRequestPlansAndHeaders) {
    ScopedMemoryPreferences prefs;
    QTemporaryDir dir;
    const QString path = dir.filePath("auth.json");
    auto service = std::make_shared<CodexLimitsService>(std::make_shared<CodexCredentialsReader>(path));

    EXPECT_EQ(service->buildRequest().kind, LimitsFetchPlan::Kind::Unavailable);  // no file
    ASSERT_TRUE(writeTextFile(path, R"({"tokens": {"access_token": ""}})"));
    EXPECT_EQ(service->buildRequest().kind, LimitsFetchPlan::Kind::Unavailable);

    ASSERT_TRUE(writeTextFile(path, R"({"tokens": {"access_token": "tok", "account_id": "acc-1"}})"));
    LimitsFetchPlan p = service->buildRequest();
    ASSERT_EQ(p.kind, LimitsFetchPlan::Kind::Request);
    EXPECT_EQ(p.request.method, "GET");
    EXPECT_EQ(p.request.url, QUrl("https://chatgpt.com/backend-api/wham/usage"));
    EXPECT_EQ(p.request.timeoutMs, 60000);
    const QByteArray agent = CodexLimitsService::userAgent().toUtf8();
    QList<QPair<QByteArray, QByteArray>> expected = {
        {"Authorization", "Bearer tok"}, {"Accept", "application/json"}, {"ChatGPT-Account-Id", "acc-1"},
        {"User-Agent", agent}};
    EXPECT_EQ(p.request.headers, expected);

    ASSERT_TRUE(writeTextFile(path, R"({"tokens": {"access_token": "tok", "account_id": ""}})"));
    p = service->buildRequest();
    expected = {{"Authorization", "Bearer tok"}, {"Accept", "application/json"}, {"User-Agent", agent}};
    EXPECT_EQ(p.request.headers, expected);
}

TEST(CodexLimits, DecodeAndMap) {
    const QDateTime newYear = utc(2025, 1, 1);
    TestClock clock;  // the moment of decoding: New Year
    auto service = std::make_shared<CodexLimitsService>(
        std::make_shared<CodexCredentialsReader>(QStringLiteral("/nonexistent")), nullptr, clock.fn());
    clock.advance(3600 * 24);
    const QDateTime decodedAt = clock.now();

    auto limits = [](std::optional<LimitWindow> five, std::optional<LimitWindow> week = {}) {
        return std::optional<AgentLimits>(AgentLimits{five, week, {}, {}, false});
    };
    struct Case {
        const char* name;
        QByteArray body;
        std::optional<AgentLimits> expected;
    };
    const std::vector<Case> cases = {
        {"both windows",
         R"({"plan_type": "plus", "rate_limit": {"allowed": true,
              "primary_window": {"used_percent": 12.5, "reset_at": 1735689600, "limit_window_seconds": 18000},
              "secondary_window": {"used_percent": 3, "reset_after_seconds": 60}}})",
         limits(window(12.5, newYear), window(3, decodedAt.addSecs(60)))},
        {"reset_at wins over reset_after_seconds",
         R"({"rate_limit": {"primary_window": {"used_percent": 1, "reset_at": 1735689600, "reset_after_seconds": 5}}})",
         limits(window(1, newYear))},
        {"one hour from decoding",
         R"({"rate_limit": {"primary_window": {"used_percent": 1, "reset_after_seconds": 3600}}})",
         limits(window(1, decodedAt.addSecs(3600)))},
        {"fractional seconds", R"({"rate_limit": {"primary_window": {"used_percent": 1, "reset_at": 1735689600.25}}})",
         limits(window(1, newYear.addMSecs(250)))},
        {"no reset time", R"({"rate_limit": {"primary_window": {"used_percent": 99}}})", limits(window(99))},
        {"no used_percent: no window",
         R"({"rate_limit": {"primary_window": {"reset_at": 1735689600}, "secondary_window": {"used_percent": 4}}})",
         limits({}, window(4))},
        {"primary only", R"({"rate_limit": {"primary_window": {"used_percent": 8}}})", limits(window(8))},
        {"null rate limit", R"({"rate_limit": null})", limits({})},
        {"no rate limit is still a success", R"({"plan_type": "free"})", limits({})},
        {"used_percent as text", R"({"rate_limit": {"primary_window": {"used_percent": "8"}}})", std::nullopt},
        {"reset_at as text", R"({"rate_limit": {"primary_window": {"used_percent": 8, "reset_at": "x"}}})",
         std::nullopt},
        {"rate limit not an object", R"({"rate_limit": []})", std::nullopt},
        {"window not an object", R"({"rate_limit": {"secondary_window": 1}})", std::nullopt},
        {"top level array", "[]", std::nullopt},
        {"empty body", "", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(service->decodeLimits(c.body), c.expected) << c.name;
}

TEST(CodexLimits, RoundTripThroughTheConfiguredHost) {
    FakeHttpServer server;
    ScopedEnv env("VRNX_CODEX_LIMITS_BASE_URL", server.baseURL().toUtf8() + "/");
    LogCapture log;
    TestClock clock;
    QTemporaryDir dir;
    const QString path = dir.filePath("auth.json");
    auto service = std::make_shared<CodexLimitsService>(std::make_shared<CodexCredentialsReader>(path), nullptr,
                                                        clock.fn());
    Received received;

    // No auth.json yet: skipped without a request.
    service->subscribe(received.handler());
    ASSERT_TRUE(waitUntil([&] { return log.contains("[CodexLimits] no credentials; skipping usage fetch"); }, kWaitMs));
    EXPECT_EQ(server.requestCount(), 0);

    ASSERT_TRUE(writeTextFile(path, R"({"tokens": {"access_token": "codex-tok", "account_id": "acc"}})"));
    server.enqueue(200, R"({"rate_limit": {"primary_window": {"used_percent": 20, "reset_at": 1735689600}}})");
    service->refreshNow();
    ASSERT_TRUE(waitUntil([&] { return received.count() == 1; }, kWaitMs)) << log.lines().join('\n').toStdString();
    EXPECT_EQ(received.values()[0].fiveHour, window(20, utc(2025, 1, 1)));
    EXPECT_FALSE(received.values()[0].weekly.has_value());

    ASSERT_EQ(server.requestCount(), 1);
    const FakeHttpServer::Request r = server.requests()[0];
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.path, "/backend-api/wham/usage");
    EXPECT_EQ(r.header("Authorization"), "Bearer codex-tok");
    EXPECT_EQ(r.header("Accept"), "application/json");
    EXPECT_EQ(r.header("ChatGPT-Account-Id"), "acc");
    EXPECT_EQ(r.header("User-Agent"), CodexLimitsService::userAgent().toUtf8());
    EXPECT_FALSE(r.has("Content-Type"));

    // A 401 that re-reading auth.json cannot cure: stale, no retry.
    clock.advance(11);
    server.enqueue(401, R"({"error": "expired"})");
    service->refreshNow();
    ASSERT_TRUE(waitUntil([&] { return received.count() == 2; }, kWaitMs));
    EXPECT_TRUE(received.values()[1].stale);
    EXPECT_EQ(received.values()[1].fiveHour, received.values()[0].fiveHour);
    EXPECT_EQ(server.requestCount(), 2);
    EXPECT_TRUE(log.contains("[CodexLimits] usage fetch HTTP 401; marking cached limits stale"));
    drain(*service);
}

}  // namespace
