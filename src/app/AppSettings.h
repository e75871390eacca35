#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Typed access to the settings several parts share. Stateless: every read goes to the
// preference store at the time of the call, every write goes there at once.
namespace AppSettings {

bool inboxEnabled();
// Stores the value and posts VRNXInboxEnabledDidChange, also when nothing changed.
void setInboxEnabled(bool enabled);

QStringList prioritySessionNames();
QStringList defaultSessionNames();

// A text is stored as it is (also an empty one); nothing removes the key.
void setTerminalThemeName(const std::optional<QString>& name);
// A non-empty text is stored; nothing or an empty text removes the key.
void setTerminalFontName(const std::optional<QString>& name);

// The stored terminal font size with the "not greater than 0 means 13" rule applied.
double terminalFontSize();

// "varnix.orch.autoNotify": absent or not a boolean means on.
bool orchestratorAutoNotify();

}  // namespace AppSettings
