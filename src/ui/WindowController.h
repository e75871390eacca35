#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>

class Preferences;
class QHBoxLayout;
class QLabel;
class QToolButton;
class QVBoxLayout;
class SessionManager;
class VRNXProjectWindow;
class VRNXTerminalPane;
class VRNXWindowController;

// The invisible strip on the sidebar's right edge that resizes it.
class VRNXSidebarResizeHandle : public QWidget {
    Q_OBJECT
public:
    explicit VRNXSidebarResizeHandle(QWidget* parent = nullptr);

    // Each drag step's horizontal distance in points (never 0).
    std::function<void(int dx)> onDrag;
    // The pointer's last x in window coordinates.
    int lastX = 0;

    static constexpr int kWidth = 6;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool dragging_ = false;
};

// The right column: the file tree's pane on top, a rule and the player panel at the bottom.
class VRNXRightColumn : public QWidget {
    Q_OBJECT
public:
    explicit VRNXRightColumn(QWidget* parent = nullptr);

    // Where the file tree goes: inset 36 from the top, 12 from the sides, 8 from the bottom.
    QWidget* fileTreePane() const { return fileTreePane_; }
    // The bottom panel's place; empty and hidden with its rule until something fills it.
    QWidget* player() const { return player_; }

    static constexpr int kWidth = 300;

private:
    QWidget* fileTreePane_;
    QWidget* separator_;
    QWidget* player_;
};

// A project window: the widget whose activation and closing drive its controller.
class VRNXProjectWindow : public QWidget {
    Q_OBJECT
public:
    explicit VRNXProjectWindow(VRNXWindowController* controller);

    VRNXWindowController* controller() const { return controller_; }

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QPointer<VRNXWindowController> controller_;
};

// One project window and everything in it: its own session manager, the sidebar, the terminal
// pane and the right column over the status bar, the overlays, and the window-level commands that
// menus, shortcuts and the sidebar call. Created by the application delegate, which keeps the list
// of open windows and guarantees one window per project directory.
class VRNXWindowController : public QObject {
    Q_OBJECT
public:
    explicit VRNXWindowController(QObject* parent = nullptr);
    ~VRNXWindowController() override;

    VRNXProjectWindow* window() const { return window_; }
    SessionManager* sessionManager() const { return sessionManager_; }
    VRNXTerminalPane* terminalPane() const { return terminalPane_; }
    VRNXRightColumn* rightColumn() const { return rightColumn_; }
    VRNXSidebarResizeHandle* resizeHandle() const { return resizeHandle_; }
    QWidget* titleStrip() const { return titleStrip_; }
    QToolButton* sidebarButton() const { return sidebarButton_; }
    QToolButton* rightColumnButton() const { return rightColumnButton_; }

    // The places of the views that arrive with their own work; each is an empty area of the
    // view's colour and size with a zero-margin layout to put the view in.
    QWidget* sidebar() const { return sidebar_; }
    QWidget* statusBar() const { return statusBar_; }
    QWidget* dashboard() const { return dashboard_; }
    QWidget* onboarding() const { return onboarding_; }
    QWidget* quickWorkspace() const { return quickWorkspace_; }
    QWidget* diffReview() const { return diffReview_; }

    // The delegate's open-project operation (Part of the window list); promptOpenProject hands it
    // the chosen directory.
    std::function<void(const QString& path)> openProjectHandler;
    // Told once when the window has closed, so that the window list drops this controller.
    std::function<void(VRNXWindowController*)> onClosed;

    // Binds the window to the project directory `path`: recent projects, title, restore.
    void openProject(const QString& path);
    // Another folder, opened in a window of its own.
    void promptOpenProject();
    // A session in a fresh worktree named by the user.
    void promptNewWorktreeSession();
    // An agent started on a described task in a fresh worktree.
    void promptNewTaskSession();
    void toggleSidebar();
    void toggleRightColumn();
    // One step of text zoom (+1 / -1 points) for whatever has focus; back to the default size.
    void zoomActiveContent(double step);
    void resetActiveContentZoom();

    void windowDidBecomeKey();
    void windowWillClose();

    bool isSidebarHidden() const;
    bool isRightColumnCollapsed() const { return rightColumnCollapsed_; }
    int sidebarWidth() const { return sidebarWidth_; }
    int rightColumnWidth() const;
    // Sets the sidebar's width clamped to 160...500 and stores it.
    void setSidebarWidth(double width);

    // The title strip's right edge: where the tabs start while the sidebar is hidden.
    int hiddenSidebarTabInset() const;

    // The controller of a project window, or none.
    static VRNXWindowController* forWindow(QWidget* window);
    // The controller of the active window when it is a project window, else of the project window
    // that was active last; none when neither is open.
    static VRNXWindowController* keyController();
    // The controller of the active window, only when that is a project window.
    static VRNXWindowController* activeController();

    static constexpr int kDefaultWidth = 1400;
    static constexpr int kDefaultHeight = 860;
    static constexpr int kMinWidth = 800;
    static constexpr int kMinHeight = 400;
    static constexpr int kStatusBarHeight = 28;
    static constexpr int kTitleStripHeight = 28;
    static constexpr int kTitleStripLeft = 8;
    static constexpr double kSidebarMinWidth = 160;
    static constexpr double kSidebarMaxWidth = 500;
    static constexpr double kSidebarDefaultWidth = 220;

    static double clampSidebarWidth(double width);
    // The stored width when present and a number (clamped), else 220.
    static double storedSidebarWidth(const Preferences& prefs);
    // "Varnix — <last path component>".
    static QString windowTitle(const QString& projectPath);
    // Whether the first-run onboarding is due: no sessions and never shown. Marks it as shown
    // when it answers true.
    static bool claimOnboarding(Preferences& prefs, bool hasSessions);

    // Session persistence: whether the project's saved sessions file is for `path` and lists a
    // session; restoring them, clearing them; saving the window's sessions (on close and quit).
    bool restoreWanted(const QString& path) const;
    void restoreSessions();
    void clearSavedSessions();
    void saveSessions();

    // Lays the overlays out over the window's content; called on every resize.
    void layoutOverlays();

signals:
    void closed();

private:
    void buildWindow();
    void buildTitleStrip();
    // Creates the worktree for `branch` off the UI thread, then the session in it.
    struct WorktreeSessionRequest {
        QString branch;
        QString agentID;
        std::optional<QString> initialPrompt;
    };
    void createWorktreeSession(const WorktreeSessionRequest& request);
    void showWorktreeError(const QString& text);
    void showOnboarding(const QString& continueTitle);
    bool onboardingReady() const;

    SessionManager* sessionManager_;
    QPointer<VRNXProjectWindow> window_;
    QWidget* sidebar_ = nullptr;
    VRNXTerminalPane* terminalPane_ = nullptr;
    VRNXRightColumn* rightColumn_ = nullptr;
    QWidget* statusBar_ = nullptr;
    QWidget* dashboard_ = nullptr;
    QWidget* onboarding_ = nullptr;
    QWidget* quickWorkspace_ = nullptr;
    QWidget* diffReview_ = nullptr;
    QWidget* mainStack_ = nullptr;
    VRNXSidebarResizeHandle* resizeHandle_ = nullptr;
    QWidget* titleStrip_ = nullptr;
    QLabel* titleLabel_ = nullptr;
    QToolButton* sidebarButton_ = nullptr;
    QToolButton* rightColumnButton_ = nullptr;
    int sidebarWidth_ = int(kSidebarDefaultWidth);
    bool rightColumnCollapsed_ = false;
    bool closing_ = false;
    bool restoreWanted_ = false;
};
