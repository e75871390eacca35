#include "app/AppIcon.h"
#include "app/ProcessEntry.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(ProcessEntry, OnlyTheFirstArgumentSelectsTheBridge) {
    auto bridge = selectMode({"mcp-bridge", "--x"});
    EXPECT_EQ(bridge.mode, ProcessMode::Bridge);
    EXPECT_EQ(bridge.arguments, QStringList{"--x"});
    EXPECT_EQ(selectMode({"foo", "mcp-bridge"}).mode, ProcessMode::Application);
    EXPECT_EQ(selectMode({}).mode, ProcessMode::Application);
    EXPECT_EQ(selectMode({"MCP-BRIDGE"}).mode, ProcessMode::Application);
    EXPECT_EQ(selectMode({"mcp-bridge"}).arguments, QStringList{});
}

TEST(ProcessEntry, AFirstArgumentNamingADirectoryOpensItAsAProject) {
    QTemporaryDir dir;
    const QString root = dir.path();
    QDir().mkpath(root + "/code/proj");
    writeTextFile(root + "/notes.txt", "x");
    struct Case {
        QStringList args;
        std::optional<QString> path;
        QString error;
    };
    const QList<Case> cases{
        {{}, std::nullopt, ""},
        {{"code/proj"}, root + "/code/proj", ""},
        {{"code/proj/", "ignored"}, root + "/code/proj", ""},
        {{root + "/code/../code/proj"}, root + "/code/proj", ""},
        {{"."}, root, ""},
        {{"-platform", "offscreen"}, std::nullopt, ""},
        {{"missing"}, std::nullopt, "no such directory: missing"},
        {{"notes.txt"}, std::nullopt, "not a directory: notes.txt"},
    };
    for (const Case& c : cases) {
        const ProjectArgument got = projectArgument(c.args, root);
        EXPECT_EQ(got.path, c.path) << c.args.join(' ').toStdString();
        EXPECT_EQ(got.error, c.error) << c.args.join(' ').toStdString();
    }
}

TEST(ProcessEntry, KeepsArgumentsWithoutArgumentZero) {
    char a0[] = "/usr/bin/varnix", a1[] = "one", a2[] = "two words";
    char* argv[] = {a0, a1, a2, nullptr};
    setCliArgs(3, argv);
    EXPECT_EQ(cliArgs(), (QStringList{"one", "two words"}));
}

TEST(AppIcon, LookupOrder) {
    QTemporaryDir dir;
    const QString root = dir.path();
    const QString exe = root + "/a/b/c/d/varnix";
    QDir().mkpath(root + "/a/b/c/d");
    EXPECT_FALSE(findAppIcon(exe));

    writeTextFile(root + "/a/Sources/Varnix/AppIcon.png", "png");
    EXPECT_EQ(findAppIcon(exe), root + "/a/Sources/Varnix/AppIcon.png");
    writeTextFile(root + "/a/b/c/d/AppIcon.png", "png");
    EXPECT_EQ(findAppIcon(exe), root + "/a/b/c/d/AppIcon.png");
    writeTextFile(root + "/a/b/c/share/varnix/AppIcon.png", "png");
    EXPECT_EQ(findAppIcon(exe), root + "/a/b/c/share/varnix/AppIcon.png");
    writeTextFile(root + "/a/b/c/Resources/AppIcon.png", "png");
    EXPECT_EQ(findAppIcon(exe), root + "/a/b/c/Resources/AppIcon.png");
}

TEST(AppIcon, WalkUpStopsAfterTenSteps) {
    QTemporaryDir dir;
    QString deep = dir.path();
    for (int i = 0; i < 11; ++i) deep += "/l" + QString::number(i);
    QDir().mkpath(deep);
    // Eleven levels above the executable's directory: out of reach.
    writeTextFile(dir.path() + "/Sources/Varnix/AppIcon.png", "png");
    EXPECT_FALSE(findAppIcon(deep + "/varnix"));
    // Ten levels up (steps 0..9 look at the directory and its nine ancestors).
    const QString nine = dir.path() + "/l0/l1";
    writeTextFile(nine + "/Sources/Varnix/AppIcon.png", "png");
    EXPECT_EQ(findAppIcon(deep + "/varnix"), nine + "/Sources/Varnix/AppIcon.png");
}
