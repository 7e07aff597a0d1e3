// The Range reading of velmor-musicd's server, as a pure function.
#include "musicd/http/RequestHead.h"

#include <gtest/gtest.h>
#include <limits>

using musicd::ByteRange;

namespace {

struct RangeCase
{
    const char *value;
    std::vector<ByteRange> ranges;
};

TEST(RequestHead, RangesAreReadAsHttpAsks)
{
    constexpr ssize_t kHuge = std::numeric_limits<ssize_t>::max();
    const RangeCase cases[] = {
        {"bytes=0-99", {{0, 99}}},
        {"bytes=100-", {{100, -1}}},
        {"bytes=-500", {{-1, 500}}},
        {" Bytes = 1-2 , 5-6", {{1, 2}, {5, 6}}},
        {"bytes=0-99999999999999999999", {{0, kHuge}}},
        {"bytes=99999999999999999999-", {{kHuge, -1}}},
        {"bytes=-99999999999999999999", {{-1, kHuge}}},
        {"items=0-5", {}},
        {"bytes=5-2", {}},
        {"bytes=a-b", {}},
        {"bytes=1-2,", {}},
        {"bytes=", {}},
        {"bytes 0-5", {}},
        {"", {}},
    };
    for (const RangeCase &c : cases)
        EXPECT_EQ(musicd::parseByteRanges(c.value), c.ranges) << c.value;

    std::string many = "bytes=0-0";
    for (int i = 1; i < 40; ++i)
        many += "," + std::to_string(i) + "-" + std::to_string(i);
    EXPECT_TRUE(musicd::parseByteRanges(many).empty());
}

} // namespace
