#include "sessions/SandboxProfile.h"

#include <QFileInfo>

namespace {

// Backslashes first, so the escapes added for quotes are not doubled again.
QString quoted(const QString& path) {
    QString s = path;
    s.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    s.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + s + QLatin1Char('"');
}

QString rule(const char* head, const char* filter, const QString& path) {
    return QLatin1String(head) + QStringLiteral(" (") + QLatin1String(filter) + QLatin1Char(' ') +
           quoted(path) + QStringLiteral("))");
}

}  // namespace

const QStringList& SandboxProfile::writableHomeDirectories() {
    static const QStringList dirs = {
        QStringLiteral(".claude"),      QStringLiteral(".codex"),       QStringLiteral(".cache"),
        QStringLiteral(".npm"),         QStringLiteral(".config"),      QStringLiteral(".cargo"),
        QStringLiteral(".rustup"),      QStringLiteral(".local/share"), QStringLiteral(".local/state"),
        QStringLiteral("Library/Caches"),
    };
    return dirs;
}

const QStringList& SandboxProfile::writableHomeFiles() {
    static const QStringList files = {QStringLiteral(".claude.json"), QStringLiteral(".codex.json")};
    return files;
}

const QStringList& SandboxProfile::secretHomeDirectories() {
    static const QStringList dirs = {QStringLiteral(".ssh"), QStringLiteral(".aws"),
                                     QStringLiteral(".gnupg")};
    return dirs;
}

std::optional<QString> SandboxProfile::realPath(const QString& path) {
    if (path.isEmpty()) return std::nullopt;
    const QString resolved = QFileInfo(path).canonicalFilePath();
    if (resolved.isEmpty()) return std::nullopt;
    return resolved;
}

std::optional<QString> SandboxProfile::profile(const QString& worktreePath, const QString& repoRoot,
                                               const QString& home) {
    const auto w = realPath(worktreePath);
    if (!w) return std::nullopt;
    const auto r = realPath(repoRoot);
    if (!r) return std::nullopt;
    const QString h = realPath(home).value_or(home);

    // The sandbox applies the last matching rule: the broad denies come first, the re-opened
    // locations after them, and the control channel and secrets last so nothing reopens them.
    QStringList lines;
    lines << QStringLiteral("(version 1)") << QStringLiteral("(allow default)")
          << QStringLiteral(";; (1) deny writes under $HOME and the main repo wholesale")
          << rule("(deny file-write*", "subpath", h) << rule("(deny file-write*", "subpath", *r)
          << QStringLiteral(";; (2) re-open the caches/config the agent actually needs");
    for (const QString& d : writableHomeDirectories())
        lines << rule("(allow file-write*", "subpath", h + QLatin1Char('/') + d);
    for (const QString& f : writableHomeFiles())
        lines << rule("(allow file-write*", "literal", h + QLatin1Char('/') + f);
    lines << QStringLiteral(
                 ";; (3) worktree + git db \u2014 AFTER the broad denies (Seatbelt: last match wins)")
          << rule("(allow file-write*", "subpath", *w)
          << rule("(allow file-write*", "subpath", *r + QStringLiteral("/.git"))
          << QStringLiteral(";; (4) always-winning denies: control channel + secrets")
          << rule("(deny file-write*", "subpath", h + QStringLiteral("/.config/varnix"))
          << rule("(allow file-write*", "subpath", h + QStringLiteral("/.config/varnix/orch-events"));
    for (const QString& s : secretHomeDirectories())
        lines << rule("(deny file*", "subpath", h + QLatin1Char('/') + s);
    return lines.join(QLatin1Char('\n'));
}

SandboxProfile::Command SandboxProfile::wrap(const QString& profile, const QString& innerExecutable,
                                             const QStringList& innerArgs) {
    Command c;
    c.executable = QStringLiteral("/usr/bin/sandbox-exec");
    c.args << QStringLiteral("-p") << profile << innerExecutable << innerArgs;
    return c;
}
