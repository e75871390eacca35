#include "observe/FileEventSource.h"

#include <QFile>
#include <QSocketNotifier>

#include <sys/inotify.h>
#include <unistd.h>

FileEventSource::FileEventSource(const QString& path, std::function<void()> onChange)
    : onChange_(std::move(onChange)) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) return;
    if (inotify_add_watch(fd_, QFile::encodeName(path).constData(), IN_MODIFY) < 0) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [this] { readEvents(); });
}

FileEventSource::~FileEventSource() {
    if (notifier_) {
        // May run inside the notifier's own signal: disable now, delete later on its thread.
        notifier_->setEnabled(false);
        QObject::disconnect(notifier_, nullptr, nullptr, nullptr);
        notifier_->deleteLater();
    }
    if (fd_ >= 0) ::close(fd_);
}

void FileEventSource::readEvents() {
    // Any number of queued events means one look at the file.
    char buffer[4096];
    bool any = false;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0) break;
        any = true;
    }
    if (any && onChange_) onChange_();
}
