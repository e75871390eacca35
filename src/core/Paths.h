#pragma once

#include <QString>

// Everything that reads the user's home goes through here, so tests can point $HOME at a
// temporary directory.
namespace Paths {

// $HOME when set and non-empty, else the password database's home directory.
QString home();
// ~/.config/varnix
QString configDir();
// ~/.config/varnix/<name>
QString configFile(const QString& name);
// $XDG_RUNTIME_DIR when it is a usable directory, else the config directory. For secrets and
// sockets: never a shared /tmp.
QString runtimeDir();
// The system temporary directory (TMPDIR or /tmp), without a trailing slash.
QString tempDir();
// The running executable: /proc/self/exe resolved.
QString executablePath();

}  // namespace Paths
