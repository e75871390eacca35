#include "LimitsTestSupport.h"

#include "core/Preferences.h"
#include "limits/ClaudeLimitsService.h"
#include "limits/HttpClient.h"
#include "limits/LimitsEndpoint.h"

#include <gtest/gtest.h>

namespace {

TEST(LimitsEndpoint, AcceptsHttpsOrLoopbackHttpOnly) {
    struct Case {
        const char* text;
        const char* expected;  // nullptr: refused
    };
    const Case cases[] = {
        {"https://proxy.example.com", "https://proxy.example.com"},
        {"https://proxy.example.com:8443/prefix/", "https://proxy.example.com:8443/prefix"},
        {"  http://127.0.0.1:8080//  ", "http://127.0.0.1:8080"},
        {"http://localhost:9", "http://localhost:9"},
        {"http://[::1]:9", "http://[::1]:9"},
        {"http://example.com", nullptr},
        {"http://10.0.0.1", nullptr},
        {"ftp://127.0.0.1", nullptr},
        {"https://user:pw@example.com", nullptr},
        {"https://example.com/?q=1", nullptr},
        {"example.com", nullptr},
        {"https://", nullptr},
    };
    for (const Case& c : cases) {
        const auto got = LimitsEndpoint::acceptableBase(QString::fromUtf8(c.text));
        if (c.expected) {
            ASSERT_TRUE(got.has_value()) << c.text;
            EXPECT_EQ(got->toString(), QString::fromUtf8(c.expected)) << c.text;
        } else {
            EXPECT_FALSE(got.has_value()) << c.text;
        }
    }
}

TEST(LimitsEndpoint, EnvironmentBeatsPreferenceBeatsProductionHost) {
    ScopedMemoryPreferences prefs;
    LogCapture log;
    EXPECT_EQ(ClaudeLimitsService::usageURL(), QUrl("https://api.anthropic.com/api/oauth/usage"));

    prefs.prefs().setValue(ClaudeLimitsService::kBaseURLPref, "http://127.0.0.1:1234");
    EXPECT_EQ(ClaudeLimitsService::usageURL(), QUrl("http://127.0.0.1:1234/api/oauth/usage"));
    {
        ScopedEnv env("VRNX_CLAUDE_LIMITS_BASE_URL", "https://proxy.example.com/p");
        EXPECT_EQ(ClaudeLimitsService::usageURL(), QUrl("https://proxy.example.com/p/api/oauth/usage"));
    }
    EXPECT_TRUE(log.lines().isEmpty());

    // A token must not go out in the clear: such an override is refused, loudly.
    prefs.prefs().setValue(ClaudeLimitsService::kBaseURLPref, "http://example.com");
    EXPECT_EQ(ClaudeLimitsService::usageURL(), QUrl("https://api.anthropic.com/api/oauth/usage"));
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(log.lines()[0].startsWith("[ClaudeLimits] ignoring usage endpoint override \"http://example.com\""));
}

TEST(HttpClient, RefusesHeaderValuesThatWouldSplitTheRequest) {
    // The client lives on this thread; its completion arrives through the event loop.
    NetworkHttpClient client;
    HttpRequest r;
    r.url = QUrl("http://127.0.0.1:9/");
    r.setHeader("Authorization", "Bearer a\r\nX-Evil: 1");
    std::optional<HttpResponse> got;
    client.send(r, [&](HttpResponse response) { got = response; });
    ASSERT_TRUE(waitUntil([&] { return got.has_value(); }, kWaitMs));
    ASSERT_TRUE(got->transportError.has_value());
    EXPECT_TRUE(got->transportError->contains("Authorization"));
    EXPECT_FALSE(got->status.has_value());

    r.setHeader("authorization", "Bearer fine");  // replaces, whatever the case
    EXPECT_EQ(r.headers.size(), 1);
    EXPECT_EQ(r.header("AUTHORIZATION"), "Bearer fine");
}

}  // namespace
