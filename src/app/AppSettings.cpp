#include "app/AppSettings.h"

#include "app/NotificationNames.h"
#include "app/PreferenceKeys.h"
#include "core/NotificationCenter.h"
#include "core/Preferences.h"

namespace AppSettings {

bool inboxEnabled() { return Preferences::shared().boolValue(PrefKey::InboxEnabled).value_or(true); }

void setInboxEnabled(bool enabled) {
    Preferences::shared().setValue(PrefKey::InboxEnabled, enabled);
    NotificationCenter::shared().post(kInboxEnabledDidChange);
}

QStringList defaultSessionNames() {
    return {QStringLiteral("Yaga"), QStringLiteral("Finist"), QStringLiteral("Sadko"),
            QStringLiteral("Koschei"), QStringLiteral("Gorynych")};
}

QStringList prioritySessionNames() {
    const auto stored = Preferences::shared().stringValue(PrefKey::SessionNames);
    if (!stored) return defaultSessionNames();
    QStringList names;
    for (const QString& piece : stored->split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        qsizetype b = 0, e = piece.size();
        auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
        while (b < e && blank(piece[b])) ++b;
        while (e > b && blank(piece[e - 1])) --e;
        if (e > b) names << piece.mid(b, e - b);
    }
    return names.isEmpty() ? defaultSessionNames() : names;
}

void setTerminalThemeName(const std::optional<QString>& name) {
    if (name) Preferences::shared().setValue(PrefKey::TerminalTheme, *name);
    else Preferences::shared().remove(PrefKey::TerminalTheme);
}

void setTerminalFontName(const std::optional<QString>& name) {
    if (name && !name->isEmpty()) Preferences::shared().setValue(PrefKey::TerminalFontName, *name);
    else Preferences::shared().remove(PrefKey::TerminalFontName);
}

double terminalFontSize() {
    const double size = Preferences::shared().doubleValue(PrefKey::TerminalFontSize, 0);
    return size > 0 ? size : PrefDefault::TerminalFontSize;
}

bool orchestratorAutoNotify() {
    return Preferences::shared().boolValue(PrefKey::OrchAutoNotify).value_or(true);
}

}  // namespace AppSettings
