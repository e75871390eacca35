#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QStringList>

// The named symbols the interface draws ("folder", "xmark.circle.fill", ...), each mapped once to
// an icon of the installed Adwaita theme or to artwork bundled with the program, and always tinted
// to one colour. A name that neither provides is drawn as a simple generic glyph, so nothing shows
// blank.
namespace SymbolIcons {

enum class Source { Theme, Bundled, Drawn };

struct Entry {
    QString symbol;
    QStringList themeNames;  // freedesktop names tried in order ("-symbolic" variant first)
    bool bundled = false;    // ":/symbols/<symbol>.svg" exists
};

// Every symbol of the table, in table order.
const QList<Entry>& table();
bool contains(const QString& symbol);

// Where the artwork of `symbol` comes from on this machine.
Source source(const QString& symbol);
// The file of the theme icon `themeName` in the Adwaita theme (scalable symbolic variant first,
// then the largest bitmap), or empty when the theme lacks it.
QString themeFile(const QString& themeName);

// The symbol drawn into a transparent `size` canvas (logical pixels at `dpr`), kept to its aspect
// ratio and centred, with every drawn pixel in `tint` (alpha kept).
QImage image(const QString& symbol, QSize size, const QColor& tint, qreal dpr = 1.0);
QPixmap pixmap(const QString& symbol, QSize size, const QColor& tint, qreal dpr = 1.0);
// An icon with the tinted pixmap at `size` for the normal state and a dimmer one for disabled.
QIcon icon(const QString& symbol, const QColor& tint, QSize size = QSize(16, 16));

// Fills every non-transparent pixel of `image` with `tint` (source-atop), keeping coverage.
void tint(QImage& image, const QColor& tint);

}  // namespace SymbolIcons
