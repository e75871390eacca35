#include "core/Paths.h"
#include "core/Text.h"

#include "support/TestSupport.h"

#include <QProcess>
#include <gtest/gtest.h>

TEST(Text, ShellQuoteSurvivesARealShell) {
    for (QString value : {QString("plain"), QString("/tmp/it's"), QString("a b\"c$HOME`x`"), QString(""),
                          QString("''"), QString("line\nbreak")}) {
        QProcess sh;
        sh.start("/bin/sh", {"-c", "printf %s " + shellQuote(value)});
        ASSERT_TRUE(sh.waitForFinished(5000));
        EXPECT_EQ(QString::fromUtf8(sh.readAllStandardOutput()), value);
    }
    EXPECT_EQ(shellQuote("/tmp/it's"), "'/tmp/it'\\''s'");
}

TEST(Text, PathExtension) {
    struct Case { const char* path; const char* ext; };
    for (auto c : {Case{".env", ""}, Case{"x.tar.gz", "gz"}, Case{"/a/b.c/file", ""}, Case{"main.cpp", "cpp"},
                   Case{"/dir/.bashrc", ""}, Case{"dir/.config.json", "json"}, Case{"noext", ""}, Case{"trail.", ""}}) {
        EXPECT_EQ(pathExtension(c.path), QString(c.ext)) << c.path;
    }
}

TEST(Text, StrictUtf8RejectsInvalidBytes) {
    EXPECT_EQ(decodeUtf8Strict("h\xc3\xa9llo"), QString::fromUtf8("h\xc3\xa9llo"));
    EXPECT_FALSE(decodeUtf8Strict("bad\xff"));
    EXPECT_FALSE(decodeUtf8Strict("\xc3"));  // truncated sequence
    EXPECT_EQ(decodeUtf8Strict(""), QString());
}

TEST(Text, UuidTextIsUpperCase) {
    const QUuid u = QUuid::fromString(QStringLiteral("6f9619ff-8b86-d011-b42d-00c04fc964ff"));
    EXPECT_EQ(uuidText(u), "6F9619FF-8B86-D011-B42D-00C04FC964FF");
}

TEST(Paths, FollowHome) {
    TempHome home;
    EXPECT_EQ(Paths::home(), home.path());
    EXPECT_EQ(Paths::configDir(), home.path() + "/.config/varnix");
    EXPECT_EQ(Paths::configFile("x.json"), home.path() + "/.config/varnix/x.json");
}
