#include "sessions/AgentBinaryOverrideDialog.h"

#include "app/PreferenceKeys.h"
#include "core/Preferences.h"
#include "sessions/AgentBinaryResolver.h"
#include "ui/Theme.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

AgentBinaryOverrideDialog::AgentBinaryOverrideDialog(const QString& agentID, const QString& programName,
                                                     const QString& title, const std::optional<QString>& detected,
                                                     const std::optional<QString>& current, QWidget* parent)
    : QDialog(parent), agentID_(agentID), programName_(programName) {
    setWindowTitle(title + QStringLiteral(" binary"));
    if (parent) setWindowModality(Qt::WindowModal);

    auto* icon = new QLabel(this);
    const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation, nullptr, this).pixmap(iconSize, iconSize));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    message_ = new QLabel(title + QStringLiteral(" binary"), this);
    message_->setFont(Theme::uiFont(13, QFont::Bold));
    message_->setTextFormat(Qt::PlainText);

    informative_ = new QLabel(this);
    informative_->setTextFormat(Qt::PlainText);
    informative_->setWordWrap(true);
    informative_->setFont(Theme::uiFont(11));
    informative_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    informative_->setText(QStringLiteral("Auto-detected (what your terminal's `") + programName +
                          QStringLiteral("` resolves to):\n") + detected.value_or(QStringLiteral("— not found —")) +
                          QStringLiteral("\n\n") +
                          QStringLiteral("Leave the field empty to use auto-detection, or enter an explicit path ") +
                          QStringLiteral("to always launch a specific ") + programName + QStringLiteral("."));

    field_ = new QLineEdit(this);
    field_->setFixedSize(360, 24);
    field_->setText(current.value_or(QString()));
    field_->setPlaceholderText(detected.value_or(QStringLiteral("/path/to/") + programName));

    auto* buttons = new QDialogButtonBox(this);
    save_ = buttons->addButton(QStringLiteral("Save"), QDialogButtonBox::AcceptRole);
    reset_ = buttons->addButton(QStringLiteral("Reset to Auto"), QDialogButtonBox::ResetRole);
    cancel_ = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    save_->setDefault(true);
    connect(save_, &QPushButton::clicked, this, [this] { done(Save); });
    connect(reset_, &QPushButton::clicked, this, [this] { done(ResetToAuto); });
    connect(cancel_, &QPushButton::clicked, this, [this] { done(Cancel); });

    auto* text = new QVBoxLayout;
    text->setSpacing(8);
    text->addWidget(message_);
    text->addWidget(informative_);
    text->addWidget(field_);
    auto* top = new QHBoxLayout;
    top->setSpacing(16);
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(text, 1);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(20, 20, 20, 16);
    root->setSpacing(16);
    root->addLayout(top);
    root->addWidget(buttons);
    setFixedWidth(sizeHint().width());
    informative_->setMinimumWidth(360);
}

QString AgentBinaryOverrideDialog::messageText() const { return message_->text(); }

QString AgentBinaryOverrideDialog::informativeText() const { return informative_->text(); }

QPushButton* AgentBinaryOverrideDialog::button(Choice choice) const {
    switch (choice) {
    case Save: return save_;
    case ResetToAuto: return reset_;
    case Cancel: return cancel_;
    }
    return nullptr;
}

void AgentBinaryOverrideDialog::done(int result) {
    if (result == Save) AgentBinaryOverride::set(field_->text().trimmed(), agentID_);
    else if (result == ResetToAuto) Preferences::shared().remove(PrefKey::binaryPath(agentID_));
    AgentBinaryResolver::forgetInteractive(programName_);
    QDialog::done(result);
}

AgentBinaryOverrideDialog::Choice AgentBinaryOverrideDialog::present(QWidget* parent, const QString& agentID,
                                                                     const QString& programName, const QString& title) {
    const std::optional<QString> detected = AgentBinaryResolver::resolveViaInteractiveShell(programName);
    AgentBinaryOverrideDialog dialog(agentID, programName, title, detected, AgentBinaryOverride::path(agentID), parent);
    return Choice(dialog.exec());
}

QString AgentBinaryOverrideDialog::titleFor(const QString& agentID, const QString& programName) {
    if (agentID == QLatin1String("claude")) return QStringLiteral("Claude Code");
    if (agentID == QLatin1String("codex")) return QStringLiteral("Codex");
    return programName;
}
