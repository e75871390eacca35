// Finding a saved conversation again: Claude transcripts by id, Codex rollouts in the date tree.
#include "observe/ClaudeTranscripts.h"
#include "observe/CodexRollouts.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

constexpr int kHead = 256 * 1024;

// A line that pads a transcript to exactly `size` bytes, newline included.
QByteArray padLine(qsizetype size) {
    const QByteArray open = "{\"type\":\"summary\",\"pad\":\"";
    const QByteArray close = "\"}\n";
    return open + QByteArray(size - open.size() - close.size(), 'x') + close;
}

}  // namespace

TEST(ClaudeTranscriptLookup, FindsATranscriptByFileNameOrByItsFirstSessionId) {
    QTemporaryDir root;
    const QString dir = ClaudeTranscriptLocator::transcriptDirectory("/w/app", root.path());
    using ClaudeTranscriptLocator::findTranscript;

    ASSERT_TRUE(writeTextFile(dir + "/abc.jsonl", "{\"type\":\"summary\"}\n"));
    EXPECT_EQ(findTranscript("abc", "/w/app", root.path()), dir + "/abc.jsonl");

    // Named otherwise: the first line carrying an id decides; a later line with the id does not.
    ASSERT_TRUE(writeTextFile(dir + "/a-other.jsonl",
                              "{\"type\":\"summary\"}\n{\"sessionId\":\"zzz\"}\n{\"sessionId\":\"moved\"}\n"));
    ASSERT_TRUE(writeTextFile(dir + "/b-bad.jsonl", "{\"sessionId\":\"moved\"}\xff\n"));
    EXPECT_EQ(findTranscript("moved", "/w/app", root.path()), std::nullopt);
    ASSERT_TRUE(writeTextFile(dir + "/c-renamed.jsonl", "{\"type\":\"summary\"}\n{\"sessionId\":\"moved\"}\n"));
    EXPECT_EQ(findTranscript("moved", "/w/app", root.path()), dir + "/c-renamed.jsonl");

    // Another working directory, an id that would leave the directory, an empty id: nothing.
    EXPECT_EQ(findTranscript("abc", "/w/other", root.path()), std::nullopt);
    ASSERT_TRUE(writeTextFile(root.path() + "/escape.jsonl", "{\"type\":\"user\"}\n"));
    EXPECT_EQ(findTranscript("../escape", "/w/app", root.path()), std::nullopt);
    EXPECT_EQ(findTranscript("", "/w/app", root.path()), std::nullopt);
}

TEST(ClaudeTranscriptLookup, ConversationLines) {
    struct Case {
        const char* line;
        bool conversation;
    };
    const Case cases[] = {
        {R"({"type":"user","message":{"content":"hi"}})", true},
        {R"(  {"type":"assistant"}  )", true},
        {R"({"type":"summary","summary":"user asked"})", false},
        {R"({"type":"file-history-snapshot"})", false},
        {R"({"type":"User"})", false},
        {R"({"type":["user"]})", false},
        {R"({"kind":"user"})", false},
        {R"(["type","user"])", false},
        {R"({"type":"user")", false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ClaudeTranscriptLocator::hasConversation(QString::fromUtf8(c.line)), c.conversation) << c.line;
}

TEST(ClaudeTranscriptLookup, ConversationInTheHeadOfATranscript) {
    QTemporaryDir dir;
    const QString path = dir.filePath("t.jsonl");
    using ClaudeTranscriptLocator::hasConversationInTranscript;

    ASSERT_TRUE(writeTextFile(path, "{\"type\":\"summary\",\"summary\":\"Fix the build\",\"leafUuid\":\"u1\"}\n"));
    EXPECT_FALSE(hasConversationInTranscript(path));
    ASSERT_TRUE(writeTextFile(path, "{\"type\":\"summary\"}\n{\"type\":\"user\",\"sessionId\":\"s\"}"));
    EXPECT_TRUE(hasConversationInTranscript(path));
    EXPECT_FALSE(hasConversationInTranscript(dir.filePath("missing.jsonl")));
    ASSERT_TRUE(writeTextFile(path, "{\"type\":\"user\"}\n\xc3\x28\n"));
    EXPECT_FALSE(hasConversationInTranscript(path));

    // A record past the first 256 KiB does not count.
    ASSERT_TRUE(writeTextFile(path, padLine(kHead) + "{\"type\":\"user\"}\n"));
    EXPECT_FALSE(hasConversationInTranscript(path));

    // A long conversation whose 256 KiB cut falls inside a character still has one.
    QByteArray text = "{\"type\":\"user\",\"message\":{\"content\":\"caf\xc3\xa9\"}}\n";
    QByteArray cut = "{\"type\":\"summary\",\"pad\":\"";
    cut += QByteArray(kHead - 1 - text.size() - cut.size(), 'x');
    text += cut + "\xc3\xa9\"}\n";
    ASSERT_GT(text.size(), kHead);
    ASSERT_EQ(text.at(kHead - 1), '\xc3');
    ASSERT_TRUE(writeTextFile(path, text + "{\"type\":\"assistant\"}\n"));
    EXPECT_TRUE(hasConversationInTranscript(path));
}

TEST(CodexRolloutLookup, NumericSubdirectoriesNewestFirst) {
    QTemporaryDir root;
    for (const char* name : {"2024", "2025", "9", "10", "007", "abc", "2025x", ".5"}) ASSERT_TRUE(QDir(root.path()).mkdir(name));
    ASSERT_TRUE(writeTextFile(root.filePath("2026"), "a file, not a directory"));
    EXPECT_EQ(CodexRolloutLocator::sortedNumericSubdirs(root.path()),
              (QStringList{"2025", "2024", "10", "9", "007"}));
    EXPECT_EQ(CodexRolloutLocator::sortedNumericSubdirs(root.filePath("missing")), QStringList());
}

TEST(CodexRolloutLookup, FindsTheRolloutOfAnIdInTheNewestDayFirst) {
    QTemporaryDir tmp;
    const QString root = tmp.filePath("sessions");
    const QString id = "0199a1b2-c3d4-7e5f-8a9b-0c1d2e3f4a5b";
    const QString older = root + "/2025/09/30/rollout-2025-09-30T23-59-01-" + id + ".jsonl";
    const QString newer = root + "/2025/10/01/rollout-2025-10-01T00-00-05-" + id + ".jsonl";
    const QString newest = root + "/2025/10/02/rollout-2025-10-02T08-00-00-" + id + ".jsonl";
    ASSERT_TRUE(writeTextFile(older, "{}\n"));
    ASSERT_TRUE(writeTextFile(newer, "{}\n"));
    // Near misses in the newest day: another id, another extension, another prefix.
    ASSERT_TRUE(writeTextFile(root + "/2025/10/02/rollout-2025-10-02T08-00-00-other.jsonl", "{}\n"));
    ASSERT_TRUE(writeTextFile(root + "/2025/10/02/rollout-2025-10-02T08-00-00-" + id + ".json", "{}\n"));
    ASSERT_TRUE(writeTextFile(root + "/2025/10/02/old-rollout-" + id + ".jsonl", "{}\n"));
    ASSERT_TRUE(writeTextFile(root + "/2025/10/02/" + id + ".jsonl", "{}\n"));

    // Month 10 sorts before month 9, however the names compare as text.
    EXPECT_EQ(CodexRolloutLocator::findRollout(id, root), newer);
    ASSERT_TRUE(writeTextFile(newest, "{}\n"));
    EXPECT_EQ(CodexRolloutLocator::findRollout(id, root), newest);
    ASSERT_TRUE(QFile::remove(newest));
    ASSERT_TRUE(QFile::remove(newer));
    EXPECT_EQ(CodexRolloutLocator::findRollout(id, root), older);

    EXPECT_EQ(CodexRolloutLocator::findRollout("missing", root), std::nullopt);
    EXPECT_EQ(CodexRolloutLocator::findRollout(id, tmp.filePath("nowhere")), std::nullopt);
    EXPECT_EQ(CodexRolloutLocator::findRollout("", root), std::nullopt);
}
