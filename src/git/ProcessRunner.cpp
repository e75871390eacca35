#include "git/ProcessRunner.h"

#include "core/Text.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaObject>
#include <QPointer>
#include <QProcess>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <future>
#include <limits>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

struct ProcessRunner::ChildHandle::Control {
    std::atomic<qint64> pid{0};
    std::atomic<bool> terminateRequested{false};
    std::atomic<bool> ended{false};
};

qint64 ProcessRunner::ChildHandle::pid() const { return control_->pid.load(); }

void ProcessRunner::ChildHandle::terminate() {
    // The worker that owns the process sends the signal: only it knows whether the pid has been
    // reaped, so a recycled pid is never hit.
    if (!control_->ended.load()) control_->terminateRequested.store(true);
}

bool ProcessRunner::ChildHandle::hasEnded() const { return control_->ended.load(); }

namespace {

// Runs in the child between fork and exec: async-signal-safe calls only.
void prepareChild() {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sig != SIGKILL && sig != SIGSTOP) sigaction(sig, &dfl, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    setsid();
    // Close-on-exec rather than close: QProcess reports a failed exec through a pipe of its own.
    if (close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        rlimit lim{};
        int maxFd = 65536;
        if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY && lim.rlim_cur < 65536u)
            maxFd = int(lim.rlim_cur);
        for (int fd = 3; fd < maxFd; ++fd) {
            const int flags = fcntl(fd, F_GETFD);
            if (flags >= 0 && !(flags & FD_CLOEXEC)) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
        }
    }
}

void configure(QProcess& process, const QString& executable, const QStringList& arguments,
               const std::optional<QString>& directory, const std::optional<QProcessEnvironment>& environment) {
    process.setProgram(executable);
    process.setArguments(arguments);
    if (directory) process.setWorkingDirectory(*directory);
    if (environment) process.setProcessEnvironment(*environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setChildProcessModifier(prepareChild);
}

ProcessRunner::Result launchFailure(const QProcess& process) {
    ProcessRunner::Result r;
    r.stdErr = process.errorString();
    r.exitCode = -1;
    return r;
}

// The child leads its own session, so its pid names its process group too.
void signalChild(QProcess& process, int sig) {
    const qint64 pid = process.processId();
    if (pid <= 0) return;
    if (::kill(-pid_t(pid), sig) != 0) ::kill(pid_t(pid), sig);
}

// Sends SIGTERM and waits; a child that ignores it is killed after the grace period, so a time
// limit always ends the run.
void terminateAndReap(QProcess& process) {
    signalChild(process, SIGTERM);
    if (!process.waitForFinished(ProcessRunner::kKillGraceMs)) {
        signalChild(process, SIGKILL);
        process.waitForFinished(-1);
    }
}

// QProcess reads both pipes into its buffers while it waits, so a child writing more than a
// pipe holds never blocks on us.
ProcessRunner::Result drainAndWait(QProcess& process, std::optional<double> timeoutSeconds,
                                   ProcessRunner::ChildHandle::Control* control) {
    const QDeadlineTimer deadline = timeoutSeconds
        ? QDeadlineTimer(qint64(std::max(0.0, *timeoutSeconds) * 1000.0))
        : QDeadlineTimer(QDeadlineTimer::Forever);
    bool timedOut = false;
    bool terminateSent = false;
    QDeadlineTimer killDeadline(QDeadlineTimer::Forever);
    while (process.state() != QProcess::NotRunning) {
        if (control && control->terminateRequested.load() && !terminateSent) {
            signalChild(process, SIGTERM);
            terminateSent = true;
            killDeadline.setRemainingTime(ProcessRunner::kKillGraceMs);
        }
        if (terminateSent && killDeadline.hasExpired()) {
            signalChild(process, SIGKILL);
            process.waitForFinished(-1);
            break;
        }
        if (deadline.hasExpired()) {
            timedOut = true;
            terminateAndReap(process);
            break;
        }
        // Asynchronous runs wake up now and then to honour terminate(); blocking ones sleep
        // until the deadline.
        qint64 slice = deadline.isForever() ? -1 : deadline.remainingTime();
        if (control) slice = slice < 0 ? 50 : std::min<qint64>(slice, 50);
        process.waitForFinished(int(std::min<qint64>(slice, std::numeric_limits<int>::max())));
    }

    ProcessRunner::Result r;
    r.stdOut = decodeUtf8Strict(process.readAllStandardOutput()).value_or(QString());
    r.stdErr = decodeUtf8Strict(process.readAllStandardError()).value_or(QString());
    // On a crash exit Qt reports the signal number as the exit code.
    r.exitCode = process.exitCode();
    r.timedOut = timedOut;
    return r;
}

void deliver(const QPointer<QObject>& context, const ProcessRunner::Completion& completion,
             const ProcessRunner::Result& result) {
    QObject* target = context.data();
    if (!target || !completion) return;
    QMetaObject::invokeMethod(target, [completion, result] { completion(result); }, Qt::QueuedConnection);
}

}  // namespace

std::shared_ptr<ProcessRunner::ChildHandle> ProcessRunner::run(
    const QString& executable, const QStringList& arguments, const std::optional<QString>& directory,
    const std::optional<QProcessEnvironment>& environment, std::optional<double> timeoutSeconds,
    QObject* completionContext, Completion completion) {
    QPointer<QObject> context = completionContext ? completionContext : QCoreApplication::instance();
    auto control = std::make_shared<ChildHandle::Control>();
    std::promise<bool> started;
    std::future<bool> startedFuture = started.get_future();

    // A thread of its own rather than a pool slot: runs without a limit (toolkit commands) may
    // last for hours.
    std::thread([=, started = std::move(started)]() mutable {
        QProcess process;
        configure(process, executable, arguments, directory, environment);
        process.start();
        if (!process.waitForStarted(-1)) {
            control->ended.store(true);
            started.set_value(false);
            deliver(context, completion, launchFailure(process));
            return;
        }
        control->pid.store(process.processId());
        started.set_value(true);
        const Result result = drainAndWait(process, timeoutSeconds, control.get());
        control->ended.store(true);
        deliver(context, completion, result);
    }).detach();

    if (!startedFuture.get()) return nullptr;
    return std::make_shared<ChildHandle>(control);
}

ProcessRunner::Result ProcessRunner::runAndWait(const QString& executable, const QStringList& arguments,
                                                const std::optional<QString>& directory,
                                                const std::optional<QProcessEnvironment>& environment,
                                                std::optional<double> timeoutSeconds) {
    QProcess process;
    configure(process, executable, arguments, directory, environment);
    process.start();
    if (!process.waitForStarted(-1)) return launchFailure(process);
    return drainAndWait(process, timeoutSeconds, nullptr);
}

GitRunning::MergeOutcome SystemGitRunner::mergeBranch(const QString& branch, const QString& repoRoot) {
    const ProcessRunner::Result r = ProcessRunner::runAndWait(
        gitPath_, {QStringLiteral("-C"), repoRoot, QStringLiteral("merge"), QStringLiteral("--no-ff"),
                   QStringLiteral("--no-edit"), QStringLiteral("--"), branch});
    MergeOutcome outcome;
    if (r.launchFailed()) {
        outcome.launchError = r.stdErr;
        return outcome;
    }
    outcome.result.status = r.exitCode;
    outcome.result.output = (r.stdOut + r.stdErr).trimmed();
    return outcome;
}

CommandOutput SystemPRCommandRunner::run(const QString& executable, const QStringList& arguments,
                                         const QString& directory) {
    const ProcessRunner::Result r = ProcessRunner::runAndWait(executable, arguments, directory, std::nullopt, timeout_);
    if (r.timedOut) return {-1, QStringLiteral("timed out after %1s").arg(QString::number(timeout_))};
    if (r.launchFailed()) return {-1, r.stdErr};
    return {r.exitCode, (r.stdOut + r.stdErr).trimmed()};
}
