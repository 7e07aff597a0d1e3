// The request measuring and Range reading of velmor-musicd's server, as
// pure functions over received bytes.
#include "musicd/RequestHead.h"

#include <gtest/gtest.h>

using musicd::ByteRange;
using musicd::RequestExtent;

namespace {

TEST(RequestHead, RequestsAreMeasuredAsTheyArrive)
{
    const musicd::RequestLimits limits;
    const std::string two = "GET /a HTTP/1.1\r\nHost: x\r\n\r\n"
                            "POST /b HTTP/1.1\r\ncontent-length: 3\r\n\r\nabc";
    // Every cut of the first request short of its blank line is incomplete.
    for (size_t cut = 0; cut < 28; ++cut)
        EXPECT_EQ(musicd::measureRequest(std::string_view(two).substr(0, cut), limits).state,
                  RequestExtent::State::Incomplete)
            << cut;
    const RequestExtent first = musicd::measureRequest(two, limits);
    EXPECT_EQ(first.state, RequestExtent::State::Complete);
    EXPECT_EQ(first.headBytes, 28u);
    EXPECT_EQ(first.bodyBytes, 0u);

    const std::string_view second = std::string_view(two).substr(28);
    EXPECT_EQ(musicd::measureRequest(second.substr(0, second.size() - 1), limits).state,
              RequestExtent::State::Incomplete);
    const RequestExtent whole = musicd::measureRequest(second, limits);
    EXPECT_EQ(whole.state, RequestExtent::State::Complete);
    EXPECT_EQ(whole.headBytes + whole.bodyBytes, second.size());

    // A bare LF line does not end the head, as the library skips it too.
    EXPECT_EQ(musicd::measureRequest("GET / HTTP/1.1\r\nA: b\n\n", limits).state,
              RequestExtent::State::Incomplete);
}

TEST(RequestHead, HeadersAreFoundAndRemovedWithoutTouchingTheRest)
{
    std::string bytes = "GET /a HTTP/1.1\r\nRange: bytes=0-1\r\nHost: x\r\nrange: again\r\n\r\n"
                        "GET /next HTTP/1.1\r\nRange: kept\r\n\r\n";
    const size_t head = musicd::measureRequest(bytes, {}).headBytes;
    bool found = false;
    EXPECT_EQ(musicd::headerValue(std::string_view(bytes).substr(0, head), "RANGE", &found),
              "bytes=0-1");
    EXPECT_TRUE(found);
    musicd::headerValue("GET / HTTP/1.1\r\n\r\n", "Range", &found);
    EXPECT_FALSE(found);

    const size_t removed = musicd::removeHeader(bytes, head, "Range");
    EXPECT_EQ(removed, 32u);
    EXPECT_EQ(bytes, "GET /a HTTP/1.1\r\nHost: x\r\n\r\nGET /next HTTP/1.1\r\nRange: kept\r\n\r\n");
}

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
