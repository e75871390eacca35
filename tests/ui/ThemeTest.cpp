// Interface colours, the terminal themes, the font choice and the terminal appearance.
#include "app/AppDelegate.h"
#include "app/NotificationNames.h"
#include "app/PreferenceKeys.h"
#include "core/NotificationCenter.h"
#include "core/Preferences.h"
#include "sessions/SessionManager.h"
#include "sessions/terminal/AgentTerminalView.h"
#include "ui/LauncherWindow.h"
#include "ui/ProjectManager.h"
#include "ui/TerminalAppearance.h"
#include "ui/TerminalThemes.h"
#include "ui/Theme.h"
#include "ui/WindowController.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QVBoxLayout>

namespace {

QString hex(const QColor& c) {
    return QString::asprintf("%02X%02X%02X", c.red(), c.green(), c.blue());
}

// Installed fonts made up for the test.
class FakeFonts : public Theme::FontCatalog {
public:
    QStringList families;
    QStringList faces;  // "Family Style"
    std::optional<QFont> faceNamed(const QString& name) const override {
        if (!faces.contains(name)) return std::nullopt;
        QFont f(name.section(' ', 0, -2));
        f.setWeight(QFont::Medium);
        return f;
    }
    bool hasFamily(const QString& family) const override { return families.contains(family); }
    QFont systemFixedFont() const override {
        QFont f(QStringLiteral("System Mono"));
        f.setWeight(QFont::Light);
        return f;
    }
};

QString familyOf(const QFont& f) {
    return f.families().value(0, f.family());
}

}  // namespace

// ---- Theme

TEST(Theme, StateColoursFollowTheSessionState) {
    const std::pair<const char*, QColor> cases[] = {
        {"generating", Theme::green()},  {"thinking", Theme::yellow()},     {"userInput", Theme::accent()},
        {"idle", Theme::cyan()},         {"needsAttention", Theme::red()}, {"exited", Theme::text3()},
        {"Generating", Theme::text3()},  {"", Theme::text3()},
    };
    for (const auto& [text, colour] : cases) EXPECT_EQ(Theme::stateColor(QString::fromLatin1(text)), colour) << text;
    EXPECT_EQ(Theme::stateColor(SessionState::userInput), QColor(0xFF, 0x95, 0x00));
    EXPECT_EQ(Theme::stateColor(SessionState::thinking), QColor(0xFF, 0xCC, 0x00));
}

TEST(Theme, BranchColourIsTheFnv1aHashModuloThePalette) {
    // Published FNV-1a 64 vectors: "" 0xcbf29ce484222325, "a" 0xaf63dc4c8601ec8c,
    // "foobar" 0x85944171f73967e8.
    EXPECT_EQ(Theme::branchColor(""), QColor(0xFF6B9D));
    EXPECT_EQ(Theme::branchColor("a"), QColor(0xBF5AF2));
    EXPECT_EQ(Theme::branchColor("foobar"), QColor(0xFF9500));
}

TEST(Theme, TerminalFontChoiceAndItsFallbacks) {
    FakeFonts fonts;

    // Nothing installed: the system's monospaced font, regular, at the size asked (pixels).
    QFont f = Theme::terminalFont(15, std::nullopt, fonts);
    EXPECT_EQ(familyOf(f), "System Mono");
    EXPECT_EQ(f.weight(), QFont::Normal);
    EXPECT_EQ(f.pixelSize(), 15);

    // The fonts this application installs come after the Nerd Fonts, in order.
    fonts.families = {"DejaVu Sans Mono"};
    EXPECT_EQ(familyOf(Theme::terminalFont(13, std::nullopt, fonts)), "DejaVu Sans Mono");
    fonts.families << "JetBrains Mono";
    EXPECT_EQ(familyOf(Theme::terminalFont(13, std::nullopt, fonts)), "JetBrains Mono");
    fonts.families << "Hack Nerd Font" << "MesloLGS NF";
    EXPECT_EQ(familyOf(Theme::terminalFont(13, std::nullopt, fonts)), "MesloLGS NF");

    // A configured face by its exact name, else its family at normal weight.
    fonts.families << "Iosevka";
    fonts.faces = {"Iosevka Medium"};
    f = Theme::terminalFont(13, QStringLiteral("Iosevka Medium"), fonts);
    EXPECT_EQ(familyOf(f), "Iosevka");
    EXPECT_EQ(f.weight(), QFont::Medium);
    f = Theme::terminalFont(13, QStringLiteral("Iosevka"), fonts);
    EXPECT_EQ(familyOf(f), "Iosevka");
    EXPECT_EQ(f.weight(), QFont::Normal);

    // A configured name that is not installed falls back the same way.
    EXPECT_EQ(familyOf(Theme::terminalFont(13, QStringLiteral("Comic Mono"), fonts)), "MesloLGS NF");
    EXPECT_EQ(familyOf(Theme::terminalFont(13, QString(), fonts)), "MesloLGS NF");
}

TEST(Theme, TerminalFontOnThisMachineReadsThePreference) {
    ScopedMemoryPreferences prefs;
    const QStringList installed = QFontDatabase::families();
    auto has = [&](const QString& name) { return installed.contains(name, Qt::CaseInsensitive); };
    if (!has("JetBrains Mono") || !has("DejaVu Sans Mono")) GTEST_SKIP() << "fonts-jetbrains-mono not installed";
    for (const QString& nerd : Theme::terminalFontCandidates().mid(0, 5))
        if (has(nerd)) GTEST_SKIP() << "a Nerd Font is installed";

    QFont f = Theme::terminalFont(13);
    EXPECT_EQ(QFontInfo(f).family(), "JetBrains Mono");
    EXPECT_EQ(f.pixelSize(), 13);

    prefs.prefs().setValue(PrefKey::TerminalFontName, QStringLiteral("DejaVu Sans Mono"));
    EXPECT_EQ(QFontInfo(Theme::terminalFont(13)).family(), "DejaVu Sans Mono");
    prefs.prefs().setValue(PrefKey::TerminalFontName, QStringLiteral("JetBrains Mono ExtraBold"));
    f = Theme::terminalFont(13);
    EXPECT_EQ(QFontInfo(f).family(), "JetBrains Mono");
    EXPECT_GT(f.weight(), QFont::Bold);
    prefs.prefs().setValue(PrefKey::TerminalFontName, QStringLiteral("JetBrainsMono-Light"));
    EXPECT_LT(Theme::terminalFont(13).weight(), QFont::Normal);
    prefs.prefs().setValue(PrefKey::TerminalFontName, QStringLiteral("No Such Font Family"));
    EXPECT_EQ(QFontInfo(Theme::terminalFont(13)).family(), "JetBrains Mono");
}

// ---- Terminal themes

TEST(TerminalThemes, HexParser) {
    const std::pair<const char*, QColor> cases[] = {
        {"FF9500", QColor(255, 149, 0)}, {"ff9500", QColor(255, 149, 0)},     {"0d0D0d", QColor(13, 13, 13)},
        {"1", QColor(0, 0, 1)},          {"FFFFFFFF", QColor(255, 255, 255)}, {"", QColor(0, 0, 0)},
        {"GG0000", QColor(0, 0, 0)},     {"#FF9500", QColor(0, 0, 0)},        {"FF 95", QColor(0, 0, 0)},
        {"123456789", QColor(0, 0, 0)},  {"-1", QColor(0, 0, 0)},
    };
    for (const auto& [text, colour] : cases) {
        const QColor c = TerminalThemes::parseHex(QString::fromLatin1(text));
        EXPECT_EQ(c, colour) << text;
        EXPECT_EQ(c.alpha(), 255) << text;
    }
}

TEST(TerminalThemes, TheSevenThemesAndTheirPalettes) {
    struct Row {
        const char *name, *background, *foreground, *cursor, *selection;
    };
    const Row table[] = {
        {"Varnix", "0D0D0D", "D9D9D9", "FF9500", "FFA500"},
        {"Dracula", "282A36", "F8F8F2", "F8F8F0", "44475A"},
        {"Solarized Dark", "002B36", "839496", "93A1A1", "073642"},
        {"Solarized Light", "FDF6E3", "657B83", "586E75", "EEE8D5"},
        {"Nord", "2E3440", "D8DEE9", "D8DEE9", "434C5E"},
        {"Gruvbox Dark", "282828", "EBDBB2", "EBDBB2", "504945"},
        {"One Dark", "282C34", "ABB2BF", "528BFF", "3E4451"},
    };
    // Index by index; columns Varnix, Dracula, Solarized (both), Nord, Gruvbox Dark, One Dark.
    const char* palettes[16][6] = {
        {"1A1A1A", "21222C", "073642", "3B4252", "282828", "282C34"},
        {"FF3B30", "FF5555", "DC322F", "BF616A", "CC241D", "E06C75"},
        {"34C759", "50FA7B", "859900", "A3BE8C", "98971A", "98C379"},
        {"FFCC00", "F1FA8C", "B58900", "EBCB8B", "D79921", "E5C07B"},
        {"0A84FF", "BD93F9", "268BD2", "81A1C1", "458588", "61AFEF"},
        {"BF5AF2", "FF79C6", "D33682", "B48EAD", "B16286", "C678DD"},
        {"32D4DE", "8BE9FD", "2AA198", "88C0D0", "689D6A", "56B6C2"},
        {"D9D9D9", "F8F8F2", "EEE8D5", "E5E9F0", "A89984", "ABB2BF"},
        {"595959", "6272A4", "002B36", "4C566A", "928374", "5C6370"},
        {"FF6961", "FF6E6E", "CB4B16", "BF616A", "FB4934", "E06C75"},
        {"5BE584", "69FF94", "586E75", "A3BE8C", "B8BB26", "98C379"},
        {"FFE066", "FFFFA5", "657B83", "EBCB8B", "FABD2F", "E5C07B"},
        {"5AC8FA", "D6ACFF", "839496", "81A1C1", "83A598", "61AFEF"},
        {"DA8FFF", "FF92DF", "6C71C4", "B48EAD", "D3869B", "C678DD"},
        {"6FE9F0", "A4FFFF", "93A1A1", "8FBCBB", "8EC07C", "56B6C2"},
        {"FFFFFF", "FFFFFF", "FDF6E3", "ECEFF4", "EBDBB2", "FFFFFF"},
    };
    const QList<TerminalTheme>& all = TerminalThemes::all();
    ASSERT_EQ(all.size(), 7);
    for (int t = 0; t < 7; ++t) {
        const TerminalTheme& theme = all[t];
        SCOPED_TRACE(theme.name.toStdString());
        EXPECT_EQ(theme.name, table[t].name);
        EXPECT_EQ(hex(theme.background), table[t].background);
        EXPECT_EQ(hex(theme.foreground), table[t].foreground);
        EXPECT_EQ(hex(theme.cursor), table[t].cursor);
        EXPECT_EQ(hex(theme.selection), table[t].selection);
        EXPECT_NEAR(theme.selection.alphaF(), 0.55, 1e-4);  // 16-bit channels
        EXPECT_EQ(theme.background.alpha(), 255);
        ASSERT_EQ(theme.ansi.size(), 16);
        const int column = t <= 1 ? t : t <= 3 ? 2 : t - 1;
        for (int i = 0; i < 16; ++i) EXPECT_EQ(hex(theme.ansi[i]), palettes[i][column]) << "index " << i;
    }
}

TEST(TerminalThemes, LookupByExactNameAndThePreference) {
    ScopedMemoryPreferences prefs;
    EXPECT_EQ(TerminalThemes::theme(QStringLiteral("Nord")).name, "Nord");
    EXPECT_EQ(TerminalThemes::theme(QStringLiteral("nord")).name, "Varnix");
    EXPECT_EQ(TerminalThemes::theme(QStringLiteral("Solarized Light")).name, "Solarized Light");
    EXPECT_EQ(TerminalThemes::theme(QString()).name, "Varnix");
    EXPECT_EQ(TerminalThemes::theme(std::nullopt).name, "Varnix");

    EXPECT_EQ(TerminalThemes::current().name, "Varnix");
    prefs.prefs().setValue(PrefKey::TerminalTheme, QStringLiteral("Gruvbox Dark"));
    EXPECT_EQ(TerminalThemes::current().name, "Gruvbox Dark");
    prefs.prefs().setValue(PrefKey::TerminalTheme, true);  // not a text
    EXPECT_EQ(TerminalThemes::current().name, "Varnix");
}

TEST(TerminalThemes, ApplyInstallsASixteenColourPaletteOnly) {
    AgentTerminalView view;
    for (const TerminalTheme& theme : TerminalThemes::all()) {
        SCOPED_TRACE(theme.name.toStdString());
        theme.apply(&view);
        EXPECT_EQ(view.backgroundColor(), theme.background);
        EXPECT_EQ(view.foregroundColor(), theme.foreground);
        EXPECT_EQ(view.cursorColor(), theme.cursor);
        EXPECT_EQ(view.selectionColor(), theme.selection);
        // Every channel arrives exactly, none one below through the conversion.
        for (int i = 0; i < 16; ++i) EXPECT_EQ(hex(view.ansiColor(i)), hex(theme.ansi[i])) << "index " << i;
    }

    // Fifteen colours: the other colours change, the palette stays as it was.
    TerminalTheme odd = TerminalThemes::theme(QStringLiteral("Dracula"));
    odd.background = QColor(0x11, 0x22, 0x33);
    odd.ansi.removeLast();
    odd.ansi[1] = QColor(0x01, 0x02, 0x03);
    const QColor before = view.ansiColor(1);
    odd.apply(&view);
    EXPECT_EQ(view.backgroundColor(), QColor(0x11, 0x22, 0x33));
    EXPECT_EQ(view.cursorColor(), odd.cursor);
    EXPECT_EQ(view.selectionColor(), odd.selection);
    EXPECT_EQ(view.ansiColor(1), before);
}

// ---- Terminal appearance

TEST(TerminalAppearance, FontSizeRule) {
    ScopedMemoryPreferences prefs;
    struct Case {
        std::optional<QVariant> stored;
        double delta;
        double size;
    };
    const Case cases[] = {
        {std::nullopt, 0, 13}, {0.0, 0, 13},    {-4.0, 2, 15},  {QStringLiteral("x"), 0, 13},
        {20.0, 2, 22},         {20.0, -3, 17},  {13.0, -10, 8}, {13.0, 30, 40},
        {5.0, 0, 8},           {60.0, 0, 40},   {14.5, 1, 15.5},
    };
    for (const Case& c : cases) {
        if (c.stored) prefs.prefs().setValue(PrefKey::TerminalFontSize, *c.stored);
        else prefs.prefs().remove(PrefKey::TerminalFontSize);
        EXPECT_DOUBLE_EQ(TerminalAppearance::fontSize(c.delta), c.size)
            << (c.stored ? c.stored->toString().toStdString() : "absent") << " + " << c.delta;
    }
}

TEST(TerminalAppearance, AppliesTheCurrentThemeAndTheClampedFont) {
    ScopedMemoryPreferences prefs;
    prefs.prefs().setValue(PrefKey::TerminalTheme, QStringLiteral("Nord"));
    prefs.prefs().setValue(PrefKey::TerminalFontSize, 16.0);
    AgentTerminalView a, b;
    TerminalAppearance::apply(QList<AgentTerminalView*>{&a, &b}, 30);
    for (AgentTerminalView* v : {&a, &b}) {
        EXPECT_EQ(v->backgroundColor(), QColor(0x2E3440));
        EXPECT_EQ(hex(v->ansiColor(14)), "8FBCBB");
        EXPECT_EQ(v->terminalFont().pixelSize(), 40);
    }
}

TEST(TerminalAppearance, TheDelegateReappliesItToEveryProjectWindowOnTheChangeNotification) {
    TempHome home;
    ScopedMemoryPreferences prefs;
    prefs.prefs().setValue(PrefKey::binaryPath(QStringLiteral("claude")), QStringLiteral("/bin/true"));
    ProjectManager::resetShared();
    QDir().mkpath(home.file("a"));
    QDir().mkpath(home.file("b"));
    VRNXAppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    delegate.openProject(home.file("a"));
    delegate.openProject(home.file("b"));
    ASSERT_EQ(delegate.windowControllers().size(), 2);
    SessionManager* first = delegate.windowControllers()[0]->sessionManager();
    SessionManager* second = delegate.windowControllers()[1]->sessionManager();
    first->createSession({});
    second->createSession({});
    // Each window keeps its own zoom.
    second->terminalFontDelta = 2;
    AgentTerminalView alone;
    const QColor before = alone.backgroundColor();

    prefs.prefs().setValue(PrefKey::TerminalTheme, QStringLiteral("Solarized Light"));
    prefs.prefs().setValue(PrefKey::TerminalFontSize, 18.0);
    NotificationCenter::shared().post(kTerminalAppearanceDidChange);
    for (auto [manager, size] : {std::pair{first, 18}, std::pair{second, 20}}) {
        AgentTerminalView* v = manager->sessions.first()->terminalView;
        ASSERT_TRUE(v);
        EXPECT_EQ(v->backgroundColor(), QColor(0xFDF6E3));
        EXPECT_EQ(v->terminalFont().pixelSize(), size);
    }
    // A terminal in no project window is not the delegate's.
    EXPECT_EQ(alone.backgroundColor(), before);

    for (VRNXWindowController* c : delegate.windowControllers()) c->window()->close();
    if (delegate.launcher()) delegate.launcher()->close();
    delegate.applicationShouldTerminate();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ProjectManager::resetShared();
}
