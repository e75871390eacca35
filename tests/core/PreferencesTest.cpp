#include "core/Preferences.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

TEST(JsonFilePreferences, RoundTripsEveryTypeAcrossInstances) {
    QTemporaryDir dir;
    const QString path = dir.filePath("cfg/preferences.json");
    {
        JsonFilePreferences p(path);
        p.setValue("b", true);
        p.setValue("d", 13.5);
        p.setValue("i", 42);
        p.setValue("s", QStringLiteral("no"));
        p.setValue("e", QString());
        p.setValue("data", QByteArray("\x00\x01{}", 4));
        p.remove("missing");
    }
    JsonFilePreferences q(path);
    EXPECT_EQ(q.boolValue("b"), true);
    EXPECT_EQ(q.doubleValue("d"), 13.5);
    EXPECT_EQ(q.integerValue("i"), 42);
    EXPECT_EQ(q.stringValue("s"), QString("no"));
    EXPECT_FALSE(q.boolValue("s")) << "a text is never a boolean";
    EXPECT_EQ(q.stringValue("e"), QString(""));
    EXPECT_EQ(q.dataValue("data"), QByteArray("\x00\x01{}", 4));
    EXPECT_FALSE(q.contains("missing"));
    q.remove("b");
    EXPECT_FALSE(JsonFilePreferences(path).contains("b"));
}

TEST(JsonFilePreferences, SeesAnotherWritersChangeAndSurvivesGarbage) {
    QTemporaryDir dir;
    const QString path = dir.filePath("preferences.json");
    JsonFilePreferences p(path);
    p.setValue("x", 1);
    QThread::msleep(15);  // a distinct modification time
    ASSERT_TRUE(writeTextFile(path, "{\"x\": 2, \"y\": \"new\"}"));
    EXPECT_EQ(p.doubleValue("x"), 2);
    EXPECT_EQ(p.stringValue("y"), QString("new"));
    ASSERT_TRUE(writeTextFile(path, "not json at all"));
    EXPECT_FALSE(p.contains("x"));
    p.setValue("z", false);  // recovers with a fresh file
    EXPECT_EQ(JsonFilePreferences(path).boolValue("z"), false);
}

TEST(Preferences, DoubleReadsNumbersBooleansAndNumericText) {
    MemoryPreferences p;
    p.setValue("n", 12);
    p.setValue("t", QStringLiteral(" 14.5 "));
    p.setValue("bad", QStringLiteral("big"));
    p.setValue("flag", true);
    EXPECT_EQ(p.doubleValue("n"), 12);
    EXPECT_EQ(p.doubleValue("t"), 14.5);
    EXPECT_EQ(p.doubleValue("bad", -1), -1);
    EXPECT_EQ(p.doubleValue("flag"), 1);
    EXPECT_EQ(p.doubleValue("absent", 7), 7);
}
