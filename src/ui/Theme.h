#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>
#include <array>

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

// A font of `points` interface points (one point is one logical pixel).
QFont uiFont(double points, QFont::Weight weight = QFont::Normal);

// The application palette built from these colours (the forced dark appearance).
QPalette darkPalette();

}  // namespace Theme
