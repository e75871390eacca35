#include "ui/TerminalPane.h"

#include "app/NotificationNames.h"
#include "app/PreferenceKeys.h"
#include "core/NotificationCenter.h"
#include "core/Preferences.h"
#include "sessions/NewTabMenuEntry.h"
#include "sessions/SessionManager.h"
#include "sessions/terminal/AgentTerminalView.h"
#include "ui/AlertDialog.h"
#include "ui/KeyChords.h"
#include "ui/ProjectQuickStart.h"
#include "ui/SymbolIcons.h"
#include "ui/Theme.h"
#include "ui/ViewHelpers.h"
#include "ui/WindowController.h"

#include <QAbstractAnimation>
#include <QEasingCurve>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QRadialGradient>
#include <QSequentialAnimationGroup>
#include <QToolButton>

#include <cmath>

namespace {

QColor stateColor(SessionState state) {
    switch (state) {
    case SessionState::generating: return Theme::green();
    case SessionState::thinking: return Theme::yellow();
    case SessionState::userInput: return Theme::accent();
    case SessionState::idle: return Theme::cyan();
    case SessionState::needsAttention: return Theme::red();
    case SessionState::exited: return Theme::text3();
    }
    return Theme::text3();
}

QString cssColor(const QColor& c) {
    return QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alphaF(), 0, 'f', 3);
}

// One run of the tab title in the monospaced interface font.
QString span(const QString& text, double px, int weight, const QColor& color) {
    return QStringLiteral("<span style=\"font-family:'%1'; font-size:%2px; font-weight:%3; color:%4;\">%5</span>")
        .arg(vrnxMonoFont(px).family())
        .arg(px)
        .arg(weight)
        .arg(cssColor(color), text.toHtmlEscaped().replace(QLatin1Char(' '), QStringLiteral("&nbsp;")));
}

// The content area: shows one view, a terminal with its 10-point inset, anything else filling it.
class ContentArea : public QWidget {
public:
    explicit ContentArea(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("terminalContainer"));
        setAutoFillBackground(true);
        QPalette pal = palette();
        pal.setColor(QPalette::Window, Theme::bg());
        setPalette(pal);
    }

    QWidget* current() const { return current_; }

    // Shows `view` alone; every other child is hidden but kept (terminals belong to their sessions).
    void show(QWidget* view, int inset) {
        for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (child != view) child->hide();
        }
        current_ = view;
        inset_ = inset;
        if (view->parentWidget() != this) view->setParent(this);
        place();
        view->show();
    }

    bool isShowing(QWidget* view) const { return view && current_ == view && view->parentWidget() == this && !view->isHidden(); }

protected:
    void resizeEvent(QResizeEvent*) override { place(); }

private:
    void place() {
        if (current_) current_->setGeometry(rect().adjusted(inset_, inset_, -inset_, -inset_));
    }
    QPointer<QWidget> current_;
    int inset_ = 0;
};

// The tab bar's strip with its bottom rule.
class TabBarView : public QWidget {
public:
    explicit TabBarView(QWidget* parent) : QWidget(parent) { setObjectName(QStringLiteral("tabBar")); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), Theme::surface1());
        p.fillRect(QRect(0, height() - 1, width(), 1), Theme::surface3());
    }
};

}  // namespace

// ---------------------------------------------------------------------------------------------

VRNXGroupChip::VRNXGroupChip(const QString& text, const QColor& color, QWidget* parent)
    : QWidget(parent), text_(text), color_(color) {
    setObjectName(QStringLiteral("groupChip"));
    setFont(vrnxMonoFont(9, QFont::Medium));
    setFixedSize(sizeHint());
    setToolTip(text);
}

QSize VRNXGroupChip::sizeHint() const {
    return {6 + 2 + 4 + QFontMetrics(font()).horizontalAdvance(text_) + 4, VRNXSessionTab::kHeight};
}

void VRNXGroupChip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath bar;
    bar.addRoundedRect(QRectF(6, (height() - 12) / 2.0, 2, 12), 1, 1);
    p.fillPath(bar, color_);
    p.setPen(color_);
    p.setFont(font());
    p.drawText(QRect(12, 0, width() - 12, height()), Qt::AlignLeft | Qt::AlignVCenter, text_);
}

// ---------------------------------------------------------------------------------------------

VRNXTabDot::VRNXTabDot(const QColor& color, QWidget* parent) : QWidget(parent), color_(color) {
    setObjectName(QStringLiteral("tabDot"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // Room for the glow around the dot.
    setFixedSize(kDiameter + 2 * kGlow, kDiameter + 2 * kGlow);

    auto* pulse = new QSequentialAnimationGroup(this);
    pulse->setObjectName(QStringLiteral("tabDotPulse"));
    for (auto [from, to] : {std::pair{0.3, 1.0}, std::pair{1.0, 0.3}}) {
        auto* step = new QPropertyAnimation(this, "opacity", pulse);
        step->setStartValue(from);
        step->setEndValue(to);
        step->setDuration(1400);
        step->setEasingCurve(QEasingCurve::InOutSine);
        pulse->addAnimation(step);
    }
    pulse->setLoopCount(-1);
    pulse->start();
    pulse_ = pulse;
}

bool VRNXTabDot::isPulsing() const {
    auto* group = static_cast<QSequentialAnimationGroup*>(pulse_);
    return group->state() == QAbstractAnimation::Running && group->loopCount() == -1;
}

void VRNXTabDot::setOpacity(qreal opacity) {
    opacity_ = opacity;
    update();
}

void VRNXTabDot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(opacity_);
    const QPointF centre(width() / 2.0, height() / 2.0);
    // The glow: the colour at 0.7 fading out 4 points beyond the dot's edge.
    QRadialGradient glow(centre, kDiameter / 2.0 + kGlow);
    QColor inner = color_;
    inner.setAlphaF(0.7f);
    QColor outer = color_;
    outer.setAlphaF(0);
    glow.setColorAt(0, inner);
    glow.setColorAt(qreal(kDiameter) / (kDiameter + 2 * kGlow), inner);
    glow.setColorAt(1, outer);
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(centre, kDiameter / 2.0 + kGlow, kDiameter / 2.0 + kGlow);
    p.setBrush(color_);
    p.drawEllipse(centre, kDiameter / 2.0, kDiameter / 2.0);
}

// ---------------------------------------------------------------------------------------------

VRNXSessionTab::VRNXSessionTab(const Spec& model, QWidget* parent) : QWidget(parent), model_(model) {
    setObjectName(QStringLiteral("sessionTab"));
    setCursor(Qt::ArrowCursor);

    int titleLeft = 0;
    if (model.alerting) {
        dot_ = new VRNXTabDot(stateColor(model.state), this);
        // The dot 4 from the left, the title 2 right of it.
        dot_->move(4 - VRNXTabDot::kGlow, (kHeight - dot_->height()) / 2);
        titleLeft = 4 + VRNXTabDot::kDiameter + 2;
    }

    titleColor_ = model.alerting ? stateColor(model.state) : model.active ? Theme::text1() : Theme::text3();
    QString html = span(QStringLiteral("● "), 8, 400, model.agentColor.isValid() ? model.agentColor : Theme::text3());
    if (model.isOrchestrator) html += span(QStringLiteral("👑 "), 10, 400, Theme::text1());
    html += span(model.name + QLatin1Char(' '), 11, model.active ? 500 : 400, titleColor_);

    title_ = new QToolButton(this);
    title_->setObjectName(QStringLiteral("tabTitle"));
    title_->setAutoRaise(true);
    title_->setFocusPolicy(Qt::NoFocus);
    title_->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; padding: 0; }"));
    auto* label = new QLabel(title_);
    label->setObjectName(QStringLiteral("tabTitleText"));
    label->setTextFormat(Qt::RichText);
    label->setText(html);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->setContentsMargins(6, 0, 0, 0);
    label->adjustSize();
    title_->setAccessibleName(model.name);
    title_->setToolTip(model.branch && !model.branch->isEmpty() ? model.name + QStringLiteral(" — ") + *model.branch
                                                               : model.name);
    const int titleWidth = label->width();
    title_->setGeometry(titleLeft, 0, titleWidth, kHeight);
    label->move(0, (kHeight - label->height()) / 2);
    title_->installEventFilter(this);
    connect(title_, &QToolButton::clicked, this, [this] { emit selectRequested(model_.index); });

    close_ = new QToolButton(this);
    close_->setObjectName(QStringLiteral("tabClose"));
    close_->setText(QStringLiteral("×"));
    close_->setFont(vrnxMonoFont(10));
    close_->setAutoRaise(true);
    close_->setFocusPolicy(Qt::NoFocus);
    close_->setCursor(Qt::PointingHandCursor);
    close_->setToolTip(QStringLiteral("Close"));
    close_->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; padding: 0; color: %1; }"
                                         "QToolButton:hover { color: %2; }")
                              .arg(cssColor(Theme::text3()), cssColor(Theme::text1())));
    // Its left edge 2 left of the title's right edge, 16 wide, 2 from the container's right.
    close_->setGeometry(titleLeft + titleWidth - 2, (kHeight - 16) / 2, 16, 16);
    close_->setVisible(model.closable);
    connect(close_, &QToolButton::clicked, this, [this] { emit closeRequested(model_.index); });

    setFixedSize(titleLeft + titleWidth - 2 + 16 + 2, kHeight);
}

bool VRNXSessionTab::eventFilter(QObject* watched, QEvent* event) {
    if (watched == title_ && event->type() == QEvent::MouseButtonDblClick) {
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) emit renameRequested(model_.index);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void VRNXSessionTab::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (model_.active) {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
        p.fillPath(shape, Theme::surface2());
        QColor border = Theme::accent();
        border.setAlphaF(0.5f);
        p.setPen(QPen(border, 1));
        p.drawPath(shape);
    }
    if (model_.branch) {
        QPainterPath stripe;
        stripe.addRoundedRect(QRectF(6, height() - 1 - 2, width() - 12, 2), 1, 1);
        p.fillPath(stripe, Theme::branchColor(*model_.branch));
    }
}

// ---------------------------------------------------------------------------------------------

VRNXTerminalPane::VRNXTerminalPane(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("terminalPane"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Theme::bg());
    setPalette(pal);
    setFocusPolicy(Qt::StrongFocus);

    tabBar_ = new TabBarView(this);
    tabStack_ = new QWidget(tabBar_);
    tabStack_->setObjectName(QStringLiteral("tabStack"));
    tabLayout_ = new QHBoxLayout(tabStack_);
    tabLayout_->setContentsMargins(0, 0, 0, 0);
    tabLayout_->setSpacing(0);
    tabLayout_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    tabLayout_->setSizeConstraint(QLayout::SetNoConstraint);

    addButton_ = new QToolButton(tabBar_);
    addButton_->setObjectName(QStringLiteral("addTabButton"));
    addButton_->setText(QStringLiteral("+"));
    addButton_->setFont(vrnxMonoFont(14, QFont::Medium));
    addButton_->setAutoRaise(true);
    addButton_->setFocusPolicy(Qt::NoFocus);
    addButton_->setCursor(Qt::PointingHandCursor);
    addButton_->setToolTip(QStringLiteral("New tab"));
    addButton_->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; color: %1; }"
                                             "QToolButton:hover { color: %2; }")
                                  .arg(cssColor(Theme::text3()), cssColor(Theme::text1())));
    addButton_->setFixedSize(24, 24);
    connect(addButton_, &QToolButton::clicked, this, &VRNXTerminalPane::popupAddMenu);

    terminalContainer_ = new ContentArea(this);

    auto handler = [this](const Notification& n) {
        // Only this window's manager, or a notification from no manager at all.
        if (n.object && qobject_cast<SessionManager*>(n.object.data()) && n.object.data() != manager()) return;
        rebuildTabs();
    };
    for (const char* name : {kSessionListDidChange, kSessionStateDidChange, kActiveSessionDidChange}) {
        NotificationCenter::shared().observe(name, this, handler);
    }
}

VRNXTerminalPane::~VRNXTerminalPane() = default;

SessionManager* VRNXTerminalPane::manager() const {
    if (VRNXWindowController* controller = VRNXWindowController::forWindow(window())) {
        if (SessionManager* own = controller->sessionManager()) return own;
    }
    return SessionManager::current();
}

QList<VRNXSessionTab*> VRNXTerminalPane::sessionTabs() const {
    QList<VRNXSessionTab*> tabs;
    for (QWidget* view : tabViews_) {
        if (auto* tab = qobject_cast<VRNXSessionTab*>(view)) tabs << tab;
    }
    return tabs;
}

QList<VRNXGroupChip*> VRNXTerminalPane::groupChips() const {
    QList<VRNXGroupChip*> chips;
    for (QWidget* view : tabViews_) {
        if (auto* chip = qobject_cast<VRNXGroupChip*>(view)) chips << chip;
    }
    return chips;
}

void VRNXTerminalPane::setTabStackLeading(int inset) {
    tabStackLeading_ = inset;
    layoutTabBar();
}

void VRNXTerminalPane::setAddButtonTrailing(int inset) {
    addButtonTrailing_ = inset;
    layoutTabBar();
}

void VRNXTerminalPane::resizeEvent(QResizeEvent*) {
    tabBar_->setGeometry(0, 0, width(), kTabBarHeight);
    terminalContainer_->setGeometry(0, kTabBarHeight, width(), std::max(0, height() - kTabBarHeight));
    layoutTabBar();
}

void VRNXTerminalPane::layoutTabBar() {
    const int addX = tabBar_->width() - addButtonTrailing_ - addButton_->width();
    addButton_->move(addX, (kTabBarHeight - addButton_->height()) / 2);
    // The stack keeps 4 clear of the add button; tabs beyond that are cut off.
    const int stackWidth = std::max(0, addX - 4 - tabStackLeading_);
    tabStack_->setGeometry(tabStackLeading_, (kTabBarHeight - VRNXSessionTab::kHeight) / 2, stackWidth,
                           VRNXSessionTab::kHeight);
}

void VRNXTerminalPane::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    // Being made the key view hands the focus to the active terminal.
    SessionManager* m = manager();
    if (SessionRef s = m ? m->activeSession() : nullptr; s && s->terminalView) s->terminalView->setFocus();
}

// ---------------------------------------------------------------------------------------------

QList<TabBarLogic::TabSession> VRNXTerminalPane::tabSessions() const {
    QList<TabBarLogic::TabSession> list;
    SessionManager* m = manager();
    if (!m) return list;
    for (const SessionRef& s : m->sessions) {
        list << TabBarLogic::TabSession{s->id, s->name, s->state, s->isOrchestrator, s->branch, s->worktreePath};
    }
    return list;
}

QList<TabBarLogic::TabFile> VRNXTerminalPane::tabFiles() const {
    QList<TabBarLogic::TabFile> files;
    for (const QString& path : openFiles_) files << TabBarLogic::TabFile{path, false};
    return files;
}

QString VRNXTerminalPane::tabsSignature() const {
    SessionManager* m = manager();
    return TabBarLogic::tabsSignature(m ? m->activeSessionIndex : -1, selectedFile_, tabSessions(), tabFiles());
}

void VRNXTerminalPane::rebuildTabs() {
    const QString signature = tabsSignature();
    if (lastTabsSignature_ && *lastTabsSignature_ == signature) {
        // The project folder is not part of the signature; the quick start still follows it.
        if (quickStart_ && quickStart_->isVisibleTo(this)) quickStart_->titleLabel()->setText(quickStartTitle());
        return;
    }
    lastTabsSignature_ = signature;
    ++rebuildCount_;

    // A tab may be asking for this rebuild from its own click handler: take it out now, delete later.
    for (QWidget* view : tabViews_) {
        tabLayout_->removeWidget(view);
        view->hide();
        view->deleteLater();
    }
    tabViews_.clear();

    SessionManager* m = manager();
    const QList<TabBarLogic::TabSession> sessions = tabSessions();
    const TabBarLogic::GroupedOrder grouped = TabBarLogic::groupedTabOrder(sessions);
    for (int index : grouped.order) {
        if (auto chip = grouped.chips.find(index); chip != grouped.chips.end()) {
            auto* view = new VRNXGroupChip(chip->label, chip->color, tabStack_);
            tabLayout_->addWidget(view);
            view->show();
            tabViews_ << view;
        }
        const SessionRef& session = m->sessions[index];
        VRNXSessionTab::Spec model;
        model.index = index;
        model.name = session->name;
        model.state = session->state;
        model.isOrchestrator = session->isOrchestrator;
        model.branch = session->branch;
        model.agentColor = session->agent ? session->agent->accentColor() : Theme::text3();
        model.active = !selectedFile_ && index == m->activeSessionIndex;
        model.alerting = !model.active && (session->state == SessionState::userInput ||
                                         session->state == SessionState::needsAttention);
        model.closable = m->sessions.size() >= 2;
        auto* tab = new VRNXSessionTab(model, tabStack_);
        connect(tab, &VRNXSessionTab::selectRequested, this, &VRNXTerminalPane::switchToSession);
        connect(tab, &VRNXSessionTab::renameRequested, this, &VRNXTerminalPane::promptRenameSession);
        connect(tab, &VRNXSessionTab::closeRequested, this, [this](int i) {
            if (SessionManager* mm = manager()) mm->closeSession(i);
        });
        tabLayout_->addWidget(tab);
        tab->show();
        tabViews_ << tab;
    }
    showContent();
}

void VRNXTerminalPane::ensureQuickStart() {
    if (quickStart_) return;
    quickStart_ = new VRNXProjectQuickStart(terminalContainer_);
    quickStart_->hide();
    QPointer<VRNXTerminalPane> self(this);
    quickStart_->onStartOrchestrator = [self] {
        if (self) self->newOrchestratorSession();
    };
    quickStart_->onStartAgent = [self](const QString& agentID) {
        if (self) self->newSessionForAgent(agentID);
    };
    quickStart_->onOpenTerminal = [self] {
        if (self) self->openTerminalTab();
    };
}

void VRNXTerminalPane::showContent() {
    auto* area = static_cast<ContentArea*>(terminalContainer_);
    SessionManager* m = manager();
    SessionRef active = m ? m->activeSession() : nullptr;
    if (active && active->terminalView) {
        AgentTerminalView* view = active->terminalView.data();
        // Never re-added once shown: it keeps its focus and scroll position.
        if (area->isShowing(view)) return;
        area->show(view, kTerminalInset);
        setFocusProxy(view);
        view->setFocus(Qt::OtherFocusReason);
        return;
    }
    ensureQuickStart();
    setFocusProxy(nullptr);
    area->show(quickStart_, 0);
    quickStart_->titleLabel()->setText(quickStartTitle());
}

QString VRNXTerminalPane::quickStartTitle() const {
    SessionManager* m = manager();
    if (!m || !m->projectDir || m->projectDir->isEmpty()) return QStringLiteral("PROJECT");
    const QString name = QFileInfo(QDir::cleanPath(*m->projectDir)).fileName();
    return (name.isEmpty() ? *m->projectDir : name).toUpper();
}

// ---------------------------------------------------------------------------------------------

void VRNXTerminalPane::switchToSession(int index) {
    SessionManager* m = manager();
    if (!m || index < 0 || index >= m->sessions.size()) return;
    selectedFile_.reset();
    m->activeSessionIndex = index;
    NotificationCenter::shared().post(kActiveSessionDidChange, m);
}

void VRNXTerminalPane::closeActiveTab() {
    if (selectedFile_) return;  // file tabs close through the editor, which arrives with it
    SessionManager* m = manager();
    if (!m) return;
    const int index = m->activeSessionIndex;
    if (index >= 0 && index < m->sessions.size()) m->closeSession(index);
}

void VRNXTerminalPane::promptRenameSession(int index) {
    SessionManager* m = manager();
    if (!m || index < 0 || index >= m->sessions.size()) return;
    const SessionRef session = m->sessions[index];
    auto* field = new QLineEdit(session->name);
    field->setObjectName(QStringLiteral("renameField"));
    field->setFixedSize(200, 24);
    field->selectAll();
    auto* alert = new AlertDialog(window(), QStringLiteral("Rename Session"),
                                  QStringLiteral("Enter a new name for \"%1\":").arg(session->name),
                                  {QStringLiteral("Rename"), QStringLiteral("Cancel")});
    alert->setAccessoryView(field);
    alert->setInitialFocus(field);
    QPointer<SessionManager> weakManager(m);
    const QUuid id = session->id;
    alert->onFinish = [weakManager, id, field](int button) {
        if (button != 0 || !weakManager) return;
        const QString name = field->text().trimmed();
        if (!name.isEmpty()) weakManager->renameSession(id, name);
    };
    alert->present();
}

void VRNXTerminalPane::newOrchestratorSession() {
    SessionManager* m = manager();
    if (!m) return;
    selectedFile_.reset();
    SessionManager::CreateOptions options;
    options.name = QStringLiteral("orchestrator");
    options.agent = AgentRegistry::provider(QStringLiteral("claude"));
    options.orchestrator = true;
    options.activate = true;
    m->createSession(options);
}

void VRNXTerminalPane::openTerminalTab() {
    SessionManager* m = manager();
    if (!m) return;
    selectedFile_.reset();
    static const AgentProviderRef shell = std::make_shared<ShellProvider>();
    SessionManager::CreateOptions options;
    options.name = QStringLiteral("terminal");
    options.agent = shell;
    options.activate = true;
    m->createSession(options);
}

void VRNXTerminalPane::newSessionForAgent(const QString& agentID) {
    SessionManager* m = manager();
    if (!m) return;
    selectedFile_.reset();
    SessionManager::CreateOptions options;
    options.agent = agentID.isEmpty() ? AgentRegistry::defaultProvider() : AgentRegistry::provider(agentID);
    options.activate = true;
    m->createSession(options);
}

// ---------------------------------------------------------------------------------------------

void VRNXTerminalPane::zoomActiveContent(double step) {
    if (selectedFile_) {
        // Editors arrive with the file editor; their size follows this delta.
        editorFontDelta_ = TabBarLogic::clampedDelta(TabBarLogic::kBaseFontSize, editorFontDelta_ + step);
        return;
    }
    SessionManager* m = manager();
    applyTerminalFontDelta((m ? m->terminalFontDelta : 0) + step);
}

void VRNXTerminalPane::resetZoom() {
    if (selectedFile_) {
        editorFontDelta_ = 0;
        return;
    }
    applyTerminalFontDelta(0);
}

void VRNXTerminalPane::applyTerminalFontDelta(double delta) {
    SessionManager* m = manager();
    if (!m) return;
    const double base =
        TabBarLogic::terminalBaseFontSize(Preferences::shared().doubleValue(PrefKey::TerminalFontSize, 0));
    m->terminalFontDelta = TabBarLogic::clampedDelta(base, delta);
    const QFont font = Theme::terminalFont(TabBarLogic::clampFontSize(base + m->terminalFontDelta));
    for (const SessionRef& s : m->sessions) {
        if (s->terminalView) s->terminalView->setTerminalFont(font);
    }
}

// ---------------------------------------------------------------------------------------------

QMenu* VRNXTerminalPane::buildAddMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("addTabMenu"));
    QPointer<VRNXTerminalPane> self(this);
    for (const NewTabMenuEntry& entry : NewTabMenuEntry::entries()) {
        if (entry.kind == NewTabMenuEntry::Kind::separator) {
            menu->addSeparator();
            continue;
        }
        // The chord only labels the item; the shortcut filter handles the keys.
        const QString chord = KeyChords::labelFor(entry);
        QAction* action = menu->addAction(chord.isEmpty() ? entry.title : entry.title + QLatin1Char('\t') + chord);
        switch (entry.kind) {
        case NewTabMenuEntry::Kind::terminal:
            action->setIcon(SymbolIcons::icon(QStringLiteral("terminal.fill"), Theme::cyan()));
            connect(action, &QAction::triggered, this, [self] {
                if (self) self->openTerminalTab();
            });
            break;
        case NewTabMenuEntry::Kind::orchestrator:
            action->setIcon(SymbolIcons::icon(QStringLiteral("crown.fill"), Theme::yellow()));
            connect(action, &QAction::triggered, this, [self] {
                if (self) self->newOrchestratorSession();
            });
            break;
        case NewTabMenuEntry::Kind::agentSession: {
            const AgentProviderRef provider = AgentRegistry::provider(entry.agentID);
            action->setIcon(SymbolIcons::icon(QStringLiteral("sparkle"), provider->accentColor()));
            action->setData(entry.agentID);
            connect(action, &QAction::triggered, this, [self, action] {
                if (!self) return;
                const QVariant data = action->data();
                self->newSessionForAgent(data.typeId() == QMetaType::QString ? data.toString() : QString());
            });
            break;
        }
        case NewTabMenuEntry::Kind::separator: break;
        }
    }
    return menu;
}

void VRNXTerminalPane::popupAddMenu() {
    QMenu* menu = buildAddMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(addButton_->mapToGlobal(QPoint(0, addButton_->height() + 4)));
}
