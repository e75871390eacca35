// The real `varnix mcp-bridge` as a child process, against control servers in this process.

#include "bridge/BridgeTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QProcess>
#include <gtest/gtest.h>

using namespace bridgetest;

namespace {

QByteArray line(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n'; }

QJsonObject rpc(const QJsonValue& id, const QString& method, const QJsonValue& params = QJsonValue::Undefined) {
    QJsonObject m{{"jsonrpc", "2.0"}, {"method", method}};
    if (!id.isUndefined()) m.insert("id", id);
    if (!params.isUndefined()) m.insert("params", params);
    return m;
}

QJsonObject call(const QJsonValue& id, const QString& tool, const QJsonObject& args = {}) {
    return rpc(id, "tools/call", QJsonObject{{"name", tool}, {"arguments", args}});
}

// One bridge process with no display and nothing of the caller's orchestration environment.
class Bridge {
public:
    Bridge(const QString& home, const QMap<QString, QString>& env, const QStringList& args = {"--session", "ORCH"}) {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"VRNX_ORCH_SOCK", "VRNX_ORCH_TOKEN", "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            e.remove(QString::fromLatin1(name));
        e.insert("HOME", home);
        for (auto it = env.begin(); it != env.end(); ++it) e.insert(it.key(), it.value());
        process.setProcessEnvironment(e);
        process.start(QStringLiteral(VARNIX_EXE), QStringList{"mcp-bridge"} + args);
    }
    void send(const QByteArray& bytes) {
        process.write(bytes);
        process.waitForBytesWritten(30000);
    }
    // Closes standard input and collects every line the bridge wrote before it exited.
    QList<QJsonObject> finish() {
        process.closeWriteChannel();
        EXPECT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
        stderrText = process.readAllStandardError();
        QList<QJsonObject> out;
        for (const QByteArray& l : process.readAllStandardOutput().split('\n'))
            if (!l.isEmpty()) out.append(QJsonDocument::fromJson(l).object());
        return out;
    }
    QProcess process;
    QByteArray stderrText;
};

QString configDir(const TempHome& home) {
    const QString dir = home.path() + "/.config/varnix";
    QDir().mkpath(dir);
    return dir;
}

}  // namespace

TEST(MCPBridgeProcess, HandshakeListingAndErrorsWithoutAnyDisplay) {
    TempHome home;
    Bridge bridge(home.path(), {});
    ASSERT_TRUE(bridge.process.waitForStarted(30000));
    bridge.send(line(rpc(1, "initialize", QJsonObject{{"protocolVersion", "2025-03-26"}})) +
                line(rpc(2, "initialize")) + line(rpc(QJsonValue::Undefined, "notifications/initialized")) +
                line(rpc(3, "ping")) + line(rpc(4, "prompts/list")) + "garbage here\n" + "\n" +
                line(rpc(6, "tools/list")));
    const QList<QJsonObject> out = bridge.finish();
    ASSERT_EQ(out.size(), 6) << bridge.stderrText.constData();
    EXPECT_EQ(out[0].value("id"), 1);
    EXPECT_EQ(out[0].value("result").toObject().value("protocolVersion"), "2025-03-26");
    EXPECT_EQ(out[1].value("id"), 2);
    EXPECT_EQ(out[1].value("result").toObject().value("protocolVersion"), "2024-11-05");
    EXPECT_EQ(out[1].value("result").toObject().value("serverInfo").toObject().value("name"), "varnix-orchestrator");
    EXPECT_EQ(out[2], (QJsonObject{{"jsonrpc", "2.0"}, {"id", 3}, {"result", QJsonObject()}}));
    EXPECT_EQ(out[3].value("error").toObject(), (QJsonObject{{"code", -32601}, {"message", "Method not found: prompts/list"}}));
    EXPECT_EQ(out[4], (QJsonObject{{"jsonrpc", "2.0"}, {"id", QJsonValue::Null},
                                   {"error", QJsonObject{{"code", -32700}, {"message", "Parse error"}}}}));
    EXPECT_EQ(out[5].value("id"), 6);
    EXPECT_EQ(out[5].value("result").toObject().value("tools").toArray().size(), 7);
    EXPECT_TRUE(bridge.stderrText.isEmpty()) << bridge.stderrText.constData();
}

TEST(MCPBridgeProcess, ToolCallIsRelayedToTheApplication) {
    TempHome home;
    NamedServer app("app", "secret");
    app.start(configDir(home) + "/orchestrator-1.sock");
    Bridge bridge(home.path(), {{"VRNX_ORCH_SOCK", app.path()}, {"VRNX_ORCH_TOKEN", "secret"}},
                  {"--session", "FIRST", "--session", "5B1A3C2E-0000-4000-8000-000000000001"});
    bridge.send(line(call(1, "spawn", {{"task", "write tests"}, {"tier", "light"}})));
    const QList<QJsonObject> out = bridge.finish();
    ASSERT_EQ(out.size(), 1) << bridge.stderrText.constData();
    EXPECT_EQ(out[0].value("id"), 1);
    EXPECT_EQ(toolText(out[0]).text, R"({"server":"app"})");
    EXPECT_FALSE(toolText(out[0]).isError);
    EXPECT_EQ(app.lastSession(), "5B1A3C2E-0000-4000-8000-000000000001");
    EXPECT_EQ(app.lastTool(), "spawn");
    EXPECT_EQ(app.lastArgs(), (QJsonObject{{"task", "write tests"}, {"tier", "light"}}));
    app.stop();
}

TEST(MCPBridgeProcess, ApplicationNotRunningAndNoSocketGiven) {
    TempHome home;
    struct Case {
        const char* name;
        QMap<QString, QString> env;
        QString text;
    } cases[] = {
        {"not running", {{"VRNX_ORCH_SOCK", configDir(home) + "/orchestrator-1.sock"}},
         "Varnix app is not reachable (is it running?)"},
        {"no socket in the environment", {}, "bridge launched without VRNX_ORCH_SOCK"},
    };
    for (const Case& c : cases) {
        Bridge bridge(home.path(), c.env);
        bridge.send(line(call(1, "list")) + line(call(2, "status", {{"session_id", "x"}})));
        const QList<QJsonObject> out = bridge.finish();
        ASSERT_EQ(out.size(), 2) << c.name;
        for (const QJsonObject& frame : out) {
            EXPECT_EQ(toolText(frame).text, c.text) << c.name;
            EXPECT_TRUE(toolText(frame).isError) << c.name;
        }
    }
}

TEST(MCPBridgeProcess, AfterARestartTheNewestSocketAndTheTokenFileAreUsed) {
    TempHome home;
    const QString dir = configDir(home);
    writeTextFile(dir + "/orch-token", "restarted-token");
    NamedServer older("older", "restarted-token"), newer("newer", "restarted-token");
    older.start(dir + "/orchestrator-20.sock");
    newer.start(dir + "/orchestrator-30.sock");
    ASSERT_TRUE(age(older.path(), 100));
    ASSERT_TRUE(age(newer.path(), 10));
    Bridge bridge(home.path(), {{"VRNX_ORCH_SOCK", dir + "/orchestrator-10.sock"}, {"VRNX_ORCH_TOKEN", "old-token"}});
    bridge.send(line(call(1, "list")));
    const QList<QJsonObject> out = bridge.finish();
    ASSERT_EQ(out.size(), 1);
    EXPECT_EQ(toolText(out[0]).text, R"({"server":"newer"})");
    EXPECT_EQ(older.calls(), 0);
    older.stop();
    newer.stop();
}

TEST(MCPBridgeProcess, ClosingStandardInputMidCallStillDeliversTheAnswer) {
    TempHome home;
    Gate entered, release;
    OrchestrationServer app("tok", [&](const QString&, const QString& tool, const QJsonObject&) {
        entered.open();
        release.wait();
        return QJsonObject{{"ok", true}, {"result", QJsonObject{{"merged", true}, {"tool", tool}}}};
    });
    app.start(configDir(home) + "/orchestrator-1.sock");
    Bridge bridge(home.path(), {{"VRNX_ORCH_SOCK", app.socketPath()}, {"VRNX_ORCH_TOKEN", "tok"}});
    bridge.send(line(call("m-1", "merge", {{"branch", "fix"}})));
    ASSERT_TRUE(entered.wait());
    bridge.process.closeWriteChannel();
    // Lets the bridge reach end of input first; the outcome must be the same either way.
    QThread::msleep(300);
    release.open();
    const QList<QJsonObject> out = bridge.finish();
    ASSERT_EQ(out.size(), 1);
    EXPECT_EQ(out[0].value("id"), "m-1");
    EXPECT_EQ(toolText(out[0]).text, R"({"merged":true,"tool":"merge"})");
    app.stop();
}
