#pragma once

#include <QString>
#include <functional>
#include <optional>

// The shared secret between the application and its bridges: 64 lower-case hex characters in
// ~/.config/varnix/orch-token, readable only by the user.
namespace OrchestrationToken {

// ~/.config/varnix/orch-token (the directory is created when missing).
QString defaultPath();
// The file's text trimmed; nothing when missing, unreadable or blank.
std::optional<QString> read(const QString& path);
// 32 bytes from the kernel's secure random source as 64 lower-case hex characters.
QString make();
// The stored token when there is one; otherwise a new one, written 0600 (returned even when the
// write fails). An existing file is reused as it is, permissions included.
QString loadOrCreate(const QString& path, const std::function<QString()>& generator = make);

}  // namespace OrchestrationToken
