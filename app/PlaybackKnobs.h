// Geometry of the two drawn knobs: the volume knob along its short track
// and the seek knob along the progress track. Positions are left edges in
// twips, as the window lays the knobs out; the constants below are
// independent of each other and do not describe one common scale.
#pragma once

#include <QString>

namespace PlaybackKnobs {

// Twips per screen pixel at the 96 dpi the layout was drawn for.
constexpr int kTwipsPerPixel = 15;
// The volume knob travels from 0 to this left edge.
constexpr int kVolumeKnobMax = 800;
// Volume percent per twip of volume knob travel (800 twips give 100).
constexpr double kVolumePerTwip = 0.125;
// The seek knob can be dragged from 0 to this left edge.
constexpr int kSeekKnobMax = 3495;
// The left edge where the progress track starts: the knob there means 0 s.
constexpr int kSeekTrackStart = 120;
// Twips of knob travel that stand for the whole length when seeking.
constexpr int kSeekTrackSpan = 3600;
// Twips of knob travel that stand for the whole length when the clock
// places the knob.
constexpr int kSeekDisplaySpan = 3205;

// The new left edge of a knob dragged by the mouse: left − grab + x,
// clamped to 0 … maxLeft.
int dragKnob(int left, int grabX, int x, int maxLeft);

// The volume (0 … 100) a volume knob left edge stands for.
int volumeForKnob(int left);

// The knob's tool tip, "音量: " + volume + "%".
QString volumeToolTip(int volume);

// The volume slider's tool tip, "音量调节: " + volume + "%".
QString sliderToolTip(int volume);

// The position in seconds a seek knob released at `left` asks for:
// duration ÷ 3600 × left − duration ÷ 3600 × 120. Left of the track start
// this would be negative; it is held at 0 instead of asking the player for
// a time before the start.
double seekPositionForKnob(double duration, int left);

// Where the clock puts the seek knob: 3205 ÷ duration × position, or 0
// while the length is not known yet.
int knobForPosition(double duration, double position);

// Width of a fill bar for a knob at `left` (never negative).
int fillWidth(int left);

} // namespace PlaybackKnobs
