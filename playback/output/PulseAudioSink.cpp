#include "playback/output/PulseAudioSink.h"

#include "playback/libraries/PulseLibrary.h"

namespace {

// The server's buffer for the stream: what plays on after a pause is asked
// for, and how far ahead the output thread writes.
constexpr double kTargetSeconds = 0.25;

pa_simple *connect(const PulseLibrary &api, int rate, int channels)
{
    pa_sample_spec sampleFormat;
    sampleFormat.format = PA_SAMPLE_S16LE;
    sampleFormat.rate = uint32_t(rate);
    sampleFormat.channels = uint8_t(channels);
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(kTargetSeconds * rate) * uint32_t(channels) * 2;
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    int error = 0;
    return api.simple_new(nullptr, "Velmor", PA_STREAM_PLAYBACK, nullptr, "Music", &sampleFormat,
                          nullptr, &attr, &error);
}

} // namespace

bool PulseAudioSink::serverReachable(const PulseLibrary &api)
{
    static const bool reachable = [&api] {
        pa_simple *probe = connect(api, 44100, 2);
        if (probe)
            api.simple_free(probe);
        return probe != nullptr;
    }();
    return reachable;
}

PulseAudioSink::~PulseAudioSink()
{
    if (m_stream)
        m_api.simple_free(m_stream);
}

bool PulseAudioSink::open(int rate, int channels)
{
    // Opened again when a stream changes its format.
    if (m_stream)
        m_api.simple_free(m_stream);
    m_stream = connect(m_api, rate, channels);
    m_frameBytes = channels * 2;
    return m_stream != nullptr;
}

bool PulseAudioSink::write(const int16_t *samples, int frames)
{
    // No stream: opening one again for a new format failed.
    if (!m_stream)
        return false;
    int error = 0;
    return m_api.simple_write(m_stream, samples, size_t(frames) * m_frameBytes, &error) == 0;
}

double PulseAudioSink::latency()
{
    if (!m_stream)
        return 0.0;
    int error = 0;
    const pa_usec_t usec = m_api.simple_get_latency(m_stream, &error);
    return usec == pa_usec_t(-1) ? 0.0 : double(usec) / 1e6;
}

void PulseAudioSink::flush()
{
    if (!m_stream)
        return;
    int error = 0;
    m_api.simple_flush(m_stream, &error);
}

void PulseAudioSink::drain()
{
    if (!m_stream)
        return;
    int error = 0;
    m_api.simple_drain(m_stream, &error);
}
