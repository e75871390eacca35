#include "ui/AlertDialog.h"

#include "ui/Theme.h"
#include "ui/ViewHelpers.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

AlertDialog::AlertDialog(QWidget* parent, const QString& message, const QString& informativeText,
                         const QStringList& buttons, Style style)
    : QDialog(parent) {
    setWindowTitle(message);
    setObjectName(QStringLiteral("alertDialog"));
    // Text boxes in accessory views get a visible frame on the dark surface.
    setStyleSheet(QStringLiteral("QPlainTextEdit, QLineEdit { background: %1; border: 1px solid %2;"
                                 " border-radius: 4px; }"
                                 "QLineEdit { padding: 0 4px; }"
                                 "QPlainTextEdit:focus, QLineEdit:focus { border-color: %3; }")
                      .arg(Theme::bg().name(), Theme::surface3().name(), Theme::accent().darker(130).name()));

    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(20, 20, 20, 16);
    outer->setSpacing(16);

    if (style != Style::Plain) {
        auto* icon = new QLabel(this);
        const auto pixmapStyle =
            style == Style::Warning ? QStyle::SP_MessageBoxWarning : QStyle::SP_MessageBoxInformation;
        icon->setPixmap(this->style()->standardIcon(pixmapStyle).pixmap(40, 40));
        icon->setAlignment(Qt::AlignTop);
        outer->addWidget(icon, 0, Qt::AlignTop);
    }

    body_ = new QVBoxLayout;
    body_->setSpacing(8);
    outer->addLayout(body_, 1);

    message_ = new QLabel(message, this);
    message_->setObjectName(QStringLiteral("alertMessage"));
    message_->setTextFormat(Qt::PlainText);
    message_->setFont(Theme::uiFont(14, QFont::Bold));
    message_->setWordWrap(true);
    body_->addWidget(message_);

    informative_ = new QLabel(informativeText, this);
    informative_->setObjectName(QStringLiteral("alertInformative"));
    informative_->setTextFormat(Qt::PlainText);
    informative_->setFont(Theme::uiFont(12));
    informative_->setWordWrap(true);
    informative_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    informative_->setVisible(!informativeText.isEmpty());
    informative_->setMinimumWidth(260);
    body_->addWidget(informative_);

    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addStretch(1);
    // The first button is the default and sits at the trailing end, as dialogs on this desktop do.
    for (int i = int(buttons.size()) - 1; i >= 0; --i) {
        auto* button = new QPushButton(buttons[i], this);
        button->setMinimumWidth(80);
        row->addWidget(button);
        connect(button, &QPushButton::clicked, this, [this, i] {
            clicked_ = i;
            accept();
        });
    }
    for (int i = 0; i < buttons.size(); ++i) {
        buttons_ << qobject_cast<QPushButton*>(row->itemAt(int(buttons.size()) - i)->widget());
    }
    if (!buttons_.isEmpty()) {
        buttons_.first()->setDefault(true);
        buttons_.first()->setAutoDefault(true);
    }
    body_->addSpacing(4);
    body_->addLayout(row);

    connect(this, &QDialog::finished, this, [this](int) {
        if (auto handler = std::move(onFinish)) {
            onFinish = nullptr;
            handler(clicked_);
        }
    });
}

void AlertDialog::setAccessoryView(QWidget* view) {
    if (accessory_) {
        body_->removeWidget(accessory_);
        accessory_->deleteLater();
    }
    accessory_ = view;
    if (view) {
        view->setParent(this);
        // After the message and the informative text, before the buttons.
        body_->insertWidget(2, view);
    }
}

QPushButton* AlertDialog::button(int index) const {
    return index >= 0 && index < buttons_.size() ? buttons_[index] : nullptr;
}

QString AlertDialog::messageText() const { return message_->text(); }

QString AlertDialog::informativeText() const { return informative_->text(); }

void AlertDialog::present() {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(parentWidget() ? Qt::WindowModal : Qt::ApplicationModal);
    open();
}

AlertDialog* AlertDialog::shownOn(QWidget* window) {
    if (!window) return nullptr;
    for (AlertDialog* dialog : window->findChildren<AlertDialog*>()) {
        if (dialog->isVisible()) return dialog;
    }
    return nullptr;
}

void AlertDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (initialFocus_) initialFocus_->setFocus(Qt::OtherFocusReason);
    else if (!buttons_.isEmpty()) buttons_.first()->setFocus(Qt::OtherFocusReason);
}
