#include "git/WorktreeManager.h"

#include "core/Json.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/Text.h"
#include "git/ProcessRunner.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonObject>
#include <QSaveFile>

// ---- errors

QString WorktreeManager::WorktreeError::description() const {
    switch (kind_) {
    case Kind::CreationFailed: return QStringLiteral("Worktree creation failed: ") + message_;
    case Kind::RemoveFailed: return QStringLiteral("Worktree removal failed: ") + message_;
    case Kind::LaunchFailed: return message_;
    }
    return message_;
}

// ---- layout

QString WorktreeManager::worktreesDir(const QString& root) { return root + QStringLiteral("/.varnix/worktrees"); }

QString WorktreeManager::registryPath(const QString& root) {
    return root + QStringLiteral("/.git/info/varnix-worktrees.json");
}

QString WorktreeManager::excludePath(const QString& root) { return root + QStringLiteral("/.git/info/exclude"); }

QString WorktreeManager::uncommittedMarker() {
    return QStringLiteral("# \u2500\u2500 uncommitted working-tree changes \u2500\u2500");
}

// ---- names

const QList<QPair<QChar, QString>>& WorktreeManager::cyrillicLatin() {
    static const QList<QPair<QChar, QString>> table = {
        {QChar(0x430), "a"},  {QChar(0x431), "b"},  {QChar(0x432), "v"},    {QChar(0x433), "g"},
        {QChar(0x434), "d"},  {QChar(0x435), "e"},  {QChar(0x451), "yo"},   {QChar(0x436), "zh"},
        {QChar(0x437), "z"},  {QChar(0x438), "i"},  {QChar(0x439), "y"},    {QChar(0x43A), "k"},
        {QChar(0x43B), "l"},  {QChar(0x43C), "m"},  {QChar(0x43D), "n"},    {QChar(0x43E), "o"},
        {QChar(0x43F), "p"},  {QChar(0x440), "r"},  {QChar(0x441), "s"},    {QChar(0x442), "t"},
        {QChar(0x443), "u"},  {QChar(0x444), "f"},  {QChar(0x445), "kh"},   {QChar(0x446), "ts"},
        {QChar(0x447), "ch"}, {QChar(0x448), "sh"}, {QChar(0x449), "shch"}, {QChar(0x44A), ""},
        {QChar(0x44B), "y"},  {QChar(0x44C), ""},   {QChar(0x44D), "e"},    {QChar(0x44E), "yu"},
        {QChar(0x44F), "ya"},
    };
    return table;
}

QString WorktreeManager::safeBranchName(const QString& text) {
    static const QHash<QChar, QString> latin = [] {
        QHash<QChar, QString> h;
        for (const auto& [cyr, lat] : cyrillicLatin()) h.insert(cyr, lat);
        return h;
    }();
    // Composed form first, so a decomposed "й" transliterates like the composed one.
    const QString lower = text.normalized(QString::NormalizationForm_C).toLower();
    QString transliterated;
    transliterated.reserve(lower.size());
    for (const QChar c : lower) {
        const auto it = latin.constFind(c);
        if (it != latin.constEnd()) transliterated += *it;
        else transliterated += c;
    }
    QStringList words;
    QString word;
    for (const QChar c : transliterated) {
        const char16_t u = c.unicode();
        const bool keep = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9');
        if (keep) {
            word += c;
        } else if (!word.isEmpty()) {
            words << word;
            word.clear();
        }
    }
    if (!word.isEmpty()) words << word;
    const QString joined = words.join(QLatin1Char('-'));
    if (joined.isEmpty()) return QStringLiteral("wt");
    return joined.left(40);  // only ASCII is left, so this cuts characters, not code units
}

QString WorktreeManager::branchNameFromTask(const QString& task) {
    const QString text = task.normalized(QString::NormalizationForm_C);
    QStringList words;
    QString word;
    for (const char32_t cp : text.toUcs4()) {
        if (QChar::isLetterOrNumber(cp)) {
            word += QString::fromUcs4(&cp, 1);
        } else if (!word.isEmpty()) {
            words << word;
            word.clear();
        }
    }
    if (!word.isEmpty()) words << word;
    const QString safe = safeBranchName(words.mid(0, 4).join(QLatin1Char(' ')));
    return safe == QLatin1String("wt") ? QStringLiteral("task") : safe;
}

// ---- parsers

namespace {

int leadingInteger(const QString& piece) {
    const QString t = piece.trimmed();
    int n = 0;
    while (n < t.size() && t[n] >= QLatin1Char('0') && t[n] <= QLatin1Char('9')) ++n;
    bool ok = false;
    const int value = t.left(n).toInt(&ok, 10);
    return ok ? value : 0;
}

}  // namespace

WorktreeManager::DiffStat WorktreeManager::parseShortstat(const QString& text) {
    DiffStat s;
    for (const QString& piece : text.split(QLatin1Char(','))) {
        if (piece.contains(QLatin1String("file"))) s.filesChanged = leadingInteger(piece);
        else if (piece.contains(QLatin1String("insertion"))) s.insertions = leadingInteger(piece);
        else if (piece.contains(QLatin1String("deletion"))) s.deletions = leadingInteger(piece);
    }
    return s;
}

QList<WorktreeManager::Worktree> WorktreeManager::parseWorktreeList(const QString& porcelain) {
    QList<Worktree> result;
    Worktree current;
    for (const QString& line : porcelain.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("worktree "))) {
            if (!current.path.isEmpty()) result << current;
            current = Worktree{};
            current.path = line.mid(9);
        } else if (line.startsWith(QLatin1String("HEAD "))) {
            current.head = line.mid(5);
        } else if (line.startsWith(QLatin1String("branch "))) {
            QString b = line.mid(7);
            if (b.startsWith(QLatin1String("refs/heads/"))) b = b.mid(11);
            current.branch = b;
        } else if (line == QLatin1String("bare")) {
            current.isBare = true;
        }
    }
    if (!current.path.isEmpty()) result << current;
    return result;
}

// ---- exclude file and registry

std::optional<QByteArray> WorktreeManager::withExcludeEntry(const QByteArray& text) {
    // Bytes, not text: the file may hold patterns in any encoding, and they must survive.
    const QByteArray entry(kExcludeEntry);
    for (const QByteArray& line : text.split('\n')) {
        qsizetype b = 0, e = line.size();
        while (b < e && (line[b] == ' ' || line[b] == '\t')) ++b;
        while (e > b && (line[e - 1] == ' ' || line[e - 1] == '\t')) --e;
        if (line.mid(b, e - b) == entry) return std::nullopt;
    }
    QByteArray out = text;
    if (!out.isEmpty() && !out.endsWith('\n')) out += '\n';
    out += entry + '\n';
    return out;
}

void WorktreeManager::ensureWorktreesExcluded(const QString& root) {
    const QString path = excludePath(root);
    QByteArray text;
    if (QFileInfo::exists(path)) {
        QFile in(path);
        if (!in.open(QIODevice::ReadOnly)) return;  // never replace a file we could not read
        text = in.readAll();
    }
    const auto updated = withExcludeEntry(text);
    if (!updated) return;
    // The directory is not created: without .git/info this is not a repository we manage.
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) return;
    out.write(*updated);
    out.commit();
}

void WorktreeManager::recordWorktreeMeta(const QString& root, const QString& path,
                                         const QString& baseBranch) {
    QJsonObject registry = Json::readObject(registryPath(root)).value_or(QJsonObject());
    registry.insert(path, QJsonObject{
                              {QStringLiteral("baseBranch"), baseBranch},
                              {QStringLiteral("createdAt"),
                               double(QDateTime::currentMSecsSinceEpoch()) / 1000.0},
                          });
    Json::writePretty(registryPath(root), registry, Json::Mode::InPlace);
}

std::optional<QString> WorktreeManager::recordedBaseBranch(const QString& root, const QString& path) const {
    const auto registry = Json::readObject(registryPath(root));
    if (!registry) return std::nullopt;
    const auto entry = Json::optObject(*registry, path);
    if (!entry.ok()) return std::nullopt;
    const auto base = Json::optString(entry.value, QStringLiteral("baseBranch"));
    if (!base.ok()) return std::nullopt;
    return base.value;
}

// ---- detection

QStringList WorktreeManager::detectionCandidates(const QString& dir) {
    QStringList c;
    if (!dir.isEmpty()) c << dir;
    c << QDir::currentPath();
    // The executable's directory and its ancestors: a build inside a checkout finds its repo.
    QString d = QFileInfo(Paths::executablePath()).path();
    for (int i = 0; i < 10 && !d.isEmpty() && d != QLatin1String("/"); ++i) {
        c << d;
        d = QFileInfo(d).path();
    }
    return c;
}

// ---- git runs

namespace {

const QString kGit = QStringLiteral("/usr/bin/git");
constexpr double kQueryLimit = 5;
constexpr double kDiffLimit = 10;

ProcessRunner::Result git(const QStringList& args, std::optional<double> limit = std::nullopt,
                          const std::optional<QString>& directory = std::nullopt,
                          const std::optional<QProcessEnvironment>& env = std::nullopt) {
    return ProcessRunner::runAndWait(kGit, args, directory, env, limit);
}

QStringList dashC(const QString& dir, std::initializer_list<QString> rest) {
    QStringList a{QStringLiteral("-C"), dir};
    for (const QString& s : rest) a << s;
    return a;
}

// Invalid UTF-8 reaches us as empty text; either way there is nothing to show.
QString errorText(const ProcessRunner::Result& r) {
    return r.stdErr.isEmpty() ? QStringLiteral("Unknown error") : r.stdErr;
}

}  // namespace

WorktreeManager& WorktreeManager::shared() {
    static WorktreeManager* const instance = [] {
        auto* m = new WorktreeManager;  // process-wide, never destroyed
        m->detectRepoRoot();
        return m;
    }();
    return *instance;
}

std::optional<QString> WorktreeManager::repoRoot() const {
    std::lock_guard lock(mutex_);
    return repoRoot_;
}

QSet<QString> WorktreeManager::prunedRoots() const {
    std::lock_guard lock(mutex_);
    return prunedRoots_;
}

void WorktreeManager::detectRepoRoot(const QString& dir) {
    for (const QString& candidate : detectionCandidates(dir))
        if (tryDetect(candidate)) return;
}

bool WorktreeManager::tryDetect(const QString& candidate) {
    if (!QFileInfo::exists(candidate)) return false;
    const auto r = git(dashC(candidate, {QStringLiteral("rev-parse"), QStringLiteral("--show-toplevel")}));
    const QString root = r.stdOut.trimmed();
    if (r.exitCode != 0 || root.isEmpty()) return false;
    bool firstTime = false;
    {
        std::lock_guard lock(mutex_);
        repoRoot_ = root;
        if (!prunedRoots_.contains(root)) {
            prunedRoots_.insert(root);
            firstTime = true;
        }
    }
    QDir().mkpath(worktreesDir(root));
    // Stale records (worktree directories deleted by hand) are pruned once per repository per run.
    if (firstTime) pruneWorktrees(root);
    return true;
}

std::optional<QString> WorktreeManager::resolveRepoRoot(const QString& dir) {
    const auto r = git(dashC(dir, {QStringLiteral("rev-parse"), QStringLiteral("--show-toplevel")}), kQueryLimit);
    const QString root = r.stdOut.trimmed();
    if (r.exitCode != 0 || root.isEmpty()) return std::nullopt;
    return root;
}

bool WorktreeManager::isGitRepo(const QString& dir) const {
    return git(dashC(dir, {QStringLiteral("rev-parse"), QStringLiteral("--is-inside-work-tree")})).exitCode == 0;
}

std::optional<QString> WorktreeManager::detectDefaultBranch(const QString& root) const {
    const QString branch =
        git(dashC(root, {QStringLiteral("branch"), QStringLiteral("--show-current")})).stdOut.trimmed();
    if (branch.isEmpty()) return std::nullopt;
    return branch;
}

QStringList WorktreeManager::branches(const QString& dir) const {
    const auto r = git(dashC(dir, {QStringLiteral("for-each-ref"), QStringLiteral("--format=%(refname:short)"),
                                   QStringLiteral("refs/heads")}));
    return r.stdOut.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

std::optional<QString> WorktreeManager::checkout(const QString& branch, const QString& dir) const {
    const auto r = git(dashC(dir, {QStringLiteral("checkout"), branch}));
    if (r.launchFailed()) return r.stdErr;
    if (r.exitCode == 0) return std::nullopt;
    const QString err = r.stdErr.trimmed();
    return err.isEmpty() ? QStringLiteral("git checkout failed") : err;
}

std::optional<QString> WorktreeManager::deleteBranch(const QString& branch, const QString& root) const {
    const auto r = git(dashC(root, {QStringLiteral("branch"), QStringLiteral("-D"), QStringLiteral("--"), branch}));
    if (r.launchFailed()) return r.stdErr;
    if (r.exitCode == 0) return std::nullopt;
    return r.stdErr.isEmpty() ? QStringLiteral("git branch -D failed") : r.stdErr;
}

QList<WorktreeManager::Worktree> WorktreeManager::runWorktreeList(const QString& root) const {
    const auto r = git(dashC(root, {QStringLiteral("worktree"), QStringLiteral("list"), QStringLiteral("--porcelain")}));
    if (r.launchFailed()) return {};
    return parseWorktreeList(r.stdOut);
}

void WorktreeManager::pruneWorktrees(const QString& root) const {
    git(dashC(root, {QStringLiteral("worktree"), QStringLiteral("prune")}));
}

std::optional<WorktreeManager::DiffStat> WorktreeManager::diffStat(const QString& dir) const {
    const auto r = git(dashC(dir, {QStringLiteral("diff"), QStringLiteral("--shortstat"), QStringLiteral("HEAD")}),
                       kQueryLimit);
    if (r.exitCode != 0) return std::nullopt;
    return parseShortstat(r.stdOut);
}

bool WorktreeManager::hasOriginRemote(const QString& dir) const {
    return git(dashC(dir, {QStringLiteral("remote"), QStringLiteral("get-url"), QStringLiteral("origin")}),
               kQueryLimit)
               .exitCode == 0;
}

QString WorktreeManager::reviewDiff(const QString& worktreePath, const QString& base) const {
    const QString committed =
        git(dashC(worktreePath, {QStringLiteral("diff"), base + QStringLiteral("...HEAD")}), kDiffLimit).stdOut;
    const QString uncommitted =
        git(dashC(worktreePath, {QStringLiteral("diff"), QStringLiteral("HEAD")}), kDiffLimit).stdOut;
    if (uncommitted.trimmed().isEmpty()) return committed;
    return committed + QStringLiteral("\n\n") + uncommittedMarker() + QStringLiteral("\n\n") + uncommitted;
}

WorktreeManager::RecapInputs WorktreeManager::recapInputs(const QString& worktreePath, const QString& base) const {
    const QString range = base + QStringLiteral("...HEAD");
    RecapInputs in;
    in.nameStatus = git(dashC(worktreePath, {QStringLiteral("diff"), QStringLiteral("--name-status"), range}),
                        kDiffLimit).stdOut;
    in.numstat = git(dashC(worktreePath, {QStringLiteral("diff"), QStringLiteral("--numstat"), range}),
                     kDiffLimit).stdOut;
    in.log = git(dashC(worktreePath, {QStringLiteral("log"), QStringLiteral("--oneline"), base + QStringLiteral("..HEAD")}),
                 kDiffLimit).stdOut;
    return in;
}

// ---- create and remove

WorktreeManager::Created WorktreeManager::createWorktree(const QString& name,
                                                         const std::optional<QString>& baseBranch,
                                                         const QString& repoRoot) {
    const QString safe = safeBranchName(name);
    const QString dir = worktreesDir(repoRoot);
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + safe;
    const QString branch = QLatin1String(kBranchPrefix) + safe;

    ensureWorktreesExcluded(repoRoot);

    for (const Worktree& wt : runWorktreeList(repoRoot)) {
        if (wt.branch != branch) continue;
        if (QFileInfo(wt.path).isDir()) return {wt.path, std::nullopt};
        // Its directory was deleted by hand: forget the record and check the branch out anew
        // rather than hand back a path nobody can enter.
        pruneWorktrees(repoRoot);
        break;
    }

    const QString base = baseBranch && !baseBranch->isEmpty()
        ? *baseBranch
        : detectDefaultBranch(repoRoot).value_or(QStringLiteral("main"));

    const auto first = git({QStringLiteral("worktree"), QStringLiteral("add"), QStringLiteral("-b"), branch,
                            QStringLiteral("--"), path, base},
                           std::nullopt, repoRoot);
    if (first.launchFailed()) return {QString(), WorktreeError::launchFailed(first.stdErr)};
    if (first.exitCode == 0) {
        recordWorktreeMeta(repoRoot, path, base);
        return {path, std::nullopt};
    }
    const QString firstError = errorText(first);
    if (!firstError.contains(QLatin1String("already exists")))
        return {QString(), WorktreeError::creationFailed(firstError)};

    // The branch outlived an earlier worktree: check it out into a fresh one.
    const auto second = git(dashC(repoRoot, {QStringLiteral("worktree"), QStringLiteral("add"), QStringLiteral("--"),
                                             path, branch}));
    if (second.launchFailed()) return {QString(), WorktreeError::launchFailed(second.stdErr)};
    if (second.exitCode != 0) return {QString(), WorktreeError::creationFailed(firstError)};
    recordWorktreeMeta(repoRoot, path, base);
    return {path, std::nullopt};
}

namespace {

QString debugWorktreeListing(const QString& root, const QProcessEnvironment& env) {
    const auto r = git(dashC(root, {QStringLiteral("worktree"), QStringLiteral("list"), QStringLiteral("--porcelain")}),
                       std::nullopt, root, env);
    if (r.launchFailed()) return QStringLiteral("(failed to run: ") + r.stdErr + QLatin1Char(')');
    const QString out = r.stdOut + r.stdErr;
    return out.isEmpty() ? QStringLiteral("(no output)") : out;
}

}  // namespace

std::optional<WorktreeManager::WorktreeError> WorktreeManager::removeWorktree(const QString& repoRoot,
                                                                              const QString& path) {
    const QString name = QFileInfo(path).fileName();
    // A GIT_DIR or GIT_WORK_TREE the application was started with would point git elsewhere.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& key : env.keys())
        if (key.startsWith(QLatin1String("GIT_"))) env.remove(key);

    SystemLog::write(u"WorktreeManager", QStringLiteral("removeWorktree: repoRoot=%1 path=%2 name=%3")
                                             .arg(repoRoot, path, name));
    const auto r = git(dashC(repoRoot, {QStringLiteral("worktree"), QStringLiteral("remove"),
                                        QStringLiteral("--force"), name}),
                       std::nullopt, repoRoot, env);
    if (r.launchFailed()) return WorktreeError::launchFailed(r.stdErr);
    if (r.exitCode == 0) return std::nullopt;

    const QString err = errorText(r);
    const QString listing = debugWorktreeListing(repoRoot, env);
    SystemLog::write(u"WorktreeManager",
                     QStringLiteral("removeWorktree failed: %1\nListing:\n%2").arg(err, listing));
    return WorktreeError::removeFailed(err + QStringLiteral("\n\nVarnix repoRoot: ") + repoRoot +
                                       QStringLiteral("\nTarget name: ") + name +
                                       QStringLiteral("\n\nGit's view of worktrees:\n") + listing);
}
