#pragma once

#include "core/SerialQueue.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class FileEventSource;
class RepeatingTimer;

// Follows a growing JSON-lines file: everything already in it first, then every appended
// complete line, found by a file-change event or by the periodic poll that covers missed events.
// Lines are delivered trimmed, non-empty and valid UTF-8 (others are skipped), in file order.
// A file truncated or replaced below the read offset yields nothing further.
//
// Confined to its queue: construct, start, stop and destroy it there; onLines runs there too.
class JSONLTailer {
public:
    using LinesHandler = std::function<void(const QStringList& lines)>;

    struct Options {
        int pollIntervalMs = 5000;
        bool fileEvents = true;
        // A drain reads and delivers at most this much per batch, so memory stays bounded
        // however large the unread part of the file is.
        qint64 readBlockBytes = 4 << 20;
        // A line growing past this without its line feed is dropped up to its line feed.
        qint64 maxLineBytes = 64 << 20;
    };

    JSONLTailer(QString path, SerialQueue& queue, LinesHandler onLines);
    JSONLTailer(QString path, SerialQueue& queue, LinesHandler onLines, Options options);
    ~JSONLTailer();
    JSONLTailer(const JSONLTailer&) = delete;
    JSONLTailer& operator=(const JSONLTailer&) = delete;

    // Opens the file and delivers what it holds; a file that cannot be opened is left alone
    // (no retry). Does nothing while a file is open.
    void start();
    // Ends events and polling and closes the file; the offset is kept.
    void stop();
    // Reads the unread tail now.
    void drain();

    const QString& path() const { return path_; }
    quint64 offset() const { return offset_; }
    bool isOpen() const { return file_ != nullptr; }
    qsizetype carrySize() const { return carry_.size(); }

private:
    void consumeBlock(const char* data, qsizetype size, QStringList& lines);
    void appendCarry(const char* data, qsizetype size);
    void takeLine(const char* data, qsizetype size, QStringList& lines);

    QString path_;
    SerialQueue& queue_;
    LinesHandler onLines_;
    Options options_;
    std::unique_ptr<QFile> file_;
    std::unique_ptr<FileEventSource> source_;
    std::unique_ptr<RepeatingTimer> pollTimer_;
    quint64 offset_ = 0;
    QByteArray carry_;
    bool skippingLongLine_ = false;
    bool draining_ = false;
};
