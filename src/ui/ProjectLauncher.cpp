#include "ui/ProjectLauncher.h"

#include "core/Paths.h"
#include "ui/LauncherWindow.h"
#include "ui/ProjectManager.h"
#include "ui/SymbolIcons.h"
#include "ui/Theme.h"
#include "ui/ViewHelpers.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

// ---------------------------------------------------------------------------------------------

AccentButton::AccentButton(const QString& title, QObject* target, std::function<void()> action, QWidget* parent)
    : QAbstractButton(parent), target_(target), hasTarget_(target != nullptr), action_(std::move(action)) {
    setText(title);
    setFont(vrnxMonoFont(13, QFont::Medium));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (action_ && (!hasTarget_ || target_)) action_();
    });
}

QSize AccentButton::sizeHint() const {
    const QFontMetrics fm(font());
    return {fm.horizontalAdvance(text()) + 32, 40};
}

void AccentButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QColor fill = Theme::accent();
    if (isDown()) fill = fill.darker(115);
    else if (hovered_) fill = fill.lighter(108);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 8, 8);
    p.fillPath(shape, fill);
    if (hasFocus()) {
        p.setPen(QPen(QColor(255, 255, 255, 140), 1.5));
        p.drawPath(shape);
    }
    p.setPen(Qt::black);
    p.setFont(font());
    p.drawText(rect(), Qt::AlignCenter, text());
}

void AccentButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void AccentButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

// ---------------------------------------------------------------------------------------------

namespace {
constexpr int kRowHeight = 52;
constexpr int kIconLeft = 12;
constexpr int kIconSize = 18;
constexpr int kTextLeft = kIconLeft + kIconSize + 12;
constexpr int kRemoveSize = 16;
constexpr int kRemoveRight = 12;
constexpr int kGap = 8;

QLabel* makeLabel(const QString& text, double points, QFont::Weight weight, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(vrnxMonoFont(points, weight));
    vrnxSetTextColor(label, color);
    label->setTextFormat(Qt::PlainText);
    return label;
}
}  // namespace

LauncherRow::LauncherRow(const QString& name, const QString& path, bool isOpen, std::function<void()> onOpen,
                         std::function<void()> onRemove, QWidget* parent)
    : QWidget(parent),
      name_(name),
      path_(path),
      isOpen_(isOpen),
      onOpen_(std::move(onOpen)),
      onRemove_(std::move(onRemove)) {
    setAttribute(Qt::WA_Hover);
    setFixedHeight(kRowHeight);
    setToolTip(path);

    icon_ = new QLabel(this);
    icon_->setPixmap(SymbolIcons::pixmap(QStringLiteral("folder"), QSize(kIconSize, kIconSize), Theme::accent(),
                                         devicePixelRatioF()));
    icon_->resize(kIconSize, kIconSize);

    nameLabel_ = makeLabel(name, 13, QFont::Medium, Theme::text1(), this);
    nameLabel_->setObjectName(QStringLiteral("rowName"));
    pathLabel_ = makeLabel(abbreviatedPath(path), 11, QFont::Normal, Theme::text3(), this);
    pathLabel_->setObjectName(QStringLiteral("rowPath"));
    openLabel_ = makeLabel(QStringLiteral("open"), 10, QFont::Medium, Theme::accent(), this);
    openLabel_->setObjectName(QStringLiteral("rowOpen"));
    openLabel_->setVisible(isOpen);
    for (QLabel* label : {icon_, nameLabel_, pathLabel_, openLabel_}) {
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    removeButton_ = new QToolButton(this);
    removeButton_->setObjectName(QStringLiteral("rowRemove"));
    removeButton_->setAccessibleName(QStringLiteral("Remove"));
    removeButton_->setAutoRaise(true);
    removeButton_->setFocusPolicy(Qt::NoFocus);
    removeButton_->setCursor(Qt::PointingHandCursor);
    removeButton_->setIconSize(QSize(kRemoveSize, kRemoveSize));
    QIcon removeIcon = SymbolIcons::icon(QStringLiteral("xmark.circle.fill"), Theme::text3(),
                                         QSize(kRemoveSize, kRemoveSize));
    // A little brighter under the pointer, so that it reads as a button.
    removeIcon.addPixmap(SymbolIcons::pixmap(QStringLiteral("xmark.circle.fill"), QSize(kRemoveSize, kRemoveSize),
                                             Theme::text2(), devicePixelRatioF()),
                         QIcon::Active);
    removeButton_->setIcon(removeIcon);
    removeButton_->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; padding: 0; }"));
    removeButton_->resize(kRemoveSize, kRemoveSize);
    connect(removeButton_, &QToolButton::clicked, this, [this] {
        if (onRemove_) onRemove_();
    });
}

QString LauncherRow::abbreviatedPath(const QString& path) {
    QString home = QDir::cleanPath(Paths::home());
    if (home.isEmpty() || home == QLatin1String("/")) return path;
    if (path == home) return QStringLiteral("~");
    if (path.startsWith(home + QLatin1Char('/'))) return QLatin1Char('~') + path.mid(home.size());
    return path;
}

void LauncherRow::layoutContent() {
    const int w = width();
    const int h = height();
    icon_->move(kIconLeft, (h - kIconSize) / 2);
    const int removeX = w - kRemoveRight - kRemoveSize;
    removeButton_->setGeometry(removeX, (h - kRemoveSize) / 2, kRemoveSize, kRemoveSize);

    const QFontMetrics openFm(openLabel_->font());
    const int openWidth = openFm.horizontalAdvance(openLabel_->text());
    const int openX = removeX - kGap - openWidth;
    openLabel_->setGeometry(openX, (h - openFm.height()) / 2, openWidth, openFm.height());

    const QFontMetrics nameFm(nameLabel_->font());
    const int nameRight = (isOpen_ ? openX : removeX) - kGap;
    const int nameWidth = std::max(0, nameRight - kTextLeft);
    nameLabel_->setText(nameFm.elidedText(name_, Qt::ElideRight, nameWidth));
    nameLabel_->setGeometry(kTextLeft, 9, nameWidth, nameFm.height());

    // The path gives way first: shortened in the middle so that both ends stay readable. It also
    // stops short of the "open" marker, whose centre line it would otherwise run into.
    const QFontMetrics pathFm(pathLabel_->font());
    const int pathWidth = std::max(0, (isOpen_ ? openX : removeX) - kGap - kTextLeft);
    pathLabel_->setText(pathFm.elidedText(abbreviatedPath(path_), Qt::ElideMiddle, pathWidth));
    pathLabel_->setGeometry(kTextLeft, nameLabel_->geometry().bottom() + 1 + 2, pathWidth, pathFm.height());
}

void LauncherRow::resizeEvent(QResizeEvent*) { layoutContent(); }

void LauncherRow::paintEvent(QPaintEvent*) {
    if (!hovered_) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 6, 6);
    p.fillPath(shape, Theme::surface2());
}

void LauncherRow::enterEvent(QEnterEvent*) {
    hovered_ = true;
    update();
}

void LauncherRow::leaveEvent(QEvent*) {
    hovered_ = false;
    update();
}

void LauncherRow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) pressed_ = true;
    else QWidget::mousePressEvent(event);
}

void LauncherRow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressed_) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    pressed_ = false;
    const QPoint at = event->position().toPoint();
    if (!rect().contains(at) || removeButton_->geometry().contains(at)) return;
    if (onOpen_) onOpen_();
}

// ---------------------------------------------------------------------------------------------

VRNXProjectLauncher::VRNXProjectLauncher(VRNXLauncherWindow* window, ProjectManager* store)
    : QObject(window), window_(window), store_(store ? store : &ProjectManager::shared()) {}

void VRNXProjectLauncher::buildUI() {
    if (!window_) return;
    auto* root = new QVBoxLayout(window_);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto* header = new QVBoxLayout;
    header->setContentsMargins(32, 54, 32, 0);
    header->setSpacing(0);
    QLabel* title = makeLabel(QStringLiteral("Varnix"), 22, QFont::Bold, Theme::text1(), window_);
    title->setObjectName(QStringLiteral("launcherTitle"));
    header->addWidget(title);
    header->addSpacing(4);
    QLabel* subtitle = makeLabel(QStringLiteral("Choose a project to open"), 12, QFont::Normal, Theme::text3(), window_);
    subtitle->setObjectName(QStringLiteral("launcherSubtitle"));
    header->addWidget(subtitle);
    header->addSpacing(28);
    QLabel* section = makeLabel(QStringLiteral("RECENT PROJECTS"), 9, QFont::Medium, Theme::text3(), window_);
    section->setObjectName(QStringLiteral("launcherSection"));
    header->addWidget(section);
    root->addLayout(header);

    listScroll_ = new QScrollArea(window_);
    listScroll_->setObjectName(QStringLiteral("launcherList"));
    listScroll_->setFrameShape(QFrame::NoFrame);
    listScroll_->setWidgetResizable(true);
    listScroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    listScroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    listScroll_->setAutoFillBackground(false);
    listScroll_->viewport()->setAutoFillBackground(false);
    listScroll_->verticalScrollBar()->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical { background: transparent; width: 8px; margin: 0; }"
        "QScrollBar::handle:vertical { background: %1; border-radius: 3px; min-height: 24px; margin: 0 1px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }")
                                                 .arg(Theme::surface3().name()));
    listStack_ = new FlippedStack;
    listStack_->setSpacing(4);
    listStack_->setAutoFillBackground(false);
    listScroll_->setWidget(listStack_);

    auto* list = new QVBoxLayout;
    list->setContentsMargins(24, 10, 24, 16);
    list->addWidget(listScroll_);
    root->addLayout(list, 1);

    auto* open = new AccentButton(QStringLiteral("Open Project…"), this, [this] { openNewClicked(); }, window_);
    open->setObjectName(QStringLiteral("openProjectButton"));
    open->setFixedHeight(40);
    auto* bottom = new QVBoxLayout;
    bottom->setContentsMargins(24, 0, 24, 24);
    bottom->addWidget(open);
    root->addLayout(bottom);
}

QList<LauncherRow*> VRNXProjectLauncher::rows() const {
    QList<LauncherRow*> found;
    if (!listStack_) return found;
    for (QWidget* view : listStack_->arrangedSubviews()) {
        if (auto* row = qobject_cast<LauncherRow*>(view)) found << row;
    }
    return found;
}

void VRNXProjectLauncher::rebuildList() {
    if (!listStack_) return;
    listStack_->removeAllArrangedSubviews();
    for (const Project& project : store_->projects) {
        const QString path = project.path;
        const bool open = isProjectOpen && isProjectOpen(path);
        QString name = QFileInfo(path).fileName();
        if (name.isEmpty()) name = path;
        QPointer<VRNXProjectLauncher> self(this);
        auto* row = new LauncherRow(
            name, path, open, [self, path] { if (self) self->choose(path); },
            [self, path] {
                if (!self) return;
                self->store_->remove(path);
                self->rebuildList();
            });
        listStack_->addArrangedSubview(row);
    }
    if (store_->projects.isEmpty()) {
        QLabel* empty = makeLabel(QStringLiteral("No recent projects — open one to get started."), 12, QFont::Normal,
                                  Theme::text3(), nullptr);
        empty->setObjectName(QStringLiteral("launcherEmpty"));
        // In line with the header text above rather than with the row edges.
        empty->setContentsMargins(8, 4, 0, 0);
        listStack_->addArrangedSubview(empty, Qt::AlignLeft);
    }
}

void VRNXProjectLauncher::choose(const QString& path) {
    QPointer<VRNXLauncherWindow> window = window_;
    if (onSelect) onSelect(path);
    if (window) window->close();
}

void VRNXProjectLauncher::openNewClicked() {
    if (!window_) return;
    QFileDialog* chooser = vrnxDirectoryChooser(window_, QStringLiteral("Open Project"),
                                                QStringLiteral("Choose a project directory"));
    chooser->setObjectName(QStringLiteral("openProjectChooser"));
    QPointer<VRNXProjectLauncher> self(this);
    connect(chooser, &QFileDialog::fileSelected, this, [self](const QString& path) {
        if (self && !path.isEmpty()) self->choose(QDir::cleanPath(path));
    });
    chooser->open();
}
