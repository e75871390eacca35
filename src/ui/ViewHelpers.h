#pragma once

#include <QColor>
#include <QFont>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QWidget>
#include <functional>
#include <optional>

class QFileDialog;
class QLabel;
class QVBoxLayout;

// The monospaced interface font at `points` logical pixels: JetBrains Mono when installed, else
// the system's fixed-pitch font.
QFont vrnxMonoFont(double points, QFont::Weight weight = QFont::Normal);

// Sets a widget's foreground (window text and text) colour through its palette.
void vrnxSetTextColor(QWidget* widget, const QColor& color);

// A horizontal rule: 1 point high, filled with Theme::surface3().
QWidget* vrnxSeparator(QWidget* parent = nullptr);

// A row that highlights under the pointer and runs its action on release. The payload fields
// tell the action's receiver what the row stands for.
class ClickableRow : public QWidget {
    Q_OBJECT
public:
    using Action = std::function<void(ClickableRow*)>;

    explicit ClickableRow(QWidget* parent = nullptr);

    // The receiver. When one was set and it is gone, a click does nothing.
    void setTarget(QObject* target);
    QObject* target() const { return target_.data(); }
    Action action;

    int toolkitIndex = 0;
    int watchdogIndex = 0;
    std::optional<QString> worktreeName;
    std::optional<QString> worktreePath;
    bool isBaseWorktree = false;
    std::optional<QString> filePath;
    bool isDirectory = false;
    std::optional<int> sessionIndex;
    // An inbox entry (held by value in the variant); null when the row stands for none.
    QVariant inboxEntry;

    enum class Highlight { None, Hover, Pressed };
    Highlight highlight() const { return highlight_; }

    QSize sizeHint() const override;

signals:
    // Emitted on every completed click, after the action ran.
    void clicked(ClickableRow* row);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void setHighlight(Highlight h);

    QPointer<QObject> target_;
    bool hasTarget_ = false;
    Highlight highlight_ = Highlight::None;
    bool pressed_ = false;
};

// A clickable row with a 14x14 symbol 4 from the left, the text 6 to its right and an optional
// detail right-aligned 4 from the right edge. `iconTint` defaults to Theme::text2().
ClickableRow* vrnxClickableRow(const QString& icon, const QString& text, const QString& detail, QObject* target,
                               ClickableRow::Action action, const QColor& iconTint = QColor(),
                               QWidget* parent = nullptr);

template <typename T>
ClickableRow* vrnxClickableRow(const QString& icon, const QString& text, const QString& detail, T* target,
                               void (T::*method)(ClickableRow*), const QColor& iconTint = QColor(),
                               QWidget* parent = nullptr) {
    QPointer<T> weak(target);
    return vrnxClickableRow(
        icon, text, detail, target,
        [weak, method](ClickableRow* row) {
            if (weak) (weak.data()->*method)(row);
        },
        iconTint, parent);
}

// A vertical list that grows from the top: arranged views sit at the top in insertion order and
// any spare height stays below them.
class FlippedStack : public QWidget {
    Q_OBJECT
public:
    explicit FlippedStack(QWidget* parent = nullptr);

    void addArrangedSubview(QWidget* view, Qt::Alignment alignment = {});
    // Takes every arranged view out and deletes it later, so that a view may clear the stack from
    // inside its own event handler.
    void removeAllArrangedSubviews();
    QList<QWidget*> arrangedSubviews() const;

    void setSpacing(int spacing);
    int spacing() const;
    QVBoxLayout* stackLayout() const { return layout_; }

private:
    QVBoxLayout* layout_;
};

// A window-modal directory chooser on `parent` with the title and a message line above the file
// list, starting in the home directory. Directories only, one selection, creating folders
// allowed. The caller connects to `fileSelected`/`finished` and calls open().
QFileDialog* vrnxDirectoryChooser(QWidget* parent, const QString& title, const QString& message);
