#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QStringView>
#include <optional>

class TerminalWidget;

// One colour theme of the terminals.
struct TerminalTheme {
    QString name;  // shown in the settings and stored as the preference value
    QColor background;
    QColor foreground;
    QColor cursor;
    QColor selection;   // translucent: drawn over the cells' own background
    QList<QColor> ansi;  // the 16-colour palette: 0-7 normal, 8-15 bright

    // Colours one terminal. The palette is installed only when it holds exactly 16 colours;
    // otherwise the terminal keeps the palette it has.
    void apply(TerminalWidget* terminal) const;
};

namespace TerminalThemes {

// The built-in themes, in the order the settings offer them; "Varnix" first.
const QList<TerminalTheme>& all();
// The theme whose name equals `name` exactly; "Varnix" when there is none or no name.
const TerminalTheme& theme(const std::optional<QString>& name);
// The theme named by the VRNXTerminalTheme preference, read now.
const TerminalTheme& current();

// "RRGGBB" (hexadecimal, either case) as an opaque sRGB colour; black for an empty or
// malformed text.
QColor parseHex(QStringView hex);

}  // namespace TerminalThemes
