#include "app/AppSettings.h"
#include "app/NotificationNames.h"
#include "app/PreferenceKeys.h"
#include "core/NotificationCenter.h"
#include "core/Preferences.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {
struct Recorder {
    QObject context;
    QStringList names;
    Recorder() {
        NotificationCenter::shared().observe(nullptr, &context, [this](const Notification& n) { names << n.name; });
    }
};
}  // namespace

TEST(AppSettings, PrioritySessionNamesParsing) {
    ScopedMemoryPreferences scoped;
    auto& prefs = scoped.prefs();
    EXPECT_EQ(AppSettings::prioritySessionNames(), AppSettings::defaultSessionNames());
    EXPECT_EQ(AppSettings::defaultSessionNames(),
              (QStringList{"Yaga", "Finist", "Sadko", "Koschei", "Gorynych"}));
    prefs.setValue(PrefKey::SessionNames, QStringLiteral(" Zed , ,Ann\t,"));
    EXPECT_EQ(AppSettings::prioritySessionNames(), (QStringList{"Zed", "Ann"}));
    prefs.setValue(PrefKey::SessionNames, QStringLiteral(" , ,\t, "));
    EXPECT_EQ(AppSettings::prioritySessionNames(), AppSettings::defaultSessionNames());
    prefs.setValue(PrefKey::SessionNames, 5);  // not a text
    EXPECT_EQ(AppSettings::prioritySessionNames(), AppSettings::defaultSessionNames());
}

TEST(AppSettings, InboxEnabledIsTrueUnlessAStoredBooleanSaysOtherwise) {
    ScopedMemoryPreferences scoped;
    Recorder rec;
    EXPECT_TRUE(AppSettings::inboxEnabled());
    scoped.prefs().setValue(PrefKey::InboxEnabled, QStringLiteral("no"));
    EXPECT_TRUE(AppSettings::inboxEnabled());
    AppSettings::setInboxEnabled(false);
    EXPECT_FALSE(AppSettings::inboxEnabled());
    AppSettings::setInboxEnabled(false);  // unchanged value still posts
    EXPECT_EQ(rec.names, (QStringList{"VRNXInboxEnabledDidChange", "VRNXInboxEnabledDidChange"}));
}

TEST(AppSettings, ThemeAndFontNameWrites) {
    ScopedMemoryPreferences scoped;
    auto& prefs = scoped.prefs();
    AppSettings::setTerminalFontName(QStringLiteral("Mono"));
    EXPECT_EQ(prefs.stringValue(PrefKey::TerminalFontName), QString("Mono"));
    AppSettings::setTerminalFontName(QString());
    EXPECT_FALSE(prefs.contains(PrefKey::TerminalFontName));
    AppSettings::setTerminalFontName(QStringLiteral("Mono"));
    AppSettings::setTerminalFontName(std::nullopt);
    EXPECT_FALSE(prefs.contains(PrefKey::TerminalFontName));

    AppSettings::setTerminalThemeName(QString(""));
    EXPECT_EQ(prefs.stringValue(PrefKey::TerminalTheme), QString(""));
    AppSettings::setTerminalThemeName(std::nullopt);
    EXPECT_FALSE(prefs.contains(PrefKey::TerminalTheme));
}

TEST(AppSettings, FontSizeAndAutoNotifyDefaults) {
    ScopedMemoryPreferences scoped;
    EXPECT_EQ(AppSettings::terminalFontSize(), 13);
    scoped.prefs().setValue(PrefKey::TerminalFontSize, -2);
    EXPECT_EQ(AppSettings::terminalFontSize(), 13);
    scoped.prefs().setValue(PrefKey::TerminalFontSize, 15.5);
    EXPECT_EQ(AppSettings::terminalFontSize(), 15.5);
    EXPECT_TRUE(AppSettings::orchestratorAutoNotify());
    scoped.prefs().setValue(PrefKey::OrchAutoNotify, false);
    EXPECT_FALSE(AppSettings::orchestratorAutoNotify());
}
