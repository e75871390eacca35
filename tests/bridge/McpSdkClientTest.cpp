// Checks the bridge against the official MCP TypeScript SDK client when it is available:
// `npm install @modelcontextprotocol/sdk` in a scratch directory named by VARNIX_MCP_SDK_DIR
// (default /tmp/mcpcheck). Skipped when node or the package is missing.

#include "bridge/BridgeTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

TEST(MCPBridgeSdkClient, ConnectsListsTheSevenToolsAndCallsOne) {
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    QString sdkRoot = qEnvironmentVariable("VARNIX_MCP_SDK_DIR");
    if (sdkRoot.isEmpty()) sdkRoot = QStringLiteral("/tmp/mcpcheck");
    if (node.isEmpty()) GTEST_SKIP() << "node is not installed";
    if (!QFileInfo::exists(sdkRoot + "/node_modules/@modelcontextprotocol/sdk/package.json"))
        GTEST_SKIP() << "@modelcontextprotocol/sdk is not installed under " << sdkRoot.toStdString();

    TempHome home;
    const QString dir = home.path() + "/.config/varnix";
    QDir().mkpath(dir);
    bridgetest::NamedServer app("app", "sdk-token");
    app.start(dir + "/orchestrator-1.sock");

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("VRNX_ORCH_SOCK", app.path());
    env.insert("VRNX_ORCH_TOKEN", "sdk-token");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    QProcess client;
    client.setProcessEnvironment(env);
    client.start(node, {QStringLiteral(BRIDGE_TEST_DIR "/mcp_sdk_client.cjs"), sdkRoot,
                        QStringLiteral(VARNIX_EXE), "ORCH-1"});
    ASSERT_TRUE(client.waitForFinished(120000));
    const QByteArray err = client.readAllStandardError();
    ASSERT_EQ(client.exitCode(), 0) << err.constData();
    const QJsonObject report = QJsonDocument::fromJson(client.readAllStandardOutput().trimmed()).object();
    std::printf("MCP SDK client version %s\n", qPrintable(report.value("sdkVersion").toString()));

    EXPECT_EQ(report.value("server").toObject(), (QJsonObject{{"name", "varnix-orchestrator"}, {"version", "0.1.0"}}));
    EXPECT_TRUE(report.value("capabilities").toObject().contains("tools"));
    EXPECT_EQ(report.value("tools").toArray(),
              (QJsonArray{"spawn", "status", "list", "result", "say", "close", "merge"}));
    EXPECT_EQ(report.value("required").toObject().value("say").toArray(), (QJsonArray{"session_id", "text"}));
    const QJsonObject result = report.value("result").toObject();
    EXPECT_EQ(result.value("isError"), false);
    EXPECT_EQ(result.value("content").toArray().at(0).toObject().value("text"), R"({"server":"app"})");
    EXPECT_EQ(app.lastTool(), "list");
    EXPECT_EQ(app.lastSession(), "ORCH-1");
    app.stop();
}
