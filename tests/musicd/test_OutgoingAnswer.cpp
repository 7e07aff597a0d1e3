// An answer written to a socket pair without blocking: the bytes arrive
// whole and in order whatever the body's length against the chunk size,
// memory stays at one chunk while the reader stalls, and a provider that
// fails, stops short or writes too much never corrupts the stream.
#include "musicd/OutgoingAnswer.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using musicd::OutgoingAnswer;

namespace {

constexpr size_t kChunk = OutgoingAnswer::kBodyChunkBytes;

// Byte i of a test body: a pattern with no period near the chunk size, so a
// piece sent twice, skipped or shifted shows.
char bodyByte(size_t i)
{
    return static_cast<char>((i * 7 + i / 251) & 0xff);
}

std::string bodyBytes(size_t first, size_t count)
{
    std::string s(count, '\0');
    for (size_t i = 0; i < count; ++i)
        s[i] = bodyByte(first + i);
    return s;
}

struct Releases
{
    int complete = 0;
    int failed = 0;
};

// A provider of the pattern that writes at most `piece` bytes per call, in
// two writes when it can, as real providers may.
httplib::ContentProvider patternProvider(size_t piece = kChunk)
{
    return [piece](size_t offset, size_t length, httplib::DataSink &sink) {
        const std::string bytes = bodyBytes(offset, std::min(length, piece));
        const size_t half = bytes.size() / 2;
        return sink.write(bytes.data(), half) &&
               sink.write(bytes.data() + half, bytes.size() - half);
    };
}

httplib::ContentProviderResourceReleaser countingReleaser(Releases &r)
{
    return [&r](bool complete) { ++(complete ? r.complete : r.failed); };
}

class SocketPair : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
        int small = 16 * 1024;
        setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof(small));
        setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
    }
    void TearDown() override
    {
        for (int fd : fds) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    // Writes the answer as a loop would (waiting for the socket to drain)
    // while the other end reads everything; the bytes read.
    std::string sendAll(OutgoingAnswer &answer, size_t budget,
                        OutgoingAnswer::Progress *last = nullptr)
    {
        std::string got;
        std::thread reader([&] {
            char buffer[8192];
            for (;;) {
                pollfd p{fds[1], POLLIN, 0};
                if (::poll(&p, 1, 5000) <= 0)
                    return;
                const ssize_t n = ::read(fds[1], buffer, sizeof(buffer));
                if (n <= 0)
                    return;
                got.append(buffer, size_t(n));
            }
        });
        OutgoingAnswer::Progress progress;
        for (;;) {
            progress = answer.writeTo(fds[0], budget);
            if (progress == OutgoingAnswer::Progress::Blocked) {
                pollfd p{fds[0], POLLOUT, 0};
                ::poll(&p, 1, 5000);
            } else if (progress != OutgoingAnswer::Progress::Yielded) {
                break;
            }
        }
        ::shutdown(fds[0], SHUT_WR);
        reader.join();
        if (last)
            *last = progress;
        return got;
    }

    int fds[2] = {-1, -1};
};

class BodyLengths : public SocketPair, public ::testing::WithParamInterface<size_t>
{
};

TEST_P(BodyLengths, HeadAndBodyArriveWholeAndInOrder)
{
    const size_t length = GetParam();
    Releases releases;
    OutgoingAnswer answer;
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
    ASSERT_TRUE(answer.append(head, 1 << 20));
    answer.setBody(patternProvider(), length, countingReleaser(releases));
    EXPECT_TRUE(answer.pending());
    // A budget smaller than a chunk makes the writer yield between chunks.
    OutgoingAnswer::Progress last;
    const std::string got = sendAll(answer, kChunk / 3, &last);
    EXPECT_EQ(last, OutgoingAnswer::Progress::Done);
    ASSERT_EQ(got.size(), head.size() + length);
    EXPECT_EQ(got.substr(0, head.size()), head);
    EXPECT_TRUE(got.substr(head.size()) == bodyBytes(0, length)) << "body differs";
    EXPECT_FALSE(answer.pending());
    EXPECT_EQ(answer.bufferedBytes(), 0u);
    EXPECT_EQ(releases.complete, 1);
    EXPECT_EQ(releases.failed, 0);
}

INSTANTIATE_TEST_SUITE_P(AroundTheChunkSize, BodyLengths,
                         ::testing::Values(size_t(0), size_t(1), kChunk - 1, kChunk, kChunk + 1,
                                           3 * kChunk + 5, size_t(1) << 20));

// The reader takes nothing: the writer blocks with at most a chunk held,
// and dropping the answer tells the provider's owner it did not finish.
TEST_F(SocketPair, StalledReaderHoldsAtMostOneChunk)
{
    Releases releases;
    {
        OutgoingAnswer answer;
        answer.setBody(patternProvider(), size_t(64) << 20, countingReleaser(releases));
        OutgoingAnswer::Progress progress;
        size_t total = 0;
        do {
            size_t sent = 0;
            progress = answer.writeTo(fds[0], size_t(1) << 20, &sent);
            total += sent;
        } while (progress == OutgoingAnswer::Progress::Yielded);
        EXPECT_EQ(progress, OutgoingAnswer::Progress::Blocked);
        EXPECT_GT(total, 0u);
        EXPECT_LT(total, size_t(64) << 20);
        EXPECT_TRUE(answer.pending());
        EXPECT_LE(answer.bufferedBytes(), 2 * kChunk);
        EXPECT_EQ(releases.failed + releases.complete, 0);
    }
    EXPECT_EQ(releases.failed, 1);
    EXPECT_EQ(releases.complete, 0);
}

struct FaultyProvider
{
    const char *what;
    httplib::ContentProvider provider;
    size_t length;
    bool completes; // else the stream ends short and the connection is dropped
};

TEST_F(SocketPair, ProvidersThatMisbehaveNeverCorruptTheStream)
{
    const FaultyProvider cases[] = {
        {"refuses at once", [](size_t, size_t, httplib::DataSink &) { return false; }, 100, false},
        {"gives nothing", [](size_t, size_t, httplib::DataSink &) { return true; }, 100, false},
        {"throws",
         [](size_t, size_t, httplib::DataSink &) -> bool { throw std::runtime_error("x"); }, 100,
         false},
        {"ends early (file shrank)",
         [](size_t offset, size_t length, httplib::DataSink &sink) {
             if (offset >= kChunk)
                 return false;
             const std::string bytes = bodyBytes(offset, std::min(length, kChunk - offset));
             return sink.write(bytes.data(), bytes.size());
         },
         3 * kChunk, false},
        {"writes past what was asked",
         [](size_t offset, size_t, httplib::DataSink &sink) {
             const std::string bytes = bodyBytes(offset, 3 * kChunk);
             return sink.write(bytes.data(), bytes.size());
         },
         kChunk + 10, true},
    };
    for (const FaultyProvider &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        Releases releases;
        OutgoingAnswer answer;
        answer.setBody(c.provider, c.length, countingReleaser(releases));
        OutgoingAnswer::Progress last;
        const std::string got = sendAll(answer, size_t(1) << 20, &last);
        EXPECT_EQ(last,
                  c.completes ? OutgoingAnswer::Progress::Done : OutgoingAnswer::Progress::Failed);
        // Never a byte that is not the body's, never more than announced.
        EXPECT_TRUE(got == bodyBytes(0, got.size())) << got.size() << " bytes arrived";
        EXPECT_EQ(got.size() == c.length, c.completes) << got.size() << " bytes arrived";
        answer.clear();
        EXPECT_EQ(releases.complete, c.completes ? 1 : 0);
        EXPECT_EQ(releases.failed, c.completes ? 0 : 1);
    }
}

TEST_F(SocketPair, AppendKeepsToItsLimitAndAClosedPeerFails)
{
    OutgoingAnswer answer;
    EXPECT_TRUE(answer.append(std::string(100, 'a'), 150));
    EXPECT_FALSE(answer.append(std::string(51, 'b'), 150));
    EXPECT_TRUE(answer.append(std::string(50, 'c'), 150));
    ::close(fds[1]);
    fds[1] = -1;
    EXPECT_EQ(answer.writeTo(fds[0], 1 << 20), OutgoingAnswer::Progress::Failed);
}

} // namespace
