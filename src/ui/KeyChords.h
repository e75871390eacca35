#pragma once

#include <QList>
#include <QString>
#include <Qt>
#include <optional>

class QKeyEvent;

// The one table of the application's keyboard shortcuts and their Linux chords. A terminal must
// keep every Ctrl+letter and Alt+letter chord, so a shortcut written with Command becomes:
//   Cmd+key               -> Ctrl+Shift+key
//   Shift+Cmd+key, Opt+Cmd+key -> Ctrl+Alt+Shift+key
//   Cmd+1 ... Cmd+9       -> Alt+1 ... Alt+9
// Menus, tooltips and messages take their labels from here; the shortcut filter matches key
// events against it.
namespace KeyChords {

enum class Command {
    NewSession,              // Cmd+T
    CommandPalette,          // Cmd+K
    CloseSession,            // Cmd+W
    ToggleDashboard,         // Cmd+D
    NewSessionWithWorktree,  // Cmd+N
    ToggleSidebar,           // Cmd+\ (backslash)
    ZoomIn,                  // Cmd+= and Shift+Cmd+=
    ZoomOut,                 // Cmd+-
    SwitchSession,           // Cmd+1 ... Cmd+9, index 0 ... 8
    NewSecondAgentSession,   // Shift+Cmd+T
    NewOrchestratorSession,  // Shift+Cmd+O
    VoiceInput,              // Shift+Cmd+V
    ZoomReset,               // Shift+Cmd+0
    ToggleQuickWorkspace,    // Opt+Cmd+A
    // Menu items that name a chord of their own.
    Settings,     // Cmd+,
    Quit,         // Cmd+Q
    NewWindow,    // Shift+Cmd+N
    OpenProject,  // Cmd+O
};

// A key position. Letters are matched by the key the layout produces (Ctrl+Shift+T is T wherever
// T lies), falling back to the US position when the layout produces no Latin letter; digits and
// the punctuation keys are matched by the physical key, since Shift changes what they produce.
struct Key {
    enum class Kind { Letter, Physical };
    Kind kind = Kind::Letter;
    QChar base;                 // 'T', '1', '\\', '=', '-', ',', '0' (the unshifted US character)
    int qtKey = 0;              // Qt::Key of `base`
    int qtShiftedKey = 0;       // Qt::Key of the US shifted character ('+' for '='), 0 for letters
    quint32 scanCode = 0;       // XKB key code (evdev + 8) of the US position
};

struct Entry {
    Command command;
    int index = 0;               // SwitchSession: 0 ... 8
    QString macChord;            // the original notation, e.g. "⇧⌘T"
    Qt::KeyboardModifiers modifiers;
    Key key;
    bool primary = true;         // the chord that labels the command (ZoomIn has a second one)
};

// Every chord, in the order of the shortcut table; each (command, index) has one primary entry.
const QList<Entry>& table();

// The primary entry of a command, or none.
const Entry* entry(Command command, int index = 0);

// "Ctrl+Shift+T", "Ctrl+Alt+Shift+O", "Alt+3", "Ctrl+Shift+\".
QString label(const Entry& entry);
QString label(Command command, int index = 0);

// Menu text whose shortcut column shows the chord without binding it: "<title>\t<label>".
QString menuText(const QString& title, Command command, int index = 0);

// The label of a key equivalent given with logical modifiers (Primary = Command, plus Shift or
// Option), as the new-tab menu entries carry them: ("t", Primary) -> "Ctrl+Shift+T",
// ("o", Primary|Shift) -> "Ctrl+Alt+Shift+O". Empty when the key is empty or Primary is missing.
QString labelForKeyEquivalent(const QString& key, bool primary, bool shift, bool option = false);

// For any record with `keyEquivalent` and QFlags `modifiers` whose enum has Primary and Shift
// (the new-tab menu entries): the chord label, or empty when the record has none.
template <typename Record>
QString labelFor(const Record& record) {
    using Modifier = typename Record::Modifier;
    return labelForKeyEquivalent(record.keyEquivalent, record.modifiers.testFlag(Modifier::Primary),
                                 record.modifiers.testFlag(Modifier::Shift));
}

struct Match {
    Command command;
    int index = 0;
    bool operator==(const Match&) const = default;
};

// The command whose chord this key press is, with exactly the chord's modifiers (a keypad key, Meta
// or AltGr never matches). `nativeScanCode` 0 means unknown.
std::optional<Match> match(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode = 0);
std::optional<Match> match(const QKeyEvent* event);

}  // namespace KeyChords
