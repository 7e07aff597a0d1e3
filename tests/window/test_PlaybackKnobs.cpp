#include "window/rules/PlaybackKnobs.h"

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

TEST(PlaybackKnobs, SeekAndDisplayShareOneScale)
{
    const struct
    {
        double duration;
        int left;
        double position;
    } cases[] = {
        {3495, 0, 0},       // the knob's start is the track's start
        {3495, 1000, 1000}, // one second per twip for a track of 3495 s
        {35, 3495, 35},     // the far end is the track's end
        {35, 1800, 18.025751072961373},
        {180, -60, 0},    // left of the start: held at 0, not negative
        {180, 5000, 180}, // past the end: held at the end
        {0, 2000, 0},     // length not known yet
    };
    for (const auto &c : cases)
        EXPECT_DOUBLE_EQ(seekPositionForKnob(c.duration, c.left), c.position)
            << c.duration << " " << c.left;

    EXPECT_EQ(knobForPosition(200, 0), 0);
    EXPECT_EQ(knobForPosition(200, 200), kSeekKnobMax);
    EXPECT_EQ(knobForPosition(0, 10), 0);                // no length yet
    EXPECT_EQ(knobForPosition(100, 1000), kSeekKnobMax); // position past the length
    // Where the clock put the knob is where a release there seeks to: on a
    // 35 s track at 0:15 the knob seeks back to 0:15 (not 0:12), for every
    // whole second of the track.
    for (int second = 0; second <= 35; ++second) {
        const int left = knobForPosition(35, second);
        EXPECT_NEAR(seekPositionForKnob(35, left), second, 35.0 / kSeekKnobMax) << second;
    }
}

} // namespace
