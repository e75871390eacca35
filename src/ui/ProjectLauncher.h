#pragma once

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>
#include <functional>

class FlippedStack;
class ProjectManager;
class QLabel;
class QScrollArea;
class QToolButton;
class VRNXLauncherWindow;

// The launcher's filled button: accent background, black title, pointing-hand cursor. A click runs
// the action; when a target was given and is gone, nothing happens.
class AccentButton : public QAbstractButton {
    Q_OBJECT
public:
    AccentButton(const QString& title, QObject* target, std::function<void()> action, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QPointer<QObject> target_;
    bool hasTarget_;
    std::function<void()> action_;
    bool hovered_ = false;
};

// One recent project in the launcher: folder icon, name, shortened path, an "open" marker when a
// window shows the project, and a remove button.
class LauncherRow : public QWidget {
    Q_OBJECT
public:
    LauncherRow(const QString& name, const QString& path, bool isOpen, std::function<void()> onOpen,
                std::function<void()> onRemove, QWidget* parent = nullptr);

    QString name() const { return name_; }
    QString path() const { return path_; }
    bool isOpen() const { return isOpen_; }
    bool isHovered() const { return hovered_; }
    QToolButton* removeButton() const { return removeButton_; }
    QLabel* pathLabel() const { return pathLabel_; }
    QLabel* openLabel() const { return openLabel_; }

    // The path with the home directory written as "~".
    static QString abbreviatedPath(const QString& path);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void layoutContent();

    QString name_;
    QString path_;
    bool isOpen_;
    std::function<void()> onOpen_;
    std::function<void()> onRemove_;
    bool hovered_ = false;
    bool pressed_ = false;
    QLabel* icon_;
    QLabel* nameLabel_;
    QLabel* pathLabel_;
    QLabel* openLabel_;
    QToolButton* removeButton_;
};

// Fills the launcher window: title, the recent projects and "Open Project…".
class VRNXProjectLauncher : public QObject {
    Q_OBJECT
public:
    // `store` defaults to ProjectManager::shared(). The launcher lives as long as its window.
    explicit VRNXProjectLauncher(VRNXLauncherWindow* window, ProjectManager* store = nullptr);

    // The chosen directory; set by the application delegate.
    std::function<void(const QString& path)> onSelect;
    // Whether an open project window shows this directory; unset means none does.
    std::function<bool(const QString& path)> isProjectOpen;

    void buildUI();
    void rebuildList();
    // "Open Project…": a directory chooser on the launcher window.
    void openNewClicked();

    VRNXLauncherWindow* window() const { return window_; }
    FlippedStack* listStack() const { return listStack_; }
    QScrollArea* listScroll() const { return listScroll_; }
    QList<LauncherRow*> rows() const;

private:
    void choose(const QString& path);

    QPointer<VRNXLauncherWindow> window_;
    ProjectManager* store_;
    FlippedStack* listStack_ = nullptr;
    QScrollArea* listScroll_ = nullptr;
};
