#include "ui/TerminalAppearance.h"

#include "app/AppSettings.h"
#include "sessions/terminal/AgentTerminalView.h"
#include "ui/TerminalThemes.h"
#include "ui/Theme.h"

#include <algorithm>
#include <cmath>

namespace TerminalAppearance {

double fontSize(double fontDelta) {
    const double size = AppSettings::terminalFontSize() + (std::isfinite(fontDelta) ? fontDelta : 0);
    return std::clamp(size, kMinFontSize, kMaxFontSize);
}

void apply(TerminalWidget* terminal, const TerminalTheme& theme, const QFont& font) {
    if (!terminal) return;
    theme.apply(terminal);
    terminal->setTerminalFont(font);
}

void apply(const QList<AgentTerminalView*>& views, double fontDelta) {
    const TerminalTheme& theme = TerminalThemes::current();
    const QFont font = Theme::terminalFont(fontSize(fontDelta));
    for (AgentTerminalView* view : views) apply(view, theme, font);
}

}  // namespace TerminalAppearance
