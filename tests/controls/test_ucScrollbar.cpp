// The scroll bar as a widget: setter limits, stored properties, and mouse
// input through its hook (steps, auto-repeat, paging, dragging with snap
// back, hover states) counted with Change/Scroll signals.
#include "controls/PropertyBag.h"
#include "controls/scrollbar/ucScrollbar.h"

#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace scrollbar;

namespace {

constexpr int kWaitMs = 5000; // generous: the machine is shared

class ucScrollbarTest : public ::testing::Test
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

    ucScrollbar bar;
    QSignalSpy changes{&bar, &ucScrollbar::Change};
    QSignalSpy scrolls{&bar, &ucScrollbar::Scroll};
};

TEST_F(ucScrollbarTest, DefaultsAndGeometry)
{
    EXPECT_EQ(bar.Min(), 0);
    EXPECT_EQ(bar.Max(), 100);
    EXPECT_EQ(bar.SmallChange(), 1);
    EXPECT_EQ(bar.LargeChange(), 10);
    EXPECT_EQ(bar.ChangeDelay(), 500);
    EXPECT_EQ(bar.ChangeFrequency(), 50);
    EXPECT_EQ(ucScrollbar().sizeHint().width(), 17);

    bar.setValue(50);
    EXPECT_EQ(bar.thumbSize(), 14);
    EXPECT_EQ(bar.thumbPos(), 93);
    EXPECT_EQ(changes.count(), 1);

    // Resizing lays the bar out again through its size message.
    bar.resize(17, 43);
    EXPECT_FALSE(bar.layout().thumbVisible);
    EXPECT_TRUE(bar.layout().gapVisible);
}

TEST_F(ucScrollbarTest, SetterLimits)
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
         [&] { return bar.ChangeFrequency(); }, 25},
        {"ChangeDelay -1", [&] { bar.setChangeDelay(-1); }, [&] { return bar.ChangeDelay(); }, 0},
        {"LargeChange 0", [&] { bar.setLargeChange(0); }, [&] { return bar.LargeChange(); }, 1},
        {"SmallChange -3", [&] { bar.setSmallChange(-3); }, [&] { return bar.SmallChange(); }, 1},
        {"Value Max + 5", [&] { bar.setValue(105); }, [&] { return bar.Value(); }, 100},
        {"Value below Min", [&] { bar.setValue(-5); }, [&] { return bar.Value(); }, 0},
        {"Min above Max", [&] { bar.setMin(500); }, [&] { return bar.Min(); }, 100},
        {"Max below Min", [&] { bar.setMax(-5); }, [&] { return bar.Max(); }, 0},
        {"Orientation 7", [&] { bar.setOrientation(7); }, [&] { return bar.Orientation(); }, 1},
        {"Orientation -2", [&] { bar.setOrientation(-2); }, [&] { return bar.Orientation(); }, 0},
    };
    for (const Case &c : cases) {
        c.set();
        EXPECT_EQ(c.get(), c.expected) << c.name;
        // restore the defaults the next case starts from
        bar.setMin(0);
        bar.setMax(100);
        bar.setValue(0);
    }
}

TEST_F(ucScrollbarTest, ChangeOnlyWhenTheValueMoves)
{
    bar.setValue(60);
    bar.setValue(60);
    EXPECT_EQ(changes.count(), 1);
    bar.setMax(40); // lowers Value quietly
    EXPECT_EQ(bar.Value(), 40);
    bar.setValue(10);
    bar.setMin(20); // raises it quietly
    EXPECT_EQ(bar.Value(), 20);
    EXPECT_EQ(changes.count(), 2);
    bar.setValue(INT_MAX); // far above: limited, not wrapped
    EXPECT_EQ(bar.Value(), 40);
}

TEST_F(ucScrollbarTest, PropertiesRoundTripAndLoadRaw)
{
    bar.setMax(300);
    bar.setValue(120);
    bar.setLargeChange(30);
    bar.setChangeDelay(100);
    bar.setShowButtons(false);
    bar.setEnabled(false);
    PropertyBag bag;
    bar.WriteProperties(bag);
    EXPECT_EQ(bag.values().size(), 10);

    ucScrollbar copy;
    copy.ReadProperties(bag);
    PropertyBag again;
    copy.WriteProperties(again);
    EXPECT_EQ(again.values(), bag.values());
    EXPECT_FALSE(copy.Enabled());

    // Missing keys give the defaults.
    ucScrollbar fresh;
    fresh.setValue(9);
    fresh.ReadProperties(PropertyBag());
    EXPECT_EQ(fresh.Value(), 0);
    EXPECT_EQ(fresh.Max(), 100);
    EXPECT_TRUE(fresh.ShowButtons());

    // Stored values bypass the setters' limits, and the bar still lays out.
    PropertyBag odd(QVariantMap{{QStringLiteral("ChangeFrequency"), 10},
                                {QStringLiteral("Min"), 50},
                                {QStringLiteral("Max"), 10},
                                {QStringLiteral("LargeChange"), 0},
                                {QStringLiteral("Orientation"), 3}});
    ucScrollbar raw;
    raw.ReadProperties(odd);
    EXPECT_EQ(raw.ChangeFrequency(), 10);
    EXPECT_EQ(raw.Min(), 50);
    EXPECT_EQ(raw.Max(), 10);
    EXPECT_EQ(raw.LargeChange(), 0);
    EXPECT_EQ(raw.Orientation(), 3);
    EXPECT_EQ(raw.thumbSize(), kMinThumbSize);
}

TEST_F(ucScrollbarTest, ButtonsAndTrackStepOncePerPress)
{
    bar.setChangeDelay(60000); // no repeat within the test
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(8, 190));
    EXPECT_EQ(bar.Value(), 1);
    EXPECT_TRUE(bar.isTimerRunning(1));
    EXPECT_FALSE(bar.isTimerRunning(2)); // the delay only starts the repeat later
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(8, 190));
    EXPECT_FALSE(bar.isTimerRunning(1));

    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(8, 150)); // track after the thumb
    EXPECT_EQ(bar.Value(), 11);
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(8, 5)); // first button
    EXPECT_EQ(bar.Value(), 10);
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(8, 19)); // track before
    EXPECT_EQ(bar.Value(), 0);
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(8, 19)); // nothing left to page
    EXPECT_EQ(bar.Value(), 0);
    EXPECT_EQ(changes.count(), 4);
    EXPECT_EQ(scrolls.count(), 0);

    // A double click is a second press.
    QTest::mouseDClick(&bar, Qt::LeftButton, {}, QPoint(8, 190));
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(8, 190));
    EXPECT_EQ(bar.Value(), 1);
}

TEST_F(ucScrollbarTest, HeldButtonRepeatsUntilMaxThenStops)
{
    bar.setMax(4);
    bar.setChangeDelay(0);
    bar.setChangeFrequency(25);
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(8, 190));
    EXPECT_EQ(bar.Value(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar.Value() == 4; }, kWaitMs));
    // The step that found nothing left to do stops the repeat, though the
    // button is still held.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !bar.isTimerRunning(2); }, kWaitMs));
    EXPECT_EQ(changes.count(), 4);
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(8, 190));
}

TEST_F(ucScrollbarTest, HeldButtonOnlyStepsWhileThePointerIsOnIt)
{
    bar.setChangeDelay(0);
    bar.setChangeFrequency(25);
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(8, 190));
    QTest::mouseMove(&bar, QPoint(8, 100)); // slid off the button, still held
    const int held = bar.Value();
    QTest::qWait(150);
    EXPECT_EQ(bar.Value(), held);
    EXPECT_TRUE(bar.isTimerRunning(2));
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(8, 100));
    EXPECT_FALSE(bar.isTimerRunning(2));
}

TEST_F(ucScrollbarTest, HeldTrackPagesUntilTheThumbPassesThePointer)
{
    bar.setChangeDelay(0);
    bar.setChangeFrequency(25);
    // Thumb 18..32; pointer at 60: pages to 10 (thumb 33..47), 20 (48..62),
    // then the thumb's trailing edge has passed the pointer.
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(8, 60));
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar.Value() == 20; }, kWaitMs));
    QTest::qWait(150);
    EXPECT_EQ(bar.Value(), 20);
    EXPECT_TRUE(bar.isTimerRunning(2)); // keeps running for the track until release
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(8, 60));
    EXPECT_EQ(changes.count(), 2);
}

TEST_F(ucScrollbarTest, DragScrollsAndChangesOnRelease)
{
    bar.setValue(50);
    changes.clear();
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(8, 100)); // thumb 93..107
    EXPECT_EQ(bar.pressedPart(), kPartThumb);
    EXPECT_EQ(changes.count(), 0);

    QTest::mouseMove(&bar, QPoint(8, 130)); // thumb top 123: value (123-18)/150*100 = 70
    EXPECT_EQ(bar.Value(), 70);
    EXPECT_EQ(bar.thumbPos(), 123);
    EXPECT_EQ(scrolls.count(), 1);
    EXPECT_EQ(changes.count(), 0);

    QTest::mouseMove(&bar, QPoint(8, 220)); // past the end, within 25 px of the bar
    EXPECT_EQ(bar.Value(), 100);
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(8, 220));
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(bar.thumbPos(), 168);
}

TEST_F(ucScrollbarTest, DragOutOfTheBandSnapsBackWithoutChange)
{
    bar.setValue(50);
    changes.clear();
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(8, 100));
    QTest::mouseMove(&bar, QPoint(8, 130));
    EXPECT_EQ(bar.Value(), 70);
    QTest::mouseMove(&bar, QPoint(8 + 260, 130)); // 260 px sideways: outside
    EXPECT_EQ(bar.Value(), 50);
    EXPECT_EQ(bar.thumbPos(), 93);
    EXPECT_EQ(scrolls.count(), 2);
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(8 + 260, 130));
    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(bar.pressedPart(), kPartNone);
}

TEST_F(ucScrollbarTest, ThumbFillingTheTrackDragsToMin)
{
    bar.setMax(5); // range below LargeChange
    bar.setValue(5);
    EXPECT_EQ(bar.thumbSize(), 164);
    EXPECT_EQ(bar.thumbPos(), 18);
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(8, 100));
    QTest::mouseMove(&bar, QPoint(8, 110));
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(8, 110));
    EXPECT_EQ(bar.Value(), 0);

    // With a non-zero Min the dragged value stays inside Min..Max.
    bar.setMin(5);
    bar.setValue(5);
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(8, 100));
    QTest::mouseMove(&bar, QPoint(8, 120));
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(8, 120));
    EXPECT_EQ(bar.Value(), 5);
}

TEST_F(ucScrollbarTest, HoverSetsInsideAndHotThenTimersClearThem)
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

TEST_F(ucScrollbarTest, InsideStateWaitsForThePress)
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

TEST_F(ucScrollbarTest, DisabledBarIgnoresTheMouse)
{
    bar.setEnabled(false);
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(8, 190));
    hover(QPoint(8, 100));
    EXPECT_EQ(bar.Value(), 0);
    EXPECT_FALSE(bar.isInside());
    EXPECT_EQ(changes.count(), 0);
}

TEST_F(ucScrollbarTest, ShowHideSignalsAndPressesStayWithTheBar)
{
    class Host : public QWidget
    {
    public:
        int presses = 0;

    protected:
        void mousePressEvent(QMouseEvent *) override { ++presses; }
    } host;
    ucScrollbar *child = new ucScrollbar(&host);
    child->setGeometry(0, 0, 17, 200);
    QSignalSpy shows(child, &ucScrollbar::Show);
    QSignalSpy hides(child, &ucScrollbar::Hide);
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
