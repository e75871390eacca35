#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One application per user: a second launch asks the running one to "reopen" (the same rule
// as clicking the application's icon) and exits.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QString socketPath, QObject* parent = nullptr);

    // True when another instance answered and took the request.
    bool forwardToRunningInstance();
    // Starts listening; false when the socket could not be bound.
    bool listen();

    static QString defaultSocketPath();

Q_SIGNALS:
    void reopenRequested();

private:
    QString path_;
    QLocalServer* server_ = nullptr;
};
