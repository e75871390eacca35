#pragma once

#include <QString>

// Preference keys, with their types and defaults as AppSettings and the readers interpret them.
namespace PrefKey {
inline const QString TerminalFontSize = QStringLiteral("VRNXTerminalFontSize");      // double, <= 0 means 13
inline const QString TerminalFontName = QStringLiteral("VRNXTerminalFontName");      // text, absent: automatic
inline const QString TerminalTheme = QStringLiteral("VRNXTerminalTheme");            // text, absent: default theme
inline const QString SessionNames = QStringLiteral("VRNXSessionNames");              // text, comma-separated
inline const QString InboxEnabled = QStringLiteral("VRNXInboxEnabled");              // bool, default true
inline const QString SidebarWidth = QStringLiteral("VRNXSidebarWidth");              // double, default 220
inline const QString QuickWorkspacePlacement = QStringLiteral("VRNXQuickWorkspacePlacement");  // data (JSON)
inline const QString FilesHideHidden = QStringLiteral("filesHideHidden");            // bool, default true
inline const QString FilesHideLibraries = QStringLiteral("filesHideLibraries");      // bool, default true
inline const QString OnboardingHasShown = QStringLiteral("Varnix.onboarding.hasShown");      // bool, default false
inline const QString WhatsNewLastSeenBuild = QStringLiteral("Varnix.whatsNew.lastSeenBuild");  // integer, default 0
inline const QString OrchAutoNotify = QStringLiteral("varnix.orch.autoNotify");      // bool, default true

// "Varnix.binaryPath." + agent id: text, the user's explicit executable path.
inline QString binaryPath(const QString& agentId) { return QStringLiteral("Varnix.binaryPath.") + agentId; }
// "varnix.orch.tier." + agent id + "." + tier: text, model id for a spawn tier.
inline QString orchTier(const QString& agentId, const QString& tier) {
    return QStringLiteral("varnix.orch.tier.") + agentId + QLatin1Char('.') + tier;
}
}  // namespace PrefKey

namespace PrefDefault {
inline constexpr double TerminalFontSize = 13;
inline constexpr double SidebarWidth = 220;
}  // namespace PrefDefault
