#include "core/NotificationCenter.h"
#include "core/SerialQueue.h"

#include "support/TestSupport.h"

#include <QObject>
#include <gtest/gtest.h>

TEST(NotificationCenter, FiltersByNameAndSender) {
    QObject managerA, managerB;
    auto context = std::make_unique<QObject>();
    QStringList seen;
    auto& nc = NotificationCenter::shared();
    nc.observe("A", context.get(), [&](const Notification& n) { seen << "any:" + n.name; });
    nc.observe("A", context.get(), [&](const Notification& n) {
        seen << "fromA:" + n.userInfo.value("k").toString();
    }, &managerA);

    nc.post("A", &managerA, {{"k", "1"}});
    nc.post("A", &managerB, {{"k", "2"}});
    nc.post("B", &managerA);
    EXPECT_EQ(seen, (QStringList{"any:A", "fromA:1", "any:A"}));

    context.reset();  // the observation ends with its context
    seen.clear();
    nc.post("A", &managerA);
    EXPECT_TRUE(seen.isEmpty());
}

TEST(NotificationCenter, PostFromAnotherThreadArrivesOnMain) {
    QObject context;
    bool onMain = false;
    bool got = false;
    NotificationCenter::shared().observe("FromWorker", &context, [&](const Notification&) {
        got = true;
        onMain = QThread::currentThread() == qApp->thread();
    });
    SerialQueue q("poster");
    q.async([] { NotificationCenter::shared().post("FromWorker"); });
    ASSERT_TRUE(waitUntil([&] { return got; }));
    EXPECT_TRUE(onMain);
}
