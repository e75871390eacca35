#pragma once

#include <QString>
#include <QStringView>
#include <optional>

// What a session is doing. Stored and exchanged by the text values below.
enum class SessionState { generating, thinking, userInput, idle, needsAttention, exited };

// "generating", "thinking", "userInput", "idle", "needsAttention", "exited".
QString sessionStateText(SessionState state);
// None for any other text (including other capitalisations).
std::optional<SessionState> sessionStateFromText(QStringView text);
