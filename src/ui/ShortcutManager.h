#pragma once

#include <QObject>
#include <functional>

class QKeyEvent;

// The application's own keyboard shortcuts, seen before the focused view (a terminal included):
// one process-wide key filter that, while a project window is active, runs the handler of a
// matched chord and consumes the key. Chords come from KeyChords.
class ShortcutManager : public QObject {
    Q_OBJECT
public:
    static ShortcutManager& shared();

    std::function<void()> onNewSession;
    std::function<void()> onCloseSession;
    std::function<void(int index)> onSwitchSession;
    std::function<void()> onToggleDashboard;
    std::function<void()> onNewSessionWithWorktree;
    std::function<void()> onToggleSidebar;
    std::function<void()> onToggleQuickWorkspace;
    std::function<void()> onNewOrchestratorSession;
    std::function<void()> onNewSecondAgentSession;
    std::function<void()> onCommandPalette;
    std::function<void()> onZoomIn;
    std::function<void()> onZoomOut;
    std::function<void()> onZoomReset;

    // Installs the filter on the application once; later calls do nothing.
    void install();
    bool isInstalled() const { return installed_; }

    // Whether the key press is an application shortcut; runs its handler when one is assigned.
    // False whenever the active window is not a project window.
    bool handleKeyDown(const QKeyEvent* event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ShortcutManager() = default;
    bool installed_ = false;
};
