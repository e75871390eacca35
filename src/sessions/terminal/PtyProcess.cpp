#include "sessions/terminal/PtyProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QProcessEnvironment>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

int openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    return int(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

void closeFrom(int lowest) {
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, unsigned(lowest), ~0u, 0u) == 0) return;
#endif
    const long max = ::sysconf(_SC_OPEN_MAX);
    for (long fd = lowest; fd < (max > 0 ? max : 1024); ++fd) ::close(int(fd));
}

QString findExecutable(const QString& program, const QStringList& environment) {
    if (program.contains(QLatin1Char('/'))) return program;
    QString path;
    for (const QString& entry : environment)
        if (entry.startsWith(QLatin1String("PATH="))) path = entry.mid(5);
    if (path.isEmpty()) path = QProcessEnvironment::systemEnvironment().value(QStringLiteral("PATH"));
    if (path.isEmpty()) path = QStringLiteral("/usr/local/bin:/usr/bin:/bin");
    for (const QString& dir : path.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QString candidate = dir + QLatin1Char('/') + program;
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable()) return candidate;
    }
    return {};
}

winsize toWinsize(const PtyProcess::Size& s) {
    winsize ws{};
    ws.ws_col = static_cast<unsigned short>(std::max(1, s.columns));
    ws.ws_row = static_cast<unsigned short>(std::max(1, s.rows));
    ws.ws_xpixel = static_cast<unsigned short>(std::max(0, s.pixelWidth));
    ws.ws_ypixel = static_cast<unsigned short>(std::max(0, s.pixelHeight));
    return ws;
}

// A child whose owner went away is reaped by a small thread of its own.
void reapInBackground(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    }).detach();
}

}  // namespace

PtyProcess::PtyProcess(QObject* parent) : QObject(parent) {}

PtyProcess::~PtyProcess() {
    onData = nullptr;
    onFinished = nullptr;
    if (isRunning()) {
        ::kill(-pid_, SIGHUP);
        closeMaster();
        reapInBackground(pid_);
    } else {
        closeMaster();
    }
    if (pidfd_ >= 0) ::close(pidfd_);
}

bool PtyProcess::start(const QString& program, const QStringList& arguments, const QStringList& environment,
                       const QString& workingDirectory, Size size) {
    if (pid_ > 0) {
        error_ = QStringLiteral("a child process was already started");
        return false;
    }
    QStringList env = environment;
    if (env.isEmpty()) {
        // This process's TERM names the terminal it was started from, not this one.
        QProcessEnvironment inherited = QProcessEnvironment::systemEnvironment();
        inherited.remove(QStringLiteral("TERM"));
        inherited.remove(QStringLiteral("COLORTERM"));
        env = inherited.toStringList();
    }
    auto hasVar = [&env](QLatin1String name) {
        for (const QString& e : env)
            if (e.startsWith(name) && e.size() > name.size() && e.at(name.size()) == QLatin1Char('=')) return true;
        return false;
    };
    if (!hasVar(QLatin1String("TERM"))) {
        env << QStringLiteral("TERM=xterm-256color");
        if (!hasVar(QLatin1String("COLORTERM"))) env << QStringLiteral("COLORTERM=truecolor");
    }

    const QString path = findExecutable(program, env);
    if (path.isEmpty()) {
        error_ = QStringLiteral("%1: command not found").arg(program);
        return false;
    }

    // Everything the child needs is prepared before fork: after it only async-signal-safe calls.
    const QByteArray pathBytes = QFile::encodeName(path);
    std::vector<QByteArray> argStore;
    argStore.push_back(QFile::encodeName(program));
    for (const QString& a : arguments) argStore.push_back(a.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<QByteArray> envStore;
    for (const QString& e : env) envStore.push_back(e.toUtf8());
    std::vector<char*> envp;
    for (QByteArray& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);
    const QByteArray cwd = QFile::encodeName(workingDirectory);
    const QByteArray execFailure = "varnix: cannot run " + pathBytes + ": ";

    // The pair is opened close-on-exec so no other child started meanwhile inherits it.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        error_ = QStringLiteral("cannot open a pseudo-terminal: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        if (master >= 0) ::close(master);
        return false;
    }
    char slaveName[128];
    if (::ptsname_r(master, slaveName, sizeof slaveName) != 0) {
        error_ = QStringLiteral("cannot name the pseudo-terminal");
        ::close(master);
        return false;
    }
    const int slave = ::open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        error_ = QStringLiteral("cannot open %1: %2").arg(QString::fromLocal8Bit(slaveName),
                                                          QString::fromLocal8Bit(std::strerror(errno)));
        ::close(master);
        return false;
    }
    termios tio{};
    if (::tcgetattr(slave, &tio) == 0) {
        tio.c_iflag |= IUTF8;  // line editing erases whole UTF-8 characters
        tio.c_cc[VERASE] = 0x7F;
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    const winsize ws = toWinsize(size);
    ::ioctl(master, TIOCSWINSZ, &ws);

    const pid_t pid = ::fork();
    if (pid < 0) {
        error_ = QStringLiteral("cannot fork: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(slave);
        ::close(master);
        return false;
    }
    if (pid == 0) {
        ::setsid();
        ::ioctl(slave, TIOCSCTTY, 0);
        for (int fd = 0; fd < 3; ++fd) {
            if (slave == fd) ::fcntl(fd, F_SETFD, 0);
            else ::dup2(slave, fd);
        }
        // The parent ignores SIGPIPE and may block signals in its threads; the child starts clean.
        struct sigaction dfl{};
        dfl.sa_handler = SIG_DFL;
        for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &dfl, nullptr);
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        closeFrom(3);
        if (!cwd.isEmpty() && ::chdir(cwd.constData()) != 0) {
            // A directory that is gone is not fatal: the child starts where this process is.
        }
        ::execve(pathBytes.constData(), argv.data(), envp.data());
        const int err = errno;
        const char* reason = ::strerrordesc_np(err);
        [[maybe_unused]] ssize_t w = ::write(2, execFailure.constData(), size_t(execFailure.size()));
        if (reason) w = ::write(2, reason, std::strlen(reason));
        w = ::write(2, "\r\n", 2);
        ::_exit(err == ENOENT ? 127 : 126);
    }

    ::close(slave);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    master_ = master;
    pid_ = pid;
    reaped_ = false;
    error_.clear();
    buffer_.resize(64 * 1024);

    readNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, [this] { readAvailable(false); });
    writeNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Write, this);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_, &QSocketNotifier::activated, this, [this] { flushPending(); });

    pidfd_ = openPidfd(pid_);
    if (pidfd_ >= 0) {
        ::fcntl(pidfd_, F_SETFD, FD_CLOEXEC);
        exitNotifier_ = new QSocketNotifier(pidfd_, QSocketNotifier::Read, this);
        connect(exitNotifier_, &QSocketNotifier::activated, this, [this] { checkExited(); });
    } else {
        exitPoll_ = new QTimer(this);
        exitPoll_->setInterval(50);
        connect(exitPoll_, &QTimer::timeout, this, [this] { checkExited(); });
        exitPoll_->start();
    }
    return true;
}

void PtyProcess::setWindowSize(Size size) {
    if (master_ < 0) return;
    const winsize ws = toWinsize(size);
    ::ioctl(master_, TIOCSWINSZ, &ws);
}

void PtyProcess::write(const char* data, size_t size) {
    if (master_ < 0 || size == 0) return;
    if (!pending_.isEmpty()) {
        pending_.append(data, qsizetype(size));
        return;
    }
    while (size > 0) {
        const ssize_t n = ::write(master_, data, size);
        if (n > 0) {
            data += n;
            size -= size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            pending_.append(data, qsizetype(size));
            writeNotifier_->setEnabled(true);
            return;
        } else {
            return;  // the terminal is gone; what was typed is dropped
        }
    }
}

void PtyProcess::flushPending() {
    while (!pending_.isEmpty() && master_ >= 0) {
        const ssize_t n = ::write(master_, pending_.constData(), size_t(pending_.size()));
        if (n > 0) {
            pending_.remove(0, n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            return;
        } else {
            pending_.clear();
        }
    }
    if (writeNotifier_) writeNotifier_->setEnabled(false);
}

void PtyProcess::readAvailable(bool drain) {
    if (master_ < 0) return;
    QPointer<PtyProcess> self(this);
    QElapsedTimer clock;
    clock.start();
    qint64 total = 0;
    for (;;) {
        const ssize_t n = ::read(master_, buffer_.data(), size_t(buffer_.size()));
        if (n > 0) {
            total += n;
            if (onData) onData(buffer_.constData(), size_t(n));
            if (!self || master_ < 0) return;
            if (!drain && (total >= kBatchBytes || clock.elapsed() >= kBatchMillis)) return;
            if (drain && total >= 16 * kBatchBytes) return;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return;
        // EIO: every holder of the terminal's other end has closed it.
        if (readNotifier_) readNotifier_->setEnabled(false);
        return;
    }
}

void PtyProcess::checkExited() {
    if (pid_ <= 0 || reaped_) return;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid_, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return;
    reaped_ = true;
    if (exitNotifier_) exitNotifier_->setEnabled(false);
    if (exitPoll_) exitPoll_->stop();
    if (r < 0) status = 0;  // someone else reaped it; nothing better to report
    // What the child wrote before it ended is shown before its end is reported.
    readAvailable(true);
    if (onFinished) onFinished(status);
}

void PtyProcess::terminate() {
    if (pid_ <= 0) return;
    if (!reaped_ && ::kill(-pid_, SIGHUP) != 0) ::kill(pid_, SIGHUP);
    closeMaster();
}

void PtyProcess::closeMaster() {
    delete readNotifier_;
    readNotifier_ = nullptr;
    delete writeNotifier_;
    writeNotifier_ = nullptr;
    pending_.clear();
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}
