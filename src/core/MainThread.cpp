#include "core/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QThreadPool>

void runOnMain(std::function<void()> fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void runOnMainSync(const std::function<void()>& fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    if (QThread::currentThread() == app->thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(app, fn, Qt::BlockingQueuedConnection);
}

bool isMainThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

namespace Pools {
namespace {
QThreadPool* makePool() {
    auto* pool = new QThreadPool;
    pool->setMaxThreadCount(8);
    return pool;
}
}  // namespace
QThreadPool* utility() {
    static QThreadPool* pool = makePool();
    return pool;
}
QThreadPool* userInitiated() {
    static QThreadPool* pool = makePool();
    return pool;
}
}  // namespace Pools
