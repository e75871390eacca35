#include "ui/WindowController.h"

#include "app/NotificationNames.h"
#include "app/PreferenceKeys.h"
#include "core/MainThread.h"
#include "core/NotificationCenter.h"
#include "core/Preferences.h"
#include "git/WorktreeManager.h"
#include "sessions/AgentStateMonitor.h"
#include "sessions/SessionManager.h"
#include "sessions/SessionPersistence.h"
#include "sessions/terminal/AgentTerminalView.h"
#include "ui/AlertDialog.h"
#include "ui/KeyChords.h"
#include "ui/ProjectManager.h"
#include "ui/ShortcutManager.h"
#include "ui/SymbolIcons.h"
#include "ui/TerminalPane.h"
#include "ui/Theme.h"
#include "ui/ViewHelpers.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <thread>

namespace {

// An empty area of one colour with a zero-margin layout, waiting for the view that fills it.
QWidget* filledArea(const QString& name, const QColor& color, QWidget* parent) {
    auto* area = new QWidget(parent);
    area->setObjectName(name);
    area->setAutoFillBackground(true);
    QPalette pal = area->palette();
    pal.setColor(QPalette::Window, color);
    area->setPalette(pal);
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return area;
}

// The status bar's place: its colour and the rule along its top edge.
class StatusBarArea : public QWidget {
public:
    explicit StatusBarArea(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("statusBar"));
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), Theme::surface1());
        p.fillRect(QRect(0, 0, width(), 1), Theme::surface3());
    }
};

QToolButton* symbolButton(const QString& symbol, const QString& accessibleName, const QString& tooltip,
                          QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setIcon(SymbolIcons::icon(symbol, Theme::text3(), QSize(16, 16)));
    button->setIconSize(QSize(16, 16));
    button->setFixedSize(16, 16);
    button->setAccessibleName(accessibleName);
    button->setToolTip(tooltip);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::NoFocus);
    button->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; padding: 0; }"));
    return button;
}

QPointer<VRNXWindowController>& lastActiveController() {
    static QPointer<VRNXWindowController> controller;
    return controller;
}

// The shortcut handlers hold no window: each looks the key controller up when it runs.
void installShortcutHandlersOnce() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    ShortcutManager& shortcuts = ShortcutManager::shared();
    auto withPane = [](auto action) {
        return [action] {
            if (VRNXWindowController* c = VRNXWindowController::keyController()) action(c, c->terminalPane());
        };
    };
    shortcuts.onNewSession = withPane([](VRNXWindowController*, VRNXTerminalPane* pane) {
        pane->newSessionForAgent(AgentRegistry::defaultProvider()->id());
    });
    shortcuts.onCloseSession = withPane([](VRNXWindowController*, VRNXTerminalPane* pane) { pane->closeActiveTab(); });
    shortcuts.onSwitchSession = [](int index) {
        if (VRNXWindowController* c = VRNXWindowController::keyController()) c->terminalPane()->switchToSession(index);
    };
    shortcuts.onNewSessionWithWorktree =
        withPane([](VRNXWindowController* c, VRNXTerminalPane*) { c->promptNewWorktreeSession(); });
    shortcuts.onToggleSidebar = withPane([](VRNXWindowController* c, VRNXTerminalPane*) { c->toggleSidebar(); });
    shortcuts.onNewOrchestratorSession =
        withPane([](VRNXWindowController*, VRNXTerminalPane* pane) { pane->newOrchestratorSession(); });
    shortcuts.onNewSecondAgentSession = withPane([](VRNXWindowController*, VRNXTerminalPane* pane) {
        const QList<AgentProviderRef>& providers = AgentRegistry::all();
        if (providers.size() >= 2) pane->newSessionForAgent(providers[1]->id());
    });
    shortcuts.onZoomIn = withPane([](VRNXWindowController* c, VRNXTerminalPane*) { c->zoomActiveContent(1); });
    shortcuts.onZoomOut = withPane([](VRNXWindowController* c, VRNXTerminalPane*) { c->zoomActiveContent(-1); });
    shortcuts.onZoomReset = withPane([](VRNXWindowController* c, VRNXTerminalPane*) { c->resetActiveContentZoom(); });
    shortcuts.install();
}

}  // namespace

// ---------------------------------------------------------------------------------------------

VRNXSidebarResizeHandle::VRNXSidebarResizeHandle(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("sidebarResizeHandle"));
    setCursor(Qt::SplitHCursor);
    setFixedWidth(kWidth);
    // Invisible: nothing painted, the columns show through.
    setAttribute(Qt::WA_NoSystemBackground);
}

void VRNXSidebarResizeHandle::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    dragging_ = true;
    lastX = int(std::lround(event->scenePosition().x()));
}

void VRNXSidebarResizeHandle::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return QWidget::mouseMoveEvent(event);
    const int x = int(std::lround(event->scenePosition().x()));
    const int dx = x - lastX;
    if (dx == 0) return;
    lastX = x;
    if (onDrag) onDrag(dx);
}

void VRNXSidebarResizeHandle::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) dragging_ = false;
    QWidget::mouseReleaseEvent(event);
}

// ---------------------------------------------------------------------------------------------

VRNXRightColumn::VRNXRightColumn(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("rightColumn"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Theme::surface1());
    setPalette(pal);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* pane = new QWidget(this);
    auto* paneLayout = new QVBoxLayout(pane);
    paneLayout->setContentsMargins(12, 36, 12, 8);
    paneLayout->setSpacing(0);
    fileTreePane_ = new QWidget(pane);
    fileTreePane_->setObjectName(QStringLiteral("fileTreePane"));
    auto* treeLayout = new QVBoxLayout(fileTreePane_);
    treeLayout->setContentsMargins(0, 0, 0, 0);
    paneLayout->addWidget(fileTreePane_);
    column->addWidget(pane, 1);

    separator_ = vrnxSeparator(this);
    column->addWidget(separator_);
    player_ = new QWidget(this);
    player_->setObjectName(QStringLiteral("player"));
    auto* playerLayout = new QVBoxLayout(player_);
    playerLayout->setContentsMargins(0, 0, 0, 0);
    column->addWidget(player_);
    // Nothing plays yet: the rule and the panel stay out of sight.
    separator_->hide();
    player_->hide();
}

// ---------------------------------------------------------------------------------------------

VRNXProjectWindow::VRNXProjectWindow(VRNXWindowController* controller)
    : QWidget(nullptr, Qt::Window), controller_(controller) {
    setObjectName(QStringLiteral("projectWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
}

void VRNXProjectWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && controller_) {
        controller_->windowDidBecomeKey();
    }
}

void VRNXProjectWindow::closeEvent(QCloseEvent* event) {
    if (controller_) controller_->windowWillClose();
    event->accept();
}

void VRNXProjectWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (controller_) controller_->layoutOverlays();
}

// ---------------------------------------------------------------------------------------------

VRNXWindowController::VRNXWindowController(QObject* parent) : QObject(parent), sessionManager_(new SessionManager(this)) {
    buildWindow();
    SessionManager::setCurrent(sessionManager_);
    installShortcutHandlersOnce();
}

VRNXWindowController::~VRNXWindowController() {
    // A controller dropped with its window still open (tests, quit) closes it the same way.
    onClosed = nullptr;
    if (window_) {
        windowWillClose();
        delete window_.data();
    }
}

void VRNXWindowController::buildWindow() {
    window_ = new VRNXProjectWindow(this);
    VRNXProjectWindow* w = window_;
    w->setWindowTitle(QStringLiteral("Varnix"));
    w->setMinimumSize(kMinWidth, kMinHeight);
    w->resize(kDefaultWidth, kDefaultHeight);
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, Theme::bg());
    w->setPalette(pal);
    w->setAutoFillBackground(true);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        // Placement is the compositor's on Wayland; elsewhere the window opens centred.
        const QRect area = screen->availableGeometry();
        w->move(area.center() - QPoint(kDefaultWidth / 2, kDefaultHeight / 2));
    }

    // Main stack: the columns over the status bar.
    mainStack_ = new QWidget(w);
    mainStack_->setObjectName(QStringLiteral("mainStack"));
    auto* vertical = new QVBoxLayout(mainStack_);
    vertical->setContentsMargins(0, 0, 0, 0);
    vertical->setSpacing(0);

    auto* columns = new QWidget(mainStack_);
    columns->setObjectName(QStringLiteral("columns"));
    auto* horizontal = new QHBoxLayout(columns);
    horizontal->setContentsMargins(0, 0, 0, 0);
    // One point between the columns: the window's background shows as a hairline.
    horizontal->setSpacing(1);

    sidebar_ = filledArea(QStringLiteral("sidebar"), Theme::surface1(), columns);
    sidebarWidth_ = int(std::lround(storedSidebarWidth(Preferences::shared())));
    sidebar_->setFixedWidth(sidebarWidth_);
    horizontal->addWidget(sidebar_);

    terminalPane_ = new VRNXTerminalPane(columns);
    horizontal->addWidget(terminalPane_, 1);

    rightColumn_ = new VRNXRightColumn(columns);
    rightColumn_->setFixedWidth(VRNXRightColumn::kWidth);
    horizontal->addWidget(rightColumn_);

    vertical->addWidget(columns, 1);
    statusBar_ = new StatusBarArea(mainStack_);
    statusBar_->setFixedHeight(kStatusBarHeight);
    vertical->addWidget(statusBar_);

    // Overlays, later ones on top.
    dashboard_ = filledArea(QStringLiteral("dashboard"), Theme::bg(), w);
    dashboard_->hide();
    onboarding_ = filledArea(QStringLiteral("onboarding"), Theme::bg(), w);
    onboarding_->hide();
    quickWorkspace_ = filledArea(QStringLiteral("quickWorkspace"), Theme::surface1(), w);
    quickWorkspace_->hide();
    diffReview_ = filledArea(QStringLiteral("diffReview"), Theme::bg(), w);
    diffReview_->hide();

    resizeHandle_ = new VRNXSidebarResizeHandle(w);
    QPointer<VRNXWindowController> self(this);
    resizeHandle_->onDrag = [self](int dx) {
        if (self) self->setSidebarWidth(self->sidebarWidth_ + dx);
    };

    buildTitleStrip();

    rightColumnButton_ = symbolButton(QStringLiteral("sidebar.right"), QStringLiteral("Toggle Panel"),
                                      QStringLiteral("Show/hide the right panel"), w);
    rightColumnButton_->setObjectName(QStringLiteral("rightColumnButton"));
    connect(rightColumnButton_, &QToolButton::clicked, this, &VRNXWindowController::toggleRightColumn);

    layoutOverlays();
    terminalPane_->rebuildTabs();
}

void VRNXWindowController::buildTitleStrip() {
    titleStrip_ = new QWidget(window_);
    titleStrip_->setObjectName(QStringLiteral("titleStrip"));
    auto* layout = new QHBoxLayout(titleStrip_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    titleLabel_ = new QLabel(QStringLiteral("Varnix"), titleStrip_);
    titleLabel_->setObjectName(QStringLiteral("titleLabel"));
    titleLabel_->setFont(vrnxMonoFont(13, QFont::Medium));
    vrnxSetTextColor(titleLabel_, Theme::text1());
    layout->addWidget(titleLabel_, 0, Qt::AlignVCenter);
    sidebarButton_ = symbolButton(QStringLiteral("sidebar.left"), QStringLiteral("Toggle Sidebar"),
                                  QStringLiteral("Show/hide the left sidebar (%1)")
                                      .arg(KeyChords::label(KeyChords::Command::ToggleSidebar)),
                                  titleStrip_);
    sidebarButton_->setObjectName(QStringLiteral("sidebarButton"));
    layout->addWidget(sidebarButton_, 0, Qt::AlignVCenter);
    connect(sidebarButton_, &QToolButton::clicked, this, &VRNXWindowController::toggleSidebar);
    titleStrip_->setFixedSize(titleStrip_->sizeHint().width(), kTitleStripHeight);
}

void VRNXWindowController::layoutOverlays() {
    if (!window_) return;
    const QRect content = window_->rect();
    mainStack_->setGeometry(content);
    // Apply column changes now, so that what is placed below sees the new geometry.
    for (QLayout* layout : {mainStack_->layout(), sidebar_->parentWidget()->layout()}) layout->activate();
    dashboard_->setGeometry(content);
    onboarding_->setGeometry(content);

    const int statusTop = content.height() - kStatusBarHeight;
    // The quick workspace's default place: 24 from the right, 16 above the status bar.
    const int qwWidth = std::min(920, std::max(0, content.width() - 48));
    const int qwHeight = std::min(560, std::max(0, statusTop - 16 - 40));
    quickWorkspace_->setGeometry(content.width() - 24 - qwWidth, statusTop - 16 - qwHeight, qwWidth, qwHeight);
    diffReview_->setGeometry(24, 40, std::max(0, content.width() - 48), std::max(0, statusTop - 16 - 40));

    // The handle straddles the sidebar's right edge, as tall as the columns.
    resizeHandle_->setGeometry(sidebarWidth_ - VRNXSidebarResizeHandle::kWidth / 2, 0, VRNXSidebarResizeHandle::kWidth,
                               statusTop);
    resizeHandle_->setVisible(!sidebar_->isHidden());
    titleStrip_->move(kTitleStripLeft, 0);
    rightColumnButton_->move(content.width() - 12 - rightColumnButton_->width(), 6);

    for (QWidget* overlay : {dashboard_, onboarding_, quickWorkspace_, diffReview_}) overlay->raise();
    resizeHandle_->raise();
    titleStrip_->raise();
    rightColumnButton_->raise();
}

// ---------------------------------------------------------------------------------------------

double VRNXWindowController::clampSidebarWidth(double width) {
    return std::clamp(width, kSidebarMinWidth, kSidebarMaxWidth);
}

double VRNXWindowController::storedSidebarWidth(const Preferences& prefs) {
    const std::optional<QVariant> stored = prefs.value(PrefKey::SidebarWidth);
    if (!stored) return kSidebarDefaultWidth;
    bool ok = false;
    const double width = stored->toDouble(&ok);
    // Only a number counts; a text or a boolean falls back to the default.
    const auto type = stored->typeId();
    if (!ok || !std::isfinite(width) || (type != QMetaType::Double && type != QMetaType::Int &&
                                         type != QMetaType::LongLong && type != QMetaType::Float)) {
        return kSidebarDefaultWidth;
    }
    return clampSidebarWidth(width);
}

QString VRNXWindowController::windowTitle(const QString& projectPath) {
    QString name = QFileInfo(QDir::cleanPath(projectPath)).fileName();
    if (name.isEmpty()) name = projectPath;
    return QStringLiteral("Varnix — ") + name;
}

bool VRNXWindowController::claimOnboarding(Preferences& prefs, bool hasSessions) {
    if (hasSessions || prefs.boolValue(PrefKey::OnboardingHasShown).value_or(false)) return false;
    prefs.setValue(PrefKey::OnboardingHasShown, true);
    return true;
}

void VRNXWindowController::setSidebarWidth(double width) {
    const double clamped = clampSidebarWidth(width);
    sidebarWidth_ = int(std::lround(clamped));
    sidebar_->setFixedWidth(sidebarWidth_);
    Preferences::shared().setValue(PrefKey::SidebarWidth, clamped);
    layoutOverlays();
}

bool VRNXWindowController::isSidebarHidden() const { return sidebar_->isHidden(); }

int VRNXWindowController::rightColumnWidth() const { return rightColumnCollapsed_ ? 0 : VRNXRightColumn::kWidth; }

int VRNXWindowController::hiddenSidebarTabInset() const {
    return kTitleStripLeft + titleStrip_->width() + 8;
}

void VRNXWindowController::toggleSidebar() {
    sidebar_->setVisible(sidebar_->isHidden());
    terminalPane_->setTabStackLeading(isSidebarHidden() ? hiddenSidebarTabInset()
                                                        : VRNXTerminalPane::kDefaultTabStackLeading);
    layoutOverlays();
}

void VRNXWindowController::toggleRightColumn() {
    rightColumnCollapsed_ = !rightColumnCollapsed_;
    rightColumn_->setFixedWidth(rightColumnWidth());
    // A zero-wide column would still leave its hairline.
    rightColumn_->setVisible(!rightColumnCollapsed_);
    terminalPane_->setAddButtonTrailing(rightColumnCollapsed_ ? VRNXTerminalPane::kCollapsedAddButtonTrailing
                                                              : VRNXTerminalPane::kDefaultAddButtonTrailing);
    layoutOverlays();
}

// ---------------------------------------------------------------------------------------------

VRNXWindowController* VRNXWindowController::forWindow(QWidget* window) {
    auto* projectWindow = qobject_cast<VRNXProjectWindow*>(window);
    return projectWindow ? projectWindow->controller() : nullptr;
}

VRNXWindowController* VRNXWindowController::activeController() {
    return forWindow(QApplication::activeWindow());
}

VRNXWindowController* VRNXWindowController::keyController() {
    if (VRNXWindowController* active = activeController()) return active;
    VRNXWindowController* last = lastActiveController().data();
    return last && last->window() && !last->closing_ ? last : nullptr;
}

void VRNXWindowController::windowDidBecomeKey() {
    lastActiveController() = this;
    SessionManager::setCurrent(sessionManager_);
}

void VRNXWindowController::windowWillClose() {
    if (closing_) return;
    closing_ = true;
    if (lastActiveController() == this) lastActiveController() = nullptr;

    saveSessions();
    // The window takes its tabs with it: none of a session's exit handling runs for these ends.
    for (const SessionRef& s : sessionManager_->sessions) {
        if (s->usageWatcher) s->usageWatcher->stop();
        if (s->stateMonitor) s->stateMonitor->stop();
        if (s->terminalView) {
            s->terminalView->onProcessTerminated = nullptr;
            s->terminalView->terminate();
        }
    }
    if (SessionManager::current() == sessionManager_) SessionManager::setCurrent(nullptr);
    emit closed();
    if (auto handler = std::move(onClosed)) {
        onClosed = nullptr;
        handler(this);
    }
}

// ---------------------------------------------------------------------------------------------

void VRNXWindowController::openProject(const QString& path) {
    sessionManager_->projectDir = path;
    SessionManager::setCurrent(sessionManager_);

    ProjectManager::shared().recordOpened(path);

    // Repository detection runs git; the window must not wait for it.
    std::thread([path] { WorktreeManager::shared().detectRepoRoot(path); }).detach();

    window_->setWindowTitle(windowTitle(path));

    restoreWanted_ = restoreWanted(path);

    // The rest once the window is on screen.
    QTimer::singleShot(0, this, [this] {
        if (!window_ || closing_) return;
        if (restoreWanted_) restoreSessions();
        else clearSavedSessions();
        NotificationCenter::shared().post(kSessionListDidChange, sessionManager_);
        if (onboardingReady() && claimOnboarding(Preferences::shared(), !sessionManager_->sessions.isEmpty())) {
            showOnboarding(QStringLiteral("Continue"));
        }
    });
}

void VRNXWindowController::promptOpenProject() {
    QFileDialog* chooser = vrnxDirectoryChooser(window_, QStringLiteral("Open Project"),
                                                QStringLiteral("Choose a directory to open with Claude Code"));
    chooser->setObjectName(QStringLiteral("openProjectChooser"));
    QPointer<VRNXWindowController> self(this);
    connect(chooser, &QFileDialog::fileSelected, this, [self](const QString& path) {
        if (!self || path.isEmpty()) return;
        if (self->openProjectHandler) self->openProjectHandler(QDir::cleanPath(path));
    });
    chooser->open();
}

void VRNXWindowController::promptNewWorktreeSession() {
    auto* field = new QLineEdit;
    field->setObjectName(QStringLiteral("worktreeNameField"));
    field->setPlaceholderText(QStringLiteral("feature-name"));
    field->setFixedSize(200, 24);
    auto* alert = new AlertDialog(window_, QStringLiteral("New Session with Worktree"),
                                  QStringLiteral("Enter a branch name for the new worktree:"),
                                  {QStringLiteral("Create"), QStringLiteral("Cancel")});
    alert->setObjectName(QStringLiteral("newWorktreeSheet"));
    alert->setAccessoryView(field);
    alert->setInitialFocus(field);
    QPointer<VRNXWindowController> self(this);
    alert->onFinish = [self, field](int button) {
        if (!self || button != 0) return;
        const QString name = field->text().trimmed();
        if (name.isEmpty()) return;
        self->createWorktreeSession({name, AgentRegistry::defaultProvider()->id(), std::nullopt});
    };
    alert->present();
}

void VRNXWindowController::promptNewTaskSession() {
    auto* accessory = new QWidget;
    accessory->setObjectName(QStringLiteral("taskAccessory"));
    accessory->setFixedWidth(340);
    auto* stack = new QVBoxLayout(accessory);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(4);
    auto label = [accessory](const QString& text) {
        auto* l = new QLabel(text, accessory);
        l->setFont(Theme::uiFont(11, QFont::Medium));
        vrnxSetTextColor(l, Theme::text2());
        return l;
    };
    auto* task = new QPlainTextEdit(accessory);
    task->setObjectName(QStringLiteral("taskBox"));
    task->setFixedSize(340, 72);
    task->setFont(Theme::uiFont(12));
    task->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    task->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    task->document()->setDocumentMargin(4);
    task->setTabChangesFocus(true);
    auto* branch = new QLineEdit(accessory);
    branch->setObjectName(QStringLiteral("taskBranchField"));
    branch->setPlaceholderText(QStringLiteral("auto from task"));
    branch->setFixedWidth(340);
    auto* agent = new QComboBox(accessory);
    agent->setObjectName(QStringLiteral("taskAgentPopup"));
    agent->addItems({QStringLiteral("Claude"), QStringLiteral("Codex")});
    agent->setCurrentIndex(0);
    agent->setFixedWidth(340);
    stack->addWidget(label(QStringLiteral("Task")));
    stack->addWidget(task);
    stack->addSpacing(10);
    stack->addWidget(label(QStringLiteral("Branch")));
    stack->addWidget(branch);
    stack->addSpacing(10);
    stack->addWidget(label(QStringLiteral("Agent")));
    stack->addWidget(agent);

    auto* alert = new AlertDialog(window_, QStringLiteral("New Task in Worktree"),
                                  QStringLiteral("Describe the task. A worktree is created and an agent starts on it."),
                                  {QStringLiteral("Create"), QStringLiteral("Cancel")});
    alert->setObjectName(QStringLiteral("newTaskSheet"));
    alert->setAccessoryView(accessory);
    alert->setInitialFocus(task);
    QPointer<VRNXWindowController> self(this);
    alert->onFinish = [self, task, branch, agent](int button) {
        if (!self || button != 0) return;
        const QString text = task->toPlainText().trimmed();
        if (text.isEmpty()) return;
        const QString request = branch->text().trimmed();
        const QString name = request.isEmpty() ? WorktreeManager::branchNameFromTask(text)
                                               : WorktreeManager::safeBranchName(request);
        const QString agentID = agent->currentIndex() == 1 ? QStringLiteral("codex") : QStringLiteral("claude");
        self->createWorktreeSession({name, agentID, text});
    };
    alert->present();
}

void VRNXWindowController::createWorktreeSession(const WorktreeSessionRequest& request) {
    const std::optional<QString> projectDir = sessionManager_->projectDir;
    QPointer<VRNXWindowController> self(this);
    if (window_) window_->setCursor(Qt::BusyCursor);
    // git may take a while on a large repository; the window stays responsive meanwhile.
    std::thread([self, request, projectDir] {
        std::optional<QString> root;
        if (projectDir && !projectDir->isEmpty()) root = WorktreeManager::resolveRepoRoot(*projectDir);
        WorktreeManager::Created created;
        if (root) created = WorktreeManager::shared().createWorktree(request.branch, std::nullopt, *root);
        runOnMain([self, request, root, created] {
            if (!self || !self->window_) return;
            self->window_->unsetCursor();
            if (!root) {
                self->showWorktreeError(QStringLiteral("This project isn't inside a git repository."));
                return;
            }
            if (!created.ok()) {
                self->showWorktreeError(created.error->description());
                return;
            }
            self->terminalPane_->clearSelectedFile();
            SessionManager::CreateOptions options;
            options.name = request.branch;
            options.worktreePath = created.path;
            options.agent = AgentRegistry::provider(request.agentID);
            options.initialPrompt = request.initialPrompt;
            options.activate = true;
            self->sessionManager_->createSession(options);
        });
    }).detach();
}

void VRNXWindowController::showWorktreeError(const QString& text) {
    auto* alert = new AlertDialog(window_, QStringLiteral("Worktree Error"), text, {QStringLiteral("OK")},
                                  AlertDialog::Style::Warning);
    alert->setObjectName(QStringLiteral("worktreeErrorAlert"));
    alert->present();
}

void VRNXWindowController::zoomActiveContent(double step) {
    // The quick workspace zooms its own text when it has the focus; it arrives with its panel.
    terminalPane_->zoomActiveContent(step);
}

void VRNXWindowController::resetActiveContentZoom() { terminalPane_->resetZoom(); }

bool VRNXWindowController::onboardingReady() const {
    // The onboarding view fills this area when it exists; until then there is nothing to show.
    return !onboarding_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).isEmpty();
}

void VRNXWindowController::showOnboarding(const QString& continueTitle) {
    onboarding_->setProperty("continueTitle", continueTitle);
    onboarding_->show();
    onboarding_->raise();
    layoutOverlays();
}

bool VRNXWindowController::restoreWanted(const QString& path) const {
    return SessionPersistence::shared().hasSessionsToRestore(path);
}

void VRNXWindowController::restoreSessions() {
    if (sessionManager_->projectDir) SessionPersistence::shared().restoreSessions(*sessionManager_->projectDir, *sessionManager_);
}

void VRNXWindowController::clearSavedSessions() {
    if (sessionManager_->projectDir) SessionPersistence::shared().clearSavedSessions(*sessionManager_->projectDir);
}

void VRNXWindowController::saveSessions() { SessionPersistence::shared().saveSessions(*sessionManager_); }
