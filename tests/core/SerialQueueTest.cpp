#include "core/MainThread.h"
#include "core/SerialQueue.h"

#include "support/TestSupport.h"

#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

TEST(SerialQueue, RunsInOrderOnItsOwnNamedThread) {
    SerialQueue q("com.varnix.test-queue");
    std::vector<int> order;
    std::mutex m;
    QThread* seen = nullptr;
    for (int i = 0; i < 100; ++i) q.async([&, i] {
        std::lock_guard l(m);
        order.push_back(i);
        seen = QThread::currentThread();
    });
    bool onQueue = false;
    q.sync([&] { onQueue = q.isCurrent(); });
    EXPECT_TRUE(onQueue);
    EXPECT_FALSE(q.isCurrent());
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[size_t(i)], i);
    EXPECT_NE(seen, QThread::currentThread());
    EXPECT_EQ(seen->objectName(), "com.varnix.test-queue");
}

TEST(SerialQueue, AfterAndRepeatingTimersFireOnTheQueue) {
    SerialQueue q("timers");
    std::atomic<int> ticks{0};
    std::atomic<bool> fired{false}, firedOnQueue{false};
    q.after(20, [&] { fired = true; firedOnQueue = q.isCurrent(); });
    auto timer = q.repeating(5, [&] { ++ticks; });
    ASSERT_TRUE(waitUntil([&] { return fired.load() && ticks.load() >= 3; }));
    EXPECT_TRUE(firedOnQueue);
    timer->stop();
    q.sync([] {});
    const int after = ticks;
    QThread::msleep(30);
    q.sync([] {});
    EXPECT_EQ(ticks.load(), after);
}

TEST(SerialQueue, DestructionFinishesQueuedWork) {
    std::atomic<int> done{0};
    {
        SerialQueue q("drain");
        for (int i = 0; i < 10; ++i) q.async([&] { QThread::msleep(1); ++done; });
    }
    EXPECT_EQ(done.load(), 10);
}

TEST(MainThread, HopsFromAWorker) {
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> syncRanOnMain{false};
    SerialQueue q("hop");
    q.async([&] {
        runOnMain([&] { ranOnMain = isMainThread(); });
    });
    ASSERT_TRUE(waitUntil([&] { return ranOnMain.load(); }));
    // The blocking variant: the main loop must be running to serve it.
    q.async([&] { runOnMainSync([&] { syncRanOnMain = isMainThread(); }); });
    ASSERT_TRUE(waitUntil([&] { return syncRanOnMain.load(); }));
    bool direct = false;
    runOnMainSync([&] { direct = true; });
    EXPECT_TRUE(direct);
}
