#include "core/Json.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(Json, UnreadableFilesCountAsAbsent) {
    QTemporaryDir dir;
    const QString p = dir.filePath("x.json");
    EXPECT_FALSE(Json::readObject(p));  // missing
    struct Case { QByteArray text; bool object; bool array; };
    for (const Case& c : {Case{"", false, false}, Case{"{not json", false, false}, Case{"[1,2]", false, true},
                          Case{"{\"a\":1}", true, false}, Case{"\"text\"", false, false}}) {
        ASSERT_TRUE(writeTextFile(p, c.text));
        EXPECT_EQ(Json::readObject(p).has_value(), c.object) << c.text.constData();
        EXPECT_EQ(Json::readArray(p).has_value(), c.array) << c.text.constData();
    }
}

TEST(Json, WritesPrettySortedIntoMissingDirectories) {
    QTemporaryDir dir;
    const QString p = dir.filePath("a/b/c.json");
    QJsonObject o{{"zeta", 1}, {"alpha", "x"}, {"mid", true}};
    ASSERT_TRUE(Json::writePretty(p, o));
    QFile f(p);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    EXPECT_TRUE(text.contains('\n'));
    EXPECT_LT(text.indexOf("alpha"), text.indexOf("mid"));
    EXPECT_LT(text.indexOf("mid"), text.indexOf("zeta"));
    EXPECT_EQ(*Json::readObject(p), o);

    ASSERT_TRUE(Json::writeCompact(p, QJsonArray{1, 2}, Json::Mode::InPlace));
    QFile g(p);
    ASSERT_TRUE(g.open(QIODevice::ReadOnly));
    EXPECT_EQ(g.readAll(), QByteArray("[1,2]"));
}

TEST(Json, SecretFilesAreCreatedPrivate) {
    QTemporaryDir dir;
    for (auto mode : {Json::Mode::Atomic, Json::Mode::InPlace}) {
        const QString p = dir.filePath(mode == Json::Mode::Atomic ? "s1" : "s2");
        ASSERT_TRUE(Json::writeFile(p, "secret", mode, 0600));
        EXPECT_EQ(QFileInfo(p).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
                  QFile::Permissions());
    }
}

TEST(Json, TypedFieldsTellAbsentFromWrongType) {
    QJsonObject o{{"s", "text"}, {"n", 3}, {"b", false}};
    EXPECT_EQ(Json::optString(o, "s").state, Json::Lookup::Ok);
    EXPECT_EQ(Json::optString(o, "n").state, Json::Lookup::WrongType);
    EXPECT_EQ(Json::optString(o, "zz").state, Json::Lookup::Absent);
    EXPECT_EQ(Json::optBool(o, "b").value, false);
    EXPECT_TRUE(Json::optBool(o, "b").ok());
    EXPECT_EQ(Json::optDouble(o, "n").value, 3.0);
    EXPECT_EQ(Json::stringOr(o, "n", "fallback"), "fallback");
}
