#include "observe/RepeatingTimer.h"

#include <QTimer>

RepeatingTimer::RepeatingTimer(int intervalMs, std::function<void()> onTick) : timer_(new QTimer) {
    timer_->setInterval(intervalMs);
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_, &QTimer::timeout, timer_, std::move(onTick));
    timer_->start();
}

RepeatingTimer::~RepeatingTimer() {
    timer_->stop();
    QObject::disconnect(timer_, nullptr, nullptr, nullptr);
    timer_->deleteLater();
}
