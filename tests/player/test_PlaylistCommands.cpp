#include "player/PlaylistCommands.h"

#include <gtest/gtest.h>

using namespace PlaylistCommands;

namespace {

struct DeleteCase
{
    const char *what;
    int current, mouse, countBefore;
    bool remove;
    int newCurrent;
    std::optional<int> play;
};

class DeleteOne : public ::testing::TestWithParam<DeleteCase>
{
};

TEST_P(DeleteOne, PicksTheNeighbour)
{
    const DeleteCase c = GetParam();
    const DeleteOutcome out = deleteOne(c.current, c.mouse, c.countBefore);
    EXPECT_EQ(out.remove, c.remove) << c.what;
    if (c.remove) {
        EXPECT_EQ(out.currentPlayIndex, c.newCurrent) << c.what;
    }
    EXPECT_EQ(out.playIndex, c.play) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeleteOne,
    ::testing::Values(
        DeleteCase{"first playing: last of the shortened list", 0, 2, 5, true, 3, 3},
        DeleteCase{"index 3 deleted while 5 plays: the item above", 5, 3, 8, true, 2, 2},
        DeleteCase{"playing item deleted", 4, 4, 6, true, 3, 3},
        DeleteCase{"first item deleted while a later one plays", 3, 0, 4, true, 0, 0},
        DeleteCase{"only item: nothing left to play", 0, 0, 1, true, -1, std::nullopt},
        DeleteCase{"only item, nothing played yet", 1, 0, 1, true, -1, std::nullopt},
        DeleteCase{"mouse index names no item", 2, -1, 3, false, 0, std::nullopt},
        DeleteCase{"mouse index beyond the end", 2, 3, 3, false, 0, std::nullopt},
        DeleteCase{"empty list", 0, 0, 0, false, 0, std::nullopt}));

TEST(AddToPlaylist, TickedRowsInOrderThenTheSelectedRow)
{
    const QList<bool> ticks = {true, false, true, true, false};

    AddOutcome out = addToPlaylist(ticks, 4);
    EXPECT_EQ(out.rows, (QList<int>{0, 2, 3, 4}));
    EXPECT_EQ(out.ticks, QList<bool>(5, false));

    // A selected row that was ticked goes in twice, and its tick is cleared
    // by the first pass.
    out = addToPlaylist(ticks, 2);
    EXPECT_EQ(out.rows, (QList<int>{0, 2, 3, 2}));
    EXPECT_EQ(out.ticks, QList<bool>(5, false));

    // No selection: only the ticked rows.
    out = addToPlaylist(ticks, -1);
    EXPECT_EQ(out.rows, (QList<int>{0, 2, 3}));
    out = addToPlaylist(ticks, 9);
    EXPECT_EQ(out.rows, (QList<int>{0, 2, 3}));

    // Only the selected row, unticked rows keep their state.
    out = addToPlaylist({false, false}, 1);
    EXPECT_EQ(out.rows, (QList<int>{1}));
    EXPECT_TRUE(addToPlaylist({}, 0).rows.isEmpty());
}

} // namespace
