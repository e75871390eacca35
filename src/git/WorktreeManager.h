#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>
#include <mutex>
#include <optional>

// The one place that knows the worktree layout inside a repository R:
//   R/.varnix/worktrees/<name>   checked out on branch varnix/<name>
//   R/.git/info/exclude           holds the line ".varnix/worktrees"
//   R/.git/info/varnix-worktrees.json   which branch each worktree was forked from
// Every operation runs /usr/bin/git directly and blocks its caller; no git state is cached.
class WorktreeManager {
public:
    struct Worktree {
        QString path;
        QString branch;  // short name; empty for a detached head
        QString head;
        bool isBare = false;
        bool operator==(const Worktree&) const = default;
    };

    struct DiffStat {
        int filesChanged = 0;
        int insertions = 0;
        int deletions = 0;
        bool operator==(const DiffStat&) const = default;
    };

    class WorktreeError {
    public:
        enum class Kind { CreationFailed, RemoveFailed, LaunchFailed };
        static WorktreeError creationFailed(QString message) { return {Kind::CreationFailed, std::move(message)}; }
        static WorktreeError removeFailed(QString message) { return {Kind::RemoveFailed, std::move(message)}; }
        // git could not be started; the description is the launch error's text.
        static WorktreeError launchFailed(QString message) { return {Kind::LaunchFailed, std::move(message)}; }

        Kind kind() const { return kind_; }
        const QString& message() const { return message_; }
        // The text shown to users and agents.
        QString description() const;

    private:
        WorktreeError(Kind kind, QString message) : kind_(kind), message_(std::move(message)) {}
        Kind kind_;
        QString message_;
    };

    // The worktree's path, or the reason it could not be made.
    struct Created {
        QString path;
        std::optional<WorktreeError> error;
        bool ok() const { return !error.has_value(); }
    };

    struct RecapInputs {
        QString nameStatus;
        QString numstat;
        QString log;
    };

    // Process-wide; created on first use, when it detects a repository from the working
    // directory and the executable's directories.
    static WorktreeManager& shared();

    // A manager that has detected nothing yet.
    WorktreeManager() = default;
    WorktreeManager(const WorktreeManager&) = delete;
    WorktreeManager& operator=(const WorktreeManager&) = delete;

    // The repository root found by the last successful detection.
    std::optional<QString> repoRoot() const;
    QSet<QString> prunedRoots() const;

    // Tries `dir` (when not empty), the working directory, then the executable's directory and
    // its ancestors; the first repository found becomes repoRoot().
    void detectRepoRoot(const QString& dir = QString());

    static std::optional<QString> resolveRepoRoot(const QString& dir);
    bool isGitRepo(const QString& dir) const;
    // The checked-out branch; nothing on a detached head.
    std::optional<QString> detectDefaultBranch(const QString& root) const;
    QStringList branches(const QString& dir) const;
    // Nothing on success, otherwise the error text.
    std::optional<QString> checkout(const QString& branch, const QString& dir) const;
    std::optional<QString> deleteBranch(const QString& branch, const QString& root) const;
    QList<Worktree> runWorktreeList(const QString& root) const;
    void pruneWorktrees(const QString& root) const;
    std::optional<DiffStat> diffStat(const QString& dir) const;
    bool hasOriginRemote(const QString& dir) const;
    // Committed changes since the fork from `base`, then uncommitted ones after a marker line.
    QString reviewDiff(const QString& worktreePath, const QString& base) const;
    RecapInputs recapInputs(const QString& worktreePath, const QString& base) const;

    // Creates (or reuses) the worktree for `name`. Without a base: the root's current branch,
    // else "main".
    Created createWorktree(const QString& name, const std::optional<QString>& baseBranch,
                           const QString& repoRoot);
    // Nothing on success.
    std::optional<WorktreeError> removeWorktree(const QString& repoRoot, const QString& path);
    std::optional<QString> recordedBaseBranch(const QString& root, const QString& path) const;

    static QString safeBranchName(const QString& text);
    static QString branchNameFromTask(const QString& task);
    static DiffStat parseShortstat(const QString& text);
    static QList<Worktree> parseWorktreeList(const QString& porcelain);

    // Layout.
    static QString worktreesDir(const QString& root);
    static QString registryPath(const QString& root);
    static QString excludePath(const QString& root);
    static constexpr const char* kExcludeEntry = ".varnix/worktrees";
    static constexpr const char* kBranchPrefix = "varnix/";
    static const QList<QPair<QChar, QString>>& cyrillicLatin();

    // The exclude file's bytes with the entry appended, or nothing when it is already there.
    static std::optional<QByteArray> withExcludeEntry(const QByteArray& text);
    // The candidate directories of detectRepoRoot, in order.
    static QStringList detectionCandidates(const QString& dir);

    // The marker between committed and uncommitted changes in reviewDiff.
    static QString uncommittedMarker();

private:
    bool tryDetect(const QString& candidate);
    static void ensureWorktreesExcluded(const QString& root);
    static void recordWorktreeMeta(const QString& root, const QString& path, const QString& baseBranch);

    mutable std::mutex mutex_;
    std::optional<QString> repoRoot_;
    QSet<QString> prunedRoots_;
};
