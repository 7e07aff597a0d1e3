#include "player/PlayOrder.h"

#include <algorithm>
#include <cmath>

namespace {

// Any constant serves; what matters is that it never comes from the clock.
constexpr std::mt19937::result_type kRandomSeed = 20240607u;

bool namesItem(int index, int count)
{
    return index >= 0 && index < count;
}

} // namespace

PlayOrder::PlayOrder() : m_generator(kRandomSeed) {}

std::optional<int> PlayOrder::next(int current, int count)
{
    if (count <= 0)
        return std::nullopt;
    if (current >= 0 && current < count - 1)
        return current + 1;
    return 0;
}

std::optional<int> PlayOrder::previous(int current, int count)
{
    if (count <= 0)
        return std::nullopt;
    if (current < 1 || current > count)
        return count - 1;
    return current - 1;
}

std::optional<int> PlayOrder::endOfTrack(PlayMode mode, int current, int count)
{
    if (count <= 0)
        return std::nullopt;
    switch (mode) {
    case PlayMode::SingleRepeat:
        if (!namesItem(current, count))
            return std::nullopt;
        return current;
    case PlayMode::ListLoop:
        return next(current, count);
    case PlayMode::Random: {
        // Any item may come up, the current one included; repeats are fine.
        const int index = static_cast<int>(std::floor(nextRandom() * count));
        return std::min(std::max(index, 0), count - 1);
    }
    case PlayMode::None:
        break;
    }
    return std::nullopt;
}

double PlayOrder::nextRandom()
{
    // Some standard libraries can round a draw up to exactly 1.0; fold it
    // back so that the documented range holds.
    const double r = m_uniform(m_generator);
    return r < 1.0 ? r : std::nextafter(1.0, 0.0);
}
