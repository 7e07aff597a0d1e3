#include "playback/output/NullAudioSink.h"

#include <algorithm>
#include <thread>

bool NullAudioSink::open(int rate, int)
{
    m_rate = rate;
    flush();
    return rate > 0;
}

double NullAudioSink::elapsed() const
{
    return std::chrono::duration<double>(Clock::now() - m_start).count();
}

bool NullAudioSink::write(const int16_t *, int frames)
{
    // A writer that fell behind leaves a gap, as a real output underruns:
    // the clock starts again from what is written now.
    if (latency() <= 0) {
        m_start = Clock::now();
        m_written = 0;
    }
    m_written += frames;
    const double ahead = latency() - kAheadSeconds;
    if (ahead > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(ahead));
    return true;
}

double NullAudioSink::latency()
{
    return std::max(0.0, double(m_written) / m_rate - elapsed());
}

void NullAudioSink::flush()
{
    m_start = Clock::now();
    m_written = 0;
}

void NullAudioSink::drain()
{
    std::this_thread::sleep_for(std::chrono::duration<double>(latency()));
    flush();
}
