// The player's state driven on its own, with no window and no display: the
// commands the window, the desktop and the settings send, the plays they
// ask for, and the playlist store's index rules.
#include "player/PlayerState.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

// A state with `count` items titled "0", "1", ...
void fill(PlayerState &state, int count)
{
    QList<PlaylistItem> items;
    for (int i = 0; i < count; ++i)
        items.append(PlaylistItem{QString::number(i), QStringLiteral("singer"), QString(),
                                  QString(), QStringLiteral("id%1").arg(i), false});
    state.playlist().append(items);
}

// The (index, entry) of each play the state asked for.
struct Plays
{
    explicit Plays(PlayerState &state)
    {
        QObject::connect(&state, &PlayerState::playRequested,
                         [this](int index, PlayerState::PlayEntry entry) {
                             asked.append({index, entry});
                         });
    }
    QList<std::pair<int, PlayerState::PlayEntry>> asked;
};

using Entry = PlayerState::PlayEntry;

TEST(PlayerState, PlayItemAsksForValidItemsOnly)
{
    PlayerState state;
    fill(state, 3);
    Plays plays(state);
    state.playItem(2, Entry::ListDoubleClick);
    state.playItem(3, Entry::Menu);
    state.playItem(-1, Entry::Menu);
    ASSERT_EQ(plays.asked.size(), 1);
    EXPECT_EQ(plays.asked.at(0), std::make_pair(2, Entry::ListDoubleClick));
}

// What next, previous and the end of a track ask for from a current index,
// for each play mode.
struct StepCase
{
    PlayMode mode;
    int current;
    int count;
    std::optional<int> next;
    std::optional<int> previous;
    std::optional<int> afterEnd; // -2: some index of the list (random)
};

class PlayerStateStep : public ::testing::TestWithParam<StepCase>
{
};

TEST_P(PlayerStateStep, NextPreviousAndEndOfTrackByMode)
{
    const StepCase c = GetParam();
    PlayerState state;
    fill(state, c.count);
    state.setPlayMode(c.mode);
    state.setCurrentIndex(c.current);
    Plays plays(state);
    QSignalSpy nothing(&state, &PlayerState::nothingToPlay);

    const auto lastAsked = [&]() -> std::optional<int> {
        if (plays.asked.isEmpty())
            return std::nullopt;
        const auto play = plays.asked.takeLast();
        EXPECT_EQ(play.second, Entry::Step);
        return play.first;
    };
    state.next();
    EXPECT_EQ(lastAsked(), c.next);
    state.previous();
    EXPECT_EQ(lastAsked(), c.previous);
    EXPECT_EQ(nothing.count(), c.count == 0 ? 2 : 0);
    state.playAfterEnd();
    const std::optional<int> afterEnd = lastAsked();
    if (c.afterEnd == -2) {
        ASSERT_TRUE(afterEnd);
        EXPECT_GE(*afterEnd, 0);
        EXPECT_LT(*afterEnd, c.count);
    } else {
        EXPECT_EQ(afterEnd, c.afterEnd);
    }
    EXPECT_TRUE(plays.asked.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Modes, PlayerStateStep,
    ::testing::Values(
        // Next and previous ignore the mode; the end of a track follows it.
        StepCase{PlayMode::ListLoop, 2, 3, 0, 1, 0}, StepCase{PlayMode::ListLoop, 0, 3, 1, 2, 1},
        StepCase{PlayMode::SingleRepeat, 1, 3, 2, 0, 1},
        StepCase{PlayMode::SingleRepeat, 5, 3, 0, 2, std::nullopt},
        StepCase{PlayMode::Random, 1, 4, 2, 0, -2},
        StepCase{PlayMode::None, 1, 3, 2, 0, std::nullopt},
        // The start value 1 on a one-item list plays item 0.
        StepCase{PlayMode::ListLoop, 1, 1, 0, 0, 0},
        StepCase{PlayMode::ListLoop, 1, 0, std::nullopt, std::nullopt, std::nullopt}));

TEST(PlayerState, RemovingAnItemPlaysItsNeighbour)
{
    PlayerState state;
    fill(state, 4);
    state.setCurrentItem(2);
    ASSERT_EQ(state.playlist().playIndex(), 2);
    Plays plays(state);
    QSignalSpy removed(&state.playlist(), &PlaylistItems::removed);

    // The playing item goes: the one above it plays, from the menu's path.
    state.removeItem(2);
    EXPECT_EQ(removed.count(), 1);
    EXPECT_EQ(state.playlist().count(), 3);
    EXPECT_EQ(state.playlist().at(2)->title, QStringLiteral("3"));
    EXPECT_EQ(state.playlist().playIndex(), -1);
    EXPECT_EQ(state.currentIndex(), 1);
    ASSERT_EQ(plays.asked.size(), 1);
    EXPECT_EQ(plays.asked.takeLast(), std::make_pair(1, Entry::Menu));

    // While the first item plays, deleting one plays the last of the list.
    state.setCurrentIndex(0);
    state.removeItem(1);
    EXPECT_EQ(plays.asked.takeLast(), std::make_pair(1, Entry::Menu));
    // An index that names no item deletes nothing.
    state.removeItem(9);
    EXPECT_EQ(state.playlist().count(), 2);
    EXPECT_TRUE(plays.asked.isEmpty());
    // The last items go: nothing is left to play.
    state.removeItem(0);
    plays.asked.clear();
    state.removeItem(0);
    EXPECT_EQ(state.playlist().count(), 0);
    EXPECT_EQ(state.currentIndex(), -1);
    EXPECT_TRUE(plays.asked.isEmpty());
}

TEST(PlayerState, VolumeAndPlayModeAreClampedAndToldOnce)
{
    PlayerState state;
    QSignalSpy volume(&state, &PlayerState::volumeChanged);
    QSignalSpy mode(&state, &PlayerState::playModeChanged);
    state.setVolume(140);
    state.setVolume(100);
    state.setVolume(-3);
    EXPECT_EQ(state.volume(), 0);
    ASSERT_EQ(volume.count(), 2);
    EXPECT_EQ(volume.at(0).at(0).toInt(), 100);
    EXPECT_EQ(volume.at(1).at(0).toInt(), 0);

    EXPECT_EQ(state.playMode(), PlayerState::kStartMode);
    state.setPlayMode(PlayerState::kStartMode);
    state.setPlayMode(PlayMode::Random);
    EXPECT_EQ(mode.count(), 1);
    EXPECT_EQ(state.playMode(), PlayMode::Random);
}

TEST(PlayerState, TrackAndPlaybackChangesAreTold)
{
    PlayerState state;
    QSignalSpy track(&state, &PlayerState::trackChanged);
    QSignalSpy playback(&state, &PlayerState::playbackChanged);
    QSignalSpy length(&state, &PlayerState::lengthChanged);

    state.startTrack({QStringLiteral("7"), QStringLiteral("晴天"), QStringLiteral("周同"),
                      QStringLiteral("叶"), QString()});
    state.setPictureUrl(QStringLiteral("http://x/p.jpg"));
    state.setPictureUrl(QStringLiteral("http://x/p.jpg"));
    EXPECT_EQ(track.count(), 2);
    EXPECT_EQ(state.track().pictureUrl, QStringLiteral("http://x/p.jpg"));

    state.setPlayback(3, true);
    state.setPlayback(3, true);
    state.setLength(61.5);
    state.setLength(61.5);
    EXPECT_EQ(playback.count(), 1);
    EXPECT_EQ(length.count(), 1);
    EXPECT_TRUE(state.loaded());

    // The position is read from the player when asked, 0 without one.
    EXPECT_EQ(state.position(), 0.0);
    state.setPositionSource([] { return 12.25; });
    EXPECT_EQ(state.position(), 12.25);

    // The tray's tip names the track once a title is set, or after a close
    // with a track named.
    EXPECT_EQ(state.trayTip(QStringLiteral("标题")), QStringLiteral("标题"));
    state.setTrayTipMode(2);
    EXPECT_EQ(state.trayTip(QStringLiteral("标题")), QStringLiteral("正在播放："));
    state.setNowPlayingText(QStringLiteral("晴天--周同"));
    EXPECT_EQ(state.trayTip(QStringLiteral("标题")), QStringLiteral("正在播放：晴天--周同"));
}

TEST(PlayerState, TransportCommandsAreHandedOn)
{
    PlayerState state;
    QList<std::pair<PlayerState::Transport, double>> asked;
    QObject::connect(&state, &PlayerState::transportRequested,
                     [&](PlayerState::Transport command, double seconds) {
                         asked.append({command, seconds});
                     });
    state.togglePlayback();
    state.pause();
    state.seekBy(-5);
    state.seekTo(30);
    using T = PlayerState::Transport;
    const QList<std::pair<T, double>> expected = {
        {T::Toggle, 0}, {T::Pause, 0}, {T::SeekBy, -5}, {T::SeekTo, 30}};
    EXPECT_EQ(asked, expected);
}

// The store's index rules, whoever changes it.
TEST(PlaylistItems, IndexesStayPutAndAreToldWhenTheyMove)
{
    PlaylistItems items;
    QSignalSpy added(&items, &PlaylistItems::added);
    QSignalSpy changed(&items, &PlaylistItems::itemsChanged);
    QSignalSpy playMoved(&items, &PlaylistItems::playIndexMoved);
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(items.add(PlaylistItem{QString::number(i), {}, {}, {}, {}, false}), i + 1);
    items.setPlayIndex(2);
    items.setListIndex(3);
    items.setPlayIndex(2);
    items.setPlayIndex(9); // names nothing: -1
    items.setPlayIndex(2);
    EXPECT_EQ(playMoved.count(), 3);

    // Inserting keeps the indexes where they are: they now name the item in
    // front of them.
    EXPECT_EQ(items.add(PlaylistItem{QStringLiteral("new"), {}, {}, {}, {}, false}, 0), 5);
    EXPECT_EQ(added.last().at(2).value<PlaylistItems::Added>(), PlaylistItems::Added::Inserted);
    EXPECT_EQ(items.playIndex(), 2);
    EXPECT_EQ(items.at(2)->title, QStringLiteral("1"));
    // Out of range: nothing is added.
    EXPECT_EQ(items.add(PlaylistItem{}, 7), -1);

    // Removing the playing item leaves none playing; an index past the end
    // names nothing any more.
    EXPECT_EQ(items.remove(2), 4);
    EXPECT_EQ(items.playIndex(), -1);
    EXPECT_EQ(items.remove(0), 3);
    EXPECT_EQ(items.listIndex(), -1);
    EXPECT_EQ(items.remove(5), -1);

    // A batch stops at the limit; the last removal empties the list.
    QList<PlaylistItem> many(PlaylistItems::kMaxItems, PlaylistItem{});
    EXPECT_EQ(items.append(many), PlaylistItems::kMaxItems - 3);
    EXPECT_EQ(items.count(), PlaylistItems::kMaxItems);
    EXPECT_EQ(items.add(PlaylistItem{}), -1);
    QSignalSpy cleared(&items, &PlaylistItems::cleared);
    items.clear();
    ASSERT_EQ(items.add(PlaylistItem{}), 1);
    EXPECT_EQ(items.remove(0), 0);
    EXPECT_EQ(cleared.count(), 2);
    // Every change of the items, and only those, is told once more as one.
    EXPECT_EQ(changed.count(), 11);
}

} // namespace
