// Geometry of the two drawn knobs: the volume knob along its short track
// and the seek knob along the progress track. Positions are left edges in
// twips, as the window lays the knobs out. The seek knob's travel is one
// scale for showing the position and for seeking, so a knob the clock
// placed seeks back to where it stands and its far end is the track's end.
#pragma once

#include <QString>

namespace PlaybackKnobs {

// Twips per screen pixel at the 96 dpi the layout was drawn for.
constexpr int kTwipsPerPixel = 15;
// The volume knob travels from 0 to this left edge.
constexpr int kVolumeKnobMax = 800;
// Volume percent per twip of volume knob travel (800 twips give 100).
constexpr double kVolumePerTwip = 0.125;
// The seek knob travels from 0 (the start of the track) to this left edge
// (its end).
constexpr int kSeekKnobMax = 3495;

// The new left edge of a knob dragged by the mouse: left − grab + x,
// clamped to 0 … maxLeft.
int dragKnob(int left, int grabX, int x, int maxLeft);

// The volume (0 … 100) a volume knob left edge stands for.
int volumeForKnob(int left);

// The knob's tool tip, "音量: " + volume + "%".
QString volumeToolTip(int volume);

// The volume slider's tool tip, "音量调节: " + volume + "%".
QString sliderToolTip(int volume);

// The position in seconds a seek knob at `left` stands for: the same share
// of the length as `left` is of kSeekKnobMax, held within 0 … duration.
double seekPositionForKnob(double duration, int left);

// Where the clock puts the seek knob for a position: the inverse of
// seekPositionForKnob, rounded to a whole twip; 0 while the length is not
// known yet.
int knobForPosition(double duration, double position);

// Width of a fill bar for a knob at `left` (never negative).
int fillWidth(int left);

} // namespace PlaybackKnobs
