// Mouse, wheel and scroll-bar handling of the playlist control: which
// presses select, which double clicks play, the order of the events, the
// scroll range and the wheel step, and the bar's place.
#include "PlaylistViewFixture.h"

#include <QSignalSpy>

namespace {

using InputTest = PlaylistViewTest;

TEST_F(InputTest, PressSelectsBeforeMouseDownExceptOnTheSelectedItem)
{
    fill(5);
    click(Qt::LeftButton, rowY(2));
    EXPECT_EQ(log, (QStringList{QStringLiteral("List -1 2 0"), QStringLiteral("Down 1 0 0"),
                                QStringLiteral("Up 1 0 0"), QStringLiteral("Click 1 0 0")}));
    EXPECT_EQ(box->listIndex(), 2);

    // The selected item again: no selection event and no mousePressed.
    log.clear();
    click(Qt::LeftButton, rowY(2));
    EXPECT_EQ(log, (QStringList{QStringLiteral("Up 1 0 0"), QStringLiteral("Click 1 0 0")}));

    // Below the last item: nothing is selected and mousePressed is not raised.
    log.clear();
    click(Qt::LeftButton, rowY(10));
    EXPECT_EQ(log, (QStringList{QStringLiteral("Up 1 0 0"), QStringLiteral("Click 1 0 0")}));
    EXPECT_EQ(box->listIndex(), 2);
}

TEST_F(InputTest, RightPressSelectsAndMiddlePressNever)
{
    fill(5);
    mouse(QEvent::MouseButtonPress, Qt::RightButton, QPointF(60, rowY(3)), Qt::ControlModifier);
    mouse(QEvent::MouseButtonRelease, Qt::RightButton, QPointF(60, rowY(3)), Qt::ControlModifier);
    EXPECT_EQ(log, (QStringList{QStringLiteral("List -1 3 0"), QStringLiteral("Down 2 2 0"),
                                QStringLiteral("Up 2 2 0"), QStringLiteral("Click 2 2 0")}));

    log.clear();
    mouse(QEvent::MouseButtonPress, Qt::MiddleButton, QPointF(60, rowY(1)), Qt::ShiftModifier);
    EXPECT_EQ(log, QStringList{QStringLiteral("Down 4 1 0")});
    EXPECT_EQ(box->listIndex(), 3);

    // On an empty list every press reports mousePressed.
    box->clear();
    log.clear();
    mouse(QEvent::MouseButtonPress, Qt::LeftButton, QPointF(60, rowY(0)));
    EXPECT_EQ(log, QStringList{QStringLiteral("Down 1 0 0")});
}

TEST_F(InputTest, PressUsesTheHandlersNewIndex)
{
    fill(5);
    QObject::connect(box.get(), &PlaylistView::listIndexChanged,
                     [](short &, short &newIndex, short &) { newIndex = 4; });
    click(Qt::LeftButton, rowY(1));
    EXPECT_EQ(box->listIndex(), 4);
}

TEST_F(InputTest, DoubleClickPlaysUnlessItHitsThePlayingItemOrNothing)
{
    fill(5);
    doubleClick(Qt::LeftButton, rowY(1));
    EXPECT_EQ(log, (QStringList{QStringLiteral("List -1 1 0"), QStringLiteral("Down 1 0 0"),
                                QStringLiteral("Up 1 0 0"), QStringLiteral("Click 1 0 0"),
                                QStringLiteral("Play -1 1 0"), QStringLiteral("DBClick 1 0 0"),
                                QStringLiteral("Up 1 0 0")}));
    EXPECT_EQ(box->playIndex(), 1);

    // The playing item does not restart.
    log.clear();
    doubleClick(Qt::LeftButton, rowY(1));
    EXPECT_FALSE(log.contains(QStringLiteral("DBClick 1 0 0")));
    EXPECT_EQ(log.filter(QStringLiteral("Play")).size(), 0);

    // Below the last item nothing is raised.
    log.clear();
    doubleClick(Qt::LeftButton, rowY(7));
    EXPECT_EQ(log.filter(QStringLiteral("DBClick")).size(), 0);

    // A right double click is reported but plays nothing.
    log.clear();
    doubleClick(Qt::RightButton, rowY(3));
    EXPECT_TRUE(log.contains(QStringLiteral("DBClick 2 0 0")));
    EXPECT_EQ(box->playIndex(), 1);
}

TEST_F(InputTest, WheelScrollsByAFifthOfTheViewPlusOne)
{
    fill(40);
    SkinScrollBar *bar = box->scrollBar();
    ASSERT_FALSE(bar->isHidden());
    EXPECT_EQ(bar->maximum(), 16);

    // Away from the user at the top: nothing, and no scrolled.
    wheel(120);
    EXPECT_TRUE(log.isEmpty());

    wheel(-120);
    EXPECT_EQ(box->firstIndex(), 5);
    EXPECT_EQ(bar->value(), 5);
    EXPECT_EQ(log, QStringList{QStringLiteral("Scroll")});
    wheel(-120);
    wheel(-120);
    wheel(-120);
    EXPECT_EQ(box->firstIndex(), 16);
    EXPECT_EQ(log.size(), 4); // the last notch moved only one row, still a scrolled
    wheel(120);
    EXPECT_EQ(box->firstIndex(), 11);
}

TEST_F(InputTest, EverythingFitsSoTheBarHidesAndTheWheelDoesNothing)
{
    fill(24);
    EXPECT_TRUE(box->scrollBar()->isHidden());
    EXPECT_EQ(box->scrollBar()->maximum(), 0);
    wheel(-120);
    EXPECT_EQ(box->firstIndex(), 0);
    EXPECT_TRUE(log.isEmpty());
    box->addItem(QStringLiteral("25th"));
    EXPECT_FALSE(box->scrollBar()->isHidden());
    EXPECT_EQ(box->scrollBar()->maximum(), 1);
}

TEST_F(InputTest, TopRowComesBackIntoRangeWhenTheListShrinks)
{
    fill(40);
    box->scrollBar()->setValue(16);
    ASSERT_EQ(box->firstIndex(), 16);
    for (int i = 0; i < 10; ++i)
        box->removeItem(0);
    EXPECT_EQ(box->firstIndex(), 6); // 30 items, 24 rows
    for (int i = 0; i < 10; ++i)
        box->removeItem(0);
    EXPECT_EQ(box->firstIndex(), 0);
    EXPECT_EQ(box->indexFromPoint(10, float(rowY(0))), 0);
}

TEST_F(InputTest, AFullListInAViewWithoutAWholeRowKeepsAValidTopRow)
{
    // Room for less than one row: the bar's range reaches the item count,
    // one past the last index (32,768 would not fit the 16-bit index).
    fill(PlaylistView::kMaxItems);
    box->setItemBackColor1(QColor(10, 200, 30));
    box->resize(kWidth, 12);
    SkinScrollBar *bar = box->scrollBar();
    ASSERT_FALSE(bar->isHidden());
    ASSERT_EQ(bar->maximum(), PlaylistView::kMaxItems);
    bar->setValue(bar->maximum());
    EXPECT_EQ(box->firstIndex(), PlaylistView::kMaxItems - 1);
    EXPECT_EQ(box->lastIndex(), PlaylistView::kMaxItems - 1);
    // The top row shows the last item and a press selects it.
    EXPECT_EQ(box->grab().toImage().pixelColor(60, 5), box->itemBackColor1());
    mouse(QEvent::MouseButtonPress, Qt::LeftButton, QPointF(60, 5));
    mouse(QEvent::MouseButtonRelease, Qt::LeftButton, QPointF(60, 5));
    EXPECT_EQ(box->listIndex(), PlaylistView::kMaxItems - 1);
}

TEST_F(InputTest, DraggingTheBarMovesTheViewAndReportsScroll)
{
    fill(40);
    SkinScrollBar *bar = box->scrollBar();
    bar->setValue(7); // a change alone does not count as a scroll
    EXPECT_EQ(box->firstIndex(), 7);
    EXPECT_TRUE(log.isEmpty());
    Q_EMIT bar->scrolled();
    EXPECT_EQ(log, QStringList{QStringLiteral("Scroll")});
}

TEST_F(InputTest, ResizePlacesTheBarAndUpdatesTheRange)
{
    fill(40);
    QSignalSpy resized(box.get(), &PlaylistView::resized);
    SkinScrollBar *bar = box->scrollBar();
    const int barWidth = bar->width();

    box->resize(200, 200);
    EXPECT_EQ(resized.count(), 1);
    EXPECT_EQ(bar->geometry(), QRect(200 - barWidth - 1, 1, barWidth, 198));
    EXPECT_EQ(bar->maximum(), 40 - 198 / 18);

    box->setBorder(false);
    EXPECT_EQ(bar->geometry(), QRect(200 - barWidth, 0, barWidth, 200));
    EXPECT_EQ(bar->maximum(), 40 - 200 / 18);

    box->resize(200, 2000);
    EXPECT_TRUE(bar->isHidden());
    EXPECT_EQ(box->firstIndex(), 0);
}

} // namespace
