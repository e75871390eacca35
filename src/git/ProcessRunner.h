#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class QObject;

// Every child program outside a terminal tab runs through here: arguments as given (no shell),
// standard input from /dev/null, both output streams collected whole, an optional time limit.
//
// Children start in a session of their own with default signal dispositions, an empty signal
// mask and no inherited descriptors above 2, so an ignored SIGPIPE or the control socket never
// leaks into git or a user's shell, and nothing can take over the terminal the application was
// started from.
class ProcessRunner {
public:
    struct Result {
        QString stdOut;   // whole standard output; empty when it is not valid UTF-8
        QString stdErr;   // whole standard error, decoded the same way
        qint32 exitCode = -1;  // exit status, the signal number when killed, -1 when never started
        bool timedOut = false;

        bool launchFailed() const { return exitCode == -1; }
    };

    // The running child of an asynchronous run. Safe to use from any thread and after the run
    // has ended (then it does nothing).
    class ChildHandle {
    public:
        qint64 pid() const;
        // Sends the terminate signal to the child (and whatever it started in its session).
        void terminate();
        bool hasEnded() const;

        struct Control;
        explicit ChildHandle(std::shared_ptr<Control> control) : control_(std::move(control)) {}

    private:
        std::shared_ptr<Control> control_;
    };

    using Completion = std::function<void(const Result&)>;

    // Starts the child and returns at once. `completion` runs exactly once, in the thread of
    // `completionContext` (the application object when null), also when the child could not be
    // started; it is dropped if the context is destroyed first. Returns null when the child could
    // not be started.
    static std::shared_ptr<ChildHandle> run(const QString& executable, const QStringList& arguments,
                                            const std::optional<QString>& directory,
                                            const std::optional<QProcessEnvironment>& environment,
                                            std::optional<double> timeoutSeconds,
                                            QObject* completionContext, Completion completion);

    // Blocks the calling thread for the whole run.
    static Result runAndWait(const QString& executable, const QStringList& arguments,
                             const std::optional<QString>& directory = std::nullopt,
                             const std::optional<QProcessEnvironment>& environment = std::nullopt,
                             std::optional<double> timeoutSeconds = std::nullopt);

    // A child that ignores the terminate signal after a time-out is killed this long after it.
    static constexpr int kKillGraceMs = 5000;
};

// Exit status and combined output of a command that ran.
struct CommandOutput {
    qint32 status = -1;
    QString output;
};

// The git calls of the merge procedure, injectable for tests.
class GitRunning {
public:
    struct MergeOutcome {
        std::optional<QString> launchError;  // set when git could not be started at all
        CommandOutput result;
    };
    virtual ~GitRunning() = default;
    virtual MergeOutcome mergeBranch(const QString& branch, const QString& repoRoot) = 0;
};

// The child-process calls of the pull-request procedure; failures are folded into the result.
class PRCommandRunning {
public:
    virtual ~PRCommandRunning() = default;
    virtual CommandOutput run(const QString& executable, const QStringList& arguments,
                              const QString& directory) = 0;
};

class SystemGitRunner : public GitRunning {
public:
    explicit SystemGitRunner(QString gitPath = QStringLiteral("/usr/bin/git")) : gitPath_(std::move(gitPath)) {}
    // git -C <root> merge --no-ff --no-edit -- <branch>, without a time limit.
    MergeOutcome mergeBranch(const QString& branch, const QString& repoRoot) override;
private:
    QString gitPath_;
};

class SystemPRCommandRunner : public PRCommandRunning {
public:
    explicit SystemPRCommandRunner(double timeoutSeconds = 120) : timeout_(timeoutSeconds) {}
    CommandOutput run(const QString& executable, const QStringList& arguments,
                      const QString& directory) override;
private:
    double timeout_;
};
