#pragma once

#include <functional>

class QTimer;

// A repeating timer on the creating thread's event loop (a serial queue's thread). Destroying it
// cancels it, also from inside its own handler: the timer object goes later, on its thread.
class RepeatingTimer {
public:
    RepeatingTimer(int intervalMs, std::function<void()> onTick);
    ~RepeatingTimer();
    RepeatingTimer(const RepeatingTimer&) = delete;
    RepeatingTimer& operator=(const RepeatingTimer&) = delete;

private:
    QTimer* timer_;
};
