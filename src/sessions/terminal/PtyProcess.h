#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <sys/types.h>

class QSocketNotifier;
class QTimer;

// A child process on a pseudo-terminal. Output is read on the thread that owns the object
// (the main thread) in bounded batches, so a flooding child cannot starve the event loop.
// The child is reaped as soon as it exits; one left running when the object goes away is
// hung up and reaped in the background, so no zombie stays behind.
class PtyProcess : public QObject {
    Q_OBJECT
public:
    explicit PtyProcess(QObject* parent = nullptr);
    ~PtyProcess() override;

    struct Size {
        int columns = 80;
        int rows = 24;
        int pixelWidth = 0;
        int pixelHeight = 0;
    };

    // Starts `program` (searched in the PATH of `environment` when it has no slash) with
    // `arguments` and `environment` ("NAME=value" entries; empty means this process's, less its
    // TERM). TERM=xterm-256color and COLORTERM=truecolor are added when TERM is missing.
    // False with errorString() set when it could not be started.
    bool start(const QString& program, const QStringList& arguments, const QStringList& environment,
               const QString& workingDirectory, Size size);
    QString errorString() const { return error_; }

    void setWindowSize(Size size);
    // Queues what the child's input cannot take yet; never blocks.
    void write(const char* data, size_t size);

    // Hangs up the child's process group (SIGHUP) and closes the terminal. The exit is still
    // reported through onFinished once the child is reaped.
    void terminate();

    bool isRunning() const { return pid_ > 0 && !reaped_; }
    pid_t pid() const { return pid_; }
    int masterFd() const { return master_; }

    // Each chunk read from the child, in order.
    std::function<void(const char* data, size_t size)> onData;
    // The child's raw wait status, after the output it left has been read.
    std::function<void(int status)> onFinished;

    // Upper bounds of one read batch before control returns to the event loop.
    static constexpr qint64 kBatchBytes = 1 << 20;
    static constexpr int kBatchMillis = 5;

private:
    void readAvailable(bool drain);
    void flushPending();
    void checkExited();
    void closeMaster();

    int master_ = -1;
    pid_t pid_ = -1;
    int pidfd_ = -1;
    bool reaped_ = false;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
    QSocketNotifier* exitNotifier_ = nullptr;
    QTimer* exitPoll_ = nullptr;
    QByteArray pending_;
    QByteArray buffer_;
    QString error_;
};
