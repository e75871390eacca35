#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QThread;
class QTimer;

// A named serial work queue: one thread with its own event loop. Work submitted with async()
// runs in order on that thread; timers made with after()/repeating() live there too.
// The thread's name is the queue's label (cut to 15 bytes, the kernel's limit).
class SerialQueue {
public:
    explicit SerialQueue(const QString& label);
    ~SerialQueue();  // finishes queued work, then stops the thread
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const QString& label() const { return label_; }

    void async(std::function<void()> fn);
    // Runs fn on the queue and waits for it; runs directly when already on the queue.
    void sync(const std::function<void()>& fn);
    // One-shot after a delay.
    void after(int ms, std::function<void()> fn);
    // A repeating timer on the queue's thread; stopping or destroying the handle stops it.
    class Timer {
    public:
        ~Timer();
        void stop();
    private:
        friend class SerialQueue;
        SerialQueue* queue_ = nullptr;
        QTimer* timer_ = nullptr;
    };
    std::unique_ptr<Timer> repeating(int intervalMs, std::function<void()> fn);

    bool isCurrent() const;
    // The object that lives on the queue's thread: parent or context for queue-owned QObjects.
    QObject* context() const { return context_; }

    // A process-wide queue per label (the named queues of the application).
    static SerialQueue& named(const QString& label);

private:
    QString label_;
    QThread* thread_ = nullptr;
    QObject* context_ = nullptr;
};
