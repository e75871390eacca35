#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <array>
#include <optional>

#include "sessions/SessionState.h"

// The fixed colours of the application's own interface. The interface is dark whatever the
// terminal theme.
namespace Theme {

QColor bg();        // #0D0D0D window backgrounds
QColor surface1();  // #1A1A1A bars and floating panels
QColor surface2();  // #262626 hover and active highlights
QColor surface3();  // #333333 pressed highlight
QColor text1();     // white 0.85
QColor text2();     // white 0.70
QColor text3();     // white 0.35
QColor accent();    // #FF9500
QColor green();
QColor yellow();
QColor red();
QColor cyan();
const std::array<QColor, 8>& branchPalette();

// Same name, same colour: FNV-1a 64 of the UTF-8 bytes modulo the palette size.
QColor branchColor(const QString& branchName);

// The colour that shows a session's state (tab dots, sidebar rows, dashboard cards).
QColor stateColor(SessionState state);
// The same by the state's text value; text3 for a text that names no state.
QColor stateColor(QStringView stateText);

// A font of `points` interface points (one point is one logical pixel).
QFont uiFont(double points, QFont::Weight weight = QFont::Normal);
// The system's monospaced font at `points` interface points.
QFont monospacedFont(double points, QFont::Weight weight = QFont::Normal);

// The installed fonts, as the terminal font choice asks about them (tests use a fake).
class FontCatalog {
public:
    virtual ~FontCatalog() = default;
    // The face called exactly `name` ("JetBrains Mono Medium", "JetBrainsMono-Medium").
    virtual std::optional<QFont> faceNamed(const QString& name) const = 0;
    // A family of that name is installed (no substitution).
    virtual bool hasFamily(const QString& family) const = 0;
    // The system's monospaced font.
    virtual QFont systemFixedFont() const = 0;
    // The fonts of this machine.
    static const FontCatalog& installed();
};

// Families tried in order when no font is configured or the configured one is missing: the
// patched Nerd Fonts first (they carry the symbols agents' interfaces draw), then the fonts
// this application installs; the system's monospaced font comes after them.
const QStringList& terminalFontCandidates();

// The terminal font at `size` points: the font named by VRNXTerminalFontName (exact face, else
// its family at normal weight), else the first installed candidate, else the system's
// monospaced font. The preference is read at every call.
QFont terminalFont(double size);
QFont terminalFont(double size, const std::optional<QString>& configuredName, const FontCatalog& catalog);

// The application palette built from these colours (the forced dark appearance).
QPalette darkPalette();

}  // namespace Theme
