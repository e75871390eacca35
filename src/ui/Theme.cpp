#include "ui/Theme.h"

#include "app/PreferenceKeys.h"
#include "core/Preferences.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <algorithm>
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

QColor stateColor(SessionState state) {
    switch (state) {
    case SessionState::generating: return green();
    case SessionState::thinking: return yellow();
    case SessionState::userInput: return accent();
    case SessionState::idle: return cyan();
    case SessionState::needsAttention: return red();
    case SessionState::exited: return text3();
    }
    return text3();
}

QColor stateColor(QStringView stateText) {
    const auto state = sessionStateFromText(stateText);
    return state ? stateColor(*state) : text3();
}

namespace {

int pixelSize(double points) {
    if (!std::isfinite(points)) return 13;
    return int(std::clamp(std::lround(points), 1L, 1000L));
}

class InstalledFonts : public FontCatalog {
public:
    std::optional<QFont> faceNamed(const QString& name) const override {
        if (name.isEmpty()) return std::nullopt;
        QString compactName = name;
        compactName.remove(QLatin1Char(' '));
        for (const QString& family : QFontDatabase::families()) {
            QString compactFamily = family;
            compactFamily.remove(QLatin1Char(' '));
            if (!name.startsWith(family) && !compactName.startsWith(compactFamily)) continue;
            for (const QString& style : QFontDatabase::styles(family)) {
                QString compactStyle = style;
                compactStyle.remove(QLatin1Char(' '));
                // "Family Style" as fontconfig names faces, "FamilyStyle-like" as PostScript does.
                if (name == family + QLatin1Char(' ') + style ||
                    name == compactFamily + QLatin1Char('-') + compactStyle) {
                    QFont font(family);
                    font.setWeight(QFont::Weight(QFontDatabase::weight(family, style)));
                    font.setItalic(QFontDatabase::italic(family, style));
                    return font;
                }
            }
        }
        return std::nullopt;
    }

    bool hasFamily(const QString& family) const override {
        // QFont would substitute silently; only a listed family counts.
        return !family.isEmpty() && QFontDatabase::families().contains(family, Qt::CaseInsensitive);
    }

    QFont systemFixedFont() const override { return QFontDatabase::systemFont(QFontDatabase::FixedFont); }
};

QFont familyFont(const QString& family) {
    QFont font(family);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

}  // namespace

const FontCatalog& FontCatalog::installed() {
    static const InstalledFonts catalog;
    return catalog;
}

const QStringList& terminalFontCandidates() {
    static const QStringList candidates = {
        QStringLiteral("Hack Nerd Font Mono"), QStringLiteral("JetBrainsMono Nerd Font Mono"),
        QStringLiteral("MesloLGS NF"),         QStringLiteral("FiraCode Nerd Font Mono"),
        QStringLiteral("Hack Nerd Font"),      QStringLiteral("JetBrains Mono"),
        QStringLiteral("DejaVu Sans Mono"),
    };
    return candidates;
}

QFont terminalFont(double size) {
    return terminalFont(size, Preferences::shared().stringValue(PrefKey::TerminalFontName), FontCatalog::installed());
}

QFont terminalFont(double size, const std::optional<QString>& configuredName, const FontCatalog& catalog) {
    auto sized = [&](QFont font) {
        font.setPixelSize(pixelSize(size));
        font.setStyleHint(QFont::TypeWriter);
        return font;
    };
    if (configuredName && !configuredName->isEmpty()) {
        if (auto face = catalog.faceNamed(*configuredName)) return sized(*face);
        if (catalog.hasFamily(*configuredName)) return sized(familyFont(*configuredName));
    }
    for (const QString& family : terminalFontCandidates()) {
        if (catalog.hasFamily(family)) return sized(familyFont(family));
    }
    QFont fixed = catalog.systemFixedFont();
    fixed.setWeight(QFont::Normal);
    fixed.setItalic(false);
    return sized(fixed);
}

QFont monospacedFont(double points, QFont::Weight weight) {
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setPixelSize(pixelSize(points));
    f.setWeight(weight);
    f.setItalic(false);
    return f;
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
