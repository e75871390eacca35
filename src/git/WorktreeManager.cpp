#include "git/WorktreeManager.h"

#include "core/Json.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/Text.h"

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
