#include "app/PlaybackKnobs.h"

#include <gtest/gtest.h>

using namespace PlaybackKnobs;

namespace {

TEST(PlaybackKnobs, VolumeKnobClampsAndMapsToPercent)
{
    const struct
    {
        int left, grab, x;
        int newLeft;
        int volume;
    } cases[] = {
        {600, 50, 80, 630, 78},   // 630 × 0.125 = 78.75, whole part
        {600, 50, 500, 800, 100}, // dragged past the right end
        {100, 200, 0, 0, 0},      // dragged past the left end
        {0, 0, 8, 8, 1},          {0, 0, 7, 7, 0}, {800, 0, 0, 800, 100},
    };
    for (const auto &c : cases) {
        const int left = dragKnob(c.left, c.grab, c.x, kVolumeKnobMax);
        EXPECT_EQ(left, c.newLeft);
        EXPECT_EQ(volumeForKnob(left), c.volume);
    }
    EXPECT_EQ(volumeToolTip(volumeForKnob(800)), QStringLiteral("音量: 100%"));
    EXPECT_EQ(volumeToolTip(volumeForKnob(0)), QStringLiteral("音量: 0%"));
    EXPECT_EQ(sliderToolTip(35), QStringLiteral("音量调节: 35%"));
}

TEST(PlaybackKnobs, SeekKnobDragStopsAtTheTrackLimits)
{
    EXPECT_EQ(dragKnob(3400, 10, 500, kSeekKnobMax), 3495);
    EXPECT_EQ(dragKnob(50, 100, 0, kSeekKnobMax), 0);
    EXPECT_EQ(dragKnob(1000, 30, 130, kSeekKnobMax), 1100);
    EXPECT_EQ(fillWidth(-40), 0);
    EXPECT_EQ(fillWidth(1100), 1100);
}

TEST(PlaybackKnobs, SeekFormulaMapsTrackStartToZero)
{
    const struct
    {
        double duration;
        int left;
        double position;
    } cases[] = {
        {3600, 120, 0},                    // the track start is 0 s
        {3600, 1120, 1000},                // one second per twip for an hour-long track
        {180, 1920, 90},                   // 180 / 3600 × 1920 − 180 / 3600 × 120
        {180, 3495, 168.75}, {180, 60, 0}, // left of the track start: held at 0, not negative
        {0, 2000, 0},                      // length not known yet
    };
    for (const auto &c : cases)
        EXPECT_DOUBLE_EQ(seekPositionForKnob(c.duration, c.left), c.position)
            << c.duration << " " << c.left;
}

TEST(PlaybackKnobs, ClockPlacesKnobBy3205OverDuration)
{
    EXPECT_EQ(knobForPosition(200, 0), 0);
    EXPECT_EQ(knobForPosition(641, 320.5), 1603); // 1602.5 rounds up
    EXPECT_EQ(knobForPosition(200, 200), 3205);
    EXPECT_EQ(knobForPosition(641, 10), 50);
    EXPECT_EQ(knobForPosition(0, 10), 0);        // no length yet
    EXPECT_EQ(knobForPosition(100, 1000), 3495); // position past the length
}

} // namespace
