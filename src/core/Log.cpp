#include "core/Log.h"

#include <syslog.h>

#include <QByteArray>
#include <cstdio>
#include <mutex>

namespace {

std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}

SystemLog::Sink& sinkSlot() {
    static SystemLog::Sink s;
    return s;
}

void toSystemLog(const QByteArray& line) {
    static std::once_flag opened;
    std::call_once(opened, [] { openlog("varnix", LOG_PID, LOG_USER); });
    syslog(LOG_USER | LOG_INFO, "%s", line.constData());
}

void toStderr(const QByteArray& line) {
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

}  // namespace

namespace SystemLog {

void write(QStringView tag, const QString& message) {
    const QString line = QStringLiteral("[") + tag.toString() + QStringLiteral("] ") + message;
    {
        std::lock_guard lock(sinkMutex());
        if (auto& sink = sinkSlot()) {
            sink(line);
            return;
        }
    }
    const QByteArray utf8 = line.toUtf8();
    toSystemLog(utf8);
    toStderr(utf8);
}

Sink setSink(Sink sink) {
    std::lock_guard lock(sinkMutex());
    Sink previous = std::move(sinkSlot());
    sinkSlot() = std::move(sink);
    return previous;
}

void installQtMessageHandler() {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& msg) {
        toStderr(QByteArrayLiteral("[Qt] ") + msg.toUtf8());
    });
}

}  // namespace SystemLog
