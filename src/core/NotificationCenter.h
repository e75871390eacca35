#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>
#include <functional>

struct Notification {
    QString name;
    QPointer<QObject> object;  // the sender, e.g. the posting SessionManager; may be null
    QVariantMap userInfo;
};

// The process-wide named notification centre. Posts are delivered synchronously on the main
// thread; a post from another thread is forwarded there.
class NotificationCenter : public QObject {
    Q_OBJECT
public:
    static NotificationCenter& shared();

    void post(const char* name, QObject* object = nullptr, const QVariantMap& userInfo = {});

    // Observes notifications called `name` (every name when empty). With `sender` set, only
    // those whose object is `sender`. The observation ends when `context` is destroyed.
    QMetaObject::Connection observe(const char* name, QObject* context,
                                    std::function<void(const Notification&)> handler,
                                    QObject* sender = nullptr);

Q_SIGNALS:
    void posted(const Notification& notification);

private:
    NotificationCenter() = default;
};
