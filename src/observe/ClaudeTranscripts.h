#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>
#include <optional>

// Where Claude Code keeps its transcripts, and what is read from them.
namespace ClaudeTranscriptLocator {

// Every character but an ASCII letter or digit becomes "-": /home/ann/my.app → -home-ann-my-app.
QString encodeWorkingDirectory(const QString& workingDirectory);
// ~/.claude/projects
QString defaultProjectsRoot();
// <projectsRoot>/<encoded working directory>; the default root when none is given.
QString transcriptDirectory(const QString& workingDirectory, const std::optional<QString>& projectsRoot = {});

// The "sessionId" of one transcript line, when the line is a JSON object carrying a non-empty one.
std::optional<QString> sessionID(QStringView line);
// The first session id in the first 256 KiB of a transcript; none when those bytes are not
// valid UTF-8.
std::optional<QString> sessionIDInTranscript(const QString& path);

// The ".jsonl" entry of `directory` modified last and not before `notBefore` (when given).
// On equal dates the first in listing order stays.
std::optional<QString> latestTranscript(const QString& directory, const std::optional<QDateTime>& notBefore);

// The transcript of one conversation in the working directory's transcript directory: the file
// named after the id, else the first ".jsonl" whose first session id is that id.
std::optional<QString> findTranscript(const QString& sessionID, const QString& workingDirectory,
                                      const QString& projectsRoot);
// A "user" or "assistant" record: a line of a transcript that holds a conversation, not only
// summaries or snapshots.
bool hasConversation(QStringView line);
// Any such line in the first 256 KiB of the transcript.
bool hasConversationInTranscript(const QString& path);

}  // namespace ClaudeTranscriptLocator

// The usage one assistant record adds.
struct ClaudeAssistantUsage {
    qint64 tokensIn = 0;   // input + cache creation + cache read
    qint64 tokensOut = 0;  // output
    std::optional<QString> shortModel;  // none for side-chain records and records without a model
};

namespace ClaudeUsage {

// "opus", "haiku" or "sonnet" when the lower-cased name contains one (in that order of
// preference), else the lower-cased name.
QString shortModelName(const QString& model);
// A record of type "assistant" with message.usage; none for anything else.
std::optional<ClaudeAssistantUsage> parseAssistantRecord(QStringView line);

}  // namespace ClaudeUsage

namespace ClaudeTranscriptReader {

// The text of the last assistant record that had any text, in the most recently modified
// transcript of the working directory; none when there is none.
std::optional<QString> lastAssistantText(const QString& workingDirectory,
                                         const std::optional<QString>& projectsRoot = {});

}  // namespace ClaudeTranscriptReader
