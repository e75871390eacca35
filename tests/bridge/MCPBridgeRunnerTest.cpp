#include "bridge/MCPBridge.h"
#include "bridge/MCPBridgeRunner.h"

#include "bridge/BridgeTestSupport.h"
#include "orchestration/SocketLines.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <gtest/gtest.h>

#include <fcntl.h>

#include <QSet>

#include <atomic>
#include <thread>

using namespace bridgetest;

namespace {

QByteArray json(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }

QJsonObject rpc(const QJsonValue& id, const QString& method, const QJsonValue& params = QJsonValue::Undefined) {
    QJsonObject m{{"jsonrpc", "2.0"}, {"method", method}};
    if (!id.isUndefined()) m.insert("id", id);
    if (!params.isUndefined()) m.insert("params", params);
    return m;
}

QJsonObject call(const QJsonValue& id, const QString& tool, const QJsonObject& args = {}) {
    return rpc(id, "tools/call", QJsonObject{{"name", tool}, {"arguments", args}});
}

QJsonObject result(const QJsonValue& id, const QJsonObject& r) { return {{"jsonrpc", "2.0"}, {"id", id}, {"result", r}}; }

QJsonObject error(const QJsonValue& id, int code, const QString& message) {
    return {{"jsonrpc", "2.0"}, {"id", id}, {"error", QJsonObject{{"code", code}, {"message", message}}}};
}

}  // namespace

TEST(MCPBridge, SessionIsTheValueAfterTheLastSessionArgument) {
    EXPECT_EQ(MCPBridge::sessionFromArguments({}), "current");
    EXPECT_EQ(MCPBridge::sessionFromArguments({"--session", "A"}), "A");
    EXPECT_EQ(MCPBridge::sessionFromArguments({"--session", "A", "--x", "--session", "B"}), "B");
    EXPECT_EQ(MCPBridge::sessionFromArguments({"--session"}), "current");
}

TEST(MCPBridgeRunner, HandshakePingAndErrors) {
    MCPBridgeRunner runner("S", std::nullopt, std::nullopt);
    Frames out;
    runner.output = out.sink();
    const QJsonObject caps{{"tools", QJsonObject()}};
    const QJsonObject server{{"name", "varnix-orchestrator"}, {"version", "0.1.0"}};
    struct Case {
        const char* name;
        QByteArray line;
        std::optional<QJsonObject> expected;  // nothing: no output at all
    } cases[] = {
        {"initialize echoes the client's version",
         json(rpc(1, "initialize", QJsonObject{{"protocolVersion", "2025-06-18"}, {"capabilities", QJsonObject()}})),
         result(1, {{"protocolVersion", "2025-06-18"}, {"capabilities", caps}, {"serverInfo", server}})},
        {"initialize without params", json(rpc("one", "initialize")),
         result("one", {{"protocolVersion", "2024-11-05"}, {"capabilities", caps}, {"serverInfo", server}})},
        {"initialize with a non-text version", json(rpc(2, "initialize", QJsonObject{{"protocolVersion", 5}})),
         result(2, {{"protocolVersion", "2024-11-05"}, {"capabilities", caps}, {"serverInfo", server}})},
        {"initialize without id still answered", json(rpc(QJsonValue::Undefined, "initialize")),
         result(QJsonValue::Null, {{"protocolVersion", "2024-11-05"}, {"capabilities", caps}, {"serverInfo", server}})},
        {"initialized notification", json(rpc(QJsonValue::Undefined, "notifications/initialized")), std::nullopt},
        {"other notification", json(rpc(QJsonValue::Undefined, "notifications/cancelled")), std::nullopt},
        {"ping", json(rpc(3, "ping")), result(3, {})},
        {"unknown method", json(rpc(4, "resources/list")), error(4, -32601, "Method not found: resources/list")},
        {"method that is not text", R"({"jsonrpc":"2.0","id":5,"method":7})", error(5, -32601, "Method not found: ")},
        {"garbage", "{not json", error(QJsonValue::Null, -32700, "Parse error")},
        {"JSON that is not an object", "[1,2,3]", error(QJsonValue::Null, -32700, "Parse error")},
    };
    for (const Case& c : cases) {
        const qsizetype before = out.raw().size();
        runner.handle(c.line);
        const QList<QByteArray> raw = out.raw();
        if (!c.expected) {
            EXPECT_EQ(raw.size(), before) << c.name;
            continue;
        }
        ASSERT_EQ(raw.size(), before + 1) << c.name;
        EXPECT_FALSE(raw.last().contains('\n')) << c.name;
        EXPECT_EQ(QJsonDocument::fromJson(raw.last()).object(), *c.expected) << c.name << ": " << raw.last().constData();
    }
}

TEST(MCPBridgeRunner, ToolListMatchesThePublishedSchemasWordForWord) {
    QFile fixture(QStringLiteral(VARNIX_FIXTURES "/bridge/tools.json"));
    ASSERT_TRUE(fixture.open(QIODevice::ReadOnly));
    const QJsonArray expected = QJsonDocument::fromJson(fixture.readAll()).object().value("tools").toArray();
    ASSERT_EQ(expected.size(), 7);

    MCPBridgeRunner runner("S", std::nullopt, std::nullopt);
    Frames out;
    runner.output = out.sink();
    runner.handle(json(rpc(1, "tools/list")));
    ASSERT_EQ(out.raw().size(), 1);
    const QJsonArray tools = out.objects().first().value("result").toObject().value("tools").toArray();
    ASSERT_EQ(tools.size(), expected.size());
    for (int i = 0; i < tools.size(); ++i)
        EXPECT_EQ(tools[i], expected[i]) << "tool " << i << ":\n"
                                         << QJsonDocument(tools[i].toObject()).toJson().constData();
}

TEST(MCPBridgeRunner, ToolCallWithoutSocketAnswersAnErrorResult) {
    MCPBridgeRunner runner("S", std::nullopt, std::nullopt);
    Frames out;
    runner.output = out.sink();
    runner.handle(json(call(9, "list")));
    runner.waitForToolCalls();
    ASSERT_EQ(out.raw().size(), 1);
    EXPECT_EQ(out.objects().first(),
              result(9, {{"content", QJsonArray{QJsonObject{{"type", "text"}, {"text", "bridge launched without VRNX_ORCH_SOCK"}}}},
                         {"isError", true}}));
}

TEST(MCPBridgeRunner, ToolResultsAndErrorsBecomeTextContent) {
    TempHome home;
    OrchestrationServer server("tok", [](const QString&, const QString& tool, const QJsonObject&) -> QJsonObject {
        if (tool == "object") return {{"ok", true}, {"result", QJsonObject{{"zeta", 1}, {"alpha", QJsonArray{"x"}}}}};
        if (tool == "nothing") return {{"ok", true}};
        if (tool == "failed") return {{"ok", false}, {"error", "Bad arguments: 'task' is required"}};
        if (tool == "numeric error") return {{"ok", false}, {"error", 5}};
        return {{"ok", "yes"}};
    });
    server.start(home.file("app.sock"));
    MCPBridgeRunner runner("S", server.socketPath(), QStringLiteral("tok"));
    struct Case {
        const char* tool;
        QString text;
        bool isError;
    } cases[] = {
        {"object", R"({"alpha":["x"],"zeta":1})", false},
        {"nothing", "{}", false},
        {"failed", "Bad arguments: 'task' is required", true},
        {"numeric error", "unknown orchestration error", true},
        {"ok that is not a boolean", "unknown orchestration error", true},
    };
    for (const Case& c : cases) {
        Frames out;
        runner.output = out.sink();
        runner.handleToolCall(1, QJsonObject{{"name", c.tool}});
        ASSERT_EQ(out.raw().size(), 1) << c.tool;
        const ToolText t = toolText(out.objects().first());
        EXPECT_EQ(t.text, c.text) << c.tool;
        EXPECT_EQ(t.isError, c.isError) << c.tool;
    }

    // Wrong token: the application's own error text reaches the agent.
    MCPBridgeRunner wrong("S", server.socketPath(), QStringLiteral("nope"));
    Frames out;
    wrong.output = out.sink();
    wrong.handleToolCall(1, QJsonObject{{"name", "object"}});
    EXPECT_EQ(toolText(out.objects().value(0)).text, "unauthorized");
    server.stop();
}

TEST(MCPBridgeRunner, SocketOrderEnvironmentThenDiscoveryWithRememberedFallback) {
    TempHome home;
    const QString dir = home.path() + "/.config/varnix";
    ASSERT_TRUE(QDir().mkpath(dir));
    const QString envPath = dir + "/orchestrator-100.sock";
    MCPBridgeRunner runner("ORCH", envPath, QStringLiteral("envtok"));
    ASSERT_EQ(runner.configDirectory, dir);
    auto ask = [&runner] { return runner.sendToApp("list", {{"k", "v"}}); };
    auto from = [](const QJsonObject& reply) { return reply.value("result").toObject().value("server").toString(); };

    // Nothing is running.
    EXPECT_EQ(ask(), (QJsonObject{{"ok", false}, {"error", "Varnix app is not reachable (is it running?)"}}));

    // The socket named in the environment, with the environment's token.
    NamedServer first("first", "envtok");
    first.start(envPath);
    EXPECT_EQ(from(ask()), "first");
    EXPECT_EQ(first.lastSession(), "ORCH");
    EXPECT_EQ(first.lastTool(), "list");
    EXPECT_EQ(first.lastArgs(), (QJsonObject{{"k", "v"}}));
    EXPECT_FALSE(runner.fallback());

    // The application restarted: the newest live socket is found and the token file's token used.
    first.stop();
    writeTextFile(dir + "/orch-token", "filetok\n");
    NamedServer older("older", "filetok"), newer("newer", "filetok");
    older.start(dir + "/orchestrator-150.sock");
    newer.start(dir + "/orchestrator-200.sock");
    writeTextFile(dir + "/orchestrator-300.sock", "a stale plain file, newest of all");
    ASSERT_TRUE(age(older.path(), 120));
    ASSERT_TRUE(age(newer.path(), 60));
    EXPECT_EQ(from(ask()), "newer");
    ASSERT_TRUE(runner.fallback());
    EXPECT_EQ(runner.fallback()->path, newer.path());
    EXPECT_EQ(runner.fallback()->token, QStringLiteral("filetok"));

    // The remembered socket comes first, even once the environment's socket is back.
    first.start(envPath);
    EXPECT_EQ(from(ask()), "newer");

    // It is forgotten when it stops answering.
    newer.stop();
    EXPECT_EQ(from(ask()), "first");
    EXPECT_FALSE(runner.fallback());
    older.stop();
    first.stop();
}

TEST(MCPBridgeRunner, DiscoveryWithoutATokenFileUsesTheEnvironmentToken) {
    TempHome home;
    const QString dir = home.path() + "/.config/varnix";
    ASSERT_TRUE(QDir().mkpath(dir));
    NamedServer app("app", "envtok");
    app.start(dir + "/orchestrator-7.sock");
    MCPBridgeRunner runner("ORCH", dir + "/orchestrator-6.sock", QStringLiteral("envtok"));
    EXPECT_EQ(runner.sendToApp("status", {}).value("ok"), true);
    EXPECT_EQ(app.calls(), 1);
    app.stop();
}

TEST(MCPBridgeRunner, PickMostRecentLiveSocket) {
    const QDateTime t0 = QDateTime::fromSecsSinceEpoch(1'700'000'000);
    const std::vector<MCPBridgeRunner::Candidate> candidates = {
        {"a", t0}, {"b", t0.addSecs(30)}, {"c", t0.addSecs(30)}, {"unknown", QDateTime()}, {"e", t0.addSecs(10)}};
    struct Case {
        QStringList alive;
        std::optional<QString> picked;
        QStringList probed;
    } cases[] = {
        {{"a", "b", "c", "unknown", "e"}, "b", {"b"}},  // equal times keep the listing order
        {{"a", "c", "e"}, "c", {"b", "c"}},
        {{"a", "e"}, "e", {"b", "c", "e"}},
        {{"unknown"}, "unknown", {"b", "c", "e", "a", "unknown"}},  // unknown time: the distant past
        {{}, std::nullopt, {"b", "c", "e", "a", "unknown"}},
    };
    for (const Case& c : cases) {
        QStringList probed;
        const auto picked = MCPBridgeRunner::pickMostRecentLiveSocket(candidates, [&](const QString& p) {
            probed.append(p);
            return c.alive.contains(p);
        });
        EXPECT_EQ(picked, c.picked) << c.alive.join(',').toStdString();
        EXPECT_EQ(probed, c.probed) << c.alive.join(',').toStdString();
    }
    EXPECT_EQ(MCPBridgeRunner::pickMostRecentLiveSocket({}, [](const QString&) { return true; }), std::nullopt);
}

TEST(MCPBridgeRunner, ConnectSocketRefusesPathsOfOneHundredAndFourBytes) {
    TempHome home;
    QString longPath = home.path() + "/";
    longPath += QString(104 - longPath.size(), QLatin1Char('s'));
    ASSERT_EQ(longPath.toUtf8().size(), 104);
    EXPECT_EQ(MCPBridgeRunner::connectSocket(longPath), -1);
    EXPECT_EQ(MCPBridgeRunner::connectSocket(home.file("absent.sock")), -1);
}

TEST(MCPBridgeRunner, ExchangeOverASocketPair) {
    MCPBridgeRunner runner("ORCH", QStringLiteral("/unused"), std::nullopt);
    runner.receiveTimeoutSeconds = 1;
    struct Case {
        const char* name;
        std::optional<QString> token;
        QList<QByteArray> answer;  // written piece by piece; empty: no answer at all
        bool hangUp;               // close instead of staying silent
        QJsonObject expected;
    } cases[] = {
        {"answer", QStringLiteral("t1"), {"{\"ok\":true,\"result\":{\"n\":1}}\n"}, false,
         {{"ok", true}, {"result", QJsonObject{{"n", 1}}}}},
        {"answer in pieces, only the first line counts", std::nullopt,
         {"{\"ok\":tr", "ue}\n{\"ok\":false}\n"}, false, {{"ok", true}}},
        {"garbage line", std::nullopt, {"nonsense\n"}, false, {{"ok", false}, {"error", "no response from app"}}},
        {"silence until the time limit", std::nullopt, {}, false,
         {{"ok", false}, {"error", "Varnix app did not respond in time"}}},
        {"hang-up without a line", std::nullopt, {"{\"ok\":true}"}, true,
         {{"ok", false}, {"error", "Varnix app did not respond in time"}}},
    };
    qint64 expectedId = 0;
    for (const Case& c : cases) {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        QJsonObject seen;
        std::thread peer([&, fd = fds[1]] {
            testsock::LineReader reader(fd);
            seen = reader.readObject();
            for (const QByteArray& piece : c.answer) testsock::sendAll(fd, piece);
            if (c.hangUp) {
                ::close(fd);
                return;
            }
            reader.waitForEof();  // stays silent until the bridge gives up
            ::close(fd);
        });
        const QJsonObject reply = runner.exchange(fds[0], "say", {{"text", "hi"}}, c.token);
        ::close(fds[0]);
        peer.join();
        EXPECT_EQ(reply, c.expected) << c.name;
        QJsonObject request{{"id", ++expectedId}, {"session", "ORCH"}, {"tool", "say"}, {"args", QJsonObject{{"text", "hi"}}}};
        if (c.token) request.insert("token", *c.token);
        EXPECT_EQ(seen, request) << c.name;
    }
}

TEST(MCPBridgeRunner, ServeSplitsLinesAndWaitsForCallsInFlight) {
    TempHome home;
    Gate entered, release;
    OrchestrationServer server("tok", [&](const QString&, const QString& tool, const QJsonObject&) {
        if (tool == "merge") {
            entered.open();
            release.wait();
        }
        return QJsonObject{{"ok", true}, {"result", QJsonObject{{"tool", tool}}}};
    });
    server.start(home.file("app.sock"));
    MCPBridgeRunner runner("S", server.socketPath(), QStringLiteral("tok"));
    Frames out;
    runner.output = out.sink();
    runner.maxLine = 4096;

    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    std::thread reader([&] { runner.serve(fds[0]); });
    auto write = [&](const QByteArray& bytes) { ASSERT_EQ(::write(fds[1], bytes.constData(), size_t(bytes.size())), bytes.size()); };

    write(json(call(1, "merge")) + "\n\n" + json(rpc(2, "ping")).left(12));
    ASSERT_TRUE(entered.wait());
    write(json(rpc(2, "ping")).mid(12) + "\n");
    ASSERT_TRUE(out.waitForCount(1));
    EXPECT_EQ(out.objects().first(), result(2, {})) << "the reader is not held up by a call in flight";

    write(QByteArray(5000, 'x'));  // longer than the cap: one parse error, then skipped to its end
    write(QByteArray(5000, 'y') + "\n" + json(rpc(3, "ping")) + "\n");
    ASSERT_TRUE(out.waitForCount(3));
    EXPECT_EQ(out.objects()[1], error(QJsonValue::Null, -32700, "Parse error"));
    EXPECT_EQ(out.objects()[2], result(3, {}));

    ::close(fds[1]);  // end of input while the merge still waits
    release.open();
    reader.join();
    const QList<QJsonObject> frames = out.objects();
    ASSERT_EQ(frames.size(), 4);
    EXPECT_EQ(frames[3].value("id"), 1);
    EXPECT_EQ(toolText(frames[3]).text, R"({"tool":"merge"})");
    ::close(fds[0]);
    server.stop();
}

TEST(MCPBridgeRunner, ConcurrentCallsEachGetTheirOwnConnectionAndId) {
    TempHome home;
    std::atomic<int> inFlight{0}, maxInFlight{0};
    Gate allIn;
    constexpr int kCalls = 6;
    OrchestrationServer server("tok", [&](const QString&, const QString&, const QJsonObject& args) {
        const int now = ++inFlight;
        for (int seen = maxInFlight; now > seen && !maxInFlight.compare_exchange_weak(seen, now);) {
        }
        if (now == kCalls) allIn.open();
        allIn.wait();  // every call is held until all are in flight at once
        --inFlight;
        return QJsonObject{{"ok", true}, {"result", args}};
    });
    server.start(home.file("app.sock"));
    MCPBridgeRunner runner("S", server.socketPath(), QStringLiteral("tok"));
    Frames out;
    runner.output = out.sink();
    for (int i = 1; i <= kCalls; ++i) runner.handle(json(call(i, "status", {{"n", i}})));
    runner.waitForToolCalls();
    EXPECT_EQ(maxInFlight.load(), kCalls);
    const QList<QJsonObject> frames = out.objects();
    ASSERT_EQ(frames.size(), kCalls);
    QSet<int> answered;
    for (const QJsonObject& f : frames) {
        const int id = f.value("id").toInt();
        answered.insert(id);
        EXPECT_EQ(toolText(f).text, QString(R"({"n":%1})").arg(id));
    }
    EXPECT_EQ(answered.size(), kCalls);
    server.stop();
}
