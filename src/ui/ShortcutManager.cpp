#include "ui/ShortcutManager.h"

#include "ui/KeyChords.h"
#include "ui/WindowController.h"

#include <QApplication>
#include <QKeyEvent>

ShortcutManager& ShortcutManager::shared() {
    static ShortcutManager* const instance = new ShortcutManager;  // lives for the process
    return *instance;
}

void ShortcutManager::install() {
    if (installed_ || !qApp) return;
    installed_ = true;
    qApp->installEventFilter(this);
}

namespace {

// The chord of a command this filter handles; the menu's own chords are left to the menu bar.
std::optional<KeyChords::Match> ownMatch(const QKeyEvent* event) {
    if (!VRNXWindowController::activeController()) return std::nullopt;
    const std::optional<KeyChords::Match> match = KeyChords::match(event);
    if (!match) return std::nullopt;
    using KeyChords::Command;
    switch (match->command) {
    case Command::Settings:
    case Command::Quit:
    case Command::NewWindow:
    case Command::OpenProject: return std::nullopt;
    default: return match;
    }
}

}  // namespace

bool ShortcutManager::handleKeyDown(const QKeyEvent* event) {
    const std::optional<KeyChords::Match> match = ownMatch(event);
    if (!match) return false;
    auto run = [](const std::function<void()>& handler) {
        if (handler) handler();
    };
    using KeyChords::Command;
    switch (match->command) {
    case Command::NewSession: run(onNewSession); break;
    case Command::CommandPalette: run(onCommandPalette); break;
    case Command::CloseSession: run(onCloseSession); break;
    case Command::ToggleDashboard: run(onToggleDashboard); break;
    case Command::NewSessionWithWorktree: run(onNewSessionWithWorktree); break;
    case Command::ToggleSidebar: run(onToggleSidebar); break;
    case Command::ZoomIn: run(onZoomIn); break;
    case Command::ZoomOut: run(onZoomOut); break;
    case Command::SwitchSession:
        if (onSwitchSession) onSwitchSession(match->index);
        break;
    case Command::NewSecondAgentSession: run(onNewSecondAgentSession); break;
    case Command::NewOrchestratorSession: run(onNewOrchestratorSession); break;
    case Command::ZoomReset: run(onZoomReset); break;
    case Command::ToggleQuickWorkspace: run(onToggleQuickWorkspace); break;
    // Voice input arrives with its service; the chord is still the application's.
    case Command::VoiceInput: break;
    case Command::Settings:
    case Command::Quit:
    case Command::NewWindow:
    case Command::OpenProject: return false;
    }
    return true;
}

bool ShortcutManager::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride) return QObject::eventFilter(watched, event);
    // Key events are offered to the focus widget and then to its parents; only the first counts.
    if (!watched->isWidgetType()) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (type == QEvent::ShortcutOverride) {
        // Claim the chord so that no widget shortcut takes it; the key press then comes here.
        if (ownMatch(key)) {
            event->accept();
            return true;
        }
        return false;
    }
    return handleKeyDown(key);
}
