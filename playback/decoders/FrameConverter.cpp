#include "playback/decoders/FrameConverter.h"

#include "playback/decoders/PlayableFormat.h"
#include "playback/libraries/FfmpegLibrary.h"

#include <algorithm>

FrameConverter::FrameConverter(const FfmpegLibrary &api) : m_api(api) {}

FrameConverter::~FrameConverter()
{
    m_api.swr_free(&m_resampler);
    m_api.channel_layout_uninit(&m_inLayout);
}

bool FrameConverter::fits(const AVFrame &frame, const AVChannelLayout &layout) const
{
    return m_resampler && frame.format == m_inFormat && frame.sample_rate == m_rate &&
           m_api.channel_layout_compare(&layout, &m_inLayout) == 0;
}

bool FrameConverter::rebuild(const AVFrame &frame, AVChannelLayout &layout)
{
    m_api.swr_free(&m_resampler);
    m_api.channel_layout_uninit(&m_inLayout);
    m_inFormat = -1;
    m_rate = m_channels = 0;
    const int channels = std::min(layout.nb_channels, 2);
    AVChannelLayout outLayout;
    m_api.channel_layout_default(&outLayout, channels);
    // Same rate as the frame (no resampling, so sample times stay exact);
    // a new rate is the output's to follow.
    const bool built =
        m_api.swr_alloc_set_opts2(&m_resampler, &outLayout, AV_SAMPLE_FMT_S16, frame.sample_rate,
                                  &layout, AVSampleFormat(frame.format), frame.sample_rate, 0,
                                  nullptr) >= 0 &&
        m_api.swr_init(m_resampler) >= 0 && m_api.channel_layout_copy(&m_inLayout, &layout) >= 0;
    m_api.channel_layout_uninit(&outLayout);
    if (!built) {
        m_api.swr_free(&m_resampler);
        return false;
    }
    m_inFormat = frame.format;
    m_rate = frame.sample_rate;
    m_channels = channels;
    return true;
}

bool FrameConverter::convert(const AVFrame &frame, std::vector<int16_t> &samples)
{
    samples.clear();
    const int inChannels = frame.ch_layout.nb_channels;
    if (frame.nb_samples <= 0 || !frame.extended_data || frame.sample_rate <= 0 ||
        inChannels <= 0 || inChannels > PlayableFormat::kMaxChannels)
        return false;
    // A decoder that does not name its channels gets the usual layout for
    // their number.
    AVChannelLayout layout;
    if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        m_api.channel_layout_default(&layout, inChannels);
    else if (m_api.channel_layout_copy(&layout, &frame.ch_layout) < 0)
        return false;
    const bool ready = fits(frame, layout) || rebuild(frame, layout);
    m_api.channel_layout_uninit(&layout);
    if (!ready)
        return false;
    const int room = m_api.swr_get_out_samples(m_resampler, frame.nb_samples);
    if (room <= 0)
        return false;
    samples.resize(size_t(room) * m_channels);
    uint8_t *target = reinterpret_cast<uint8_t *>(samples.data());
    const int count =
        m_api.swr_convert(m_resampler, &target, room,
                          const_cast<const uint8_t **>(frame.extended_data), frame.nb_samples);
    samples.resize(size_t(std::max(count, 0)) * m_channels);
    return count > 0;
}
