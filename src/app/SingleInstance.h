#pragma once

#include <QObject>
#include <QString>
#include <optional>

class QLocalServer;

// One application per user: a second launch asks the running one to "reopen" (the same rule
// as clicking the application's icon) and exits.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QString socketPath, QObject* parent = nullptr);

    // True when another instance answered and took the request: reopen, or open `project` in a
    // window of its own.
    bool forwardToRunningInstance(const std::optional<QString>& project = std::nullopt);
    // Starts listening; false when the socket could not be bound.
    bool listen();

    static QString defaultSocketPath();

Q_SIGNALS:
    void reopenRequested();
    void openRequested(const QString& project);

private:
    QString path_;
    QLocalServer* server_ = nullptr;
};
