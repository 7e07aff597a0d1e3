// Turns frames decoded by libavcodec into what our outputs play:
// interleaved 16-bit samples, mono or stereo (more channels are mixed
// down), at the frame's own rate. The libswresample context is built for
// the first frame and built again whenever a frame's rate, channel layout
// or sample format is not the one it was built for: a chained Ogg stream
// (as radio stations send) may change any of them mid-stream, and a
// context fed a frame of another shape reads planes that are not there.
#pragma once

#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
}

class FfmpegLibrary;
struct AVFrame;
struct SwrContext;

class FrameConverter
{
public:
    explicit FrameConverter(const FfmpegLibrary &api);
    ~FrameConverter();
    FrameConverter(const FrameConverter &) = delete;
    FrameConverter &operator=(const FrameConverter &) = delete;

    // Replaces `samples` with the frame's; false (and nothing converted)
    // for a frame that cannot be: no samples, more channels than we mix
    // down, a format libswresample does not take.
    bool convert(const AVFrame &frame, std::vector<int16_t> &samples);
    // Of the samples converted last; 0 before the first.
    int rate() const { return m_rate; }
    int channels() const { return m_channels; }

private:
    bool fits(const AVFrame &frame, const AVChannelLayout &layout) const;
    bool rebuild(const AVFrame &frame, AVChannelLayout &layout);

    const FfmpegLibrary &m_api;
    SwrContext *m_resampler = nullptr;
    // What m_resampler was built for.
    int m_inFormat = -1;
    AVChannelLayout m_inLayout{};
    int m_rate = 0;
    int m_channels = 0;
};
