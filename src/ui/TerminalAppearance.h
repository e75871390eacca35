#pragma once

#include <QFont>
#include <QList>

class AgentTerminalView;
class TerminalWidget;
struct TerminalTheme;

// Theme and font of a window's terminals, as the settings and the window's zoom ask.
namespace TerminalAppearance {

inline constexpr double kMinFontSize = 8;
inline constexpr double kMaxFontSize = 40;

// VRNXTerminalFontSize (13 when not greater than 0) plus the window's delta, clamped to 8...40.
double fontSize(double fontDelta);

// Colours and font of one terminal.
void apply(TerminalWidget* terminal, const TerminalTheme& theme, const QFont& font);
// The current theme and the terminal font of fontSize(fontDelta) on each of a window's views.
void apply(const QList<AgentTerminalView*>& views, double fontDelta);

}  // namespace TerminalAppearance
