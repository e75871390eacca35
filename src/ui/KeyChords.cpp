#include "ui/KeyChords.h"

#include <QKeyEvent>

namespace KeyChords {

namespace {

constexpr Qt::KeyboardModifiers kCtrlShift = Qt::ControlModifier | Qt::ShiftModifier;
constexpr Qt::KeyboardModifiers kCtrlAltShift = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;
constexpr Qt::KeyboardModifiers kAlt = Qt::AltModifier;
// Modifiers that take part in matching; anything else held (none here) is ignored.
constexpr Qt::KeyboardModifiers kRelevant = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier |
                                            Qt::MetaModifier | Qt::KeypadModifier | Qt::GroupSwitchModifier;

// XKB key codes of the US layout (evdev code + 8), as X11 and Wayland report them.
quint32 usScanCode(QChar c) {
    static const char* rows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
    static const quint32 rowStart[] = {24, 38, 52};
    const char lower = char(c.toLower().toLatin1());
    for (int r = 0; r < 3; ++r) {
        for (int i = 0; rows[r][i]; ++i) {
            if (rows[r][i] == lower) return rowStart[r] + quint32(i);
        }
    }
    if (c >= QLatin1Char('1') && c <= QLatin1Char('9')) return 10 + quint32(c.unicode() - '1');
    switch (c.toLatin1()) {
    case '0': return 19;
    case '-': return 20;
    case '=': return 21;
    case '\\': return 51;
    case ',': return 59;
    default: return 0;
    }
}

int usShifted(QChar c) {
    static const char digitsShifted[] = ")!@#$%^&*(";
    if (c.isDigit()) return digitsShifted[c.unicode() - '0'];
    switch (c.toLatin1()) {
    case '-': return '_';
    case '=': return '+';
    case '\\': return '|';
    case ',': return '<';
    default: return 0;
    }
}

Key keyFor(QChar c) {
    Key key;
    if (c.isLetter() && c.unicode() < 0x80) {
        key.kind = Key::Kind::Letter;
        key.base = c.toUpper();
        key.qtKey = key.base.unicode();
    } else {
        key.kind = Key::Kind::Physical;
        key.base = c;
        key.qtKey = c.unicode();
        key.qtShiftedKey = usShifted(c);
    }
    key.scanCode = usScanCode(c);
    return key;
}

bool keyMatches(const Key& key, int qtKey, quint32 scanCode) {
    if (key.kind == Key::Kind::Physical) {
        if (scanCode != 0) return scanCode == key.scanCode;
        return qtKey == key.qtKey || (key.qtShiftedKey != 0 && qtKey == key.qtShiftedKey);
    }
    if (qtKey == key.qtKey) return true;
    // A layout without Latin letters (Cyrillic, Greek, ...): fall back to the US position.
    const bool nonLatinText = qtKey > 0x7f && qtKey < Qt::Key_Escape;
    return nonLatinText && scanCode != 0 && scanCode == key.scanCode;
}

QString macChordFor(QChar c, bool shift, bool option) {
    QString chord;
    if (option) chord += QChar(0x2325);  // ⌥
    if (shift) chord += QChar(0x21E7);   // ⇧
    chord += QChar(0x2318);              // ⌘
    chord += c.toUpper();
    return chord;
}

QString labelOf(Qt::KeyboardModifiers modifiers, const Key& key) {
    QString text;
    if (modifiers & Qt::ControlModifier) text += QStringLiteral("Ctrl+");
    if (modifiers & Qt::AltModifier) text += QStringLiteral("Alt+");
    if (modifiers & Qt::ShiftModifier) text += QStringLiteral("Shift+");
    text += key.base;
    return text;
}

// The Linux chord of a Command shortcut.
Qt::KeyboardModifiers linuxModifiers(QChar c, bool shift, bool option) {
    if (shift || option) return kCtrlAltShift;
    if (c >= QLatin1Char('1') && c <= QLatin1Char('9')) return kAlt;
    return kCtrlShift;
}

Entry make(Command command, QChar c, bool shift = false, bool option = false, int index = 0, bool primary = true) {
    Entry e;
    e.command = command;
    e.index = index;
    e.macChord = macChordFor(c, shift, option);
    e.modifiers = linuxModifiers(c, shift, option);
    e.key = keyFor(c);
    e.primary = primary;
    return e;
}

}  // namespace

const QList<Entry>& table() {
    static const QList<Entry> entries = [] {
        QList<Entry> list{
            make(Command::NewSession, QLatin1Char('t')),
            make(Command::CommandPalette, QLatin1Char('k')),
            make(Command::CloseSession, QLatin1Char('w')),
            make(Command::ToggleDashboard, QLatin1Char('d')),
            make(Command::NewSessionWithWorktree, QLatin1Char('n')),
            make(Command::ToggleSidebar, QLatin1Char('\\')),
            make(Command::ZoomIn, QLatin1Char('=')),
            make(Command::ZoomOut, QLatin1Char('-')),
        };
        for (int i = 0; i < 9; ++i) list << make(Command::SwitchSession, QChar('1' + i), false, false, i);
        list << make(Command::NewSecondAgentSession, QLatin1Char('t'), true)
             << make(Command::NewOrchestratorSession, QLatin1Char('o'), true)
             << make(Command::VoiceInput, QLatin1Char('v'), true)
             << make(Command::ZoomIn, QLatin1Char('='), true, false, 0, false)
             << make(Command::ZoomReset, QLatin1Char('0'), true)
             << make(Command::ToggleQuickWorkspace, QLatin1Char('a'), false, true)
             << make(Command::Settings, QLatin1Char(','))
             << make(Command::Quit, QLatin1Char('q'))
             << make(Command::NewWindow, QLatin1Char('n'), true)
             << make(Command::OpenProject, QLatin1Char('o'));
        return list;
    }();
    return entries;
}

const Entry* entry(Command command, int index) {
    for (const Entry& e : table()) {
        if (e.primary && e.command == command && e.index == index) return &e;
    }
    return nullptr;
}

QString label(const Entry& e) { return labelOf(e.modifiers, e.key); }

QString label(Command command, int index) {
    const Entry* e = entry(command, index);
    return e ? label(*e) : QString();
}

QString menuText(const QString& title, Command command, int index) {
    const QString chord = label(command, index);
    return chord.isEmpty() ? title : title + QLatin1Char('\t') + chord;
}

QString labelForKeyEquivalent(const QString& key, bool primary, bool shift, bool option) {
    if (key.size() != 1 || !primary) return {};
    const QChar c = key.at(0);
    const QString mac = macChordFor(c, shift, option);
    for (const Entry& e : table()) {
        if (e.macChord == mac) return label(e);
    }
    return labelOf(linuxModifiers(c, shift, option), keyFor(c));
}

std::optional<Match> match(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode) {
    const Qt::KeyboardModifiers held = modifiers & kRelevant;
    for (const Entry& e : table()) {
        if (held == e.modifiers && keyMatches(e.key, qtKey, nativeScanCode)) return Match{e.command, e.index};
    }
    return std::nullopt;
}

std::optional<Match> match(const QKeyEvent* event) {
    if (!event) return std::nullopt;
    return match(event->key(), event->modifiers(), event->nativeScanCode());
}

}  // namespace KeyChords
