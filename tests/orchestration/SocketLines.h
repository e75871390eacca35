#pragma once

// Small blocking socket helpers for the control-socket and bridge tests.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace testsock {

inline int connectTo(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(path);
    std::memcpy(addr.sun_path, native.constData(), std::min<size_t>(size_t(native.size()), sizeof addr.sun_path - 1));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline bool sendAll(int fd, const QByteArray& bytes) {
    qsizetype off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + off, size_t(bytes.size() - off), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        off += n;
    }
    return true;
}

inline QByteArray line(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// Reads newline-terminated lines from one descriptor, keeping what follows for the next call.
class LineReader {
public:
    explicit LineReader(int fd) : fd_(fd) {}

    // Up to `count` lines, waiting at most `timeoutMs` in all; fewer when the peer closes or time runs out.
    QList<QByteArray> read(int count, int timeoutMs = 30000) {
        QList<QByteArray> lines;
        QDeadlineTimer deadline(timeoutMs);
        while (lines.size() < count) {
            const qsizetype nl = buffer_.indexOf('\n');
            if (nl >= 0) {
                lines.append(buffer_.left(nl));
                buffer_.remove(0, nl + 1);
                continue;
            }
            if (eof_ || !fill(int(deadline.remainingTime()))) break;
        }
        return lines;
    }

    QJsonObject readObject(int timeoutMs = 30000) {
        const QList<QByteArray> l = read(1, timeoutMs);
        return l.isEmpty() ? QJsonObject() : QJsonDocument::fromJson(l.first()).object();
    }

    // True when the peer closes within the time; everything received until then is in rest().
    bool waitForEof(int timeoutMs = 30000) {
        QDeadlineTimer deadline(timeoutMs);
        while (!eof_)
            if (!fill(int(deadline.remainingTime()))) return eof_;
        return true;
    }

    // Whether anything arrives within `ms` (a negative check: it can only miss, never lie).
    bool quietFor(int ms) { return buffer_.isEmpty() && !fill(ms) && buffer_.isEmpty(); }

    const QByteArray& rest() const { return buffer_; }

private:
    bool fill(int timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, std::max(0, timeoutMs));
        if (r <= 0) return false;
        char chunk[65536];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            eof_ = true;
            return false;
        }
        buffer_.append(chunk, n);
        return true;
    }

    int fd_;
    QByteArray buffer_;
    bool eof_ = false;
};

}  // namespace testsock
