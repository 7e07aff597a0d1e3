// An output that plays nothing but takes the samples at the pace a sound
// card would, so a track still lasts as long as it is (tests, machines
// without sound). It keeps at most kAheadSeconds written ahead of the clock.
#pragma once

#include "playback/output/AudioSink.h"

#include <chrono>

class NullAudioSink : public AudioSink
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr double kAheadSeconds = 0.25;

    bool open(int rate, int channels) override;
    bool write(const int16_t *samples, int frames) override;
    double latency() override;
    void flush() override;
    void drain() override;

private:
    double elapsed() const;

    int m_rate = 0;
    // When the frame m_written would be heard had nothing been written since
    // start; restarted after a flush or when the writer fell behind.
    Clock::time_point m_start = Clock::now();
    long long m_written = 0;
};
