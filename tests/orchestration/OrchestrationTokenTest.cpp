#include "orchestration/OrchestrationToken.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {
int modeOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return -1;
    return int(st.st_mode & 07777);
}
QByteArray contentOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
}  // namespace

TEST(OrchestrationToken, MakeGivesSixtyFourFreshLowerCaseHexCharacters) {
    const QString a = OrchestrationToken::make();
    const QString b = OrchestrationToken::make();
    const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
    EXPECT_TRUE(hex.match(a).hasMatch()) << a.toStdString();
    EXPECT_TRUE(hex.match(b).hasMatch()) << b.toStdString();
    EXPECT_NE(a, b);
}

TEST(OrchestrationToken, FreshInstallCreatesAPrivateFileThatTheNextRunReuses) {
    TempHome home;
    const QString path = OrchestrationToken::defaultPath();
    EXPECT_EQ(path, home.path() + "/.config/varnix/orch-token");
    EXPECT_FALSE(QFile::exists(path));

    const QString token = OrchestrationToken::loadOrCreate(path);
    EXPECT_EQ(token.size(), 64);
    EXPECT_EQ(modeOf(path), 0600);
    EXPECT_EQ(contentOf(path), token.toUtf8()) << "stored without a line break";

    const QString again = OrchestrationToken::loadOrCreate(path, [] {
        ADD_FAILURE() << "an existing token must be reused";
        return QStringLiteral("other");
    });
    EXPECT_EQ(again, token);
}

TEST(OrchestrationToken, ExistingFileIsTrimmedAndKeptAsItIsBlankOneIsReplaced) {
    TempHome home;
    const QString path = home.file("tok");
    EXPECT_EQ(OrchestrationToken::read(path), std::nullopt);

    writeTextFile(path, "  abc123\r\n\n");
    ::chmod(QFile::encodeName(path).constData(), 0644);
    EXPECT_EQ(OrchestrationToken::read(path), QStringLiteral("abc123"));
    EXPECT_EQ(OrchestrationToken::loadOrCreate(path, [] { return QStringLiteral("new"); }), "abc123");
    EXPECT_EQ(modeOf(path), 0644) << "the permissions of an existing file are left alone";

    writeTextFile(path, " \n\t");
    EXPECT_EQ(OrchestrationToken::read(path), std::nullopt);
    EXPECT_EQ(OrchestrationToken::loadOrCreate(path, [] { return QStringLiteral("fresh"); }), "fresh");
    EXPECT_EQ(contentOf(path), "fresh");
    EXPECT_EQ(modeOf(path), 0600);
}

TEST(OrchestrationToken, UnwritableLocationStillGivesATokenForThisRun) {
    TempHome home;
    writeTextFile(home.file("blocker"), "a file, not a directory");
    const QString path = home.file("blocker/orch-token");
    EXPECT_EQ(OrchestrationToken::loadOrCreate(path, [] { return QStringLiteral("ephemeral"); }), "ephemeral");
    EXPECT_FALSE(QFile::exists(path));
}
