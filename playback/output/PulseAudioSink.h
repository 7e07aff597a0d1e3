// Output to the PulseAudio server (or PipeWire's PulseAudio service) through
// the simple API, with a short server-side buffer so pausing and seeking take
// effect within a fraction of a second.
#pragma once

#include "playback/output/AudioSink.h"

struct pa_simple;
class PulseLibrary;

class PulseAudioSink : public AudioSink
{
public:
    explicit PulseAudioSink(const PulseLibrary &api) : m_api(api) {}
    ~PulseAudioSink() override;

    // Whether a sound server answers here, asked once per process.
    static bool serverReachable(const PulseLibrary &api);

    bool open(int rate, int channels) override;
    bool write(const int16_t *samples, int frames) override;
    double latency() override;
    void flush() override;
    void drain() override;

private:
    const PulseLibrary &m_api;
    pa_simple *m_stream = nullptr;
    int m_frameBytes = 0;
};
