#pragma once

#include <QColor>
#include <QRect>

class QPainter;

// Box-drawing characters (U+2500-U+257F) and block elements (U+2580-U+259F) drawn as geometry
// filling the whole cell, so lines join across cells without the gaps a font leaves. Also two
// symbols agent interfaces lean on that common fonts lack or only have as colour emoji:
// U+23BF (a corner that joins the lines above it) and U+23FA (a dot in the text colour).
namespace BoxDrawing {

inline bool handles(char32_t ch) { return (ch >= 0x2500 && ch <= 0x259F) || ch == 0x23BF || ch == 0x23FA; }

// Draws `ch` into `cell` (integer pixel rectangle) in `color`. False when `ch` is not handled.
bool draw(QPainter& painter, const QRect& cell, char32_t ch, const QColor& color);

}  // namespace BoxDrawing
