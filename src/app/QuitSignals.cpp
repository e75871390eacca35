#include "app/QuitSignals.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
int pipeFds[2] = {-1, -1};

void onSignal(int sig) {
    const unsigned char byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] ssize_t n = ::write(pipeFds[1], &byte, 1);
}
}  // namespace

QuitSignals::QuitSignals(QObject* parent) : QObject(parent) {
    if (pipeFds[0] < 0 && ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        int last = 0;
        while (::read(pipeFds[0], &byte, 1) == 1) last = byte;
        if (last) Q_EMIT quitRequested(last);
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
}

QuitSignals::~QuitSignals() {
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
}
