#include "ui/KeyChords.h"

#include <QFlags>
#include <QKeyEvent>
#include <QSet>
#include <gtest/gtest.h>

using namespace KeyChords;

namespace {

constexpr auto Ctrl = Qt::ControlModifier;
constexpr auto Shift = Qt::ShiftModifier;
constexpr auto Alt = Qt::AltModifier;

TEST(KeyChords, EveryCommandHasOnePrimaryChordAndNoChordIsAmbiguous) {
    QSet<QString> primaries;
    QSet<QString> chords;
    for (const Entry& e : table()) {
        const QString id = QString::number(int(e.command)) + "/" + QString::number(e.index);
        if (e.primary) {
            EXPECT_FALSE(primaries.contains(id)) << qPrintable(e.macChord);
            primaries << id;
        }
        const QString chord = label(e);
        EXPECT_FALSE(chords.contains(chord)) << "two commands on " << qPrintable(chord);
        chords << chord;
        // Every chord in the table is matched back to its own command.
        const Qt::Key key = Qt::Key(e.key.qtKey);
        EXPECT_EQ(match(key, e.modifiers), (Match{e.command, e.index})) << qPrintable(chord);
    }
    // The shortcut table: 8 Command chords, 9 number chords, 6 further ones; then 4 menu chords.
    EXPECT_EQ(table().size(), 8 + 9 + 6 + 4);
}

TEST(KeyChords, LabelsFollowTheLinuxConvention) {
    struct Case {
        Command command;
        int index;
        const char* label;
    };
    const Case cases[] = {
        {Command::NewSession, 0, "Ctrl+Shift+T"},
        {Command::CommandPalette, 0, "Ctrl+Shift+K"},
        {Command::CloseSession, 0, "Ctrl+Shift+W"},
        {Command::ToggleDashboard, 0, "Ctrl+Shift+D"},
        {Command::NewSessionWithWorktree, 0, "Ctrl+Shift+N"},
        {Command::ToggleSidebar, 0, "Ctrl+Shift+\\"},
        {Command::ZoomIn, 0, "Ctrl+Shift+="},
        {Command::ZoomOut, 0, "Ctrl+Shift+-"},
        {Command::SwitchSession, 0, "Alt+1"},
        {Command::SwitchSession, 8, "Alt+9"},
        {Command::NewSecondAgentSession, 0, "Ctrl+Alt+Shift+T"},
        {Command::NewOrchestratorSession, 0, "Ctrl+Alt+Shift+O"},
        {Command::VoiceInput, 0, "Ctrl+Alt+Shift+V"},
        {Command::ZoomReset, 0, "Ctrl+Alt+Shift+0"},
        {Command::ToggleQuickWorkspace, 0, "Ctrl+Alt+Shift+A"},
        {Command::Settings, 0, "Ctrl+Shift+,"},
        {Command::Quit, 0, "Ctrl+Shift+Q"},
        {Command::NewWindow, 0, "Ctrl+Alt+Shift+N"},
        {Command::OpenProject, 0, "Ctrl+Shift+O"},
    };
    for (const Case& c : cases) EXPECT_EQ(label(c.command, c.index), c.label);
    EXPECT_EQ(label(Command::SwitchSession, 9), "") << "there is no tenth number chord";
    EXPECT_EQ(menuText("New Claude Session", Command::NewSession), "New Claude Session\tCtrl+Shift+T");
    EXPECT_EQ("Show/hide the left sidebar (" + label(Command::ToggleSidebar) + ")",
              "Show/hide the left sidebar (Ctrl+Shift+\\)");
}

// Shaped like the new-tab menu's entries: a key equivalent and logical modifier flags.
struct MenuRecord {
    enum class Modifier { Primary = 0x1, Shift = 0x2 };
    Q_DECLARE_FLAGS(Modifiers, Modifier)
    QString keyEquivalent;
    Modifiers modifiers;
};

TEST(KeyChords, KeyEquivalentsWithLogicalModifiersGetTheirChordLabels) {
    using M = MenuRecord::Modifier;
    EXPECT_EQ(labelFor(MenuRecord{"t", M::Primary}), "Ctrl+Shift+T");
    EXPECT_EQ(labelFor(MenuRecord{"t", MenuRecord::Modifiers(M::Primary) | M::Shift}), "Ctrl+Alt+Shift+T");
    EXPECT_EQ(labelFor(MenuRecord{"o", MenuRecord::Modifiers(M::Primary) | M::Shift}), "Ctrl+Alt+Shift+O");
    EXPECT_EQ(labelFor(MenuRecord{"", {}}), "") << "an entry without a key equivalent";
    EXPECT_EQ(labelFor(MenuRecord{"t", M::Shift}), "") << "without Primary there is no chord";
    // Keys outside the table follow the same rules.
    EXPECT_EQ(labelForKeyEquivalent("j", true, false), "Ctrl+Shift+J");
    EXPECT_EQ(labelForKeyEquivalent("4", true, false), "Alt+4");
    EXPECT_EQ(labelForKeyEquivalent("j", true, false, true), "Ctrl+Alt+Shift+J");
}

TEST(KeyChords, MatchingNeedsExactlyTheChordsModifiers) {
    struct Case {
        const char* name;
        int key;
        Qt::KeyboardModifiers modifiers;
        quint32 scanCode;
        std::optional<Match> expected;
    };
    const Case cases[] = {
        {"Ctrl+Shift+T", Qt::Key_T, Ctrl | Shift, 28, Match{Command::NewSession}},
        {"plain Ctrl+T stays with the terminal", Qt::Key_T, Ctrl, 28, std::nullopt},
        {"Ctrl+Alt+Shift+T", Qt::Key_T, Ctrl | Alt | Shift, 28, Match{Command::NewSecondAgentSession}},
        {"Super held too", Qt::Key_T, Ctrl | Shift | Qt::MetaModifier, 28, std::nullopt},
        {"Alt+3", Qt::Key_3, Alt, 12, Match{Command::SwitchSession, 2}},
        {"Alt+3 without a scan code", Qt::Key_3, Alt, 0, Match{Command::SwitchSession, 2}},
        {"Alt+3 on the keypad", Qt::Key_3, Alt | Qt::KeypadModifier, 89, std::nullopt},
        {"Alt+letter stays with readline", Qt::Key_B, Alt, 56, std::nullopt},
        {"Ctrl+Shift+= arrives as plus", Qt::Key_Plus, Ctrl | Shift, 21, Match{Command::ZoomIn}},
        {"Ctrl+Alt+Shift+= zooms in too", Qt::Key_Plus, Ctrl | Alt | Shift, 21, Match{Command::ZoomIn}},
        {"Ctrl+Shift+- arrives as underscore", Qt::Key_Underscore, Ctrl | Shift, 20, Match{Command::ZoomOut}},
        {"Ctrl+Shift+\\ arrives as bar", Qt::Key_Bar, Ctrl | Shift, 51, Match{Command::ToggleSidebar}},
        {"Ctrl+Alt+Shift+0 arrives as parenthesis", Qt::Key_ParenRight, Ctrl | Alt | Shift, 19,
         Match{Command::ZoomReset}},
        {"Ctrl+Shift+0 is no shortcut", Qt::Key_ParenRight, Ctrl | Shift, 19, std::nullopt},
        {"Ctrl+Shift+, arrives as less-than", Qt::Key_Less, Ctrl | Shift, 59, Match{Command::Settings}},
        {"Ctrl+Shift+V is the terminal's paste", Qt::Key_V, Ctrl | Shift, 55, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(match(c.key, c.modifiers, c.scanCode), c.expected) << c.name;
}

TEST(KeyChords, PunctuationAndDigitsMatchByPhysicalKey) {
    // German layout: the key right of 0 produces a dead acute, Shift+0 produces "=".
    EXPECT_EQ(match(Qt::Key_Dead_Acute, Ctrl | Shift, 21), (Match{Command::ZoomIn}));
    EXPECT_EQ(match(Qt::Key_Equal, Ctrl | Alt | Shift, 19), (Match{Command::ZoomReset}))
        << "the 0 key is zoom reset even where it produces =";
    // French layout: the 3 key produces a double quote unless shifted.
    EXPECT_EQ(match(Qt::Key_QuoteDbl, Alt, 12), (Match{Command::SwitchSession, 2}));
    EXPECT_EQ(match(Qt::Key_3, Alt, 13), (Match{Command::SwitchSession, 3})) << "the key's position decides";
}

TEST(KeyChords, LettersFollowTheLayoutAndFallBackToThePositionForNonLatinLayouts) {
    // Dvorak: T lies where US has K (scan 45); the US T position (28) produces Y.
    EXPECT_EQ(match(Qt::Key_T, Ctrl | Shift, 45), (Match{Command::NewSession}));
    EXPECT_EQ(match(Qt::Key_Y, Ctrl | Shift, 28), std::nullopt);
    // Russian: the US T position produces Cyrillic ie, whose key value is its code point.
    const int cyrillicIe = 0x0415;
    EXPECT_EQ(match(cyrillicIe, Ctrl | Shift, 28), (Match{Command::NewSession}));
    EXPECT_EQ(match(cyrillicIe, Ctrl | Shift, 0), std::nullopt);
}

TEST(KeyChords, MatchesKeyEvents) {
    QKeyEvent shortcut(QEvent::KeyPress, Qt::Key_T, Ctrl | Shift, 28, 0, 0, QStringLiteral("\x14"));
    EXPECT_EQ(match(&shortcut), (Match{Command::NewSession}));
    QKeyEvent plain(QEvent::KeyPress, Qt::Key_T, Ctrl, 28, 0, 0, QStringLiteral("\x14"));
    EXPECT_EQ(match(&plain), std::nullopt);
    QKeyEvent number(QEvent::KeyPress, Qt::Key_3, Alt, 12, 0, 0, QStringLiteral("3"));
    EXPECT_EQ(match(&number), (Match{Command::SwitchSession, 2}));
    EXPECT_EQ(match(nullptr), std::nullopt);
}

}  // namespace
