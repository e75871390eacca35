#include "sessions/SessionState.h"

#include <array>
#include <utility>

namespace {
constexpr std::array<std::pair<SessionState, const char16_t*>, 6> kTexts{{
    {SessionState::generating, u"generating"},
    {SessionState::thinking, u"thinking"},
    {SessionState::userInput, u"userInput"},
    {SessionState::idle, u"idle"},
    {SessionState::needsAttention, u"needsAttention"},
    {SessionState::exited, u"exited"},
}};
}  // namespace

QString sessionStateText(SessionState state) {
    for (const auto& [s, text] : kTexts)
        if (s == state) return QString::fromUtf16(text);
    return {};
}

std::optional<SessionState> sessionStateFromText(QStringView text) {
    for (const auto& [s, t] : kTexts)
        if (text == QStringView(t)) return s;
    return std::nullopt;
}
