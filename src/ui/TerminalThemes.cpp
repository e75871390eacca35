#include "ui/TerminalThemes.h"

#include "app/PreferenceKeys.h"
#include "core/Preferences.h"
#include "sessions/terminal/TerminalWidget.h"

#include <algorithm>
#include <array>

namespace TerminalThemes {

namespace {

struct ThemeRow {
    const char* name;
    const char* background;
    const char* foreground;
    const char* cursor;
    const char* selection;
    const char* ansi;  // 16 colours separated by blanks
};

// The two Solarized themes share one palette.
constexpr char kSolarizedPalette[] =
    "073642 DC322F 859900 B58900 268BD2 D33682 2AA198 EEE8D5 002B36 CB4B16 586E75 657B83 839496 6C71C4 93A1A1 FDF6E3";

constexpr ThemeRow kThemes[] = {
    {"Varnix", "0D0D0D", "D9D9D9", "FF9500", "FFA500",
     "1A1A1A FF3B30 34C759 FFCC00 0A84FF BF5AF2 32D4DE D9D9D9 595959 FF6961 5BE584 FFE066 5AC8FA DA8FFF 6FE9F0 FFFFFF"},
    {"Dracula", "282A36", "F8F8F2", "F8F8F0", "44475A",
     "21222C FF5555 50FA7B F1FA8C BD93F9 FF79C6 8BE9FD F8F8F2 6272A4 FF6E6E 69FF94 FFFFA5 D6ACFF FF92DF A4FFFF FFFFFF"},
    {"Solarized Dark", "002B36", "839496", "93A1A1", "073642",
     kSolarizedPalette},
    {"Solarized Light", "FDF6E3", "657B83", "586E75", "EEE8D5",
     kSolarizedPalette},
    {"Nord", "2E3440", "D8DEE9", "D8DEE9", "434C5E",
     "3B4252 BF616A A3BE8C EBCB8B 81A1C1 B48EAD 88C0D0 E5E9F0 4C566A BF616A A3BE8C EBCB8B 81A1C1 B48EAD 8FBCBB ECEFF4"},
    {"Gruvbox Dark", "282828", "EBDBB2", "EBDBB2", "504945",
     "282828 CC241D 98971A D79921 458588 B16286 689D6A A89984 928374 FB4934 B8BB26 FABD2F 83A598 D3869B 8EC07C EBDBB2"},
    {"One Dark", "282C34", "ABB2BF", "528BFF", "3E4451",
     "282C34 E06C75 98C379 E5C07B 61AFEF C678DD 56B6C2 ABB2BF 5C6370 E06C75 98C379 E5C07B 61AFEF C678DD 56B6C2 FFFFFF"},
};

constexpr float kSelectionOpacity = 0.55f;

TerminalTheme build(const ThemeRow& row) {
    TerminalTheme theme;
    theme.name = QString::fromUtf8(row.name);
    theme.background = parseHex(QString::fromLatin1(row.background));
    theme.foreground = parseHex(QString::fromLatin1(row.foreground));
    theme.cursor = parseHex(QString::fromLatin1(row.cursor));
    theme.selection = parseHex(QString::fromLatin1(row.selection));
    theme.selection.setAlphaF(kSelectionOpacity);
    for (const QString& hex : QString::fromLatin1(row.ansi).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        theme.ansi << parseHex(hex);
    return theme;
}

int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'a' && u <= 'f') return u - 'a' + 10;
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    return -1;
}

// One channel as the terminal takes it: clamped to 0-1, scaled to 16 bits and truncated, then
// the high byte, since the emulator's colours have 8 bits (n * 257 >> 8 is n again).
int terminalChannel(float component) {
    const double unit = std::clamp(double(component), 0.0, 1.0);
    return int(unit * 65535.0) >> 8;
}

}  // namespace

QColor parseHex(QStringView hex) {
    // One unsigned 32-bit number: at most eight digits, nothing else.
    if (hex.isEmpty() || hex.size() > 8) return QColor(0, 0, 0);
    quint32 value = 0;
    for (QChar c : hex) {
        const int digit = hexDigit(c);
        if (digit < 0) return QColor(0, 0, 0);
        value = (value << 4) | quint32(digit);
    }
    return QColor(int((value >> 16) & 0xFF), int((value >> 8) & 0xFF), int(value & 0xFF));
}

const QList<TerminalTheme>& all() {
    static const QList<TerminalTheme> themes = [] {
        QList<TerminalTheme> list;
        for (const ThemeRow& row : kThemes) list << build(row);
        return list;
    }();
    return themes;
}

const TerminalTheme& theme(const std::optional<QString>& name) {
    const QList<TerminalTheme>& themes = all();
    if (name) {
        for (const TerminalTheme& t : themes) {
            if (t.name == *name) return t;
        }
    }
    return themes.first();
}

const TerminalTheme& current() {
    return theme(Preferences::shared().stringValue(PrefKey::TerminalTheme));
}

}  // namespace TerminalThemes

void TerminalTheme::apply(TerminalWidget* terminal) const {
    if (!terminal) return;
    terminal->setBackgroundColor(background);
    terminal->setForegroundColor(foreground);
    terminal->setCursorColor(cursor);
    terminal->setSelectionColor(selection);
    if (ansi.size() != 16) return;
    std::array<QColor, 16> palette;
    for (size_t i = 0; i < palette.size(); ++i) {
        const QColor srgb = ansi[qsizetype(i)].toRgb();
        palette[i] = QColor(TerminalThemes::terminalChannel(srgb.redF()), TerminalThemes::terminalChannel(srgb.greenF()),
                            TerminalThemes::terminalChannel(srgb.blueF()));
    }
    terminal->setAnsiColors(palette);
}
