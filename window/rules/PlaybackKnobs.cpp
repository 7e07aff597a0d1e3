#include "window/rules/PlaybackKnobs.h"

#include <algorithm>
#include <cmath>

namespace PlaybackKnobs {

int dragKnob(int left, int grabX, int x, int maxLeft)
{
    const long long moved = static_cast<long long>(left) - grabX + x;
    return static_cast<int>(std::clamp<long long>(moved, 0, maxLeft));
}

int volumeForKnob(int left)
{
    const int clamped = std::clamp(left, 0, kVolumeKnobMax);
    return static_cast<int>(std::floor(clamped * kVolumePerTwip));
}

QString volumeToolTip(int volume)
{
    return QStringLiteral("音量: %1%").arg(volume);
}

QString sliderToolTip(int volume)
{
    return QStringLiteral("音量调节: %1%").arg(volume);
}

double seekPositionForKnob(double duration, int left)
{
    if (!std::isfinite(duration) || duration <= 0)
        return 0;
    const int clamped = std::clamp(left, 0, kSeekKnobMax);
    return duration * clamped / kSeekKnobMax;
}

int knobForPosition(double duration, double position)
{
    if (!std::isfinite(duration) || duration <= 0 || !std::isfinite(position))
        return 0;
    const double left = kSeekKnobMax * (position / duration);
    return static_cast<int>(std::lround(std::clamp(left, 0.0, double(kSeekKnobMax))));
}

int fillWidth(int left)
{
    return std::max(left, 0);
}

} // namespace PlaybackKnobs
