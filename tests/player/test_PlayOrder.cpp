#include "player/PlayOrder.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

struct StepCase
{
    int current;
    int count;
    std::optional<int> next;
    std::optional<int> previous;
};

class PlayOrderStep : public ::testing::TestWithParam<StepCase>
{
};

TEST_P(PlayOrderStep, NextAndPreviousWrapAndStayInRange)
{
    const StepCase c = GetParam();
    EXPECT_EQ(PlayOrder::next(c.current, c.count), c.next);
    EXPECT_EQ(PlayOrder::previous(c.current, c.count), c.previous);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlayOrderStep,
    ::testing::Values(StepCase{0, 3, 1, 2},  // first: previous wraps to the last
                      StepCase{1, 3, 2, 0},  // middle
                      StepCase{2, 3, 0, 1},  // last: next wraps to the first
                      StepCase{1, 1, 0, 0},  // start value 1 with one item plays item 0
                      StepCase{-1, 3, 0, 2}, // nothing named (after deleting the only item)
                      StepCase{7, 3, 0, 2},  // left beyond the end by "empty the list"
                      StepCase{3, 3, 0, 2},  // one past the end
                      StepCase{0, 0, std::nullopt, std::nullopt},
                      StepCase{5, 0, std::nullopt, std::nullopt}));

TEST(PlayOrder, EndOfTrackFollowsTheMode)
{
    PlayOrder order;
    // Single repeat replays the same item however often it ends.
    int current = 2;
    for (int i = 0; i < 5; ++i) {
        const auto next = order.endOfTrack(PlayMode::SingleRepeat, current, 4);
        ASSERT_EQ(next, 2);
        current = *next;
    }
    // List loop walks on and wraps.
    std::vector<int> walked;
    current = 1;
    for (int i = 0; i < 4; ++i) {
        current = order.endOfTrack(PlayMode::ListLoop, current, 3).value();
        walked.push_back(current);
    }
    EXPECT_EQ(walked, (std::vector<int>{2, 0, 1, 2}));

    // No mode: nothing follows. Empty list: nothing in any mode.
    EXPECT_EQ(order.endOfTrack(PlayMode::None, 0, 3), std::nullopt);
    for (PlayMode m : {PlayMode::SingleRepeat, PlayMode::ListLoop, PlayMode::Random})
        EXPECT_EQ(order.endOfTrack(m, 0, 0), std::nullopt);
    // Single repeat on an index that names no item must not replay an
    // empty entry forever.
    EXPECT_EQ(order.endOfTrack(PlayMode::SingleRepeat, -1, 3), std::nullopt);
    EXPECT_EQ(order.endOfTrack(PlayMode::SingleRepeat, 3, 3), std::nullopt);
}

TEST(PlayOrder, RandomStaysInRangeCoversEveryItemAndRepeatsAcrossRuns)
{
    PlayOrder first;
    PlayOrder second;
    std::vector<int> hits(5, 0);
    for (int i = 0; i < 2000; ++i) {
        const int count = 1 + i % 7;
        const auto a = first.endOfTrack(PlayMode::Random, i % count, count);
        const auto b = second.endOfTrack(PlayMode::Random, i % count, count);
        ASSERT_TRUE(a.has_value());
        ASSERT_GE(*a, 0);
        ASSERT_LT(*a, count);
        // Never reseeded: a fresh generator draws the same sequence.
        ASSERT_EQ(a, b) << "draw " << i;
    }
    PlayOrder order;
    for (int i = 0; i < 1000; ++i)
        ++hits.at(order.endOfTrack(PlayMode::Random, 0, 5).value());
    // Uniform: each of five items expected 200 times; a stuck or skewed
    // generator falls far outside this band.
    for (int h : hits) {
        EXPECT_GT(h, 130);
        EXPECT_LT(h, 270);
    }
}

} // namespace
