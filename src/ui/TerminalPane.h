#pragma once

#include "ui/TabBarLogic.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <optional>

class QHBoxLayout;
class QMenu;
class QToolButton;
class SessionManager;
class VRNXProjectQuickStart;

// A worktree group's chip in the tab bar: a short coloured bar and the branch name.
class VRNXGroupChip : public QWidget {
    Q_OBJECT
public:
    VRNXGroupChip(const QString& text, const QColor& color, QWidget* parent = nullptr);
    QString text() const { return text_; }
    QColor color() const { return color_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QColor color_;
};

// The state dot of an alerting tab. It pulses (opacity 0.3 <-> 1.0) and glows in its colour.
class VRNXTabDot : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qreal opacity READ opacity WRITE setOpacity)
public:
    explicit VRNXTabDot(const QColor& color, QWidget* parent = nullptr);
    qreal opacity() const { return opacity_; }
    void setOpacity(qreal opacity);
    QColor color() const { return color_; }
    bool isPulsing() const;

    static constexpr int kDiameter = 6;
    static constexpr int kGlow = 4;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor color_;
    qreal opacity_ = 1.0;
    QObject* pulse_ = nullptr;
};

// One session's tab: container, optional state dot, title, branch stripe and close button.
class VRNXSessionTab : public QWidget {
    Q_OBJECT
public:
    struct Spec {
        int index = 0;
        QString name;
        SessionState state = SessionState::idle;
        bool isOrchestrator = false;
        std::optional<QString> branch;
        QColor agentColor;
        bool active = false;
        bool alerting = false;
        bool closable = false;
    };
    explicit VRNXSessionTab(const Spec& model, QWidget* parent = nullptr);

    const Spec& model() const { return model_; }
    VRNXTabDot* dot() const { return dot_; }
    QToolButton* titleButton() const { return title_; }
    QToolButton* closeButton() const { return close_; }
    // The colour the session's name is drawn in.
    QColor titleColor() const { return titleColor_; }

    static constexpr int kHeight = 24;

signals:
    void selectRequested(int index);
    void renameRequested(int index);
    void closeRequested(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Spec model_;
    VRNXTabDot* dot_ = nullptr;
    QToolButton* title_;
    QToolButton* close_;
    QColor titleColor_;
};

// The middle column of a project window: the tab bar (sessions grouped by worktree, the add
// button) over the content area, which shows the active session's terminal or the quick start.
// It keeps no session state; the window's SessionManager holds it.
class VRNXTerminalPane : public QWidget {
    Q_OBJECT
public:
    explicit VRNXTerminalPane(QWidget* parent = nullptr);
    ~VRNXTerminalPane() override;

    // The manager of the project window that contains the pane; SessionManager::current() while
    // the pane is in none.
    SessionManager* manager() const;

    QWidget* tabBar() const { return tabBar_; }
    QWidget* terminalContainer() const { return terminalContainer_; }
    QToolButton* addButton() const { return addButton_; }
    VRNXProjectQuickStart* quickStart() const { return quickStart_; }
    const QList<QWidget*>& tabViews() const { return tabViews_; }
    QList<VRNXSessionTab*> sessionTabs() const;
    QList<VRNXGroupChip*> groupChips() const;

    // Open file tabs; the editors arrive with the file editor.
    const QStringList& openFiles() const { return openFiles_; }
    const std::optional<QString>& selectedFile() const { return selectedFile_; }
    void clearSelectedFile() { selectedFile_.reset(); }
    double editorFontDelta() const { return editorFontDelta_; }

    // Tab strip insets the window sets: 4 or the title strip's width while the sidebar is hidden;
    // 8 or 34 while the right column is collapsed.
    void setTabStackLeading(int inset);
    int tabStackLeading() const { return tabStackLeading_; }
    void setAddButtonTrailing(int inset);
    int addButtonTrailing() const { return addButtonTrailing_; }

    // The text of everything the tab bar shows.
    QString tabsSignature() const;
    // Rebuilds the tab bar when its signature changed, then shows the content.
    void rebuildTabs();
    // How many times the tab bar was actually rebuilt.
    int rebuildCount() const { return rebuildCount_; }

    // Out-of-range indexes do nothing.
    void switchToSession(int index);
    void closeActiveTab();
    void promptRenameSession(int index);
    void newOrchestratorSession();
    void openTerminalTab();
    // Unknown or empty ids start the default provider.
    void newSessionForAgent(const QString& agentID);
    void zoomActiveContent(double step);
    void resetZoom();
    void applyTerminalFontDelta(double delta);

    // The add menu, built from the new-tab entries; `popupAddMenu` shows it under the button.
    QMenu* buildAddMenu(QWidget* parent);
    void popupAddMenu();

    static constexpr int kTabBarHeight = 30;
    static constexpr int kTerminalInset = 10;
    static constexpr int kDefaultTabStackLeading = 4;
    static constexpr int kDefaultAddButtonTrailing = 8;
    static constexpr int kCollapsedAddButtonTrailing = 34;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void showContent();
    void layoutTabBar();
    void ensureQuickStart();
    // The upper-cased project folder name, or "PROJECT" without one.
    QString quickStartTitle() const;
    QList<TabBarLogic::TabSession> tabSessions() const;
    QList<TabBarLogic::TabFile> tabFiles() const;

    QWidget* tabBar_;
    QWidget* tabStack_;
    QHBoxLayout* tabLayout_;
    QToolButton* addButton_;
    QWidget* terminalContainer_;
    VRNXProjectQuickStart* quickStart_ = nullptr;
    QList<QWidget*> tabViews_;
    QStringList openFiles_;
    std::optional<QString> selectedFile_;
    QStringList fileMRU_;
    double editorFontDelta_ = 0;
    int tabStackLeading_ = kDefaultTabStackLeading;
    int addButtonTrailing_ = kDefaultAddButtonTrailing;
    std::optional<QString> lastTabsSignature_;
    int rebuildCount_ = 0;
};
