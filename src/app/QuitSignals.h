#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP (logout, kill, Ctrl+C in the starting terminal) quit through the
// application's normal quit path, so everything that runs on quit still runs. A self-pipe
// carries the signal from the handler to the event loop.
class QuitSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;
Q_SIGNALS:
    void quitRequested(int signalNumber);
private:
    QSocketNotifier* notifier_ = nullptr;
};
