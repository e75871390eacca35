#pragma once

#include <QString>
#include <QStringList>

// Where this platform keeps shells and programs, for launching tab children and finding agent
// programs. Tests inject tables of their own.
struct PlatformPaths {
    // Directories (each ending in "/") searched for the shell's name.
    QStringList shellDirectories;
    // The shell's name when SHELL names none.
    QString defaultShellName;
    // Whether the password database's shell is consulted (its name, then itself) before the
    // last-resort shells.
    bool useAccountShell = false;
    // Tried in order when the name search fails; the last one is used even when missing.
    QStringList lastResortShells;
    // Put in front of a child's PATH when missing; a leading "~/" means the child's home.
    QStringList pathPrefixes;
    // LANG when the parent has none.
    QString defaultLang;
    // Variables copied into a child's environment when the parent has them.
    QStringList copiedVariables;
    // Directories (ending in "/") tried for an agent program before the caller's locations.
    QStringList agentDirectories;
    // Directories relative to the home (ending in "/") tried after the caller's locations.
    QStringList agentHomeDirectories;
    // Whether the user's npm global bin directory is tried, after the caller's locations.
    bool useNpmUserPrefix = false;

    static const PlatformPaths& linuxPaths();
    static const PlatformPaths& macPaths();
    // The table of the platform this build runs on.
    static const PlatformPaths& current();
};
