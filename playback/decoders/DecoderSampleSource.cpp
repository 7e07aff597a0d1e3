#include "playback/decoders/DecoderSampleSource.h"

#include "playback/decoders/StreamDecoder.h"
#include "playback/sources/ReadAheadBuffer.h"

#include <algorithm>
#include <cmath>

namespace {

// Frames decoded per step: pausing and seeking are looked at between steps.
constexpr int kStepFrames = 2048;
// The read-ahead of a stream whose length is not known (a live stream): the
// read-ahead time at up to about 800 kbit/s, more time at lower rates.
constexpr qint64 kUnknownRateReadAheadBytes = 2 * 1024 * 1024;

} // namespace

DecoderSampleSource::DecoderSampleSource(std::unique_ptr<ReadAheadBuffer> input,
                                         std::unique_ptr<StreamDecoder> decoder)
    : m_input(std::move(input)), m_decoder(std::move(decoder))
{
    const qint64 size = m_input->size();
    const double seconds = duration();
    if (size > 0 && seconds > 0)
        m_input->setCapacity(qint64(double(size) / seconds * ReadAheadLimits::kReadAheadSeconds));
    else
        m_input->setCapacity(kUnknownRateReadAheadBytes);
}

DecoderSampleSource::~DecoderSampleSource()
{
    m_decoder.reset();
}

int DecoderSampleSource::rate() const
{
    return m_decoder->rate();
}

int DecoderSampleSource::channels() const
{
    return m_decoder->channels();
}

double DecoderSampleSource::duration() const
{
    const qint64 frames = m_decoder->frames();
    return frames > 0 ? double(frames) / m_decoder->rate() : 0.0;
}

bool DecoderSampleSource::inputReady()
{
    return m_input->ahead() >= m_decoder->bytesPerStep() || m_input->ended();
}

bool DecoderSampleSource::refilled()
{
    if (m_input->ended())
        return true;
    qint64 wanted = ReadAheadLimits::kRefillBytes;
    const qint64 size = m_input->size();
    const double seconds = duration();
    if (size > 0 && seconds > 0)
        wanted = std::min(wanted, qint64(double(size) / seconds * ReadAheadLimits::kRefillSeconds));
    return m_input->ahead() >= std::max(wanted, m_decoder->bytesPerStep());
}

SampleSource::Step DecoderSampleSource::decode(std::vector<int16_t> &samples, double &seconds)
{
    if (!inputReady())
        return Step::Dry;
    samples.resize(size_t(kStepFrames) * channels());
    const int frames = m_decoder->read(samples.data(), kStepFrames);
    if (frames <= 0)
        return Step::End;
    samples.resize(size_t(frames) * channels());
    seconds = double(m_frame) / rate();
    m_frame += frames;
    return Step::Samples;
}

void DecoderSampleSource::seek(double seconds)
{
    const qint64 frame = std::max<qint64>(0, std::llround(seconds * rate()));
    // A stream that cannot go there plays on from where it is; the output
    // loop drops what comes before the target.
    if (m_decoder->seek(frame))
        m_frame = frame;
}

const char *DecoderSampleSource::name() const
{
    return m_decoder->name();
}
