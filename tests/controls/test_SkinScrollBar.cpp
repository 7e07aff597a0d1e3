// The scroll bar as a widget: setter limits, stored properties, and mouse
// input through its hook (steps, auto-repeat, paging, dragging with snap
// back, hover states) counted with valueChanged/scrolled signals.
#include "controls/PropertyBag.h"
#include "controls/scrollbar/SkinScrollBar.h"

#include <QElapsedTimer>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace scrollbar;

namespace {

constexpr int kWaitMs = 5000; // generous: the machine is shared

class SkinScrollBarTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        bar.resize(17, 200);
        bar.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    }

    // A move with no button held (QTest only moves the cursor for those).
    void hover(QPoint pos)
    {
        QMouseEvent move(QEvent::MouseMove, pos, bar.mapToGlobal(pos), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(&bar, &move);
    }

    SkinScrollBar bar;
    QSignalSpy changes{&bar, &SkinScrollBar::valueChanged};
    QSignalSpy scrolls{&bar, &SkinScrollBar::scrolled};
};

TEST_F(SkinScrollBarTest, DefaultsAndGeometry)
{
    EXPECT_EQ(bar.minimum(), 0);
    EXPECT_EQ(bar.maximum(), 100);
    EXPECT_EQ(bar.smallChange(), 1);
    EXPECT_EQ(bar.largeChange(), 10);
    EXPECT_EQ(bar.changeDelay(), 500);
    EXPECT_EQ(bar.changeFrequency(), 50);
    EXPECT_EQ(SkinScrollBar().sizeHint().width(), 17);

    bar.setValue(50);
    EXPECT_EQ(bar.thumbSize(), 14);
    EXPECT_EQ(bar.thumbPos(), 93);
    EXPECT_EQ(changes.count(), 1);

    // Resizing lays the bar out again through its size message.
    bar.resize(17, 43);
    EXPECT_FALSE(bar.layout().thumbVisible);
    EXPECT_TRUE(bar.layout().gapVisible);
}

TEST_F(SkinScrollBarTest, SetterLimits)
{
    struct Case
    {
        const char *name;
        std::function<void()> set;
        std::function<int()> get;
        int expected;
    };
    const Case cases[] = {
        {"ChangeFrequency 10", [&] { bar.setChangeFrequency(10); },
         [&] { return bar.changeFrequency(); }, 25},
        {"ChangeDelay -1", [&] { bar.setChangeDelay(-1); }, [&] { return bar.changeDelay(); }, 0},
        {"LargeChange 0", [&] { bar.setLargeChange(0); }, [&] { return bar.largeChange(); }, 1},
        {"SmallChange -3", [&] { bar.setSmallChange(-3); }, [&] { return bar.smallChange(); }, 1},
        {"Value Max + 5", [&] { bar.setValue(105); }, [&] { return bar.value(); }, 100},
        {"Value below Min", [&] { bar.setValue(-5); }, [&] { return bar.value(); }, 0},
        {"Min above Max", [&] { bar.setMinimum(500); }, [&] { return bar.minimum(); }, 100},
        {"Max below Min", [&] { bar.setMaximum(-5); }, [&] { return bar.maximum(); }, 0},
        {"Orientation 7", [&] { bar.setOrientation(7); }, [&] { return bar.orientation(); }, 1},
        {"Orientation -2", [&] { bar.setOrientation(-2); }, [&] { return bar.orientation(); }, 0},
    };
    for (const Case &c : cases) {
        c.set();
        EXPECT_EQ(c.get(), c.expected) << c.name;
        // restore the defaults the next case starts from
        bar.setMinimum(0);
        bar.setMaximum(100);
        bar.setValue(0);
    }
}

TEST_F(SkinScrollBarTest, ChangeOnlyWhenTheValueMoves)
{
    bar.setValue(60);
    bar.setValue(60);
    EXPECT_EQ(changes.count(), 1);
    bar.setMaximum(40); // lowers the value quietly
    EXPECT_EQ(bar.value(), 40);
    bar.setValue(10);
    bar.setMinimum(20); // raises it quietly
    EXPECT_EQ(bar.value(), 20);
    EXPECT_EQ(changes.count(), 2);
    bar.setValue(INT_MAX); // far above: limited, not wrapped
    EXPECT_EQ(bar.value(), 40);
}

TEST_F(SkinScrollBarTest, PropertiesRoundTripAndLoadRaw)
{
    bar.setMaximum(300);
    bar.setValue(120);
    bar.setLargeChange(30);
    bar.setChangeDelay(100);
    bar.setShowButtons(false);
    bar.setEnabled(false);
    PropertyBag bag;
    bar.writeProperties(bag);
    EXPECT_EQ(bag.values().size(), 10);

    SkinScrollBar copy;
    copy.readProperties(bag);
    PropertyBag again;
    copy.writeProperties(again);
    EXPECT_EQ(again.values(), bag.values());
    EXPECT_FALSE(copy.isEnabled());

    // Missing keys give the defaults.
    SkinScrollBar fresh;
    fresh.setValue(9);
    fresh.readProperties(PropertyBag());
    EXPECT_EQ(fresh.value(), 0);
    EXPECT_EQ(fresh.maximum(), 100);
    EXPECT_TRUE(fresh.showButtons());

    // Stored values bypass the setters' limits, and the bar still lays out.
    PropertyBag odd(QVariantMap{{QStringLiteral("ChangeFrequency"), 10},
                                {QStringLiteral("Min"), 50},
                                {QStringLiteral("Max"), 10},
                                {QStringLiteral("LargeChange"), 0},
                                {QStringLiteral("Orientation"), 3}});
    SkinScrollBar raw;
    raw.readProperties(odd);
    EXPECT_EQ(raw.changeFrequency(), 10);
    EXPECT_EQ(raw.minimum(), 50);
    EXPECT_EQ(raw.maximum(), 10);
    EXPECT_EQ(raw.largeChange(), 0);
    EXPECT_EQ(raw.orientation(), 3);
    EXPECT_EQ(raw.thumbSize(), kMinThumbSize);
}

TEST_F(SkinScrollBarTest, ButtonsAndTrackStepOncePerPress)
{
    bar.setChangeDelay(60000); // no repeat within the test
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(8, 190));
    EXPECT_EQ(bar.value(), 1);
    EXPECT_TRUE(bar.isTimerRunning(1));
    EXPECT_FALSE(bar.isTimerRunning(2)); // the delay only starts the repeat later
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(8, 190));
    EXPECT_FALSE(bar.isTimerRunning(1));

    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(8, 150)); // track after the thumb
    EXPECT_EQ(bar.value(), 11);
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(8, 5)); // first button
    EXPECT_EQ(bar.value(), 10);
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(8, 19)); // track before
    EXPECT_EQ(bar.value(), 0);
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(8, 19)); // nothing left to page
    EXPECT_EQ(bar.value(), 0);
    EXPECT_EQ(changes.count(), 4);
    EXPECT_EQ(scrolls.count(), 0);

    // A double click is a second press.
    QTest::mouseDClick(&bar, Qt::LeftButton, {}, QPoint(8, 190));
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(8, 190));
    EXPECT_EQ(bar.value(), 1);
}

TEST_F(SkinScrollBarTest, HeldButtonRepeatsUntilMaxThenStops)
{
    bar.setMaximum(4);
    bar.setChangeDelay(0);
    bar.setChangeFrequency(25);
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(8, 190));
    EXPECT_EQ(bar.value(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar.value() == 4; }, kWaitMs));
    // The step that found nothing left to do stops the repeat, though the
    // button is still held.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !bar.isTimerRunning(2); }, kWaitMs));
    EXPECT_EQ(changes.count(), 4);
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(8, 190));
}

TEST_F(SkinScrollBarTest, FirstRepeatComesNoEarlierThanDelayAndPeriod)
{
    // Defaults: one step at the press, the delay of 500 ms only starts the
    // repeat, whose first step comes one period (50 ms) later. Only the
    // lower bound is checked: a busy machine may be late, never early.
    QElapsedTimer sincePress;
    sincePress.start();
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(8, 190));
    ASSERT_EQ(bar.value(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar.value() >= 2; }, kWaitMs));
    const qint64 firstRepeat = sincePress.elapsed();
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(8, 190));
    EXPECT_GE(firstRepeat, bar.changeDelay() + bar.changeFrequency());
}

TEST_F(SkinScrollBarTest, HeldButtonOnlyStepsWhileThePointerIsOnIt)
{
    bar.setChangeDelay(0);
    bar.setChangeFrequency(25);
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(8, 190));
    QTest::mouseMove(&bar, QPoint(8, 100)); // slid off the button, still held
    const int held = bar.value();
    QTest::qWait(150);
    EXPECT_EQ(bar.value(), held);
    EXPECT_TRUE(bar.isTimerRunning(2));
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(8, 100));
    EXPECT_FALSE(bar.isTimerRunning(2));
}

TEST_F(SkinScrollBarTest, HeldTrackPagesUntilTheThumbPassesThePointer)
{
    bar.setChangeDelay(0);
    bar.setChangeFrequency(25);
    // Thumb 18..32; pointer at 60: pages to 10 (thumb 33..47), 20 (48..62),
    // then the thumb's trailing edge has passed the pointer.
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(8, 60));
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar.value() == 20; }, kWaitMs));
    QTest::qWait(150);
    EXPECT_EQ(bar.value(), 20);
    EXPECT_TRUE(bar.isTimerRunning(2)); // keeps running for the track until release
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(8, 60));
    EXPECT_EQ(changes.count(), 2);
}

TEST_F(SkinScrollBarTest, DragScrollsAndChangesOnRelease)
{
    bar.setValue(50);
    changes.clear();
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(8, 100)); // thumb 93..107
    EXPECT_EQ(bar.pressedPart(), kPartThumb);
    EXPECT_EQ(changes.count(), 0);

    QTest::mouseMove(&bar, QPoint(8, 130)); // thumb top 123: value (123-18)/150*100 = 70
    EXPECT_EQ(bar.value(), 70);
    EXPECT_EQ(bar.thumbPos(), 123);
    EXPECT_EQ(scrolls.count(), 1);
    EXPECT_EQ(changes.count(), 0);

    QTest::mouseMove(&bar, QPoint(8, 220)); // past the end, within 25 px of the bar
    EXPECT_EQ(bar.value(), 100);
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(8, 220));
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(bar.thumbPos(), 168);
}

TEST_F(SkinScrollBarTest, DragOutOfTheBandSnapsBackWithoutChange)
{
    bar.setValue(50);
    changes.clear();
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(8, 100));
    QTest::mouseMove(&bar, QPoint(8, 130));
    EXPECT_EQ(bar.value(), 70);
    QTest::mouseMove(&bar, QPoint(8 + 260, 130)); // 260 px sideways: outside
    EXPECT_EQ(bar.value(), 50);
    EXPECT_EQ(bar.thumbPos(), 93);
    EXPECT_EQ(scrolls.count(), 2);
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(8 + 260, 130));
    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(bar.pressedPart(), kPartNone);
}

TEST_F(SkinScrollBarTest, ThumbFillingTheTrackDragsToMin)
{
    bar.setMaximum(5); // range below largeChange
    bar.setValue(5);
    EXPECT_EQ(bar.thumbSize(), 164);
    EXPECT_EQ(bar.thumbPos(), 18);
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(8, 100));
    QTest::mouseMove(&bar, QPoint(8, 110));
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(8, 110));
    EXPECT_EQ(bar.value(), 0);

    // With a non-zero minimum the dragged value stays inside minimum..maximum.
    bar.setMinimum(5);
    bar.setValue(5);
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(8, 100));
    QTest::mouseMove(&bar, QPoint(8, 120));
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(8, 120));
    EXPECT_EQ(bar.value(), 5);
}

TEST_F(SkinScrollBarTest, HoverSetsInsideAndHotThenTimersClearThem)
{
    QPoint cursor = bar.mapToGlobal(QPoint(8, 25));
    bar.setCursorSource([&] { return cursor; });

    hover(QPoint(8, 25)); // entering, over the thumb (18..32): inside, no hot part yet
    EXPECT_TRUE(bar.isInside());
    EXPECT_TRUE(bar.isTimerRunning(4));
    EXPECT_FALSE(bar.isTimerRunning(3));
    hover(QPoint(8, 26)); // the next move makes the thumb hot
    EXPECT_TRUE(bar.isTimerRunning(3));

    // Still over the thumb: the hot timer keeps going.
    QTest::qWait(100);
    EXPECT_TRUE(bar.isTimerRunning(3));
    EXPECT_TRUE(bar.isInside());

    cursor = bar.mapToGlobal(QPoint(500, 500));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !bar.isTimerRunning(3); }, kWaitMs));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !bar.isInside(); }, kWaitMs));
    EXPECT_FALSE(bar.isTimerRunning(4));
}

TEST_F(SkinScrollBarTest, InsideStateWaitsForThePress)
{
    QPoint cursor = bar.mapToGlobal(QPoint(8, 190));
    bar.setCursorSource([&] { return cursor; });
    hover(QPoint(8, 190));
    bar.setChangeDelay(60000);
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(8, 190));
    cursor = bar.mapToGlobal(QPoint(500, 500));
    QTest::qWait(100);
    EXPECT_TRUE(bar.isInside()); // a part is pressed
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(8, 190));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !bar.isInside(); }, kWaitMs));
}

TEST_F(SkinScrollBarTest, DisabledBarIgnoresTheMouse)
{
    bar.setEnabled(false);
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(8, 190));
    hover(QPoint(8, 100));
    EXPECT_EQ(bar.value(), 0);
    EXPECT_FALSE(bar.isInside());
    EXPECT_EQ(changes.count(), 0);
}

TEST_F(SkinScrollBarTest, ShowHideSignalsAndPressesStayWithTheBar)
{
    class Host : public QWidget
    {
    public:
        int presses = 0;

    protected:
        void mousePressEvent(QMouseEvent *) override { ++presses; }
    } host;
    SkinScrollBar *child = new SkinScrollBar(&host);
    child->setGeometry(0, 0, 17, 200);
    QSignalSpy shows(child, &SkinScrollBar::shown);
    QSignalSpy hides(child, &SkinScrollBar::hidden);
    host.show();
    EXPECT_EQ(shows.count(), 1);
    child->hide();
    EXPECT_EQ(hides.count(), 1);
    child->show();
    EXPECT_EQ(shows.count(), 2);

    QTest::mouseClick(child, Qt::LeftButton, {}, QPoint(8, 100)); // in the track
    QTest::mouseClick(child, Qt::LeftButton, {}, QPoint(8, 5));
    EXPECT_EQ(host.presses, 0);
}

} // namespace
