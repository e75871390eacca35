#include "ui/SymbolIcons.h"

#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

// Counts the drawn pixels and checks that each carries the tint's colour.
int drawnPixels(const QImage& image, const QColor& tint, int* offColour) {
    const QImage plain = image.convertToFormat(QImage::Format_ARGB32);
    int drawn = 0;
    *offColour = 0;
    for (int y = 0; y < plain.height(); ++y) {
        for (int x = 0; x < plain.width(); ++x) {
            const QRgb px = plain.pixel(x, y);
            if (qAlpha(px) < 64) continue;  // edge pixels lose precision when un-premultiplied
            ++drawn;
            if (std::abs(qRed(px) - tint.red()) > 3 || std::abs(qGreen(px) - tint.green()) > 3 ||
                std::abs(qBlue(px) - tint.blue()) > 3) {
                ++*offColour;
            }
        }
    }
    return drawn;
}

TEST(SymbolIcons, EverySymbolDrawsInItsTint) {
    const QColor tint(0xFF, 0x95, 0x00);
    for (const SymbolIcons::Entry& entry : SymbolIcons::table()) {
        const QImage image = SymbolIcons::image(entry.symbol, QSize(18, 18), tint, 2.0);
        ASSERT_EQ(image.size(), QSize(36, 36)) << qPrintable(entry.symbol);
        EXPECT_EQ(image.devicePixelRatio(), 2.0);
        int off = 0;
        EXPECT_GT(drawnPixels(image, tint, &off), 20) << qPrintable(entry.symbol) << " is blank";
        EXPECT_EQ(off, 0) << qPrintable(entry.symbol) << " has pixels outside the tint";
        if (entry.bundled) {
            EXPECT_TRUE(QFileInfo::exists(":/symbols/" + entry.symbol + ".svg")) << qPrintable(entry.symbol);
        }
    }
}

TEST(SymbolIcons, TheInstalledThemeProvidesItsNamesExactly) {
    if (SymbolIcons::themeFile("folder").isEmpty()) GTEST_SKIP() << "the Adwaita icon theme is not installed";
    for (const SymbolIcons::Entry& entry : SymbolIcons::table()) {
        const SymbolIcons::Source expected =
            entry.themeNames.isEmpty() ? SymbolIcons::Source::Bundled : SymbolIcons::Source::Theme;
        EXPECT_EQ(SymbolIcons::source(entry.symbol), expected) << qPrintable(entry.symbol);
    }
    // No silent fallback from a missing name to a shorter one.
    EXPECT_TRUE(SymbolIcons::themeFile("sidebar-show-right").endsWith("/sidebar-show-right-symbolic.svg"));
    EXPECT_TRUE(SymbolIcons::themeFile("sidebar-show-nowhere").isEmpty());
}

TEST(SymbolIcons, UnknownNamesAreDrawnRatherThanBlank) {
    EXPECT_FALSE(SymbolIcons::contains("no.such.symbol"));
    EXPECT_EQ(SymbolIcons::source("no.such.symbol"), SymbolIcons::Source::Drawn);
    int off = 0;
    EXPECT_GT(drawnPixels(SymbolIcons::image("no.such.symbol", QSize(16, 16), Qt::white), Qt::white, &off), 10);
    EXPECT_TRUE(SymbolIcons::image("folder", QSize(), Qt::white).isNull());
}

TEST(SymbolIcons, IconsCarryANormalAndADisabledPixmap) {
    const QIcon icon = SymbolIcons::icon("plus", Qt::white, QSize(16, 16));
    const QImage normal = icon.pixmap(QSize(16, 16), 1.0, QIcon::Normal).toImage();
    const QImage disabled = icon.pixmap(QSize(16, 16), 1.0, QIcon::Disabled).toImage();
    ASSERT_FALSE(normal.isNull());
    ASSERT_FALSE(disabled.isNull());
    EXPECT_NE(normal, disabled);
}

}  // namespace
