#pragma once

#include <QDialog>
#include <QString>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

// Lets the user pin the executable of an agent, or go back to auto-detection. Whatever the
// choice, the program's cached shell lookup is dropped so the next launch asks the shell again.
class AgentBinaryOverrideDialog : public QDialog {
    Q_OBJECT
public:
    enum Choice { Cancel = 0, Save = 1, ResetToAuto = 2 };

    AgentBinaryOverrideDialog(const QString& agentID, const QString& programName, const QString& title,
                              const std::optional<QString>& detected, const std::optional<QString>& current,
                              QWidget* parent = nullptr);

    QString messageText() const;
    QString informativeText() const;
    QLineEdit* pathField() const { return field_; }
    QPushButton* button(Choice choice) const;

    // Applies the choice (preferences and cache) and closes.
    void done(int result) override;

    // Detects, shows the dialog window-modally over `parent` and applies the user's choice.
    static Choice present(QWidget* parent, const QString& agentID, const QString& programName,
                          const QString& title);
    // "Claude Code" for "claude", "Codex" for "codex", else the program name.
    static QString titleFor(const QString& agentID, const QString& programName);

private:
    QString agentID_;
    QString programName_;
    QLabel* message_ = nullptr;
    QLabel* informative_ = nullptr;
    QLineEdit* field_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* reset_ = nullptr;
    QPushButton* cancel_ = nullptr;
};
