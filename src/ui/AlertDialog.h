#pragma once

#include <QDialog>
#include <QList>
#include <QStringList>
#include <functional>

class QLabel;
class QPushButton;
class QVBoxLayout;

// An alert with a bold message, an informative text, an optional accessory view and a row of
// buttons; the first button is the default (Return). Shown window-modal on its parent (a sheet)
// with present(), or application-modal with exec().
class AlertDialog : public QDialog {
    Q_OBJECT
public:
    enum class Style { Plain, Information, Warning };

    AlertDialog(QWidget* parent, const QString& message, const QString& informativeText, const QStringList& buttons,
                Style style = Style::Plain);

    // Placed between the informative text and the buttons; the dialog takes ownership.
    void setAccessoryView(QWidget* view);
    QWidget* accessoryView() const { return accessory_; }
    // The widget that has the keyboard focus when the alert opens (the first button otherwise).
    void setInitialFocus(QWidget* widget) { initialFocus_ = widget; }

    QPushButton* button(int index) const;
    int buttonCount() const { return int(buttons_.size()); }
    QString messageText() const;
    QString informativeText() const;

    // The index of the button that ended the alert; -1 when it was dismissed (Escape, closed).
    int clickedIndex() const { return clicked_; }
    // Runs once when the alert ends, with clickedIndex().
    std::function<void(int)> onFinish;

    // Window-modal on the parent's window and deleted once it has ended.
    void present();

    // The alert currently shown on `window` (a child of it), or none.
    static AlertDialog* shownOn(QWidget* window);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* message_;
    QLabel* informative_;
    QVBoxLayout* body_;
    QWidget* accessory_ = nullptr;
    QWidget* initialFocus_ = nullptr;
    QList<QPushButton*> buttons_;
    int clicked_ = -1;
};
