#include "observe/ClaudeTranscripts.h"

#include "core/Paths.h"
#include "core/Text.h"
#include "observe/ObserveJson.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QStringDecoder>

namespace ClaudeTranscriptLocator {

namespace {
constexpr qint64 kSessionIDReadLimit = 256 * 1024;
const QLatin1StringView kSessionIdKeyQuoted{"\"sessionId\""};
}  // namespace

QString encodeWorkingDirectory(const QString& workingDirectory) {
    QString out;
    out.reserve(workingDirectory.size());
    // One "-" per Unicode scalar: a surrogate pair is one character here.
    for (const char32_t c : workingDirectory.toUcs4()) {
        const bool keep = (c >= U'0' && c <= U'9') || (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z');
        out.append(keep ? QChar(char16_t(c)) : QLatin1Char('-'));
    }
    return out;
}

QString defaultProjectsRoot() { return Paths::home() + QStringLiteral("/.claude/projects"); }

QString transcriptDirectory(const QString& workingDirectory, const std::optional<QString>& projectsRoot) {
    return projectsRoot.value_or(defaultProjectsRoot()) + QLatin1Char('/') + encodeWorkingDirectory(workingDirectory);
}

std::optional<QString> sessionID(QStringView line) {
    line = line.trimmed();
    if (!line.contains(kSessionIdKeyQuoted)) return std::nullopt;
    const auto object = ObserveJson::parseLine(line);
    if (!object) return std::nullopt;
    const QJsonValue id = object->value(QLatin1StringView("sessionId"));
    if (!id.isString() || id.toString().isEmpty()) return std::nullopt;
    return id.toString();
}

std::optional<QString> sessionIDInTranscript(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const auto text = decodeUtf8Strict(file.read(kSessionIDReadLimit));
    if (!text) return std::nullopt;
    for (const QStringView line : QStringView(*text).split(QLatin1Char('\n'))) {
        if (auto id = sessionID(line)) return id;
    }
    return std::nullopt;
}

std::optional<QString> latestTranscript(const QString& directory, const std::optional<QDateTime>& notBefore) {
    const QFileInfo dirInfo(directory);
    if (!dirInfo.isDir()) return std::nullopt;
    std::optional<QString> best;
    QDateTime bestDate;
    QDirIterator it(directory, QDir::Files | QDir::Hidden | QDir::System);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (!info.fileName().endsWith(QLatin1StringView(".jsonl"))) continue;
        const QDateTime modified = info.lastModified();
        if (!modified.isValid()) continue;
        if (notBefore && modified < *notBefore) continue;
        if (!best || modified > bestDate) {
            best = info.filePath();
            bestDate = modified;
        }
    }
    return best;
}

}  // namespace ClaudeTranscriptLocator

namespace ClaudeUsage {

QString shortModelName(const QString& model) {
    const QString lower = model.toLower();
    if (lower.contains(QLatin1StringView("opus"))) return QStringLiteral("opus");
    if (lower.contains(QLatin1StringView("haiku"))) return QStringLiteral("haiku");
    if (lower.contains(QLatin1StringView("sonnet"))) return QStringLiteral("sonnet");
    return lower;
}

std::optional<ClaudeAssistantUsage> parseAssistantRecord(QStringView line) {
    // Cheap refusal before parsing: most lines are not assistant records.
    if (!line.contains(QLatin1StringView("\"assistant\""))) return std::nullopt;
    const auto record = ObserveJson::parseLine(line);
    if (!record || record->value(QLatin1StringView("type")).toString() != QLatin1StringView("assistant"))
        return std::nullopt;
    const QJsonValue message = record->value(QLatin1StringView("message"));
    if (!message.isObject()) return std::nullopt;
    const QJsonValue usageValue = message.toObject().value(QLatin1StringView("usage"));
    if (!usageValue.isObject()) return std::nullopt;
    const QJsonObject usage = usageValue.toObject();

    using ObserveJson::integerOrZero;
    ClaudeAssistantUsage result;
    result.tokensIn = integerOrZero(usage, QLatin1StringView("input_tokens")) +
                      integerOrZero(usage, QLatin1StringView("cache_creation_input_tokens")) +
                      integerOrZero(usage, QLatin1StringView("cache_read_input_tokens"));
    result.tokensOut = integerOrZero(usage, QLatin1StringView("output_tokens"));
    // Side-chain (sub-agent) records count tokens but do not name the session's model.
    if (record->value(QLatin1StringView("isSidechain")).toBool(false) != true) {
        const QJsonValue model = message.toObject().value(QLatin1StringView("model"));
        if (model.isString()) result.shortModel = shortModelName(model.toString());
    }
    return result;
}

}  // namespace ClaudeUsage

namespace ClaudeTranscriptReader {

namespace {

// The joined "text" entries of an assistant record's content; none when it has none.
std::optional<QString> assistantText(QStringView line) {
    if (!line.contains(QLatin1StringView("\"assistant\""))) return std::nullopt;
    const auto record = ObserveJson::parseLine(line);
    if (!record || record->value(QLatin1StringView("type")).toString() != QLatin1StringView("assistant"))
        return std::nullopt;
    const QJsonValue content = record->value(QLatin1StringView("message")).toObject().value(QLatin1StringView("content"));
    if (!content.isArray()) return std::nullopt;
    QStringList texts;
    for (const QJsonValue& entry : content.toArray()) {
        const QJsonObject object = entry.toObject();
        if (object.value(QLatin1StringView("type")).toString() != QLatin1StringView("text")) continue;
        const QJsonValue text = object.value(QLatin1StringView("text"));
        if (text.isString()) texts << text.toString();
    }
    const QString joined = texts.join(QLatin1Char('\n')).trimmed();
    if (joined.isEmpty()) return std::nullopt;
    return joined;
}

}  // namespace

std::optional<QString> lastAssistantText(const QString& workingDirectory, const std::optional<QString>& projectsRoot) {
    const QString directory = ClaudeTranscriptLocator::transcriptDirectory(workingDirectory, projectsRoot);
    const auto path = ClaudeTranscriptLocator::latestTranscript(directory, std::nullopt);
    if (!path) return std::nullopt;
    QFile file(*path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray bytes = file.readAll();
    // The last record with text wins, so read from the end. Lines are decoded one by one: a
    // single malformed line elsewhere must not hide the answer.
    qsizetype end = bytes.size();
    while (end > 0) {
        const qsizetype nl = bytes.lastIndexOf('\n', end - 1);
        const qsizetype begin = nl < 0 ? 0 : nl + 1;
        const QByteArrayView raw(bytes.constData() + begin, end - begin);
        end = nl < 0 ? 0 : nl;
        if (raw.trimmed().isEmpty()) continue;
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString line = decoder.decode(raw);
        if (decoder.hasError()) continue;
        if (auto text = assistantText(QStringView(line).trimmed())) return text;
    }
    return std::nullopt;
}

}  // namespace ClaudeTranscriptReader

// Lookups for resuming a saved conversation.
namespace ClaudeTranscriptLocator {

namespace {

constexpr qint64 kConversationReadLimit = 256 * 1024;

// The first 256 KiB as text. When the file goes on past them, the cut line is dropped: the cut
// may split a character, and a long conversation in any script but ASCII must still count.
std::optional<QString> transcriptHead(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QByteArray bytes = file.read(kConversationReadLimit);
    if (bytes.size() == kConversationReadLimit && !file.atEnd()) {
        const qsizetype lastNewline = bytes.lastIndexOf('\n');
        bytes.truncate(lastNewline < 0 ? 0 : lastNewline + 1);
    }
    return decodeUtf8Strict(bytes);
}

}  // namespace

std::optional<QString> findTranscript(const QString& sessionID, const QString& workingDirectory,
                                      const QString& projectsRoot) {
    // The id names a file: one that could leave the directory names none.
    if (sessionID.isEmpty() || sessionID.contains(QLatin1Char('/'))) return std::nullopt;
    const QString directory = transcriptDirectory(workingDirectory, projectsRoot);
    const QString named = directory + QLatin1Char('/') + sessionID + QStringLiteral(".jsonl");
    if (QFileInfo(named).isFile()) return named;

    const QDir dir(directory);
    const QStringList entries =
        dir.entryList({QStringLiteral("*.jsonl")}, QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString& entry : entries) {
        const QString path = dir.filePath(entry);
        const auto text = transcriptHead(path);
        if (!text) continue;
        for (const QStringView line : QStringView(*text).split(QLatin1Char('\n'))) {
            const auto id = ClaudeTranscriptLocator::sessionID(line);
            if (!id) continue;
            if (*id == sessionID) return path;
            break;
        }
    }
    return std::nullopt;
}

bool hasConversation(QStringView line) {
    line = line.trimmed();
    if (!line.contains(QLatin1StringView("\"type\""))) return false;
    const auto record = ObserveJson::parseLine(line);
    if (!record) return false;
    const QJsonValue type = record->value(QLatin1StringView("type"));
    if (!type.isString()) return false;
    const QString text = type.toString();
    return text == QLatin1StringView("user") || text == QLatin1StringView("assistant");
}

bool hasConversationInTranscript(const QString& path) {
    const auto text = transcriptHead(path);
    if (!text) return false;
    for (const QStringView line : QStringView(*text).split(QLatin1Char('\n'))) {
        if (hasConversation(line)) return true;
    }
    return false;
}

}  // namespace ClaudeTranscriptLocator
