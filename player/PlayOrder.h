// Which playlist item plays next: the Next and Previous buttons (which
// ignore the mode) and the end of a track (which follows the mode the three
// check boxes hold). Pure index arithmetic, so the window only has to play
// the index it is given.
#pragma once

#include <optional>
#include <random>

enum class PlayMode {
    None,         // all three boxes unticked: a track that ends is not followed
    SingleRepeat, // singleRepeatBox "单曲播放"
    ListLoop,     // listLoopBox "列表循环播放", the start mode
    Random,       // randomBox "随机播放"
};

class PlayOrder
{
public:
    PlayOrder();

    // The index Next plays, or nothing for an empty playlist. Wraps from the
    // last item to the first; an index that names no item (negative, or left
    // beyond the end by a delete) also starts again at the first.
    static std::optional<int> next(int current, int count);

    // The index Previous plays, or nothing for an empty playlist. Wraps from
    // the first item to the last; an index beyond the end goes to the last.
    static std::optional<int> previous(int current, int count);

    // The index to play when the current track has ended, or nothing when
    // no mode is chosen, the playlist is empty or single repeat holds an
    // index that names no item.
    std::optional<int> endOfTrack(PlayMode mode, int current, int count);

    // The next number of the random sequence, in [0, 1). The generator is
    // seeded with a constant and never reseeded, so every run draws the
    // same sequence, which is intended.
    double nextRandom();

private:
    std::mt19937 m_generator;
    std::uniform_real_distribution<double> m_uniform{0.0, 1.0};
};
