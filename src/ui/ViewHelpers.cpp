#include "ui/ViewHelpers.h"

#include "core/Paths.h"
#include "ui/SymbolIcons.h"
#include "ui/Theme.h"

#include <QFileDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <cmath>

QFont vrnxMonoFont(double points, QFont::Weight weight) {
    static const QString family = [] {
        const QString preferred = QStringLiteral("JetBrains Mono");
        if (QFontDatabase::families().contains(preferred)) return preferred;
        return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    }();
    QFont font(family);
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(std::max(1, int(std::lround(points))));
    font.setWeight(weight);
    return font;
}

void vrnxSetTextColor(QWidget* widget, const QColor& color) {
    QPalette pal = widget->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(group, QPalette::WindowText, color);
        pal.setColor(group, QPalette::Text, color);
        pal.setColor(group, QPalette::ButtonText, color);
    }
    widget->setPalette(pal);
}

QWidget* vrnxSeparator(QWidget* parent) {
    auto* line = new QWidget(parent);
    line->setFixedHeight(1);
    line->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    line->setAutoFillBackground(true);
    QPalette pal = line->palette();
    pal.setColor(QPalette::Window, Theme::surface3());
    line->setPalette(pal);
    return line;
}

// ---------------------------------------------------------------------------------------------

ClickableRow::ClickableRow(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_Hover);
    setMouseTracking(true);
}

void ClickableRow::setTarget(QObject* target) {
    target_ = target;
    hasTarget_ = target != nullptr;
}

QSize ClickableRow::sizeHint() const {
    QSize hint = QWidget::sizeHint();
    return {std::max(hint.width(), 40), std::max(hint.height(), 24)};
}

void ClickableRow::setHighlight(Highlight h) {
    if (highlight_ == h) return;
    highlight_ = h;
    update();
}

void ClickableRow::paintEvent(QPaintEvent*) {
    if (highlight_ == Highlight::None) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 4, 4);
    p.fillPath(path, highlight_ == Highlight::Pressed ? Theme::surface3() : Theme::surface2());
}

void ClickableRow::enterEvent(QEnterEvent*) { setHighlight(pressed_ ? Highlight::Pressed : Highlight::Hover); }

void ClickableRow::leaveEvent(QEvent*) { setHighlight(Highlight::None); }

void ClickableRow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    pressed_ = true;
    setHighlight(Highlight::Pressed);
}

void ClickableRow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressed_) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    pressed_ = false;
    setHighlight(Highlight::None);
    // Letting go outside the row cancels, as with any button.
    if (!rect().contains(event->position().toPoint())) return;
    QPointer<ClickableRow> self(this);
    if (action && (!hasTarget_ || target_)) action(this);
    if (self) emit clicked(this);
}

ClickableRow* vrnxClickableRow(const QString& icon, const QString& text, const QString& detail, QObject* target,
                               ClickableRow::Action action, const QColor& iconTint, QWidget* parent) {
    auto* row = new ClickableRow(parent);
    row->setTarget(target);
    row->action = std::move(action);

    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(6);

    auto* image = new QLabel(row);
    image->setObjectName(QStringLiteral("rowIcon"));
    image->setFixedSize(14, 14);
    image->setPixmap(SymbolIcons::pixmap(icon, QSize(14, 14), iconTint.isValid() ? iconTint : Theme::text2(),
                                         row->devicePixelRatioF()));
    layout->addWidget(image, 0, Qt::AlignVCenter);

    auto* label = new QLabel(text, row);
    label->setObjectName(QStringLiteral("rowText"));
    label->setFont(vrnxMonoFont(12));
    vrnxSetTextColor(label, Theme::text1());
    layout->addWidget(label, 1, Qt::AlignVCenter);

    if (!detail.isEmpty()) {
        auto* detailLabel = new QLabel(detail, row);
        detailLabel->setObjectName(QStringLiteral("rowDetail"));
        detailLabel->setFont(vrnxMonoFont(10));
        detailLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        vrnxSetTextColor(detailLabel, Theme::text3());
        layout->addWidget(detailLabel, 0, Qt::AlignVCenter);
    }
    for (QLabel* child : row->findChildren<QLabel*>()) child->setAttribute(Qt::WA_TransparentForMouseEvents);
    return row;
}

// ---------------------------------------------------------------------------------------------

FlippedStack::FlippedStack(QWidget* parent) : QWidget(parent), layout_(new QVBoxLayout(this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);
    layout_->addStretch(1);
}

void FlippedStack::addArrangedSubview(QWidget* view, Qt::Alignment alignment) {
    // The trailing stretch stays last so that the views keep to the top.
    layout_->insertWidget(layout_->count() - 1, view, 0, alignment);
}

void FlippedStack::removeAllArrangedSubviews() {
    for (QWidget* view : arrangedSubviews()) {
        layout_->removeWidget(view);
        view->hide();
        view->deleteLater();
    }
}

QList<QWidget*> FlippedStack::arrangedSubviews() const {
    QList<QWidget*> views;
    for (int i = 0; i < layout_->count(); ++i) {
        if (QWidget* w = layout_->itemAt(i)->widget()) views << w;
    }
    return views;
}

void FlippedStack::setSpacing(int spacing) { layout_->setSpacing(spacing); }

int FlippedStack::spacing() const { return layout_->spacing(); }

// ---------------------------------------------------------------------------------------------

QFileDialog* vrnxDirectoryChooser(QWidget* parent, const QString& title, const QString& message) {
    auto* dialog = new QFileDialog(parent, title);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // The widget-based dialog follows the application's dark palette and can carry the message.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setLabelText(QFileDialog::Accept, QObject::tr("Open"));
    dialog->setWindowModality(Qt::WindowModal);
    // Projects live under the home directory far more often than under the working directory.
    dialog->setDirectory(Paths::home());

    if (auto* grid = qobject_cast<QGridLayout*>(dialog->layout()); grid && !message.isEmpty()) {
        // Move every cell one row down and put the message on the freed first row.
        struct Cell {
            QLayoutItem* item;
            int row, column, rowSpan, columnSpan;
        };
        QList<Cell> cells;
        int columns = std::max(1, grid->columnCount());
        for (int i = grid->count() - 1; i >= 0; --i) {
            Cell c{nullptr, 0, 0, 0, 0};
            grid->getItemPosition(i, &c.row, &c.column, &c.rowSpan, &c.columnSpan);
            c.item = grid->takeAt(i);
            cells << c;
        }
        for (const Cell& c : cells) grid->addItem(c.item, c.row + 1, c.column, c.rowSpan, c.columnSpan);
        auto* label = new QLabel(message, dialog);
        label->setObjectName(QStringLiteral("chooserMessage"));
        label->setWordWrap(true);
        grid->addWidget(label, 0, 0, 1, columns);
    }
    return dialog;
}
