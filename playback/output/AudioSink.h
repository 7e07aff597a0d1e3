// Where the lighter engine's decoded sound goes: signed 16-bit interleaved
// samples, written from the engine's output thread only. A write blocks
// while the output holds as much as it should, so the output paces playback.
#pragma once

#include <cstdint>

class AudioSink
{
public:
    virtual ~AudioSink() = default;
    // Called again, after drain(), when the stream changes its format.
    virtual bool open(int rate, int channels) = 0;
    virtual bool write(const int16_t *samples, int frames) = 0;
    // Seconds written but not heard yet.
    virtual double latency() = 0;
    // Drops what was written and not heard yet (seeking, pausing).
    virtual void flush() = 0;
    // Waits until everything written has been heard (end of track).
    virtual void drain() = 0;
};
