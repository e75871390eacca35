#pragma once

#include <QString>
#include <functional>

class QSocketNotifier;

// Reports writes to one file (inotify IN_MODIFY). The watch follows the file's inode, like an
// event source on an open descriptor: a rename keeps it, a new file at the same path does not.
// Lives on the thread that creates it; the handler runs there.
class FileEventSource {
public:
    FileEventSource(const QString& path, std::function<void()> onChange);
    ~FileEventSource();
    FileEventSource(const FileEventSource&) = delete;
    FileEventSource& operator=(const FileEventSource&) = delete;

    bool isValid() const { return notifier_ != nullptr; }

private:
    void readEvents();

    int fd_ = -1;
    std::function<void()> onChange_;
    QSocketNotifier* notifier_ = nullptr;
};
