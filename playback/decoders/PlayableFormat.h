// The sample rates and channel counts the player plays. Beyond them no
// output of ours plays the sound (the limits are PulseAudio's, the widest
// of our outputs), and decoding it anyway would size every buffer by the
// rate: a stream claiming two billion samples a second would take
// gigabytes for its first tenth of a second.
#pragma once

#include <QString>

namespace PlayableFormat {

constexpr int kMaxRate = 384000; // PA_RATE_MAX
constexpr int kMaxChannels = 32; // PA_CHANNELS_MAX; more than two are mixed down

// Empty when a stream of this many samples a second and channels can be
// played; otherwise the reason why not, shown after "无法播放：".
inline QString refusal(qint64 rate, qint64 channels)
{
    if (rate <= 0 || rate > kMaxRate)
        return QStringLiteral("采样率 %1 Hz 超出可播放的范围").arg(rate);
    if (channels <= 0 || channels > kMaxChannels)
        return QStringLiteral("声道数 %1 超出可播放的范围").arg(channels);
    return {};
}

} // namespace PlayableFormat
