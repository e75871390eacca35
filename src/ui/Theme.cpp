#include "ui/Theme.h"

#include <QGuiApplication>
#include <cmath>

namespace Theme {

namespace {
QColor white(double alpha) {
    QColor c(255, 255, 255);
    c.setAlphaF(float(alpha));
    return c;
}
}  // namespace

QColor bg() { return QColor(13, 13, 13); }
QColor surface1() { return QColor(26, 26, 26); }
QColor surface2() { return QColor(38, 38, 38); }
QColor surface3() { return QColor(51, 51, 51); }
QColor text1() { return white(0.85); }
QColor text2() { return white(0.70); }
QColor text3() { return white(0.35); }
QColor accent() { return QColor(0xFF, 0x95, 0x00); }
QColor green() { return QColor(0x34, 0xC7, 0x59); }
QColor yellow() { return QColor(0xFF, 0xCC, 0x00); }
QColor red() { return QColor(0xFF, 0x3B, 0x30); }
QColor cyan() { return QColor(0x32, 0xD4, 0xDE); }

const std::array<QColor, 8>& branchPalette() {
    static const std::array<QColor, 8> palette = {
        QColor(0xFF9500), QColor(0x34C759), QColor(0x32D4DE), QColor(0x0A84FF),
        QColor(0xBF5AF2), QColor(0xFF6B9D), QColor(0xFFCC00), QColor(0xFF6F3B)};
    return palette;
}

QColor branchColor(const QString& branchName) {
    quint64 hash = 0xcbf29ce484222325ULL;
    for (char byte : branchName.toUtf8()) {
        hash ^= quint64(quint8(byte));
        hash *= 0x100000001b3ULL;
    }
    return branchPalette()[hash % branchPalette().size()];
}

QFont uiFont(double points, QFont::Weight weight) {
    QFont f = QGuiApplication::font();
    f.setPixelSize(std::max(1, int(std::lround(points))));
    f.setWeight(weight);
    return f;
}

QPalette darkPalette() {
    // Opaque equivalents of the translucent text levels over the window background.
    auto over = [](const QColor& c, const QColor& base) {
        const float a = c.alphaF();
        return QColor::fromRgbF(c.redF() * a + base.redF() * (1 - a), c.greenF() * a + base.greenF() * (1 - a),
                                c.blueF() * a + base.blueF() * (1 - a));
    };
    QPalette p;
    const QColor text = over(text1(), bg());
    const QColor dimText = over(text3(), bg());
    p.setColor(QPalette::Window, bg());
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, surface1());
    p.setColor(QPalette::AlternateBase, surface2());
    p.setColor(QPalette::ToolTipBase, surface2());
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, dimText);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, surface2());
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, red());
    p.setColor(QPalette::Light, surface3());
    p.setColor(QPalette::Midlight, surface3());
    p.setColor(QPalette::Mid, surface2());
    p.setColor(QPalette::Dark, QColor(8, 8, 8));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Highlight, accent());
    p.setColor(QPalette::HighlightedText, Qt::black);
    p.setColor(QPalette::Link, accent());
    p.setColor(QPalette::LinkVisited, accent().darker(120));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        p.setColor(QPalette::Disabled, role, dimText);
    }
    p.setColor(QPalette::Disabled, QPalette::Button, surface1());
    return p;
}

}  // namespace Theme
