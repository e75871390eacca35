#pragma once

#include "orchestration/OrchestrationServer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>

#include <condition_variable>
#include <mutex>

namespace bridgetest {

// Collects the frames a runner writes, from whatever thread writes them.
class Frames {
public:
    std::function<void(const QByteArray&)> sink() {
        return [this](const QByteArray& frame) {
            std::lock_guard l(m_);
            raw_.append(frame);
        };
    }
    QList<QJsonObject> objects() const {
        std::lock_guard l(m_);
        QList<QJsonObject> out;
        for (const QByteArray& f : raw_) out.append(QJsonDocument::fromJson(f).object());
        return out;
    }
    QList<QByteArray> raw() const {
        std::lock_guard l(m_);
        return raw_;
    }
    bool waitForCount(int n, int ms = 30000) const {
        QDeadlineTimer deadline(ms);
        for (;;) {
            {
                std::lock_guard l(m_);
                if (raw_.size() >= n) return true;
            }
            if (deadline.hasExpired()) return false;
            QThread::msleep(2);
        }
    }
private:
    mutable std::mutex m_;
    QList<QByteArray> raw_;
};

// The text and error flag of a tools/call result.
struct ToolText {
    QString text;
    bool isError = false;
};
inline ToolText toolText(const QJsonObject& frame) {
    const QJsonObject result = frame.value("result").toObject();
    return {result.value("content").toArray().at(0).toObject().value("text").toString(),
            result.value("isError").toBool()};
}

// A control server that names itself in every answer and keeps what reached it.
class NamedServer {
public:
    NamedServer(QString name, QString token)
        : name_(std::move(name)),
          server_(std::move(token), [this](const QString& session, const QString& tool, const QJsonObject& args) {
              {
                  std::lock_guard l(m_);
                  lastSession_ = session;
                  lastTool_ = tool;
                  lastArgs_ = args;
                  ++calls_;
              }
              return QJsonObject{{"ok", true}, {"result", QJsonObject{{"server", name_}}}};
          }) {}
    void start(const QString& path) { server_.start(path); }
    void stop() { server_.stop(); }
    QString path() const { return server_.socketPath(); }
    int calls() const {
        std::lock_guard l(m_);
        return calls_;
    }
    QString lastSession() const {
        std::lock_guard l(m_);
        return lastSession_;
    }
    QString lastTool() const {
        std::lock_guard l(m_);
        return lastTool_;
    }
    QJsonObject lastArgs() const {
        std::lock_guard l(m_);
        return lastArgs_;
    }
private:
    QString name_;
    mutable std::mutex m_;
    QString lastSession_, lastTool_;
    QJsonObject lastArgs_;
    int calls_ = 0;
    OrchestrationServer server_;  // last: destroyed first, while the fields above still exist
};

// Sets a file's modification time to `secondsAgo` before now.
inline bool age(const QString& path, int secondsAgo) {
    timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= secondsAgo;
    times[1] = times[0];
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

// A one-shot latch with a generous timeout.
class Gate {
public:
    void open() {
        std::lock_guard l(m_);
        open_ = true;
        cv_.notify_all();
    }
    bool wait(int ms = 60000) {
        std::unique_lock l(m_);
        return cv_.wait_for(l, std::chrono::milliseconds(ms), [this] { return open_; });
    }
private:
    std::mutex m_;
    std::condition_variable cv_;
    bool open_ = false;
};

}  // namespace bridgetest
