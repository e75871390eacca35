#pragma once

// Names of the process-wide notifications (NotificationCenter). Session notifications carry the
// posting SessionManager as object and, where one session is meant, "sessionID" (a QUuid).
inline constexpr char kSessionsDidChange[] = "VRNXSessionsDidChange";
inline constexpr char kSessionListDidChange[] = "VRNXSessionListDidChange";
inline constexpr char kActiveSessionDidChange[] = "VRNXActiveSessionDidChange";
inline constexpr char kSessionStateDidChange[] = "VRNXSessionStateDidChange";
inline constexpr char kSessionUsageDidChange[] = "VRNXSessionUsageDidChange";
inline constexpr char kTerminalAppearanceDidChange[] = "VRNXTerminalAppearanceDidChange";
inline constexpr char kInboxEnabledDidChange[] = "VRNXInboxEnabledDidChange";
inline constexpr char kToolkitDidChange[] = "VRNXToolkitDidChange";
inline constexpr char kWatchdogsDidChange[] = "VRNXWatchdogsDidChange";
inline constexpr char kVoiceListeningDidChange[] = "VRNXVoiceListeningDidChange";

// The user-info key naming one session.
inline constexpr char kSessionIDKey[] = "sessionID";
