#include "ui/Theme.h"
#include "ui/ViewHelpers.h"

#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

class Receiver : public QObject {
public:
    QList<ClickableRow*> senders;
    void rowClicked(ClickableRow* row) { senders << row; }
};

TEST(ClickableRow, PayloadStartsEmpty) {
    ClickableRow row;
    EXPECT_EQ(row.target(), nullptr);
    EXPECT_FALSE(row.action);
    EXPECT_EQ(row.toolkitIndex, 0);
    EXPECT_EQ(row.watchdogIndex, 0);
    EXPECT_EQ(row.worktreeName, std::nullopt);
    EXPECT_EQ(row.worktreePath, std::nullopt);
    EXPECT_FALSE(row.isBaseWorktree);
    EXPECT_EQ(row.filePath, std::nullopt);
    EXPECT_FALSE(row.isDirectory);
    EXPECT_EQ(row.sessionIndex, std::nullopt);
    EXPECT_FALSE(row.inboxEntry.isValid());
}

TEST(ClickableRow, AClickSendsTheActionToTheTargetWithTheRowAsSender) {
    Receiver receiver;
    ClickableRow* row = vrnxClickableRow("arrow.triangle.branch", "  main", "git", &receiver, &Receiver::rowClicked);
    std::unique_ptr<ClickableRow> owner(row);
    row->worktreePath = "/repo/.varnix/worktrees/x";
    row->sessionIndex = 2;
    row->resize(240, 26);
    row->show();

    // Pressing paints the pressed colour; the action waits for the release.
    QTest::mousePress(row, Qt::LeftButton, {}, QPoint(50, 13));
    EXPECT_EQ(row->highlight(), ClickableRow::Highlight::Pressed);
    EXPECT_TRUE(receiver.senders.isEmpty());
    QTest::mouseRelease(row, Qt::LeftButton, {}, QPoint(50, 13));
    EXPECT_EQ(row->highlight(), ClickableRow::Highlight::None);
    ASSERT_EQ(receiver.senders.size(), 1);
    EXPECT_EQ(receiver.senders[0], row);
    EXPECT_EQ(receiver.senders[0]->worktreePath, "/repo/.varnix/worktrees/x");
    EXPECT_EQ(receiver.senders[0]->sessionIndex, 2);

    // Letting go outside the row cancels.
    QTest::mousePress(row, Qt::LeftButton, {}, QPoint(50, 13));
    QTest::mouseRelease(row, Qt::LeftButton, {}, QPoint(400, 13));
    EXPECT_EQ(receiver.senders.size(), 1);
}

TEST(ClickableRow, AGoneTargetGetsNothing) {
    int calls = 0;
    auto target = std::make_unique<QObject>();
    std::unique_ptr<ClickableRow> row(
        vrnxClickableRow("folder", "src", "", target.get(), [&calls](ClickableRow*) { ++calls; }));
    row->resize(200, 24);
    QTest::mouseClick(row.get(), Qt::LeftButton, {}, QPoint(20, 12));
    EXPECT_EQ(calls, 1);
    target.reset();
    QTest::mouseClick(row.get(), Qt::LeftButton, {}, QPoint(20, 12));
    EXPECT_EQ(calls, 1);

    // Without a target the action always runs.
    std::unique_ptr<ClickableRow> free(
        vrnxClickableRow("folder", "src", "", nullptr, [&calls](ClickableRow*) { ++calls; }));
    free->resize(200, 24);
    QTest::mouseClick(free.get(), Qt::LeftButton, {}, QPoint(20, 12));
    EXPECT_EQ(calls, 2);
}

TEST(ClickableRow, HoverAndContent) {
    std::unique_ptr<ClickableRow> row(vrnxClickableRow("hammer", "Build", "npm", nullptr, {}));
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(row.get(), &enter);
    EXPECT_EQ(row->highlight(), ClickableRow::Highlight::Hover);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(row.get(), &leave);
    EXPECT_EQ(row->highlight(), ClickableRow::Highlight::None);

    auto* icon = row->findChild<QLabel*>("rowIcon");
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->size(), QSize(14, 14));
    EXPECT_FALSE(icon->pixmap().isNull());
    auto* text = row->findChild<QLabel*>("rowText");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->text(), "Build");
    EXPECT_EQ(text->font().pixelSize(), 12);
    auto* detail = row->findChild<QLabel*>("rowDetail");
    ASSERT_TRUE(detail);
    EXPECT_EQ(detail->font().pixelSize(), 10);

    std::unique_ptr<ClickableRow> plain(vrnxClickableRow("hammer", "Build", "", nullptr, {}));
    EXPECT_EQ(plain->findChild<QLabel*>("rowDetail"), nullptr);
}

TEST(ViewHelpers, SeparatorIsAOnePointRule) {
    std::unique_ptr<QWidget> line(vrnxSeparator());
    EXPECT_EQ(line->maximumHeight(), 1);
    EXPECT_EQ(line->minimumHeight(), 1);
    EXPECT_EQ(line->palette().color(QPalette::Window), Theme::surface3());
    EXPECT_TRUE(line->autoFillBackground());
}

TEST(FlippedStack, ViewsKeepToTheTopAndClearingIsSafeFromInsideAView) {
    FlippedStack stack;
    stack.setSpacing(4);
    stack.resize(200, 400);
    QList<QWidget*> views;
    for (int i = 0; i < 3; ++i) {
        auto* view = new QWidget;
        view->setFixedHeight(30);
        stack.addArrangedSubview(view);
        views << view;
    }
    stack.show();
    stack.layout()->activate();
    EXPECT_EQ(stack.arrangedSubviews(), views);
    EXPECT_EQ(views[0]->y(), 0);
    EXPECT_EQ(views[1]->y(), 34);
    EXPECT_EQ(views[2]->y(), 68);
    EXPECT_EQ(views[2]->width(), 200);

    QPointer<QWidget> first = views[0];
    stack.removeAllArrangedSubviews();
    EXPECT_TRUE(stack.arrangedSubviews().isEmpty());
    EXPECT_TRUE(first) << "deleted later, not under a running handler";
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(first);
}

TEST(ViewHelpers, MonospacedFontUsesPixelSizes) {
    const QFont font = vrnxMonoFont(13, QFont::Medium);
    EXPECT_EQ(font.pixelSize(), 13);
    EXPECT_EQ(font.weight(), QFont::Medium);
    EXPECT_TRUE(QFontInfo(font).fixedPitch());
}

}  // namespace
