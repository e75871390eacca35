#include "orchestration/OrchestrationServer.h"

#include "orchestration/SocketLines.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <thread>

using testsock::LineReader;
using testsock::line;
using testsock::sendAll;

namespace {

const QString kToken = QStringLiteral("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");

// Answers with what reached it, so every test can see session, tool and args.
QJsonObject echo(const QString& session, const QString& tool, const QJsonObject& args) {
    return {{"ok", true}, {"result", QJsonObject{{"session", session}, {"tool", tool}, {"args", args}}}};
}

QJsonObject request(const QJsonValue& id, const QString& tool, const QJsonValue& token = kToken) {
    QJsonObject r{{"tool", tool}};
    if (!id.isUndefined()) r.insert("id", id);
    if (!token.isUndefined()) r.insert("token", token);
    return r;
}

// A one-shot latch with a generous timeout, so a broken test fails instead of hanging.
class Gate {
public:
    void open() {
        std::lock_guard l(m_);
        open_ = true;
        cv_.notify_all();
    }
    bool wait(int ms = 30000) {
        std::unique_lock l(m_);
        return cv_.wait_for(l, std::chrono::milliseconds(ms), [this] { return open_; });
    }
    bool isOpen() {
        std::lock_guard l(m_);
        return open_;
    }
private:
    std::mutex m_;
    std::condition_variable cv_;
    bool open_ = false;
};

// A connected pair whose far end is served by `server` on a thread of its own.
struct ServedPair {
    explicit ServedPair(OrchestrationServer& server) {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        client = fds[0];
        thread = std::thread([&server, fd = fds[1]] { server.serve(fd); });
    }
    ~ServedPair() {
        if (client >= 0) ::close(client);
        thread.join();
    }
    int client = -1;
    std::thread thread;
};

int modeOf(const QString& path, bool* isSocket = nullptr) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return -1;
    if (isSocket) *isSocket = S_ISSOCK(st.st_mode);
    return int(st.st_mode & 07777);
}

// Points $HOME elsewhere for one scope.
class ScopedHome {
public:
    explicit ScopedHome(const QString& path) : previous_(qgetenv("HOME")) { qputenv("HOME", QFile::encodeName(path)); }
    ~ScopedHome() { qputenv("HOME", previous_); }
private:
    QByteArray previous_;
};

}  // namespace

TEST(OrchestrationServer, ResponseForLine) {
    OrchestrationServer server(kToken, echo);
    const QJsonObject unauthorized{{"ok", false}, {"error", "unauthorized"}};
    const QJsonObject malformed{{"ok", false}, {"error", "malformed JSON request"}};
    const QString oneOff = QString(kToken).replace(40, 1, QLatin1Char('0') == kToken[40] ? "1" : "0");
    struct Case {
        const char* name;
        QByteArray line;
        QJsonObject expected;
    } cases[] = {
        {"not JSON", "hello", malformed},
        {"array", "[1,2]", malformed},
        {"cut short", R"({"id":3,"token":")", malformed},
        {"string id echoed", line(request("abc", "list")).trimmed(),
         {{"ok", true}, {"id", "abc"}, {"result", QJsonObject{{"session", "current"}, {"tool", "list"}, {"args", QJsonObject()}}}}},
        {"no id, none back", line(request(QJsonValue::Undefined, "list")).trimmed(),
         {{"ok", true}, {"result", QJsonObject{{"session", "current"}, {"tool", "list"}, {"args", QJsonObject()}}}}},
        {"missing token", line(request(7, "list", QJsonValue::Undefined)).trimmed(),
         {{"ok", false}, {"error", "unauthorized"}, {"id", 7}}},
        {"one wrong character", line(request(QJsonValue::Undefined, "list", oneOff)).trimmed(), unauthorized},
        {"trailing white space", line(request(QJsonValue::Undefined, "list", kToken + " ")).trimmed(), unauthorized},
        {"number for token", line(request(QJsonValue::Undefined, "list", 12345)).trimmed(), unauthorized},
        {"empty token", line(request(QJsonValue::Undefined, "list", "")).trimmed(), unauthorized},
        {"defaults for session, tool and args", line(QJsonObject{{"token", kToken}}).trimmed(),
         {{"ok", true}, {"result", QJsonObject{{"session", "current"}, {"tool", ""}, {"args", QJsonObject()}}}}},
        {"non-object args become empty", line(QJsonObject{{"token", kToken}, {"session", "S-1"}, {"tool", "say"}, {"args", QJsonArray{1}}}).trimmed(),
         {{"ok", true}, {"result", QJsonObject{{"session", "S-1"}, {"tool", "say"}, {"args", QJsonObject()}}}}},
        {"args passed through", line(QJsonObject{{"token", kToken}, {"tool", "spawn"}, {"args", QJsonObject{{"task", "t"}}}}).trimmed(),
         {{"ok", true}, {"result", QJsonObject{{"session", "current"}, {"tool", "spawn"}, {"args", QJsonObject{{"task", "t"}}}}}}},
    };
    for (const Case& c : cases) {
        LogCapture log;
        EXPECT_EQ(server.response(c.line), c.expected) << c.name;
        const bool rejected = c.expected == unauthorized || c.expected.value("error") == "unauthorized";
        EXPECT_EQ(log.contains("[Orchestration] rejected request with missing/invalid token"), rejected) << c.name;
    }
}

TEST(OrchestrationServer, TokenComparison) {
    OrchestrationServer server(kToken);
    EXPECT_TRUE(server.tokenMatches(kToken));
    EXPECT_FALSE(server.tokenMatches(std::nullopt));
    EXPECT_FALSE(server.tokenMatches(kToken.left(63)));
    EXPECT_FALSE(server.tokenMatches(kToken + "0"));
    EXPECT_FALSE(server.tokenMatches(QString(kToken).replace(0, 1, "1")));
    EXPECT_FALSE(server.tokenMatches(kToken.toUpper()));

    OrchestrationServer noSecret(QString{});
    EXPECT_FALSE(noSecret.tokenMatches(QString{})) << "an empty secret admits nobody";
}

TEST(OrchestrationServer, UntilTheServiceIsInstalledEveryToolAnswersAnHonestError) {
    OrchestrationServer server(kToken);
    const QJsonObject reply = server.response(line(request(1, "spawn")).trimmed());
    EXPECT_EQ(reply.value("ok"), false);
    EXPECT_EQ(reply.value("id"), 1);
    EXPECT_TRUE(reply.value("error").toString().contains("not available")) << reply.value("error").toString().toStdString();
    EXPECT_TRUE(reply.value("error").toString().contains("'spawn'"));

    server.setHandler(echo);
    EXPECT_EQ(server.response(line(request(2, "spawn")).trimmed()).value("ok"), true);
}

TEST(OrchestrationServer, FramingTwoInOneWriteSplitRequestsAndEmptyLines) {
    OrchestrationServer server(kToken, echo);
    ServedPair pair(server);
    LineReader reader(pair.client);

    // Two requests in one write: two answers, in order.
    ASSERT_TRUE(sendAll(pair.client, line(request(1, "status")) + line(request(2, "list"))));
    QList<QByteArray> got = reader.read(2);
    ASSERT_EQ(got.size(), 2);
    EXPECT_EQ(QJsonDocument::fromJson(got[0]).object().value("id"), 1);
    EXPECT_EQ(QJsonDocument::fromJson(got[1]).object().value("id"), 2);
    EXPECT_EQ(QJsonDocument::fromJson(got[1]).object().value("result").toObject().value("tool"), "list");

    // A request split across writes is answered once its line feed arrives.
    const QByteArray split = line(request(3, "result"));
    ASSERT_TRUE(sendAll(pair.client, split.left(10)));
    EXPECT_TRUE(reader.quietFor(200));
    ASSERT_TRUE(sendAll(pair.client, split.mid(10, 15)));
    ASSERT_TRUE(sendAll(pair.client, split.mid(25)));
    EXPECT_EQ(reader.readObject().value("id"), 3);

    // Empty lines get nothing; the requests around them get one answer each.
    ASSERT_TRUE(sendAll(pair.client, "\n\n" + line(request(4, "say")) + "\n\n\n" + line(request(5, "close")) + "\n"));
    got = reader.read(2);
    ASSERT_EQ(got.size(), 2);
    EXPECT_EQ(QJsonDocument::fromJson(got[0]).object().value("id"), 4);
    EXPECT_EQ(QJsonDocument::fromJson(got[1]).object().value("id"), 5);

    // A partial line at hang-up is dropped; nothing more is written and the server closes.
    ASSERT_TRUE(sendAll(pair.client, R"({"id":6,"token":")"));
    ::shutdown(pair.client, SHUT_WR);
    ASSERT_TRUE(reader.waitForEof());
    EXPECT_TRUE(reader.rest().isEmpty()) << reader.rest().constData();
}

TEST(OrchestrationServer, EndlessLineClosesItsConnection) {
    LogCapture log;
    OrchestrationServer server(kToken, echo);
    ServedPair pair(server);
    std::thread writer([fd = pair.client] {
        const QByteArray block(1 << 20, 'x');
        // Stops with EPIPE/ECONNRESET once the server gives up on the line.
        for (int i = 0; i < 64 && sendAll(fd, block); ++i) {
        }
    });
    LineReader reader(pair.client);
    EXPECT_TRUE(reader.waitForEof(60000));
    EXPECT_TRUE(reader.rest().isEmpty());
    writer.join();
    EXPECT_TRUE(log.contains("request line longer than"));
}

TEST(OrchestrationServer, ClientThatHangsUpBeforeTheReplyIsLogged) {
    LogCapture log;
    Gate entered, release;
    OrchestrationServer server(kToken, [&](const QString& s, const QString& t, const QJsonObject& a) {
        entered.open();
        release.wait();
        return echo(s, t, a);
    });
    ServedPair pair(server);
    ASSERT_TRUE(sendAll(pair.client, line(request(1, "merge"))));
    ASSERT_TRUE(entered.wait());
    ::close(pair.client);
    pair.client = -1;
    release.open();
    EXPECT_TRUE(waitUntil([&] { return log.contains("[Orchestration] client went away mid-response (EPIPE)"); }, 30000));
}

TEST(OrchestrationServer, ListensPrivatelyStartsOnceAndStopRemovesTheSocket) {
    TempHome home;
    LogCapture log;
    OrchestrationServer server(kToken, echo);
    EXPECT_TRUE(server.socketPath().isEmpty());

    server.start();
    const QString expected = home.path() + "/.config/varnix/orchestrator-" + QString::number(::getpid()) + ".sock";
    ASSERT_EQ(server.socketPath(), expected);
    bool isSocket = false;
    EXPECT_EQ(modeOf(expected, &isSocket), 0600);
    EXPECT_TRUE(isSocket);
    EXPECT_TRUE(log.contains("[Orchestration] listening at " + expected));

    server.start();  // a second start does nothing
    EXPECT_EQ(server.socketPath(), expected);
    EXPECT_EQ(log.lines().filter("listening at").size(), 1);

    const int early = testsock::connectTo(expected);
    ASSERT_GE(early, 0);
    LineReader earlyReader(early);
    ASSERT_TRUE(sendAll(early, line(request("a", "list"))));
    EXPECT_EQ(earlyReader.readObject().value("id"), "a");

    server.stop();  // returning at all shows the blocked accept() woke up
    EXPECT_TRUE(server.socketPath().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(expected));
    EXPECT_EQ(testsock::connectTo(expected), -1);

    // A connection opened before stop() is served on until its client hangs up.
    ASSERT_TRUE(sendAll(early, line(request("b", "list"))));
    EXPECT_EQ(earlyReader.readObject().value("id"), "b");
    ::close(early);

    server.start();
    EXPECT_EQ(server.socketPath(), expected);
    const int again = testsock::connectTo(expected);
    EXPECT_GE(again, 0);
    if (again >= 0) ::close(again);
    server.stop();
    server.stop();  // stopping twice is harmless
    EXPECT_FALSE(QFileInfo::exists(expected));
}

TEST(OrchestrationServer, SocketPathOfOneHundredAndFourBytesIsRefused) {
    // A short base, so the home directory can be padded to an exact length.
    QTemporaryDir base(QStringLiteral("/tmp/vx-XXXXXX"));
    ASSERT_TRUE(base.isValid());
    const QString suffix = "/.config/varnix/orchestrator-" + QString::number(::getpid()) + ".sock";
    auto homeFor = [&](int pathBytes) {
        const int pad = pathBytes - int(suffix.size()) - int(base.path().size()) - 1;
        return base.path() + "/" + QString(pad, QLatin1Char('h'));
    };

    {
        const QString home = homeFor(104);
        ASSERT_TRUE(QDir().mkpath(home));
        ScopedHome scoped(home);
        LogCapture log;
        OrchestrationServer server(kToken, echo);
        server.start();
        const QString path = home + suffix;
        ASSERT_EQ(path.toUtf8().size(), 104);
        EXPECT_TRUE(server.socketPath().isEmpty());
        EXPECT_TRUE(log.contains("[Orchestration] socket path too long: " + path));
        EXPECT_FALSE(QFileInfo::exists(path));
    }
    {
        const QString home = homeFor(103);
        ASSERT_TRUE(QDir().mkpath(home));
        ScopedHome scoped(home);
        OrchestrationServer server(kToken, echo);
        server.start();
        ASSERT_EQ((home + suffix).toUtf8().size(), 103);
        EXPECT_EQ(server.socketPath(), home + suffix);
        const int fd = testsock::connectTo(server.socketPath());
        EXPECT_GE(fd, 0);
        if (fd >= 0) ::close(fd);
    }
}

TEST(OrchestrationServer, StuckClientsDoNotHoldUpOthers) {
    TempHome home;
    Gate mergeEntered, releaseMerge;
    OrchestrationServer server(kToken, [&](const QString& s, const QString& t, const QJsonObject& a) {
        if (t == "merge") {
            mergeEntered.open();
            releaseMerge.wait();
        }
        return echo(s, t, a);
    });
    server.start();
    const QString path = server.socketPath();
    ASSERT_FALSE(path.isEmpty());

    const int silent = testsock::connectTo(path);  // half a line, then nothing
    const int waiting = testsock::connectTo(path);  // a merge waiting for the user
    const int other = testsock::connectTo(path);
    ASSERT_GE(silent, 0);
    ASSERT_GE(waiting, 0);
    ASSERT_GE(other, 0);
    ASSERT_TRUE(sendAll(silent, R"({"id":1,"tool")"));
    ASSERT_TRUE(sendAll(waiting, line(request(2, "merge"))));
    ASSERT_TRUE(mergeEntered.wait());

    LineReader otherReader(other);
    ASSERT_TRUE(sendAll(other, line(request(3, "status"))));
    EXPECT_EQ(otherReader.readObject().value("id"), 3);
    EXPECT_FALSE(releaseMerge.isOpen());

    releaseMerge.open();
    LineReader waitingReader(waiting);
    EXPECT_EQ(waitingReader.readObject().value("id"), 2);
    for (int fd : {silent, waiting, other}) ::close(fd);
    server.stop();
}

TEST(OrchestrationServer, DestroyingTheServerHangsUpOnOpenConnections) {
    TempHome home;
    int client = -1;
    {
        OrchestrationServer server(kToken, echo);
        server.start();
        client = testsock::connectTo(server.socketPath());
        ASSERT_GE(client, 0);
        LineReader reader(client);
        ASSERT_TRUE(sendAll(client, line(request(1, "list"))));
        ASSERT_EQ(reader.readObject().value("id"), 1);  // the connection is being served
    }
    LineReader reader(client);
    EXPECT_TRUE(reader.waitForEof(5000));
    ::close(client);
}
