#include "ui/SymbolIcons.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QIcon>
#include <QImageReader>
#include <QMutex>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <QStandardPaths>
#include <QSvgRenderer>

// The resources live in a static library, whose registration the linker would otherwise drop.
static void initSymbolResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(symbols);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace SymbolIcons {

namespace {

const QString kThemeName = QStringLiteral("Adwaita");

QStringList themeRoots() {
    QStringList roots;
    auto add = [&roots](const QString& dir) {
        const QString theme = QDir(dir).filePath(kThemeName);
        if (!roots.contains(theme) && QFileInfo(theme).isDir()) roots << theme;
    };
    for (const QString& path : QIcon::themeSearchPaths()) add(path);
    for (const QString& data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        add(QDir(data).filePath(QStringLiteral("icons")));
    }
    add(QStringLiteral("/usr/share/icons"));
    return roots;
}

// Looks the file up directly instead of through QIcon::fromTheme: Qt strips trailing dash parts of
// a missing name ("sidebar-show-right" would quietly become "sidebar-show"), and this needs no
// change of the process-wide theme name.
QString findThemeFile(const QString& name) {
    static const QStringList bitmapSizes = {QStringLiteral("512x512"), QStringLiteral("256x256"),
                                            QStringLiteral("96x96"),   QStringLiteral("64x64"),
                                            QStringLiteral("48x48"),   QStringLiteral("32x32"),
                                            QStringLiteral("24x24"),   QStringLiteral("16x16")};
    const QStringList roots = themeRoots();
    for (const QString& file : {name + QStringLiteral("-symbolic.svg"), name + QStringLiteral(".svg")}) {
        for (const QString& root : roots) {
            QDir scalable(QDir(root).filePath(QStringLiteral("scalable")));
            for (const QString& context : scalable.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
                const QString path = scalable.filePath(context + QLatin1Char('/') + file);
                if (QFileInfo::exists(path)) return path;
            }
        }
    }
    for (const QString& size : bitmapSizes) {
        for (const QString& root : roots) {
            QDir dir(QDir(root).filePath(size));
            for (const QString& context : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
                const QString path = dir.filePath(context + QLatin1Char('/') + name + QStringLiteral(".png"));
                if (QFileInfo::exists(path)) return path;
            }
        }
    }
    return {};
}

const Entry* findEntry(const QString& symbol) {
    static const QHash<QString, qsizetype> index = [] {
        QHash<QString, qsizetype> map;
        for (qsizetype i = 0; i < table().size(); ++i) map.insert(table()[i].symbol, i);
        return map;
    }();
    auto it = index.constFind(symbol);
    return it == index.constEnd() ? nullptr : &table()[*it];
}

QString bundledPath(const QString& symbol) { return QStringLiteral(":/symbols/") + symbol + QStringLiteral(".svg"); }

// The first theme file of the entry's names, or empty.
QString entryThemeFile(const Entry& entry) {
    for (const QString& name : entry.themeNames) {
        const QString file = themeFile(name);
        if (!file.isEmpty()) return file;
    }
    return {};
}

void renderFile(QPainter& p, const QString& file, const QRectF& canvas) {
    if (file.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) {
        QSvgRenderer renderer(file);
        if (!renderer.isValid()) return;
        QSizeF natural = renderer.viewBoxF().size();
        if (natural.isEmpty()) natural = renderer.defaultSize();
        if (natural.isEmpty()) natural = canvas.size();
        const QSizeF fitted = natural.scaled(canvas.size(), Qt::KeepAspectRatio);
        renderer.render(&p, QRectF(canvas.center() - QPointF(fitted.width() / 2, fitted.height() / 2), fitted));
        return;
    }
    QImage bitmap(file);
    if (bitmap.isNull()) return;
    const QSizeF fitted = QSizeF(bitmap.size()).scaled(canvas.size(), Qt::KeepAspectRatio);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRectF(canvas.center() - QPointF(fitted.width() / 2, fitted.height() / 2), fitted), bitmap);
}

// Plain geometric stand-ins, drawn in a 16-unit box, for when neither the theme nor the bundle has
// the artwork.
void drawFallback(QPainter& p, const QString& symbol, const QRectF& canvas) {
    const qreal side = std::min(canvas.width(), canvas.height());
    p.save();
    p.translate(canvas.center() - QPointF(side / 2, side / 2));
    p.scale(side / 16.0, side / 16.0);
    QPen pen(Qt::black, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    if (symbol == QLatin1String("plus")) {
        p.drawLine(QPointF(8, 3), QPointF(8, 13));
        p.drawLine(QPointF(3, 8), QPointF(13, 8));
    } else if (symbol == QLatin1String("minus")) {
        p.drawLine(QPointF(3, 8), QPointF(13, 8));
    } else if (symbol.startsWith(QLatin1String("xmark"))) {
        const qreal r = symbol == QLatin1String("xmark") ? 4.5 : 2.6;
        if (symbol != QLatin1String("xmark")) p.drawEllipse(QPointF(8, 8), 6.2, 6.2);
        p.drawLine(QPointF(8 - r, 8 - r), QPointF(8 + r, 8 + r));
        p.drawLine(QPointF(8 + r, 8 - r), QPointF(8 - r, 8 + r));
    } else if (symbol.startsWith(QLatin1String("chevron."))) {
        QPolygonF v{QPointF(4, 6), QPointF(8, 10), QPointF(12, 6)};
        qreal angle = 0;
        if (symbol.endsWith(QLatin1String("up"))) angle = 180;
        if (symbol.endsWith(QLatin1String("right"))) angle = -90;
        p.translate(8, 8);
        p.rotate(angle);
        p.translate(-8, -8);
        p.drawPolyline(v);
    } else if (symbol.startsWith(QLatin1String("checkmark"))) {
        p.drawEllipse(QPointF(8, 8), 6.2, 6.2);
        p.drawPolyline(QPolygonF{QPointF(5, 8.2), QPointF(7.2, 10.4), QPointF(11, 5.8)});
    } else {
        // Generic: a rounded square around a dot.
        p.drawRoundedRect(QRectF(2.5, 2.5, 11, 11), 2.5, 2.5);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawEllipse(QPointF(8, 8), 1.8, 1.8);
    }
    p.restore();
}

}  // namespace

const QList<Entry>& table() {
    static const QList<Entry> entries = [] {
        auto e = [](const char* symbol, std::initializer_list<const char*> theme, bool bundled = false) {
            Entry entry;
            entry.symbol = QString::fromLatin1(symbol);
            for (const char* name : theme) entry.themeNames << QString::fromLatin1(name);
            entry.bundled = bundled;
            return entry;
        };
        return QList<Entry>{
            e("arrow.clockwise", {"view-refresh"}),
            e("magnifyingglass", {"edit-find", "system-search"}),
            e("sidebar.left", {"sidebar-show"}),
            e("sidebar.right", {"sidebar-show-right"}),
            e("gearshape", {"emblem-system", "preferences-system"}),
            e("folder", {"folder"}),
            e("folder.fill", {"folder"}),
            e("folder.badge.plus", {"folder-new"}),
            e("doc", {"text-x-generic"}),
            e("doc.badge.plus", {"document-new"}),
            e("plus", {"list-add"}),
            e("minus", {"list-remove"}),
            e("xmark", {"window-close"}),
            e("xmark.circle", {}, true),
            e("xmark.circle.fill", {}, true),
            e("chevron.up", {"go-up"}),
            e("chevron.down", {"go-down"}),
            e("chevron.right", {"go-next"}),
            // The theme's terminal is a bare frame; the bundled one carries the prompt.
            e("terminal", {}, true),
            e("terminal.fill", {}, true),
            e("mic.fill", {"audio-input-microphone"}),
            e("play.circle.fill", {"media-playback-start"}),
            e("exclamationmark.circle.fill", {"emblem-important", "dialog-warning"}),
            e("checkmark.circle", {"emblem-ok"}),
            e("checkmark.circle.fill", {"emblem-default", "emblem-ok"}),
            e("square.grid.2x2", {"view-grid"}),
            e("rectangle.grid.2x2", {"view-app-grid", "view-grid"}),
            e("bubble.left", {"user-available", "chat-message-new"}),
            e("bubble.left.and.bubble.right", {}, true),
            e("arrow.up.left.and.arrow.down.right", {"view-fullscreen"}),
            e("arrow.down.right.and.arrow.up.left", {"view-restore"}),
            e("circle", {}, true),
            e("hammer", {}, true),
            e("wand.and.stars", {}, true),
            e("sparkle", {}, true),
            e("sparkles", {}, true),
            e("crown", {}, true),
            e("crown.fill", {}, true),
            e("pawprint", {}, true),
            e("memorychip", {}, true),
            e("cpu", {}, true),
            e("tray.full", {}, true),
            e("arrow.triangle.branch", {}, true),
            e("arrow.triangle.pull", {}, true),
        };
    }();
    return entries;
}

bool contains(const QString& symbol) { return findEntry(symbol) != nullptr; }

QString themeFile(const QString& themeName) {
    static QMutex mutex;
    static QHash<QString, QString> cache;
    QMutexLocker lock(&mutex);
    auto it = cache.constFind(themeName);
    if (it != cache.constEnd()) return *it;
    const QString file = findThemeFile(themeName);
    cache.insert(themeName, file);
    return file;
}

Source source(const QString& symbol) {
    initSymbolResources();
    const Entry* entry = findEntry(symbol);
    if (!entry) return Source::Drawn;
    if (!entryThemeFile(*entry).isEmpty()) return Source::Theme;
    if (entry->bundled && QFileInfo::exists(bundledPath(symbol))) return Source::Bundled;
    return Source::Drawn;
}

void tint(QImage& image, const QColor& color) {
    if (image.format() != QImage::Format_ARGB32_Premultiplied) {
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    QPainter p(&image);
    p.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    p.fillRect(image.rect(), color);
}

QImage image(const QString& symbol, QSize size, const QColor& color, qreal dpr) {
    initSymbolResources();
    if (size.isEmpty()) return {};
    if (dpr <= 0) dpr = 1.0;
    QImage canvas(QSize(qRound(size.width() * dpr), qRound(size.height() * dpr)),
                  QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter p(&canvas);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF area(QPointF(0, 0), QSizeF(canvas.size()));
        QString file;
        if (const Entry* entry = findEntry(symbol)) {
            file = entryThemeFile(*entry);
            if (file.isEmpty() && entry->bundled) file = bundledPath(symbol);
        }
        if (!file.isEmpty()) renderFile(p, file, area);
        // An unreadable file must not leave the canvas empty either.
        p.end();
        bool blank = true;
        for (int y = 0; y < canvas.height() && blank; ++y) {
            const QRgb* line = reinterpret_cast<const QRgb*>(canvas.constScanLine(y));
            for (int x = 0; x < canvas.width(); ++x) {
                if (qAlpha(line[x]) != 0) {
                    blank = false;
                    break;
                }
            }
        }
        if (blank) {
            QPainter fallback(&canvas);
            fallback.setRenderHint(QPainter::Antialiasing);
            drawFallback(fallback, symbol, area);
        }
    }
    tint(canvas, color);
    canvas.setDevicePixelRatio(dpr);
    return canvas;
}

QPixmap pixmap(const QString& symbol, QSize size, const QColor& color, qreal dpr) {
    const QString key = QStringLiteral("vrnx-symbol:%1:%2x%3:%4:%5")
                            .arg(symbol)
                            .arg(size.width())
                            .arg(size.height())
                            .arg(dpr)
                            .arg(color.rgba(), 8, 16, QLatin1Char('0'));
    QPixmap cached;
    if (QPixmapCache::find(key, &cached)) return cached;
    QPixmap result = QPixmap::fromImage(image(symbol, size, color, dpr));
    QPixmapCache::insert(key, result);
    return result;
}

QIcon icon(const QString& symbol, const QColor& color, QSize size) {
    const qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
    QIcon result;
    result.addPixmap(pixmap(symbol, size, color, dpr), QIcon::Normal);
    QColor dim = color;
    dim.setAlphaF(color.alphaF() * 0.4f);
    result.addPixmap(pixmap(symbol, size, dim, dpr), QIcon::Disabled);
    return result;
}

}  // namespace SymbolIcons
