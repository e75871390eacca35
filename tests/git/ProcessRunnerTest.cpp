#include "core/SerialQueue.h"
#include "git/ProcessRunner.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

const QString kSh = QStringLiteral("/bin/sh");

ProcessRunner::Result sh(const QString& script, std::optional<double> timeout = 60.0) {
    return ProcessRunner::runAndWait(kSh, {"-c", script}, std::nullopt, std::nullopt, timeout);
}

bool processGone(qint64 pid) { return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH; }

}  // namespace

TEST(ProcessRunner, MissingProgramFailsToLaunchInBothForms) {
    const auto r = ProcessRunner::runAndWait("/nonexistent/varnix-no-such-program", {"x"});
    EXPECT_EQ(r.exitCode, -1);
    EXPECT_TRUE(r.launchFailed());
    EXPECT_TRUE(r.stdOut.isEmpty());
    EXPECT_TRUE(r.stdErr.contains("No such file")) << r.stdErr.toStdString();
    EXPECT_FALSE(r.timedOut);

    int calls = 0;
    ProcessRunner::Result seen;
    bool onMain = false;
    auto handle = ProcessRunner::run("/nonexistent/varnix-no-such-program", {}, std::nullopt, std::nullopt,
                                     std::nullopt, nullptr, [&](const ProcessRunner::Result& res) {
                                         ++calls;
                                         seen = res;
                                         onMain = QThread::currentThread() == qApp->thread();
                                     });
    EXPECT_EQ(handle, nullptr);
    ASSERT_TRUE(waitUntil([&] { return calls > 0; }, 30000));
    QCoreApplication::processEvents();
    QThread::msleep(50);
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(onMain);
    EXPECT_EQ(seen.exitCode, -1);
    EXPECT_TRUE(seen.stdErr.contains("No such file"));

    // A missing working directory is a launch failure too, not a run in the wrong place.
    const auto noDir = ProcessRunner::runAndWait(kSh, {"-c", "pwd"}, QStringLiteral("/nonexistent/dir"));
    EXPECT_EQ(noDir.exitCode, -1);
    EXPECT_FALSE(noDir.stdErr.isEmpty());
}

TEST(ProcessRunner, CollectsMegabytesOnBothStreamsWhole) {
    const auto r = sh("head -c 5000000 /dev/zero | tr '\\0' a; head -c 3000000 /dev/zero | tr '\\0' b >&2; "
                      "head -c 1000000 /dev/zero | tr '\\0' c; exit 7",
                      120.0);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 7);
    ASSERT_EQ(r.stdOut.size(), 6000000);
    EXPECT_EQ(r.stdOut.count(QLatin1Char('a')), 5000000);
    EXPECT_TRUE(r.stdOut.endsWith(QString(1000000, QLatin1Char('c'))));
    ASSERT_EQ(r.stdErr.size(), 3000000);
    EXPECT_EQ(r.stdErr.count(QLatin1Char('b')), 3000000);
}

TEST(ProcessRunner, TimeLimitTerminatesAndKeepsEarlierOutput) {
    QElapsedTimer clock;
    clock.start();
    const auto r = sh("echo partial; echo warn >&2; exec sleep 60", 1.0);
    EXPECT_LT(clock.elapsed(), 50000);
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.exitCode, SIGTERM);  // the terminate signal's status
    EXPECT_EQ(r.stdOut, "partial\n");
    EXPECT_EQ(r.stdErr, "warn\n");

    const auto plain = ProcessRunner::runAndWait("/bin/sleep", {"60"}, std::nullopt, std::nullopt, 1.0);
    EXPECT_TRUE(plain.timedOut);
    EXPECT_EQ(plain.exitCode, 15);
}

TEST(ProcessRunner, TimeLimitEndsTheWholeChildSessionAndEscalatesWhenTermIsIgnored) {
    // A grandchild started by the shell goes with it.
    const auto r = sh("sleep 60 & echo $!; wait", 1.0);
    EXPECT_TRUE(r.timedOut);
    const qint64 grandchild = r.stdOut.trimmed().toLongLong();
    ASSERT_GT(grandchild, 0);
    EXPECT_TRUE(waitUntil([&] { return processGone(grandchild); }, 20000));

    // A child that ignores SIGTERM is killed after the grace period instead of hanging the run.
    const auto stubborn = sh("trap '' TERM; echo ready; while :; do sleep 1; done", 0.5);
    EXPECT_TRUE(stubborn.timedOut);
    EXPECT_EQ(stubborn.exitCode, SIGKILL);
    EXPECT_EQ(stubborn.stdOut, "ready\n");
}

TEST(ProcessRunner, StdinIsAtEndOfFileAtOnce) {
    const auto r = ProcessRunner::runAndWait("/bin/cat", {}, std::nullopt, std::nullopt, 60.0);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.stdOut, "");
    const auto readLine = sh("if read x; then echo got; else echo eof; fi");
    EXPECT_EQ(readLine.stdOut, "eof\n");
}

TEST(ProcessRunner, InvalidUtf8IsEmptyTextWithTheRealStatus) {
    const auto r = sh("printf '\\377'; printf 'ok' >&2; exit 3");
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.stdOut, "");
    EXPECT_EQ(r.stdErr, "ok");
    const auto good = sh("printf '\\303\\251t\\303\\251'");
    EXPECT_EQ(good.stdOut, QString::fromUtf8("\xc3\xa9t\xc3\xa9"));
}

TEST(ProcessRunner, DirectoryAndEnvironmentAreTheChildsWhole) {
    QTemporaryDir dir;
    QProcessEnvironment env;
    env.insert("FOO", "bar baz");
    const auto r = ProcessRunner::runAndWait(kSh, {"-c", "pwd; echo \"$FOO\"; echo \"${HOME-unset}\"", "ignored"},
                                             dir.path(), env, 60.0);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.stdOut, QDir(dir.path()).canonicalPath() + "\nbar baz\nunset\n");

    // Without an environment the child inherits the application's.
    qputenv("VARNIX_RUNNER_PROBE", "inherited");
    EXPECT_EQ(sh("echo $VARNIX_RUNNER_PROBE").stdOut, "inherited\n");
    // Arguments are passed as they are, never through a shell.
    const auto args = ProcessRunner::runAndWait("/bin/echo", {"a b", "$HOME", "'q'"});
    EXPECT_EQ(args.stdOut, "a b $HOME 'q'\n");
}

TEST(ProcessRunner, ChildStartsCleanWithoutInheritedSignalsOrDescriptors) {
    // The test process ignores SIGPIPE (as the application does) and holds an inheritable fd.
    ASSERT_EQ(std::signal(SIGPIPE, SIG_IGN) == SIG_ERR, false);
    const int fd = ::open("/dev/null", O_RDONLY);  // no O_CLOEXEC on purpose
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::dup2(fd, 77), 77);

    const auto status = ProcessRunner::runAndWait("/bin/grep", {"-E", "^(SigIgn|SigBlk)", "/proc/self/status"});
    const QStringList sigLines = status.stdOut.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(sigLines.size(), 2) << status.stdOut.toStdString();
    EXPECT_EQ(sigLines[0], "SigBlk:\t0000000000000000");
    // Signals 32 and 33 belong to the C library and cannot be reset from user code; an ignore
    // inherited from whoever started the tests survives, so they are left out.
    ASSERT_TRUE(sigLines[1].startsWith("SigIgn:\t"));
    bool ok = false;
    const quint64 ignored = sigLines[1].mid(8).toULongLong(&ok, 16);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ignored & ~0x180000000ULL, 0u) << sigLines[1].toStdString();

    const auto fds = ProcessRunner::runAndWait("/bin/ls", {"/proc/self/fd"});
    EXPECT_EQ(fds.exitCode, 0);
    EXPECT_FALSE(fds.stdOut.split('\n').contains("77")) << fds.stdOut.toStdString();

    // Its own session: it cannot reach the terminal the application was started from.
    const auto sid = sh("cut -d' ' -f6 /proc/$$/stat; echo $$");
    const QStringList lines = sid.stdOut.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], lines[1]);
    ::close(77);
    ::close(fd);
}

TEST(ProcessRunner, AsynchronousRunDeliversOnTheContextAndCanBeTerminated) {
    SerialQueue queue("runner-test");
    std::atomic<int> calls{0};
    std::atomic<bool> onQueue{false};
    ProcessRunner::Result seen;
    auto handle = ProcessRunner::run(kSh, {"-c", "echo hi; exit 4"}, std::nullopt, std::nullopt, std::nullopt,
                                     queue.context(), [&](const ProcessRunner::Result& r) {
                                         seen = r;
                                         onQueue = queue.isCurrent();
                                         ++calls;
                                     });
    ASSERT_NE(handle, nullptr);
    EXPECT_GT(handle->pid(), 0);
    ASSERT_TRUE(waitUntil([&] { return calls.load() == 1; }, 30000));
    EXPECT_TRUE(onQueue);
    EXPECT_EQ(seen.exitCode, 4);
    EXPECT_EQ(seen.stdOut, "hi\n");
    EXPECT_TRUE(handle->hasEnded());

    int done = 0;
    ProcessRunner::Result stopped;
    auto sleeper = ProcessRunner::run("/bin/sleep", {"60"}, std::nullopt, std::nullopt, std::nullopt, nullptr,
                                      [&](const ProcessRunner::Result& r) {
                                          stopped = r;
                                          ++done;
                                      });
    ASSERT_NE(sleeper, nullptr);
    EXPECT_FALSE(sleeper->hasEnded());
    sleeper->terminate();
    ASSERT_TRUE(waitUntil([&] { return done == 1; }, 30000));
    EXPECT_EQ(stopped.exitCode, SIGTERM);
    EXPECT_FALSE(stopped.timedOut);
    EXPECT_TRUE(sleeper->hasEnded());
    sleeper->terminate();  // harmless once ended

    // The asynchronous form honours the time limit as well.
    int limited = 0;
    ProcessRunner::Result limitedResult;
    ProcessRunner::run("/bin/sleep", {"60"}, std::nullopt, std::nullopt, 0.5, nullptr,
                       [&](const ProcessRunner::Result& r) {
                           limitedResult = r;
                           ++limited;
                       });
    ASSERT_TRUE(waitUntil([&] { return limited == 1; }, 30000));
    EXPECT_TRUE(limitedResult.timedOut);
    EXPECT_EQ(limitedResult.exitCode, 15);
}

namespace {

class GitRepo {
public:
    GitRepo() {
        git({"init", "-q", "-b", "main"});
        git({"config", "user.name", "Test"});
        git({"config", "user.email", "test@example.invalid"});
        git({"config", "commit.gpgsign", "false"});
    }
    QString root() const { return dir_.path(); }
    ProcessRunner::Result git(const QStringList& args) {
        return ProcessRunner::runAndWait("/usr/bin/git", QStringList{"-C", dir_.path()} + args, std::nullopt,
                                         std::nullopt, 60.0);
    }
    void commitFile(const QString& name, const QByteArray& text, const QString& message) {
        ASSERT_TRUE(writeTextFile(dir_.filePath(name), text));
        ASSERT_EQ(git({"add", name}).exitCode, 0);
        ASSERT_EQ(git({"commit", "-q", "-m", message}).exitCode, 0);
    }
private:
    QTemporaryDir dir_;
};

}  // namespace

TEST(SystemGitRunner, MergesBranchesAndReportsConflicts) {
    GitRepo repo;
    repo.commitFile("a.txt", "one\n", "base");
    ASSERT_EQ(repo.git({"checkout", "-q", "-b", "feature"}).exitCode, 0);
    repo.commitFile("b.txt", "feature\n", "feature work");
    ASSERT_EQ(repo.git({"checkout", "-q", "main"}).exitCode, 0);

    SystemGitRunner runner;
    const auto merged = runner.mergeBranch("feature", repo.root());
    ASSERT_FALSE(merged.launchError);
    EXPECT_EQ(merged.result.status, 0);
    EXPECT_TRUE(merged.result.output.contains("Merge made by")) << merged.result.output.toStdString();
    EXPECT_EQ(merged.result.output, merged.result.output.trimmed());
    // --no-ff: a merge commit with two parents even though a fast-forward was possible.
    EXPECT_EQ(repo.git({"rev-list", "--parents", "-n", "1", "HEAD"}).stdOut.split(' ').size(), 3);

    ASSERT_EQ(repo.git({"checkout", "-q", "-b", "clash"}).exitCode, 0);
    repo.commitFile("a.txt", "clash\n", "clash side");
    ASSERT_EQ(repo.git({"checkout", "-q", "main"}).exitCode, 0);
    repo.commitFile("a.txt", "main\n", "main side");
    const auto conflict = runner.mergeBranch("clash", repo.root());
    ASSERT_FALSE(conflict.launchError);
    EXPECT_NE(conflict.result.status, 0);
    EXPECT_TRUE(conflict.result.output.contains("CONFLICT")) << conflict.result.output.toStdString();

    // A branch name that looks like an option is still a branch name.
    EXPECT_NE(runner.mergeBranch("--abort", repo.root()).result.status, 0);

    const auto missing = SystemGitRunner("/nonexistent/git").mergeBranch("feature", repo.root());
    ASSERT_TRUE(missing.launchError);
    EXPECT_TRUE(missing.launchError->contains("No such file"));
}

TEST(SystemPRCommandRunner, FoldsOutputFailuresAndTimeOuts) {
    QTemporaryDir dir;
    SystemPRCommandRunner runner;
    const auto ok = runner.run(kSh, {"-c", "pwd; echo err >&2; exit 4"}, dir.path());
    EXPECT_EQ(ok.status, 4);
    EXPECT_EQ(ok.output, QDir(dir.path()).canonicalPath() + "\nerr");

    const auto missing = runner.run("/nonexistent/gh", {"pr", "create"}, dir.path());
    EXPECT_EQ(missing.status, -1);
    EXPECT_TRUE(missing.output.contains("No such file"));

    // The time-out text follows the limit (120 s in production).
    const auto slow = SystemPRCommandRunner(1).run("/bin/sleep", {"60"}, dir.path());
    EXPECT_EQ(slow.status, -1);
    EXPECT_EQ(slow.output, "timed out after 1s");
    EXPECT_EQ(SystemPRCommandRunner().run(kSh, {"-c", "exit 0"}, dir.path()).status, 0);
}
