#include "FakeHttpServer.h"
#include "LimitsTestSupport.h"

#include "core/Preferences.h"
#include "limits/ClaudeLimitsService.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QDateTime kNewYear = utc(2025, 1, 1);
constexpr qint64 kNewYearMs = 1735689600000;

QByteArray credentialsJSON(const QByteArray& token, const QByteArray& expiresAt) {
    return "{\"claudeAiOauth\": {\"accessToken\": \"" + token + "\", \"refreshToken\": \"r\", \"expiresAt\": " +
           expiresAt + "}, \"other\": 1}";
}

TEST(ClaudeCredentials, Parse) {
    struct Case {
        const char* name;
        QByteArray json;
        std::optional<ClaudeCredentials> expected;
    };
    const ClaudeCredentials full{QStringLiteral("tok"), QStringLiteral("r"), kNewYear};
    const std::vector<Case> cases = {
        {"integer milliseconds", credentialsJSON("tok", QByteArray::number(kNewYearMs)), full},
        {"float milliseconds", credentialsJSON("tok", "1735689600000.0"), full},
        {"fractional milliseconds", credentialsJSON("tok", "1735689600000.4"), full},
        {"expiry as text", credentialsJSON("tok", "\"1735689600000\""),
         ClaudeCredentials{QStringLiteral("tok"), QStringLiteral("r"), std::nullopt}},
        {"expiry null", credentialsJSON("tok", "null"),
         ClaudeCredentials{QStringLiteral("tok"), QStringLiteral("r"), std::nullopt}},
        {"only a token", R"({"claudeAiOauth": {"accessToken": "a", "refreshToken": 5}})",
         ClaudeCredentials{QStringLiteral("a"), std::nullopt, std::nullopt}},
        {"empty token", credentialsJSON("", "1"), std::nullopt},
        {"token not text", R"({"claudeAiOauth": {"accessToken": 12}})", std::nullopt},
        {"no oauth object", R"({"accessToken": "a"})", std::nullopt},
        {"oauth not an object", R"({"claudeAiOauth": "a"})", std::nullopt},
        {"top level array", R"([{"claudeAiOauth": {"accessToken": "a"}}])", std::nullopt},
        {"not json", "claudeAiOauth", std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ClaudeCredentialsReader::parse(c.json), c.expected) << c.name;

    // Absurd expiries keep their order instead of wrapping around.
    const auto far = ClaudeCredentialsReader::parse(credentialsJSON("tok", "1e300"));
    ASSERT_TRUE(far && far->expiresAt);
    EXPECT_FALSE(far->isExpired(QDateTime::currentDateTimeUtc()));
    const auto past = ClaudeCredentialsReader::parse(credentialsJSON("tok", "-1e300"));
    ASSERT_TRUE(past && past->expiresAt);
    EXPECT_TRUE(past->isExpired(QDateTime::currentDateTimeUtc()));
}

TEST(ClaudeCredentials, SourcePrecedence) {
    // The clock stands at New Year; "valid" expires an hour later, "expired" at that instant.
    const QByteArray valid = QByteArray::number(kNewYearMs + 3600 * 1000);
    const QByteArray expired = QByteArray::number(kNewYearMs);
    struct Case {
        const char* name;
        std::optional<QByteArray> file;      // nullopt: no file
        std::optional<QByteArray> keychain;  // nullopt: no item
        std::optional<QString> expectedToken;
        bool keychainRead;
    };
    const std::vector<Case> cases = {
        {"expired file, valid keychain", credentialsJSON("file", expired), credentialsJSON("kc", valid), "kc", true},
        {"both valid: file, keychain untouched", credentialsJSON("file", valid), credentialsJSON("kc", valid), "file",
         false},
        {"file without expiry never expires", credentialsJSON("file", "null"), credentialsJSON("kc", valid), "file",
         false},
        {"both expired: the file's", credentialsJSON("file", expired), credentialsJSON("kc", expired), "file", true},
        {"expired keychain only", std::nullopt, credentialsJSON("kc", expired), "kc", true},
        {"unparsable file, valid keychain", QByteArray("{"), credentialsJSON("kc", valid), "kc", true},
        {"empty file token counts as missing", credentialsJSON("", valid), credentialsJSON("kc", expired), "kc", true},
        {"nothing anywhere", std::nullopt, std::nullopt, std::nullopt, true},
        {"unparsable keychain", std::nullopt, QByteArray("secret"), std::nullopt, true},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral(".claude/.credentials.json"));
        if (c.file) {
            ASSERT_TRUE(writeTextFile(path, *c.file));
        }
        int keychainReads = 0;
        ClaudeCredentialsReader reader(
            path,
            [&] {
                ++keychainReads;
                return c.keychain;
            },
            [] { return kNewYear; });
        const auto got = reader.readCredentials();
        EXPECT_EQ(got ? std::optional<QString>(got->accessToken) : std::nullopt, c.expectedToken) << c.name;
        EXPECT_EQ(keychainReads > 0, c.keychainRead) << c.name;
    }
}

TEST(ClaudeCredentials, DefaultFileIsUnderHome) {
    TempHome home;
    EXPECT_EQ(ClaudeCredentialsReader().fileURL(), home.path() + "/.claude/.credentials.json");
}

// Reads credentials handed to it by the test.
class FixedCredentials : public ClaudeCredentialsReading {
public:
    explicit FixedCredentials(std::optional<ClaudeCredentials> c) : c_(std::move(c)) {}
    std::optional<ClaudeCredentials> readCredentials() const override { return c_; }
private:
    std::optional<ClaudeCredentials> c_;
};

TEST(ClaudeLimits, BuildRequestPlansAndHeaders) {
    ScopedMemoryPreferences prefs;
    TestClock clock;  // New Year
    auto plan = [&](std::optional<ClaudeCredentials> c) {
        auto s = std::make_shared<ClaudeLimitsService>(std::make_shared<FixedCredentials>(c), nullptr, clock.fn());
        return s->buildRequest();
    };
    EXPECT_EQ(plan(std::nullopt).kind, LimitsFetchPlan::Kind::Unavailable);
    EXPECT_EQ(plan(ClaudeCredentials{"t", {}, kNewYear}).kind, LimitsFetchPlan::Kind::StaleCredentials);

    const LimitsFetchPlan p = plan(ClaudeCredentials{"tok", {}, kNewYear.addSecs(1)});
    ASSERT_EQ(p.kind, LimitsFetchPlan::Kind::Request);
    EXPECT_EQ(p.request.method, "GET");
    EXPECT_EQ(p.request.url, QUrl("https://api.anthropic.com/api/oauth/usage"));
    EXPECT_EQ(p.request.timeoutMs, 60000);
    const QList<QPair<QByteArray, QByteArray>> expected = {
        {"Authorization", "Bearer tok"},       {"Accept", "application/json"},
        {"Content-Type", "application/json"},  {"anthropic-beta", "oauth-2025-04-20"},
        {"User-Agent", "claude-code/2.1.0"},
    };
    EXPECT_EQ(p.request.headers, expected);
    EXPECT_EQ(plan(ClaudeCredentials{"tok", {}, std::nullopt}).kind, LimitsFetchPlan::Kind::Request);
}

TEST(ClaudeLimits, DecodeAndMap) {
    const QDateTime resetWithMs = utc(2025, 1, 1, 12, 30, 0, 123);
    const QDateTime reset = utc(2025, 1, 1, 12, 30);
    auto limits = [](std::optional<LimitWindow> five, std::optional<LimitWindow> week = {},
                     std::optional<LimitWindow> opus = {}, std::optional<LimitWindow> sonnet = {}) {
        return std::optional<AgentLimits>(AgentLimits{five, week, opus, sonnet, false});
    };
    struct Case {
        const char* name;
        QByteArray body;
        std::optional<AgentLimits> expected;
    };
    const std::vector<Case> cases = {
        {"all four windows",
         R"({"five_hour": {"utilization": 12, "resets_at": "2025-01-01T12:30:00.123Z"},
             "seven_day": {"utilization": 50.5, "resets_at": "2025-01-01T12:30:00Z"},
             "seven_day_opus": {"utilization": 0, "resets_at": "2025-01-01T14:30:00.123+02:00"},
             "seven_day_sonnet": {"utilization": 101.5}, "extra": [1, 2]})",
         limits(window(12, resetWithMs), window(50.5, reset), window(0, resetWithMs), window(101.5))},
        {"only five_hour", R"({"five_hour": {"utilization": 3}})", limits(window(3))},
        {"null reset time", R"({"five_hour": {"utilization": 42.5, "resets_at": null}})", limits(window(42.5))},
        {"microseconds", R"({"five_hour": {"utilization": 1, "resets_at": "2025-01-01T12:30:00.123456+00:00"}})",
         limits(window(1, resetWithMs))},
        {"reset time without a zone is dropped", R"({"five_hour": {"utilization": 1, "resets_at": "2025-01-01T12:30:00"}})",
         limits(window(1))},
        {"garbage reset time is dropped", R"({"five_hour": {"utilization": 1, "resets_at": "soon"}})",
         limits(window(1))},
        {"impossible date is dropped", R"({"five_hour": {"utilization": 1, "resets_at": "2025-13-01T00:00:00Z"}})",
         limits(window(1))},
        {"reset time alone is no window", R"({"five_hour": {"resets_at": "2025-01-01T12:30:00Z"}})", limits({})},
        {"null windows", R"({"five_hour": null, "seven_day": {"utilization": null}})", limits({})},
        {"empty object", "{}", limits({})},
        {"utilization as text", R"({"five_hour": {"utilization": "12"}})", std::nullopt},
        {"reset time as number", R"({"five_hour": {"utilization": 1, "resets_at": 1735689600}})", std::nullopt},
        {"window not an object", R"({"seven_day": 5})", std::nullopt},
        {"top level array", "[]", std::nullopt},
        {"not json", "<html>", std::nullopt},
        {"empty body", "", std::nullopt},
    };
    auto s = std::make_shared<ClaudeLimitsService>(std::make_shared<FixedCredentials>(std::nullopt));
    for (const Case& c : cases) EXPECT_EQ(s->decodeLimits(c.body), c.expected) << c.name;
}

class ClaudeRoundTrip : public ::testing::Test {
protected:
    void SetUp() override {
        prefs.prefs().setValue(ClaudeLimitsService::kBaseURLPref, server.baseURL());
        path = dir.filePath(QStringLiteral("credentials.json"));
        reader = std::make_shared<ClaudeCredentialsReader>(
            path, [] { return std::optional<QByteArray>(); }, clock.fn());
        service = std::make_shared<ClaudeLimitsService>(reader, nullptr, clock.fn());
    }
    void TearDown() override { drain(*service); }

    ScopedMemoryPreferences prefs;
    LogCapture log;
    FakeHttpServer server;
    TestClock clock;
    QTemporaryDir dir;
    QString path;
    std::shared_ptr<ClaudeCredentialsReader> reader;
    std::shared_ptr<ClaudeLimitsService> service;
    Received received;
};

TEST_F(ClaudeRoundTrip, FetchesWithTheExactHeadersAndMapsTheAnswer) {
    ASSERT_TRUE(writeTextFile(path, credentialsJSON("secret-token", "null")));
    server.enqueue(200, R"({"five_hour": {"utilization": 42.5, "resets_at": null},
                            "seven_day": {"utilization": 7, "resets_at": "2025-01-03T00:00:00Z"}})");
    service->subscribe(received.handler());
    ASSERT_TRUE(waitUntil([&] { return received.count() == 1; }, kWaitMs)) << log.lines().join('\n').toStdString();
    AgentLimits expected;
    expected.fiveHour = window(42.5);
    expected.weekly = window(7, utc(2025, 1, 3));
    EXPECT_EQ(received.values()[0], expected);
    EXPECT_TRUE(received.allOnMainThread());

    ASSERT_EQ(server.requestCount(), 1);
    const FakeHttpServer::Request r = server.requests()[0];
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.path, "/api/oauth/usage");
    EXPECT_EQ(r.header("Authorization"), "Bearer secret-token");
    EXPECT_EQ(r.header("Accept"), "application/json");
    EXPECT_EQ(r.header("Content-Type"), "application/json");
    EXPECT_EQ(r.header("anthropic-beta"), "oauth-2025-04-20");
    EXPECT_EQ(r.header("User-Agent"), "claude-code/2.1.0");
    EXPECT_FALSE(r.has("Cookie"));
}

TEST_F(ClaudeRoundTrip, ExpiredCredentialsNeverTouchTheNetwork) {
    ASSERT_TRUE(writeTextFile(path, credentialsJSON("old", QByteArray::number(kNewYearMs - 1))));
    service->subscribe(received.handler());
    ASSERT_TRUE(waitUntil([&] {
        return log.contains("[ClaudeLimits] access token expired; marking cached limits stale");
    }, kWaitMs));
    clock.advance(60);
    service->refreshNow();
    ASSERT_TRUE(waitUntil([&] {
        return countLines(log, "[ClaudeLimits] access token expired; marking cached limits stale") == 2;
    }, kWaitMs));
    EXPECT_EQ(server.requestCount(), 0);

    QFile::remove(path);
    clock.advance(60);
    service->refreshNow();
    ASSERT_TRUE(waitUntil([&] { return log.contains("[ClaudeLimits] no credentials; skipping usage fetch"); },
                          kWaitMs));
    drain(*service);
    EXPECT_EQ(server.requestCount(), 0);
    EXPECT_EQ(received.count(), 0);
}

TEST_F(ClaudeRoundTrip, RetriesOnceWithTheTokenClaudeCodeRenewed) {
    ASSERT_TRUE(writeTextFile(path, credentialsJSON("old", "null")));
    server.enqueue({401, "{}", false, [this] { writeTextFile(path, credentialsJSON("new", "null")); }});
    server.enqueue(200, R"({"seven_day_sonnet": {"utilization": 9}})");
    service->subscribe(received.handler());
    ASSERT_TRUE(waitUntil([&] { return received.count() == 1; }, kWaitMs)) << log.lines().join('\n').toStdString();
    ASSERT_EQ(server.requestCount(), 2);
    EXPECT_EQ(server.requests()[0].header("Authorization"), "Bearer old");
    EXPECT_EQ(server.requests()[1].header("Authorization"), "Bearer new");
    EXPECT_TRUE(log.contains("[ClaudeLimits] usage fetch HTTP 401; retrying with re-read credentials"));
    EXPECT_EQ(received.values()[0].weeklySonnet, window(9));
}

}  // namespace
