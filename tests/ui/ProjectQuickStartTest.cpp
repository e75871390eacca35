#include "ui/ProjectQuickStart.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using Action = VRNXProjectQuickStart::Action;

TEST(QuickStart, ButtonsDoNothingUntilTheirCallbacksAreSet) {
    VRNXProjectQuickStart view;
    view.resize(900, 700);
    view.show();
    EXPECT_TRUE(view.titleLabel()->text().isEmpty());
    for (Action a : {Action::Orchestrator, Action::Claude, Action::Codex, Action::Terminal}) {
        QTest::mouseClick(view.button(a), Qt::LeftButton);  // must neither crash nor act
    }

    QStringList calls;
    view.onStartOrchestrator = [&] { calls << "orchestrator"; };
    view.onStartAgent = [&](const QString& id) { calls << "agent:" + id; };
    view.onOpenTerminal = [&] { calls << "terminal"; };
    for (Action a : {Action::Orchestrator, Action::Claude, Action::Codex, Action::Terminal}) {
        QTest::mouseClick(view.button(a), Qt::LeftButton);
    }
    EXPECT_EQ(calls, (QStringList{"orchestrator", "agent:claude", "agent:codex", "terminal"}));
}

TEST(QuickStart, Layout) {
    VRNXProjectQuickStart view;
    view.titleLabel()->setText("VARNIX");
    view.resize(900, 700);
    view.show();

    struct Expected {
        Action action;
        const char* title;
        const char* tooltip;
    };
    const Expected expected[] = {
        {Action::Orchestrator, "  Start Orchestrator", "Crowned agent that spawns and merges sub-agents"},
        {Action::Claude, "  New Claude Session", "Single Claude Code session in this project"},
        {Action::Codex, "  New Codex Session", "Single Codex session in this project"},
        {Action::Terminal, "  Open Terminal", "Plain shell tab — behaves like any other tab"},
    };
    int previousBottom = -1;
    for (const Expected& e : expected) {
        QPushButton* b = view.button(e.action);
        EXPECT_EQ(b->text(), e.title);
        EXPECT_EQ(b->toolTip(), e.tooltip);
        EXPECT_EQ(b->width(), 280);
        EXPECT_EQ(b->font().pixelSize(), 12);
        EXPECT_FALSE(b->icon().isNull());
        EXPECT_EQ(b->geometry().center().x(), view.rect().center().x());
        if (previousBottom >= 0) {
            EXPECT_EQ(b->y(), previousBottom + 12);
        }
        previousBottom = b->geometry().bottom() + 1;
    }
    const QRect title = view.titleLabel()->geometry();
    EXPECT_EQ(title.bottom() + 1, 350 - 110) << "the title's bottom sits 110 above the centre";
    EXPECT_EQ(view.titleLabel()->font().pixelSize(), 16);
    const QRect subtitle = view.subtitleLabel()->geometry();
    EXPECT_EQ(subtitle.top(), title.bottom() + 1 + 8);
    EXPECT_LE(subtitle.width(), 520);
    EXPECT_EQ(view.button(Action::Orchestrator)->y(), subtitle.bottom() + 1 + 28);

    // A short view keeps the title on screen.
    view.resize(600, 200);
    EXPECT_GE(view.titleLabel()->y(), 0);
}

}  // namespace
