// The worktree manager against real repositories made in temporary directories.
#include "git/WorktreeManager.h"

#include "core/Json.h"
#include "git/ProcessRunner.h"
#include "support/TestSupport.h"
#include "QtPrinters.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using WM = WorktreeManager;

// Sets an environment variable for the scope and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), previous_(qgetenv(name)) {
        qputenv(name, value);
    }
    ~ScopedEnv() {
        if (had_) qputenv(name_, previous_);
        else qunsetenv(name_);
    }
private:
    const char* name_;
    bool had_;
    QByteArray previous_;
};

QString readText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

class WorktreeRepo : public ::testing::Test {
protected:
    // A home of its own (no user git configuration) and the identity through the environment.
    TempHome home;
    ScopedEnv noSystem{"GIT_CONFIG_NOSYSTEM", "1"};
    ScopedEnv noGlobal{"GIT_CONFIG_GLOBAL", "/dev/null"};
    ScopedEnv count{"GIT_CONFIG_COUNT", "3"};
    ScopedEnv k0{"GIT_CONFIG_KEY_0", "user.name"}, v0{"GIT_CONFIG_VALUE_0", "Test"};
    ScopedEnv k1{"GIT_CONFIG_KEY_1", "user.email"}, v1{"GIT_CONFIG_VALUE_1", "test@example.invalid"};
    ScopedEnv k2{"GIT_CONFIG_KEY_2", "commit.gpgsign"}, v2{"GIT_CONFIG_VALUE_2", "false"};

    QTemporaryDir tmp;
    QString root;
    WM manager;

    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        root = QFileInfo(tmp.path()).canonicalFilePath() + "/repo";
        QDir().mkpath(root);
        git(root, {"init", "-q", "-b", "main"});
        writeTextFile(root + "/a.txt", "one\ntwo\nthree\n");
        commitAll(root, "initial");
    }

    ProcessRunner::Result git(const QString& dir, const QStringList& args, bool mustSucceed = true) {
        const auto r = ProcessRunner::runAndWait("/usr/bin/git", QStringList{"-C", dir} + args,
                                                 std::nullopt, std::nullopt, 60.0);
        if (mustSucceed) {
            EXPECT_EQ(r.exitCode, 0) << "git " << args.join(' ').toStdString() << ": "
                                     << r.stdErr.toStdString();
        }
        return r;
    }
    QString gitOut(const QString& dir, const QStringList& args) { return git(dir, args).stdOut.trimmed(); }
    void commitAll(const QString& dir, const QString& message) {
        git(dir, {"add", "-A"});
        git(dir, {"commit", "-q", "-m", message});
    }
    QString create(const QString& name, std::optional<QString> base = std::nullopt) {
        const auto c = manager.createWorktree(name, base, root);
        EXPECT_TRUE(c.ok()) << (c.error ? c.error->description().toStdString() : "");
        return c.path;
    }
    QStringList worktreePaths() {
        QStringList paths;
        for (const auto& wt : manager.runWorktreeList(root)) paths << wt.path;
        return paths;
    }
    QJsonObject registry() { return Json::readObject(WM::registryPath(root)).value_or(QJsonObject()); }
};

}  // namespace

TEST_F(WorktreeRepo, CreatesRecordsAndReusesAWorktree) {
    writeTextFile(WM::excludePath(root), "# mine\n*.swp");  // no line break at the end
    const double before = QDateTime::currentMSecsSinceEpoch() / 1000.0;

    const QString path = create("Fix login");
    EXPECT_EQ(path, root + "/.varnix/worktrees/fix-login");
    EXPECT_TRUE(QFileInfo(path + "/a.txt").isFile());
    EXPECT_EQ(gitOut(path, {"branch", "--show-current"}), "varnix/fix-login");
    EXPECT_EQ(worktreePaths(), (QStringList{root, path}));

    const QJsonObject entry = registry().value(path).toObject();
    EXPECT_EQ(entry.value("baseBranch").toString(), "main");
    const double createdAt = entry.value("createdAt").toDouble();
    EXPECT_GE(createdAt, before - 1);
    EXPECT_LE(createdAt, QDateTime::currentMSecsSinceEpoch() / 1000.0 + 1);
    EXPECT_EQ(manager.recordedBaseBranch(root, path), "main");
    EXPECT_TRUE(readText(WM::registryPath(root)).contains("\n    \"")) << "written indented";

    // The same name again: the existing worktree, nothing added, nothing re-recorded.
    EXPECT_EQ(create("FIX   login!"), path);
    EXPECT_EQ(worktreePaths().size(), 2);
    EXPECT_EQ(registry().value(path).toObject().value("createdAt").toDouble(), createdAt);

    create("Second task", "main");
    EXPECT_EQ(readText(WM::excludePath(root)), "# mine\n*.swp\n.varnix/worktrees\n");
    EXPECT_EQ(gitOut(root, {"status", "--porcelain"}), "") << "the worktrees stay out of git's view";
    EXPECT_EQ(registry().keys().size(), 2);
}

TEST_F(WorktreeRepo, ReAddsAWorktreeWhoseBranchOutlivedIt) {
    git(root, {"branch", "dev"});
    const QString path = create("Fix login", "main");
    writeTextFile(path + "/new.txt", "work\n");
    commitAll(path, "work on the fix");
    const QString tip = gitOut(path, {"rev-parse", "HEAD"});

    EXPECT_FALSE(manager.removeWorktree(root, path).has_value());
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_TRUE(manager.branches(root).contains("varnix/fix-login"));
    EXPECT_EQ(manager.recordedBaseBranch(root, path), "main") << "removal leaves the registry alone";

    // "-b" fails with "already exists"; the kept branch is checked out into a fresh worktree.
    EXPECT_EQ(create("fix login", "dev"), path);
    EXPECT_EQ(gitOut(path, {"branch", "--show-current"}), "varnix/fix-login");
    EXPECT_EQ(gitOut(path, {"rev-parse", "HEAD"}), tip) << "the branch's own work, not a new fork";
    EXPECT_EQ(manager.recordedBaseBranch(root, path), "dev") << "the requested base is recorded";
}

TEST_F(WorktreeRepo, BaseIsTheCurrentBranchOrMainOnADetachedHead) {
    const QString first = gitOut(root, {"rev-parse", "HEAD"});
    writeTextFile(root + "/a.txt", "changed\n");
    commitAll(root, "second");
    const QString mainTip = gitOut(root, {"rev-parse", "HEAD"});

    git(root, {"checkout", "-q", "-b", "dev"});
    const QString onDev = create("on dev");
    EXPECT_EQ(manager.recordedBaseBranch(root, onDev), "dev");

    git(root, {"checkout", "-q", "--detach", first});
    EXPECT_EQ(manager.detectDefaultBranch(root), std::nullopt);
    const QString detached = create("detached");
    EXPECT_EQ(manager.recordedBaseBranch(root, detached), "main");
    EXPECT_EQ(gitOut(detached, {"rev-parse", "HEAD"}), mainTip) << "forked from main, not the detached commit";
}

TEST_F(WorktreeRepo, AWorktreeDeletedByHandIsCheckedOutAgain) {
    const QString path = create("gone");
    writeTextFile(path + "/w.txt", "kept on the branch\n");
    commitAll(path, "work");
    QDir(path).removeRecursively();

    EXPECT_EQ(create("gone"), path);
    EXPECT_TRUE(QFileInfo(path + "/w.txt").isFile());
    EXPECT_EQ(worktreePaths(), (QStringList{root, path}));
}

TEST_F(WorktreeRepo, CreationFailureCarriesGitsMessage) {
    const auto c = manager.createWorktree("x", QString("no-such-base"), root);
    ASSERT_FALSE(c.ok());
    EXPECT_EQ(c.error->kind(), WM::WorktreeError::Kind::CreationFailed);
    // git's standard error as it is, progress line and all.
    EXPECT_TRUE(c.error->message().contains("fatal:") && c.error->message().contains("'no-such-base'"))
        << c.error->message().toStdString();
    EXPECT_EQ(c.error->description(), "Worktree creation failed: " + c.error->message());
    EXPECT_EQ(manager.recordedBaseBranch(root, root + "/.varnix/worktrees/x"), std::nullopt);
}

TEST_F(WorktreeRepo, RemovalIgnoresAGitDirInheritedByTheApplication) {
    const QString path = create("task");
    QTemporaryDir other;
    git(other.path(), {"init", "-q", "-b", "main"});
    {
        // Without filtering, git would look for the worktree in the other repository.
        ScopedEnv gitDir("GIT_DIR", QFile::encodeName(other.path() + "/.git"));
        ScopedEnv workTree("GIT_WORK_TREE", QFile::encodeName(other.path()));
        LogCapture log;
        const auto err = manager.removeWorktree(root, path);
        EXPECT_FALSE(err.has_value()) << err->description().toStdString();
        EXPECT_EQ(log.lines(), QStringList{"[WorktreeManager] removeWorktree: repoRoot=" + root +
                                           " path=" + path + " name=task"});
    }
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_EQ(worktreePaths(), QStringList{root});
}

TEST_F(WorktreeRepo, RefusedRemovalExplainsWhatGitSaw) {
    const QString path = create("locked one");
    git(root, {"worktree", "lock", path});
    LogCapture log;
    const auto err = manager.removeWorktree(root, path);
    ASSERT_TRUE(err.has_value());
    EXPECT_EQ(err->kind(), WM::WorktreeError::Kind::RemoveFailed);

    const QString gitErr = git(root, {"worktree", "remove", "--force", "locked-one"}, false).stdErr;
    ASSERT_TRUE(gitErr.contains("locked")) << gitErr.toStdString();
    const QString listing = git(root, {"worktree", "list", "--porcelain"}).stdOut;
    EXPECT_EQ(err->message(), gitErr + "\n\nVarnix repoRoot: " + root + "\nTarget name: locked-one" +
                                  "\n\nGit's view of worktrees:\n" + listing);
    EXPECT_TRUE(err->description().startsWith("Worktree removal failed: "));
    ASSERT_EQ(log.lines().size(), 2);
    EXPECT_EQ(log.lines()[1], "[WorktreeManager] removeWorktree failed: " + gitErr + "\nListing:\n" + listing);
    EXPECT_TRUE(QFileInfo::exists(path));
}

TEST_F(WorktreeRepo, ReviewDiffMarksUncommittedWork) {
    const QString path = create("review");
    const QString marker = QString::fromUtf8("# \u2500\u2500 uncommitted working-tree changes \u2500\u2500");
    ASSERT_EQ(WM::uncommittedMarker(), marker);
    EXPECT_EQ(manager.reviewDiff(path, "main"), "");

    // Only uncommitted work: nothing before the marker, the working-tree diff after it.
    writeTextFile(path + "/a.txt", "one\nTWO\nthree\n");
    const QString working = gitOut(path, {"diff", "HEAD"}) + "\n";
    EXPECT_EQ(manager.reviewDiff(path, "main"), "\n\n" + marker + "\n\n" + working);
    EXPECT_TRUE(working.contains("+TWO"));

    // Committed work alone: no marker.
    commitAll(path, "shout two");
    const QString committed = gitOut(path, {"diff", "main...HEAD"}) + "\n";
    EXPECT_EQ(manager.reviewDiff(path, "main"), committed);

    // Both: committed first.
    writeTextFile(path + "/b.txt", "new\n");
    git(path, {"add", "b.txt"});
    const QString both = manager.reviewDiff(path, "main");
    EXPECT_TRUE(both.startsWith(committed + "\n\n" + marker + "\n\n"));
    EXPECT_TRUE(both.endsWith("+new\n"));
}

TEST_F(WorktreeRepo, RecapInputsAndDiffStat) {
    const QString path = create("recap");
    writeTextFile(path + "/a.txt", "one\n2\nthree\nfour\n");
    writeTextFile(path + "/b.txt", "bee\n");
    EXPECT_EQ(manager.diffStat(path), (WM::DiffStat{1, 2, 1})) << "untracked b.txt is not in git diff HEAD";
    commitAll(path, "recap work");

    const auto in = manager.recapInputs(path, "main");
    EXPECT_EQ(in.nameStatus, "M\ta.txt\nA\tb.txt\n");
    EXPECT_EQ(in.numstat, "2\t1\ta.txt\n1\t0\tb.txt\n");
    EXPECT_TRUE(in.log.endsWith(" recap work\n")) << in.log.toStdString();
    EXPECT_EQ(in.log.count('\n'), 1);
    EXPECT_EQ(manager.diffStat(path), (WM::DiffStat{0, 0, 0}));

    QTemporaryDir plain;
    EXPECT_EQ(manager.diffStat(plain.path()), std::nullopt);
    const auto none = manager.recapInputs(plain.path(), "main");
    EXPECT_TRUE(none.nameStatus.isEmpty() && none.numstat.isEmpty() && none.log.isEmpty());
}

TEST_F(WorktreeRepo, Queries) {
    QTemporaryDir plain;
    QDir().mkpath(root + "/sub/dir");
    EXPECT_EQ(WM::resolveRepoRoot(root + "/sub/dir"), root);
    EXPECT_EQ(WM::resolveRepoRoot(plain.path()), std::nullopt);
    EXPECT_TRUE(manager.isGitRepo(root + "/sub"));
    EXPECT_FALSE(manager.isGitRepo(plain.path()));
    EXPECT_EQ(manager.detectDefaultBranch(root), "main");

    git(root, {"branch", "zeta"});
    git(root, {"branch", "alpha"});
    EXPECT_EQ(manager.branches(root), (QStringList{"alpha", "main", "zeta"}));
    EXPECT_TRUE(manager.branches(plain.path()).isEmpty());

    EXPECT_EQ(manager.checkout("alpha", root), std::nullopt);
    EXPECT_EQ(manager.detectDefaultBranch(root), "alpha");
    const auto bad = manager.checkout("nope", root);
    ASSERT_TRUE(bad.has_value());
    EXPECT_TRUE(bad->startsWith("error:") && !bad->endsWith('\n')) << bad->toStdString();

    EXPECT_EQ(manager.deleteBranch("zeta", root), std::nullopt);
    EXPECT_FALSE(manager.branches(root).contains("zeta"));
    const auto notThere = manager.deleteBranch("zeta", root);
    ASSERT_TRUE(notThere.has_value());
    EXPECT_TRUE(notThere->contains("zeta"));

    EXPECT_FALSE(manager.hasOriginRemote(root));
    git(root, {"remote", "add", "origin", "https://example.invalid/r.git"});
    EXPECT_TRUE(manager.hasOriginRemote(root));
    EXPECT_TRUE(manager.runWorktreeList(plain.path()).isEmpty());
}

TEST_F(WorktreeRepo, DetectionFindsTheRootPrunesOnceAndMakesTheWorktreesDirectory) {
    const QString path = create("stale");
    QDir(path).removeRecursively();  // deleted by hand: git still lists it until pruned
    EXPECT_EQ(worktreePaths().size(), 2);

    WM fresh;
    fresh.detectRepoRoot(root + "/.varnix");
    EXPECT_EQ(fresh.repoRoot(), root);
    EXPECT_EQ(fresh.prunedRoots(), QSet<QString>{root});
    EXPECT_TRUE(QFileInfo(root + "/.varnix/worktrees").isDir());
    EXPECT_EQ(worktreePaths(), QStringList{root});
}

TEST_F(WorktreeRepo, RegistryKeepsOtherEntriesAndToleratesJunk) {
    const QString reg = WM::registryPath(root);
    writeTextFile(reg, R"({"/elsewhere": {"baseBranch": "dev", "createdAt": 1}, "junk": 5,
                           "/num": {"baseBranch": 7}})");
    const QString path = create("keep others");
    const QJsonObject r = registry();
    EXPECT_EQ(r.value("/elsewhere").toObject().value("baseBranch").toString(), "dev");
    EXPECT_EQ(r.value("junk").toInt(), 5);
    EXPECT_EQ(manager.recordedBaseBranch(root, path), "main");
    EXPECT_EQ(manager.recordedBaseBranch(root, "/elsewhere"), "dev");
    EXPECT_EQ(manager.recordedBaseBranch(root, "junk"), std::nullopt);
    EXPECT_EQ(manager.recordedBaseBranch(root, "/num"), std::nullopt);
    EXPECT_EQ(manager.recordedBaseBranch(root, "/missing"), std::nullopt);

    for (const QByteArray& junk : {QByteArray("[1, 2]"), QByteArray("{not json"), QByteArray()}) {
        writeTextFile(reg, junk);
        EXPECT_EQ(manager.recordedBaseBranch(root, path), std::nullopt) << junk.constData();
    }
    // An unreadable registry counts as empty and is replaced by a valid one.
    create("after junk");
    EXPECT_EQ(manager.recordedBaseBranch(root, root + "/.varnix/worktrees/after-junk"), "main");
}
