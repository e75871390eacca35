#include "sessions/terminal/TmuxCheatsheet.h"

#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace {

QLabel* makeLabel(const QString& text, double points, QFont::Weight weight, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(Theme::monospacedFont(points, weight));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

}  // namespace

VRNXTmuxCheatsheet::VRNXTmuxCheatsheet(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    // A hint, not a control: the pointer and the keyboard stay with the terminal beneath.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);

    auto* stack = new QVBoxLayout(this);
    stack->setSpacing(3);
    stack->setContentsMargins(10, 8, 10, 8);
    stack->setSizeConstraint(QLayout::SetFixedSize);
    stack->addWidget(makeLabel(title(), 10, QFont::Medium, Theme::text3(), this));
    for (const auto& [key, action] : entries()) {
        auto* row = new QWidget(this);
        row->setFixedHeight(16);
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        line->setSpacing(8);
        QLabel* keyLabel = makeLabel(key, 11, QFont::Medium, Theme::accent(), row);
        keyLabel->setFixedWidth(78);
        line->addWidget(keyLabel);
        line->addWidget(makeLabel(action, 11, QFont::Normal, Theme::text2(), row), 1);
        stack->addWidget(row);
    }
    adjustSize();
}

const QList<QPair<QString, QString>>& VRNXTmuxCheatsheet::entries() {
    static const QList<QPair<QString, QString>> list = {
        {QStringLiteral("c"), QStringLiteral("new window")},
        {QStringLiteral("n / p"), QStringLiteral("next / prev window")},
        {QStringLiteral("0\u20139"), QStringLiteral("select window")},
        {QStringLiteral("\""), QStringLiteral("split top/bottom")},
        {QStringLiteral("%"), QStringLiteral("split left/right")},
        {QStringLiteral("\u2190 \u2191 \u2193 \u2192"), QStringLiteral("switch pane")},
        {QStringLiteral("z"), QStringLiteral("zoom pane")},
        {QStringLiteral("x"), QStringLiteral("kill pane")},
        {QStringLiteral("&"), QStringLiteral("kill window")},
        {QStringLiteral("d"), QStringLiteral("detach")},
        {QStringLiteral("["), QStringLiteral("scroll / copy mode")},
        {QStringLiteral(","), QStringLiteral("rename window")},
        {QStringLiteral("?"), QStringLiteral("all keys")},
    };
    return list;
}

QString VRNXTmuxCheatsheet::title() {
    return QStringLiteral("tmux \u2014 Ctrl+B then\u2026");
}

void VRNXTmuxCheatsheet::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // The 1-point border sits inside the card's bounds, as a layer border does.
    const QRectF outer = QRectF(rect());
    QPainterPath card;
    card.addRoundedRect(outer, 8, 8);
    p.fillPath(card, QColor(0, 0, 0, int(0.82 * 255 + 0.5)));
    QColor border = Theme::surface3();
    border.setAlphaF(0.9f);
    QPainterPath edge;
    edge.addRoundedRect(outer.adjusted(0.5, 0.5, -0.5, -0.5), 7.5, 7.5);
    p.setPen(QPen(border, 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(edge);
}
