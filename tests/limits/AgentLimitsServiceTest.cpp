#include "FakeHttpServer.h"
#include "LimitsTestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <gtest/gtest.h>
#include <mutex>

namespace {

// A provider whose credentials the test scripts: a plan kind and a bearer token. Its body is
// {"used": <percent>} for a five-hour window; any other object decodes to empty limits.
class ScriptedService : public AgentLimitsService {
public:
    ScriptedService(QString base, Clock now)
        : AgentLimitsService(QStringLiteral("TestLimits"), QStringLiteral("com.varnix.test-limits"), nullptr, 10,
                             std::move(now)),
          base_(std::move(base)) {}

    void setToken(const QString& token) { std::lock_guard l(m_); token_ = token; }
    void setPlan(LimitsFetchPlan::Kind kind) { std::lock_guard l(m_); kind_ = kind; }
    void setBase(const QString& base) { std::lock_guard l(m_); base_ = base; }
    int builds() const { std::lock_guard l(m_); return builds_; }

protected:
    LimitsFetchPlan buildRequest() override {
        std::lock_guard l(m_);
        ++builds_;
        if (kind_ == LimitsFetchPlan::Kind::StaleCredentials) return LimitsFetchPlan::staleCredentials();
        if (kind_ == LimitsFetchPlan::Kind::Unavailable) return LimitsFetchPlan::unavailable();
        HttpRequest r;
        r.url = QUrl(base_ + QStringLiteral("/usage"));
        r.setHeader("Authorization", "Bearer " + token_.toUtf8());
        return LimitsFetchPlan::makeRequest(r);
    }
    std::optional<AgentLimits> decodeLimits(const QByteArray& data) override {
        const QJsonDocument doc = QJsonDocument::fromJson(data);
        if (!doc.isObject()) return std::nullopt;
        AgentLimits limits;
        if (doc.object().contains(QLatin1String("used")))
            limits.fiveHour = LimitWindow{doc.object().value(QLatin1String("used")).toDouble(), std::nullopt};
        return limits;
    }

private:
    mutable std::mutex m_;
    QString base_;
    QString token_ = QStringLiteral("t1");
    LimitsFetchPlan::Kind kind_ = LimitsFetchPlan::Kind::Request;
    int builds_ = 0;
};

AgentLimits fiveHour(double percent, bool stale = false) {
    AgentLimits l;
    l.fiveHour = window(percent);
    l.stale = stale;
    return l;
}

QByteArray used(double percent) { return "{\"used\": " + QByteArray::number(percent) + "}"; }

const QString kTag = QStringLiteral("[TestLimits] ");

class LimitsServiceTest : public ::testing::Test {
protected:
    void SetUp() override { service = std::make_shared<ScriptedService>(server.baseURL(), clock.fn()); }
    void TearDown() override {
        drain(*service);
        EXPECT_TRUE(received.allOnMainThread());
    }

    // Waits until the current fetch has settled with a success at the clock's time.
    bool waitForSuccessNow() {
        return waitUntil([&] { return service->lastSuccessfulFetch() == clock.now(); }, kWaitMs);
    }
    bool waitForLine(const QString& message, int times = 1) {
        return waitUntil([&] { return countLines(log, kTag + message) >= times; }, kWaitMs);
    }
    bool waitForValues(qsizetype n) {
        return waitUntil([&] { return received.count() >= n; }, kWaitMs);
    }

    LogCapture log;
    FakeHttpServer server;
    TestClock clock;
    Received received;
    std::shared_ptr<ScriptedService> service;
};

TEST_F(LimitsServiceTest, ThrottleAllowsOneFirstAttemptPerTenSeconds) {
    server.enqueue(200, used(10));
    server.enqueue(200, used(20));

    service->refreshNow();
    ASSERT_TRUE(waitForSuccessNow());
    EXPECT_EQ(server.requestCount(), 1);

    clock.advance(3);
    service->refreshNow();
    EXPECT_FALSE(service->isFetching());  // the refresh ran and started nothing
    EXPECT_EQ(server.requestCount(), 1);

    clock.advance(8);  // 11 s after the first start
    service->refreshNow();
    ASSERT_TRUE(waitForSuccessNow());
    EXPECT_EQ(server.requestCount(), 2);
    EXPECT_EQ(server.requests()[1].method, "GET");
    EXPECT_EQ(server.requests()[1].path, "/usage");
}

TEST_F(LimitsServiceTest, NoSecondRequestWhileOneIsOutstanding) {
    server.enqueue({200, used(5), /*hold=*/true});
    service->subscribe(received.handler());
    ASSERT_TRUE(waitUntil([&] { return server.heldCount() == 1; }, kWaitMs));

    clock.advance(30);  // well past the throttle
    service->refreshNow();
    service->refreshNow();
    EXPECT_TRUE(service->isFetching());

    server.release();
    ASSERT_TRUE(waitForValues(1));
    EXPECT_FALSE(service->isFetching());
    EXPECT_EQ(server.requestCount(), 1);
    EXPECT_EQ(received.values()[0], fiveHour(5));
}

TEST_F(LimitsServiceTest, FirstSubscriberFetchesLaterOnesGetTheCachedValue) {
    server.enqueue(200, used(10));
    Received first, second, third;
    const QUuid a = service->subscribe(first.handler());
    ASSERT_TRUE(waitUntil([&] { return first.count() == 1; }, kWaitMs));
    EXPECT_EQ(first.values()[0], fiveHour(10));

    clock.advance(30);
    const QUuid b = service->subscribe(second.handler());
    ASSERT_TRUE(waitUntil([&] { return second.count() == 1; }, kWaitMs));
    EXPECT_EQ(second.values()[0], fiveHour(10));
    drain(*service);
    EXPECT_EQ(server.requestCount(), 1);
    EXPECT_FALSE(service->isFetching());
    EXPECT_EQ(first.count(), 1);

    // Once everyone has left, the next subscriber is a first one again.
    service->unsubscribe(a);
    service->unsubscribe(b);
    server.enqueue(200, used(11));
    service->subscribe(third.handler());
    ASSERT_TRUE(waitUntil([&] { return third.count() == 2; }, kWaitMs));
    EXPECT_EQ(third.values()[0], fiveHour(10));
    EXPECT_EQ(third.values()[1], fiveHour(11));
    EXPECT_EQ(first.count(), 1);
    EXPECT_EQ(second.count(), 1);
    EXPECT_TRUE(first.allOnMainThread() && second.allOnMainThread() && third.allOnMainThread());
}

TEST_F(LimitsServiceTest, UnsubscribedHandlerMissesTheOutstandingResult) {
    Received gone;
    server.enqueue({200, used(7), /*hold=*/true});
    const QUuid token = service->subscribe(gone.handler());
    ASSERT_TRUE(waitUntil([&] { return server.heldCount() == 1; }, kWaitMs));
    service->unsubscribe(token);
    service->subscribe(received.handler());  // first again, but the fetch is in flight
    server.release();
    ASSERT_TRUE(waitForValues(1));
    drain(*service);
    EXPECT_EQ(received.values()[0], fiveHour(7));
    EXPECT_EQ(gone.count(), 0);
    EXPECT_EQ(server.requestCount(), 1);
}

TEST_F(LimitsServiceTest, UnauthorizedWithTheSameTokenMarksStaleWithoutRetry) {
    // Without a cached value a 401 broadcasts nothing.
    server.enqueue(401, "{}");
    service->subscribe(received.handler());
    ASSERT_TRUE(waitForLine("usage fetch HTTP 401; marking cached limits stale"));
    drain(*service);
    EXPECT_EQ(received.count(), 0);
    EXPECT_EQ(server.requestCount(), 1);
    EXPECT_EQ(service->builds(), 2);  // the credentials were re-read
    EXPECT_FALSE(service->isFetching());

    clock.advance(11);
    server.enqueue(200, used(10));
    service->refreshNow();
    ASSERT_TRUE(waitForValues(1));

    clock.advance(11);
    server.enqueue(401, "{}");
    service->refreshNow();
    ASSERT_TRUE(waitForLine("usage fetch HTTP 401; marking cached limits stale", 2));
    ASSERT_TRUE(waitForValues(2));
    EXPECT_EQ(received.values()[1], fiveHour(10, true));
    EXPECT_EQ(server.requestCount(), 3);

    // Already stale: logged again, broadcast no more.
    clock.advance(11);
    server.enqueue(401, "{}");
    service->refreshNow();
    ASSERT_TRUE(waitForLine("usage fetch HTTP 401; marking cached limits stale", 3));
    drain(*service);
    EXPECT_EQ(received.count(), 2);

    // The same numbers after a stale marking are news: stale is cleared.
    clock.advance(11);
    server.enqueue(200, used(10));
    service->refreshNow();
    ASSERT_TRUE(waitForValues(3));
    EXPECT_EQ(received.values()[2], fiveHour(10));
    EXPECT_EQ(countLines(log, kTag + "usage fetch HTTP 401; retrying with re-read credentials"), 0);
}

TEST_F(LimitsServiceTest, UnauthorizedWithRenewedTokenRetriesExactlyOnce) {
    auto renewTo = [this](const char* token) { return [this, token] { service->setToken(token); }; };
    server.enqueue({401, "{}", false, renewTo("t2")});
    server.enqueue({401, "{}", false, renewTo("t3")});
    service->subscribe(received.handler());
    ASSERT_TRUE(waitForLine("usage fetch HTTP 401; marking cached limits stale"));
    drain(*service);
    ASSERT_EQ(server.requestCount(), 2);  // never a third
    EXPECT_EQ(server.requests()[0].header("Authorization"), "Bearer t1");
    EXPECT_EQ(server.requests()[1].header("Authorization"), "Bearer t2");
    EXPECT_EQ(countLines(log, kTag + "usage fetch HTTP 401; retrying with re-read credentials"), 1);
    EXPECT_FALSE(service->isFetching());

    // A retry that succeeds delivers its limits.
    clock.advance(11);
    server.enqueue({401, "{}", false, renewTo("t4")});
    server.enqueue(200, used(30));
    service->refreshNow();
    ASSERT_TRUE(waitForValues(1));
    EXPECT_EQ(received.values()[0], fiveHour(30));
    ASSERT_EQ(server.requestCount(), 4);
    EXPECT_EQ(server.requests()[2].header("Authorization"), "Bearer t3");
    EXPECT_EQ(server.requests()[3].header("Authorization"), "Bearer t4");
    EXPECT_EQ(countLines(log, kTag + "usage fetch HTTP 401; retrying with re-read credentials"), 2);
}

TEST_F(LimitsServiceTest, FailuresKeepTheCacheFreshAndIdenticalSuccessBroadcastsNothing) {
    server.enqueue(200, used(10));
    service->subscribe(received.handler());
    ASSERT_TRUE(waitForValues(1));
    const QDateTime firstSuccess = clock.now();

    clock.advance(11);
    server.enqueue(500, "oops");
    service->refreshNow();
    ASSERT_TRUE(waitForLine("usage fetch HTTP 500; skipping"));

    clock.advance(11);
    server.enqueue(200, "not json");
    service->refreshNow();
    ASSERT_TRUE(waitForLine("failed to decode usage response"));

    clock.advance(11);
    {
        QTcpServer closed;
        ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
        service->setBase(QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort()));
    }  // nobody listens there any more
    service->refreshNow();
    ASSERT_TRUE(waitUntil([&] {
        for (const QString& line : log.lines())
            if (line.startsWith(kTag + "usage fetch failed: ") && line.size() > (kTag + "usage fetch failed: ").size())
                return true;
        return false;
    }, kWaitMs)) << log.lines().join('\n').toStdString();
    drain(*service);
    EXPECT_FALSE(service->isFetching());
    EXPECT_EQ(service->lastSuccessfulFetch(), firstSuccess);
    EXPECT_EQ(received.count(), 1);

    // Nothing above marked the cache stale: the same numbers again are no news, yet the
    // success time moves.
    service->setBase(server.baseURL());
    clock.advance(11);
    server.enqueue(200, used(10));
    service->refreshNow();
    ASSERT_TRUE(waitForSuccessNow());
    drain(*service);
    EXPECT_EQ(received.count(), 1);

    // A body with no windows at all is a value like any other.
    clock.advance(11);
    server.enqueue(200, "{}");
    service->refreshNow();
    ASSERT_TRUE(waitForValues(2));
    EXPECT_TRUE(received.values()[1].isEmpty());
    EXPECT_FALSE(received.values()[1].stale);
}

TEST_F(LimitsServiceTest, CredentialPlansThatNeverTouchTheNetwork) {
    const QString expired = QStringLiteral("access token expired; marking cached limits stale");
    const QString none = QStringLiteral("no credentials; skipping usage fetch");

    // Expired with nothing cached: logged, nothing broadcast.
    service->setPlan(LimitsFetchPlan::Kind::StaleCredentials);
    service->subscribe(received.handler());
    ASSERT_TRUE(waitForLine(expired));
    EXPECT_EQ(server.requestCount(), 0);

    // The expired answer started no throttle window: renewed credentials fetch at once.
    service->setPlan(LimitsFetchPlan::Kind::Request);
    server.enqueue(200, used(40));
    service->refreshNow();
    ASSERT_TRUE(waitForValues(1));

    // Missing credentials log and leave the cache as it is.
    clock.advance(11);
    service->setPlan(LimitsFetchPlan::Kind::Unavailable);
    service->refreshNow();
    ASSERT_TRUE(waitForLine(none));
    drain(*service);
    EXPECT_EQ(received.count(), 1);

    // Expired with a cached value: rebroadcast once as stale.
    service->setPlan(LimitsFetchPlan::Kind::StaleCredentials);
    service->refreshNow();
    service->refreshNow();
    ASSERT_TRUE(waitForLine(expired, 3));
    ASSERT_TRUE(waitForValues(2));
    drain(*service);
    EXPECT_EQ(received.count(), 2);
    EXPECT_EQ(received.values()[1], fiveHour(40, true));
    EXPECT_EQ(server.requestCount(), 1);
    EXPECT_FALSE(service->isFetching());
}

TEST(LimitRecords, EqualityAndEmptiness) {
    const QDateTime t = utc(2025, 1, 1, 12);
    EXPECT_EQ(window(10, t), window(10, t.toOffsetFromUtc(3600)));  // same instant, other zone
    EXPECT_NE(window(10, t), window(10));
    EXPECT_NE(window(10, t), window(10.5, t));
    EXPECT_NE(window(10, t), window(10, t.addMSecs(1)));

    AgentLimits a;
    EXPECT_TRUE(a.isEmpty());
    a.stale = true;
    EXPECT_TRUE(a.isEmpty());
    AgentLimits b = a;
    b.stale = false;
    EXPECT_NE(a, b);
    b.weeklySonnet = window(1);
    EXPECT_FALSE(b.isEmpty());
}

}  // namespace
