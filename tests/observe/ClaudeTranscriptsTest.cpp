#include "observe/ClaudeTranscripts.h"

#include "ObserveTestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QByteArray assistantRecord(const QString& model, int in, int out, int cacheCreate, int cacheRead,
                           bool sidechain = false) {
    return QStringLiteral("{\"type\":\"assistant\",\"isSidechain\":%1,\"sessionId\":\"S1\",\"message\":{\"model\":\"%2\","
                          "\"usage\":{\"input_tokens\":%3,\"output_tokens\":%4,\"cache_creation_input_tokens\":%5,"
                          "\"cache_read_input_tokens\":%6}}}")
        .arg(sidechain ? "true" : "false", model)
        .arg(in)
        .arg(out)
        .arg(cacheCreate)
        .arg(cacheRead)
        .toUtf8();
}

}  // namespace

TEST(ClaudeTranscriptLocator, EncodesTheWorkingDirectoryPerCharacter) {
    using ClaudeTranscriptLocator::encodeWorkingDirectory;
    EXPECT_EQ(encodeWorkingDirectory("/Users/ann/my.app"), "-Users-ann-my-app");
    EXPECT_EQ(encodeWorkingDirectory("/home/a_b/Proj 2/.varnix/worktrees/x-y"), "-home-a-b-Proj-2--varnix-worktrees-x-y");
    // Each Unicode scalar is one "-", also outside the basic plane.
    EXPECT_EQ(encodeWorkingDirectory(u"/h/caf\u00e9/\U0001F600z"_qs), "-h-caf---z");

    TempHome home;
    EXPECT_EQ(ClaudeTranscriptLocator::transcriptDirectory("/w/a"), home.path() + "/.claude/projects/-w-a");
    EXPECT_EQ(ClaudeTranscriptLocator::transcriptDirectory("/w/a", QStringLiteral("/root")), "/root/-w-a");
}

TEST(ClaudeTranscriptLocator, SessionIdFromALineAndFromTheHeadOfATranscript) {
    using ClaudeTranscriptLocator::sessionID;
    EXPECT_EQ(sessionID(u"  {\"type\":\"user\",\"sessionId\":\"abc-1\"}  "), "abc-1");
    EXPECT_EQ(sessionID(u"{\"sessionId\":\"\"}"), std::nullopt);
    EXPECT_EQ(sessionID(u"{\"sessionId\":42}"), std::nullopt);
    EXPECT_EQ(sessionID(u"{\"session\":\"abc\"}"), std::nullopt);
    EXPECT_EQ(sessionID(u"\"sessionId\" but not json"), std::nullopt);

    QTemporaryDir dir;
    const QString path = dir.filePath("t.jsonl");
    ASSERT_TRUE(writeTextFile(path, "{\"type\":\"summary\"}\nnot json\n{\"sessionId\":\"first\"}\n{\"sessionId\":\"second\"}\n"));
    EXPECT_EQ(ClaudeTranscriptLocator::sessionIDInTranscript(path), "first");
    EXPECT_EQ(ClaudeTranscriptLocator::sessionIDInTranscript(dir.filePath("missing.jsonl")), std::nullopt);

    // Only the first 256 KiB are read: an id beyond is not found.
    const QByteArray filler = "{\"type\":\"summary\",\"pad\":\"" + QByteArray(262144, 'x') + "\"}\n";
    ASSERT_TRUE(writeTextFile(path, filler + "{\"sessionId\":\"late\"}\n"));
    EXPECT_EQ(ClaudeTranscriptLocator::sessionIDInTranscript(path), std::nullopt);
    // When the limit cuts a character in two the head is not valid UTF-8: none.
    QByteArray head = "{\"sessionId\":\"early\"}\n{\"pad\":\"";
    head += QByteArray(262144 - head.size() - 1, 'x');
    ASSERT_TRUE(writeTextFile(path, head + "\xc3\xa9\"}\n"));
    EXPECT_EQ(ClaudeTranscriptLocator::sessionIDInTranscript(path), std::nullopt);
    ASSERT_TRUE(writeTextFile(path, head.chopped(1) + "\xc3\xa9\"}\n"));
    EXPECT_EQ(ClaudeTranscriptLocator::sessionIDInTranscript(path), "early");
}

TEST(ClaudeTranscriptLocator, LatestTranscriptHonoursTheStartWindow) {
    QTemporaryDir dir;
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime start = now.addSecs(-10);
    const QString old = dir.filePath("old.jsonl"), fresh = dir.filePath("fresh.jsonl"), newer = dir.filePath("newer.jsonl");
    for (const QString& p : {old, fresh, newer, dir.filePath("notes.txt")}) ASSERT_TRUE(writeTextFile(p, "{}\n"));
    ASSERT_TRUE(setModified(old, now.addSecs(-11)));  // 11 s before "now": before the window
    ASSERT_TRUE(setModified(fresh, now.addSecs(-9)));
    ASSERT_TRUE(setModified(newer, now.addSecs(-5)));
    ASSERT_TRUE(setModified(dir.filePath("notes.txt"), now));
    using ClaudeTranscriptLocator::latestTranscript;
    EXPECT_EQ(latestTranscript(dir.path(), start), newer);
    QFile::remove(newer);
    EXPECT_EQ(latestTranscript(dir.path(), start), fresh);
    QFile::remove(fresh);
    EXPECT_EQ(latestTranscript(dir.path(), start), std::nullopt);
    EXPECT_EQ(latestTranscript(dir.path(), std::nullopt), old);
    // Written again, the old conversation counts.
    ASSERT_TRUE(setModified(old, now));
    EXPECT_EQ(latestTranscript(dir.path(), start), old);
    EXPECT_EQ(latestTranscript(dir.filePath("missing"), start), std::nullopt);
    EXPECT_EQ(latestTranscript(old, start), std::nullopt);  // a file is not a directory
}

TEST(ClaudeUsage, TokenArithmeticAndModelNames) {
    const auto first = ClaudeUsage::parseAssistantRecord(QString::fromUtf8(assistantRecord("claude-opus-4-1", 100, 10, 50, 5)));
    const auto second = ClaudeUsage::parseAssistantRecord(QString::fromUtf8(assistantRecord("claude-3-5-haiku", 20, 3, 0, 0)));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->tokensIn + second->tokensIn, 175);
    EXPECT_EQ(first->tokensOut + second->tokensOut, 13);
    EXPECT_EQ(first->shortModel, "opus");
    EXPECT_EQ(second->shortModel, "haiku");

    // Side chains count tokens but name no model.
    const auto side = ClaudeUsage::parseAssistantRecord(QString::fromUtf8(assistantRecord("claude-sonnet-4", 1, 2, 3, 4, true)));
    ASSERT_TRUE(side);
    EXPECT_EQ(side->tokensIn, 8);
    EXPECT_EQ(side->shortModel, std::nullopt);

    // Missing and non-integer counts are 0; a record without usage, or not an assistant, does not count.
    const auto partial = ClaudeUsage::parseAssistantRecord(
        u"{\"type\":\"assistant\",\"message\":{\"usage\":{\"input_tokens\":\"7\",\"output_tokens\":2.5,\"cache_read_input_tokens\":4}}}");
    ASSERT_TRUE(partial);
    EXPECT_EQ(partial->tokensIn, 4);
    EXPECT_EQ(partial->tokensOut, 0);
    EXPECT_EQ(partial->shortModel, std::nullopt);
    EXPECT_FALSE(ClaudeUsage::parseAssistantRecord(u"{\"type\":\"assistant\",\"message\":{\"model\":\"x\"}}"));
    EXPECT_FALSE(ClaudeUsage::parseAssistantRecord(u"{\"type\":\"user\",\"message\":{\"usage\":{\"input_tokens\":1}},\"x\":\"assistant\"}"));
    EXPECT_FALSE(ClaudeUsage::parseAssistantRecord(u"{\"type\":\"assistant\""));

    const QList<std::pair<QString, QString>> names{{"claude-opus-4-1", "opus"},     {"Claude-3-5-HAIKU", "haiku"},
                                                   {"claude-sonnet-4-5", "sonnet"}, {"my-model", "my-model"},
                                                   {"My-Model", "my-model"},        {"sonnet-opus-mix", "opus"}};
    for (const auto& [name, expected] : names) EXPECT_EQ(ClaudeUsage::shortModelName(name), expected) << name.toStdString();
}

TEST(ClaudeTranscriptReader, LastAssistantTextSkipsRecordsWithoutText) {
    QTemporaryDir root;
    const QString dir = root.filePath("-w-a");
    ASSERT_TRUE(QDir().mkpath(dir));
    const QByteArray transcript =
        "{\"type\":\"user\",\"message\":{\"content\":[{\"type\":\"text\",\"text\":\"question\"}]}}\n"
        "{\"type\":\"assistant\",\"message\":{\"content\":[{\"type\":\"text\",\"text\":\"  first answer \"}]}}\n"
        "{\"type\":\"assistant\",\"message\":{\"content\":[{\"type\":\"text\",\"text\":\"Part one\"},"
        "{\"type\":\"tool_use\",\"name\":\"Bash\"},{\"type\":\"text\",\"text\":\"part two\"}]}}\n"
        "\xff broken line\n"
        "{\"type\":\"assistant\",\"message\":{\"content\":[{\"type\":\"tool_use\",\"name\":\"Edit\"}]}}\n"
        "{\"type\":\"assistant\",\"message\":{\"content\":[{\"type\":\"text\",\"text\":\"   \"}]}}\n"
        "{\"type\":\"user\",\"message\":{\"content\":[{\"type\":\"tool_result\"}]}}\n";
    ASSERT_TRUE(writeTextFile(dir + "/older.jsonl",
                              "{\"type\":\"assistant\",\"message\":{\"content\":[{\"type\":\"text\",\"text\":\"stale\"}]}}\n"));
    ASSERT_TRUE(setModified(dir + "/older.jsonl", QDateTime::currentDateTime().addDays(-2)));
    ASSERT_TRUE(writeTextFile(dir + "/current.jsonl", transcript));
    EXPECT_EQ(ClaudeTranscriptReader::lastAssistantText("/w/a", root.path()), "Part one\npart two");

    // The newest transcript is read, however old.
    ASSERT_TRUE(setModified(dir + "/current.jsonl", QDateTime::currentDateTime().addDays(-3)));
    EXPECT_EQ(ClaudeTranscriptReader::lastAssistantText("/w/a", root.path()), "stale");

    ASSERT_TRUE(writeTextFile(dir + "/current.jsonl", "{\"type\":\"user\"}\n"));
    ASSERT_TRUE(QFile::remove(dir + "/older.jsonl"));
    EXPECT_EQ(ClaudeTranscriptReader::lastAssistantText("/w/a", root.path()), std::nullopt);
    EXPECT_EQ(ClaudeTranscriptReader::lastAssistantText("/w/missing", root.path()), std::nullopt);

    TempHome home;
    ASSERT_TRUE(writeTextFile(home.file(".claude/projects/-w-b/x.jsonl"),
                              "{\"type\":\"assistant\",\"message\":{\"content\":[{\"type\":\"text\",\"text\":\"home\"}]}}"));
    EXPECT_EQ(ClaudeTranscriptReader::lastAssistantText("/w/b"), "home");
}
