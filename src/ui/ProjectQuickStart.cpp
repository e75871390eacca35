#include "ui/ProjectQuickStart.h"

#include "ui/SymbolIcons.h"
#include "ui/Theme.h"
#include "ui/ViewHelpers.h"

#include <QLabel>
#include <QPushButton>

namespace {
constexpr int kButtonWidth = 280;
constexpr int kButtonHeight = 36;
constexpr int kButtonSpacing = 12;
constexpr int kSubtitleMaxWidth = 520;
constexpr int kSideMargin = 16;

QString css(const QColor& c) {
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}

struct ButtonSpec {
    const char* title;
    const char* tooltip;
    const char* objectName;
    const char* symbol;
    QColor tint;
};
}  // namespace

VRNXProjectQuickStart::VRNXProjectQuickStart(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Theme::bg());
    setPalette(pal);

    titleLabel_ = new QLabel(this);
    titleLabel_->setObjectName(QStringLiteral("quickStartTitle"));
    titleLabel_->setFont(vrnxMonoFont(16, QFont::Bold));
    titleLabel_->setTextFormat(Qt::PlainText);
    titleLabel_->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    vrnxSetTextColor(titleLabel_, Theme::text1());

    subtitleLabel_ = new QLabel(QStringLiteral("No open tabs yet. Start with an orchestrator that delegates to "
                                               "sub-agents, or open a single session."),
                                this);
    subtitleLabel_->setObjectName(QStringLiteral("quickStartSubtitle"));
    subtitleLabel_->setFont(vrnxMonoFont(11));
    subtitleLabel_->setWordWrap(true);
    subtitleLabel_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    vrnxSetTextColor(subtitleLabel_, Theme::text3());

    // Stand-in icons until the owner hands over its agent icons.
    const ButtonSpec specs[4] = {
        {"Start Orchestrator", "Crowned agent that spawns and merges sub-agents", "startOrchestratorButton",
         "crown.fill", Theme::yellow()},
        {"New Claude Session", "Single Claude Code session in this project", "newClaudeButton", "sparkle",
         Theme::accent()},
        {"New Codex Session", "Single Codex session in this project", "newCodexButton", "sparkle", Theme::text1()},
        {"Open Terminal", "Plain shell tab — behaves like any other tab", "openTerminalButton", "terminal.fill",
         Theme::cyan()},
    };
    const QString style = QStringLiteral(
        "QPushButton { background: %1; color: %2; border: 1px solid %3; border-radius: 8px;"
        " padding: 0 14px; text-align: center; }"
        "QPushButton:hover { background: %3; }"
        "QPushButton:pressed { background: %4; }"
        "QPushButton:focus { border-color: %5; }")
                              .arg(Theme::surface1().name(), css(Theme::text1()),
                                   Theme::surface2().name(), Theme::surface3().name(),
                                   Theme::accent().darker(140).name());
    for (int i = 0; i < 4; ++i) {
        auto* button = new QPushButton(QStringLiteral("  ") + QString::fromUtf8(specs[i].title), this);
        button->setObjectName(QString::fromLatin1(specs[i].objectName));
        button->setToolTip(QString::fromUtf8(specs[i].tooltip));
        button->setFont(vrnxMonoFont(12, QFont::Medium));
        button->setIconSize(QSize(18, 18));
        button->setIcon(SymbolIcons::icon(QString::fromLatin1(specs[i].symbol), specs[i].tint, QSize(18, 18)));
        button->setFixedSize(kButtonWidth, kButtonHeight);
        button->setCursor(Qt::PointingHandCursor);
        button->setStyleSheet(style);
        buttons_[i] = button;
    }
    connect(buttons_[0], &QPushButton::clicked, this, [this] {
        if (onStartOrchestrator) onStartOrchestrator();
    });
    connect(buttons_[1], &QPushButton::clicked, this, [this] {
        if (onStartAgent) onStartAgent(QStringLiteral("claude"));
    });
    connect(buttons_[2], &QPushButton::clicked, this, [this] {
        if (onStartAgent) onStartAgent(QStringLiteral("codex"));
    });
    connect(buttons_[3], &QPushButton::clicked, this, [this] {
        if (onOpenTerminal) onOpenTerminal();
    });
}

QPushButton* VRNXProjectQuickStart::button(Action action) const { return buttons_[int(action)]; }

void VRNXProjectQuickStart::setActionIcon(Action action, const QIcon& icon) { buttons_[int(action)]->setIcon(icon); }

void VRNXProjectQuickStart::resizeEvent(QResizeEvent*) { layoutContent(); }

void VRNXProjectQuickStart::layoutContent() {
    const int w = width();
    const int centreY = height() / 2;

    const int titleHeight = QFontMetrics(titleLabel_->font()).height();
    // The title's bottom sits 110 above the centre; a short view keeps it on screen.
    const int titleTop = std::max(kSideMargin, centreY - 110 - titleHeight);
    titleLabel_->setGeometry(kSideMargin, titleTop, std::max(0, w - 2 * kSideMargin), titleHeight);

    const int subtitleWidth = std::max(0, std::min(kSubtitleMaxWidth, w - 2 * kSideMargin));
    const int subtitleHeight = subtitleLabel_->heightForWidth(subtitleWidth);
    const int subtitleTop = titleTop + titleHeight + 8;
    subtitleLabel_->setGeometry((w - subtitleWidth) / 2, subtitleTop, subtitleWidth, subtitleHeight);

    int y = subtitleTop + subtitleHeight + 28;
    for (QPushButton* button : buttons_) {
        button->move((w - kButtonWidth) / 2, y);
        y += kButtonHeight + kButtonSpacing;
    }
}
