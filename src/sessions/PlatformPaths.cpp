#include "sessions/PlatformPaths.h"

#include <QtGlobal>

namespace {
const QStringList kCommonCopied{QStringLiteral("LC_ALL"), QStringLiteral("LC_CTYPE"), QStringLiteral("TMPDIR"),
                                QStringLiteral("TZ"), QStringLiteral("DISPLAY")};
}  // namespace

const PlatformPaths& PlatformPaths::linuxPaths() {
    static const PlatformPaths paths = [] {
        PlatformPaths p;
        p.shellDirectories = {QStringLiteral("/bin/"), QStringLiteral("/usr/bin/"), QStringLiteral("/usr/local/bin/"),
                              QStringLiteral("/home/linuxbrew/.linuxbrew/bin/")};
        p.defaultShellName = QStringLiteral("bash");
        p.useAccountShell = true;
        // zsh is not part of a stock system: a missing /bin/zsh must never be launched.
        p.lastResortShells = {QStringLiteral("/bin/bash"), QStringLiteral("/bin/sh")};
        p.pathPrefixes = {QStringLiteral("~/.local/bin"), QStringLiteral("/usr/local/bin"),
                          QStringLiteral("/home/linuxbrew/.linuxbrew/bin")};
        // Always present with glibc; en_US.UTF-8 may not be generated.
        p.defaultLang = QStringLiteral("C.UTF-8");
        // Desktop programs and git over ssh need the session's display, bus and agent.
        p.copiedVariables = kCommonCopied + QStringList{QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("XAUTHORITY"),
                                                         QStringLiteral("XDG_RUNTIME_DIR"),
                                                         QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                                                         QStringLiteral("SSH_AUTH_SOCK")};
        p.agentDirectories = {QStringLiteral("/usr/local/bin/"), QStringLiteral("/home/linuxbrew/.linuxbrew/bin/")};
        p.agentHomeDirectories = {QStringLiteral(".local/bin/")};
        p.useNpmUserPrefix = true;
        return p;
    }();
    return paths;
}

const PlatformPaths& PlatformPaths::macPaths() {
    static const PlatformPaths paths = [] {
        PlatformPaths p;
        p.shellDirectories = {QStringLiteral("/bin/"), QStringLiteral("/usr/bin/"), QStringLiteral("/opt/homebrew/bin/"),
                              QStringLiteral("/usr/local/bin/")};
        p.defaultShellName = QStringLiteral("zsh");
        p.useAccountShell = false;
        p.lastResortShells = {QStringLiteral("/bin/zsh")};
        p.pathPrefixes = {QStringLiteral("/opt/homebrew/bin"), QStringLiteral("/opt/homebrew/sbin"),
                          QStringLiteral("/usr/local/bin")};
        p.defaultLang = QStringLiteral("en_US.UTF-8");
        p.copiedVariables = kCommonCopied;
        p.agentDirectories = {QStringLiteral("/opt/homebrew/bin/"), QStringLiteral("/usr/local/bin/")};
        p.agentHomeDirectories = {QStringLiteral(".local/bin/")};
        return p;
    }();
    return paths;
}

const PlatformPaths& PlatformPaths::current() {
#ifdef Q_OS_MACOS
    return macPaths();
#else
    return linuxPaths();
#endif
}
