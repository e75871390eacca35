#include "observe/JSONLTailer.h"

#include "core/Log.h"
#include "observe/FileEventSource.h"
#include "observe/RepeatingTimer.h"

#include <QStringDecoder>

#include <cstring>

namespace {

bool isTrimmable(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

JSONLTailer::JSONLTailer(QString path, SerialQueue& queue, LinesHandler onLines)
    : JSONLTailer(std::move(path), queue, std::move(onLines), Options{}) {}

JSONLTailer::JSONLTailer(QString path, SerialQueue& queue, LinesHandler onLines, Options options)
    : path_(std::move(path)), queue_(queue), onLines_(std::move(onLines)), options_(options) {}

JSONLTailer::~JSONLTailer() { stop(); }

void JSONLTailer::start() {
    Q_ASSERT(queue_.isCurrent());
    if (file_) return;
    auto file = std::make_unique<QFile>(path_);
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) return;
    file_ = std::move(file);
    drain();
    if (!file_) return;  // stopped by the handler
    if (options_.fileEvents) {
        auto source = std::make_unique<FileEventSource>(path_, [this] { drain(); });
        if (source->isValid()) source_ = std::move(source);
    }
    pollTimer_ = std::make_unique<RepeatingTimer>(options_.pollIntervalMs, [this] { drain(); });
}

void JSONLTailer::stop() {
    source_.reset();
    pollTimer_.reset();
    file_.reset();
    carry_.clear();
    carry_.squeeze();
    skippingLongLine_ = false;
}

void JSONLTailer::drain() {
    // An event and the poll can coincide with a handler that drains again; one drain at a time.
    if (!file_ || draining_) return;
    draining_ = true;
    if (!file_->seek(qint64(offset_))) {
        draining_ = false;
        return;
    }
    QByteArray block;
    for (;;) {
        const qint64 available = file_->size() - qint64(offset_);
        if (available <= 0) break;
        block.resize(qsizetype(qMin(available, options_.readBlockBytes)));
        const qint64 n = file_->read(block.data(), block.size());
        if (n <= 0) break;
        offset_ += quint64(n);
        QStringList lines;
        consumeBlock(block.constData(), qsizetype(n), lines);
        if (!lines.isEmpty()) onLines_(lines);
        if (!file_) break;  // stopped by the handler
    }
    draining_ = false;
}

void JSONLTailer::consumeBlock(const char* data, qsizetype size, QStringList& lines) {
    const char* p = data;
    const char* end = data + size;
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(size)));
    if (!nl) {
        appendCarry(p, size);
        return;
    }
    // The first line may continue what the last read left over.
    if (skippingLongLine_) {
        skippingLongLine_ = false;
    } else if (!carry_.isEmpty()) {
        carry_.append(p, nl - p);
        takeLine(carry_.constData(), carry_.size(), lines);
        carry_.clear();
        // A carry that grew large is not kept around.
        if (carry_.capacity() > (1 << 20)) carry_.squeeze();
    } else {
        takeLine(p, nl - p, lines);
    }
    p = nl + 1;
    while (p < end && (nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p))))) {
        takeLine(p, nl - p, lines);
        p = nl + 1;
    }
    appendCarry(p, end - p);
}

void JSONLTailer::appendCarry(const char* data, qsizetype size) {
    if (size <= 0 || skippingLongLine_) return;
    if (carry_.size() + size > options_.maxLineBytes) {
        SystemLog::write(u"JSONLTailer",
                         QStringLiteral("skipping a line longer than %1 bytes in %2")
                             .arg(options_.maxLineBytes)
                             .arg(path_));
        carry_.clear();
        carry_.squeeze();
        skippingLongLine_ = true;
        return;
    }
    carry_.append(data, size);
}

void JSONLTailer::takeLine(const char* data, qsizetype size, QStringList& lines) {
    while (size > 0 && isTrimmable(data[0])) {
        ++data;
        --size;
    }
    while (size > 0 && isTrimmable(data[size - 1])) --size;
    if (size == 0) return;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString line = decoder.decode(QByteArrayView(data, size));
    if (decoder.hasError()) return;
    // Unicode white space around the line goes too.
    line = line.trimmed();
    if (!line.isEmpty()) lines.append(line);
}
