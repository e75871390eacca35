#include "platform/linux/SecretToolStore.h"

#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A stand-in for secret-tool: answers only the exact lookup the store must make.
QString writeFakeTool(const QTemporaryDir& dir, const QByteArray& body) {
    const QString path = dir.filePath("secret-tool");
    writeTextFile(path, "#!/bin/sh\n" + body);
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
    return path;
}

const QByteArray kLookup =
    "[ \"$#\" = 3 ] && [ \"$1\" = lookup ] && [ \"$2\" = service ] && [ \"$3\" = \"Claude Code-credentials\" ] "
    "|| exit 2\n";

TEST(SecretToolStore, ReturnsTheSecretOfTheExactLookup) {
    QTemporaryDir dir;
    const QString tool = writeFakeTool(dir, kLookup + "printf '%s' '{\"claudeAiOauth\":{\"accessToken\":\"k\"}}'\n");
    SecretToolStore store(tool);
    EXPECT_EQ(store.read("Claude Code-credentials"), QByteArray(R"({"claudeAiOauth":{"accessToken":"k"}})"));
    EXPECT_EQ(store.read("Other"), std::nullopt);  // the script exits 2 for any other item
}

TEST(SecretToolStore, NotFoundFailureOrMissingToolMeanNoSecret) {
    QTemporaryDir dir;
    EXPECT_EQ(SecretToolStore(writeFakeTool(dir, kLookup + "exit 1\n")).read("Claude Code-credentials"), std::nullopt);
    EXPECT_EQ(SecretToolStore(writeFakeTool(dir, kLookup + "printf x; kill -9 $$\n")).read("Claude Code-credentials"),
              std::nullopt);
    EXPECT_EQ(SecretToolStore(dir.filePath("absent-tool")).read("Claude Code-credentials"), std::nullopt);
    EXPECT_EQ(SecretToolStore("varnix-no-such-secret-tool").read("Claude Code-credentials"), std::nullopt);
    EXPECT_EQ(NullSecretStore().read("Claude Code-credentials"), std::nullopt);
}

TEST(SecretToolStore, GivesUpOnALookupThatHangs) {
    QTemporaryDir dir;
    // A locked keyring can wait for the user indefinitely.
    SecretToolStore store(writeFakeTool(dir, kLookup + "printf partial\nexec sleep 60\n"), 300);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(store.read("Claude Code-credentials"), std::nullopt);
    EXPECT_LT(timer.elapsed(), 30000);  // not the full sleep
}

}  // namespace
