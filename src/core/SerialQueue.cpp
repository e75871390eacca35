#include "core/SerialQueue.h"

#include <QHash>
#include <QMetaObject>
#include <QMutex>
#include <QThread>
#include <QTimer>

#include <pthread.h>

namespace {

class QueueThread : public QThread {
public:
    explicit QueueThread(QString label) : label_(std::move(label)) {}
protected:
    void run() override {
        pthread_setname_np(pthread_self(), label_.toUtf8().left(15).constData());
        exec();
    }
private:
    QString label_;
};

}  // namespace

SerialQueue::SerialQueue(const QString& label) : label_(label) {
    thread_ = new QueueThread(label);
    thread_->setObjectName(label);
    context_ = new QObject;
    context_->moveToThread(thread_);
    thread_->start();
}

SerialQueue::~SerialQueue() {
    // Queued work still runs: quit is queued behind it.
    QObject* ctx = context_;
    QThread* th = thread_;
    QMetaObject::invokeMethod(ctx, [ctx, th] {
        delete ctx;
        th->quit();
    }, Qt::QueuedConnection);
    if (QThread::currentThread() != th) th->wait();
    delete th;
}

void SerialQueue::async(std::function<void()> fn) {
    QMetaObject::invokeMethod(context_, std::move(fn), Qt::QueuedConnection);
}

void SerialQueue::sync(const std::function<void()>& fn) {
    if (isCurrent()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(context_, fn, Qt::BlockingQueuedConnection);
}

void SerialQueue::after(int ms, std::function<void()> fn) {
    async([this, ms, fn = std::move(fn)]() mutable { QTimer::singleShot(ms, context_, std::move(fn)); });
}

SerialQueue::Timer::~Timer() { stop(); }

void SerialQueue::Timer::stop() {
    if (!timer_) return;
    QTimer* t = timer_;
    timer_ = nullptr;
    if (queue_->isCurrent()) {
        delete t;
    } else {
        queue_->sync([t] { delete t; });
    }
}

std::unique_ptr<SerialQueue::Timer> SerialQueue::repeating(int intervalMs, std::function<void()> fn) {
    auto handle = std::make_unique<Timer>();
    handle->queue_ = this;
    sync([&] {
        auto* t = new QTimer(context_);
        t->setInterval(intervalMs);
        QObject::connect(t, &QTimer::timeout, t, std::move(fn));
        t->start();
        handle->timer_ = t;
    });
    return handle;
}

bool SerialQueue::isCurrent() const { return QThread::currentThread() == thread_; }

SerialQueue& SerialQueue::named(const QString& label) {
    // Never destroyed: queues may still run while static destructors go.
    static QMutex mutex;
    static auto* queues = new QHash<QString, SerialQueue*>;
    QMutexLocker lock(&mutex);
    auto it = queues->find(label);
    if (it == queues->end()) it = queues->insert(label, new SerialQueue(label));
    return **it;
}
