#include "core/NotificationCenter.h"

#include "core/MainThread.h"

#include <QCoreApplication>
#include <QThread>

NotificationCenter& NotificationCenter::shared() {
    static NotificationCenter* centre = new NotificationCenter;
    return *centre;
}

void NotificationCenter::post(const char* name, QObject* object, const QVariantMap& userInfo) {
    Notification n{QString::fromLatin1(name), object, userInfo};
    if (QCoreApplication::instance() && !isMainThread()) {
        runOnMain([n] { Q_EMIT NotificationCenter::shared().posted(n); });
        return;
    }
    Q_EMIT posted(n);
}

QMetaObject::Connection NotificationCenter::observe(const char* name, QObject* context,
                                                    std::function<void(const Notification&)> handler,
                                                    QObject* sender) {
    const QString wanted = QString::fromLatin1(name ? name : "");
    QPointer<QObject> senderGuard(sender);
    const bool filterSender = sender != nullptr;
    return connect(this, &NotificationCenter::posted, context,
                   [wanted, handler = std::move(handler), senderGuard, filterSender](const Notification& n) {
                       if (!wanted.isEmpty() && n.name != wanted) return;
                       if (filterSender && (senderGuard.isNull() || n.object.data() != senderGuard.data())) return;
                       handler(n);
                   });
}
