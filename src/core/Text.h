#pragma once

#include <QByteArray>
#include <QString>
#include <QUuid>
#include <optional>

// Wraps a value in single quotes for a POSIX shell, each ' written as '\''.
QString shellQuote(const QString& value);

// Upper-case UUID text without braces, the form every file and wire format uses.
QString uuidText(const QUuid& uuid);

// Strict UTF-8: nothing when the bytes are not valid UTF-8 (fromUtf8 would replace silently).
std::optional<QString> decodeUtf8Strict(const QByteArray& bytes);

// The path's extension by the usual rule: text after the last dot of the last component,
// where a leading dot does not start one (".env" has none; "x.tar.gz" has "gz").
QString pathExtension(const QString& path);
