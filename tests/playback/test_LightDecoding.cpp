// The light decoding path without a player: the WAV parser against good
// and malformed headers, the first-bytes sniffer, the decoders on real
// encoder output, and the HTTP reader against a loopback server that
// drops, ignores ranges, redirects, chunks and stalls.
#include "playback/decoders/Mpg123Decoder.h"
#include "playback/decoders/SndfileDecoder.h"
#include "playback/decoders/StreamSniffer.h"
#include "playback/decoders/WavDecoder.h"
#include "playback/libraries/Mpg123Library.h"
#include "playback/libraries/SndfileLibrary.h"
#include "playback/sources/ByteReader.h"
#include "playback/sources/FileByteSource.h"
#include "playback/sources/HttpByteSource.h"
#include "playback/sources/ReadAheadBuffer.h"
#include "tests/common/ScriptedServer.h"
#include "tests/common/TestLibrary.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// Bytes in memory, read in pieces of at most `piece` bytes (decoders must
// cope with short reads).
class MemoryReader : public ByteReader
{
public:
    explicit MemoryReader(QByteArray bytes, qint64 piece = 1 << 20)
        : m_bytes(std::move(bytes)), m_piece(piece)
    {
    }
    qint64 read(char *data, qint64 max) override
    {
        const qint64 n = std::min({max, m_piece, qint64(m_bytes.size()) - m_position});
        if (n <= 0)
            return 0;
        std::copy_n(m_bytes.constData() + m_position, n, data);
        m_position += n;
        return n;
    }
    bool seek(qint64 offset) override
    {
        if (offset < 0 || offset > m_bytes.size())
            return false;
        m_position = offset;
        return true;
    }
    qint64 tell() const override { return m_position; }
    qint64 size() const override { return m_bytes.size(); }
    qint64 available() const override { return m_bytes.size() - m_position; }

private:
    QByteArray m_bytes;
    qint64 m_piece;
    qint64 m_position = 0;
};

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

QByteArray le16(quint16 v)
{
    QByteArray b(2, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

// A WAVE file; every field can be spoiled by the caller.
struct WavFields
{
    int format = 1;
    int channels = 2;
    int rate = 8000;
    int bits = 16;
    int blockAlign = -1; // -1: right for the above
    quint32 fmtSize = 16;
    quint32 dataSize = 0xFFFFFFFE; // 0xFFFFFFFE: right for the data
    QByteArray data;
    QByteArray extraChunk; // placed between "fmt " and "data"
    bool fmt = true;

    QByteArray bytes() const
    {
        const int align = blockAlign >= 0 ? blockAlign : channels * bits / 8;
        QByteArray fmtBody = le16(quint16(format)) + le16(quint16(channels)) + le32(quint32(rate)) +
                             le32(quint32(rate * align)) + le16(quint16(align)) +
                             le16(quint16(bits));
        fmtBody.resize(std::max<qsizetype>(fmtBody.size(), fmtSize), '\0');
        QByteArray body = "WAVE";
        if (fmt)
            body += "fmt " + le32(fmtSize) + fmtBody.left(fmtSize);
        body += extraChunk;
        body += "data" + le32(dataSize == 0xFFFFFFFE ? quint32(data.size()) : dataSize) + data;
        return "RIFF" + le32(quint32(body.size())) + body;
    }
};

std::vector<int16_t> decodeAll(StreamDecoder &decoder)
{
    std::vector<int16_t> all;
    std::vector<int16_t> part(1000 * 2);
    for (int n; (n = decoder.read(part.data(), 1000)) > 0;)
        all.insert(all.end(), part.begin(), part.begin() + n * decoder.channels());
    return all;
}

TEST(WavDecoderTest, EverySampleFormatDecodesToTheSameSixteenBits)
{
    // One stereo frame, left 0.5 and right -0.25 of full scale, in each
    // format a WAV holds it in.
    struct Case
    {
        const char *name;
        int format;
        int bits;
        QByteArray frame;
    };
    const auto f32 = [](float v) {
        quint32 u;
        std::memcpy(&u, &v, 4);
        return le32(u);
    };
    const Case cases[] = {
        {"8-bit", 1, 8, QByteArray("\xC0\x60", 2)},
        {"16-bit", 1, 16, le16(0x4000) + le16(0xE000)},
        {"24-bit", 1, 24, QByteArray("\x00\x00\x40\x00\x00\xE0", 6)},
        {"32-bit", 1, 32, le32(0x40000000) + le32(0xE0000000)},
        {"float", 3, 32, f32(0.5f) + f32(-0.25f)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        WavFields wav;
        wav.format = c.format;
        wav.bits = c.bits;
        wav.data = c.frame.repeated(3);
        MemoryReader input(wav.bytes(), 5); // short reads all through
        WavDecoder decoder;
        ASSERT_TRUE(decoder.open(input));
        EXPECT_EQ(decoder.rate(), 8000);
        EXPECT_EQ(decoder.frames(), 3);
        const std::vector<int16_t> samples = decodeAll(decoder);
        ASSERT_EQ(samples.size(), 6u);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(samples[i * 2], 16384, 1);
            EXPECT_NEAR(samples[i * 2 + 1], -8192, 1);
        }
    }
}

TEST(WavDecoderTest, MalformedHeadersAreRefusedOrCutToWhatIsThere)
{
    const QByteArray tenFrames(10 * 4, '\x01');
    struct Case
    {
        const char *name;
        std::function<void(WavFields &)> spoil;
        qint64 frames; // -2: refused
    };
    const Case cases[] = {
        {"good", [](WavFields &) {}, 10},
        {"zero channels", [](WavFields &s) { s.channels = 0; }, -2},
        {"huge channel count", [](WavFields &s) { s.channels = 60000; }, -2},
        {"zero rate", [](WavFields &s) { s.rate = 0; }, -2},
        {"12-bit samples", [](WavFields &s) { s.bits = 12; }, -2},
        {"64-bit float", [](WavFields &s) { s.format = 3, s.bits = 64; }, -2},
        {"A-law", [](WavFields &s) { s.format = 6, s.bits = 8; }, -2},
        {"block size lies", [](WavFields &s) { s.blockAlign = 3; }, -2},
        {"format chunk too short", [](WavFields &s) { s.fmtSize = 8; }, -2},
        {"no format chunk", [](WavFields &s) { s.fmt = false; }, -2},
        {"chunk size past the end",
         [](WavFields &s) { s.extraChunk = "LIST" + le32(0xFFFFFFF0) + "abcd"; }, -2},
        {"odd chunk padded", [](WavFields &s) { s.extraChunk = "note" + le32(3) + "abc" + '\0'; },
         10},
        {"data size huge", [](WavFields &s) { s.dataSize = 0x7FFFFFF0; }, 10},
        {"data size unknown", [](WavFields &s) { s.dataSize = 0xFFFFFFFF; }, 10},
        {"half a frame at the end", [](WavFields &s) { s.data += "\x05\x06"; }, 10},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        WavFields wav;
        wav.data = tenFrames;
        c.spoil(wav);
        MemoryReader input(wav.bytes());
        WavDecoder decoder;
        const bool opened = decoder.open(input);
        if (c.frames == -2) {
            EXPECT_FALSE(opened);
            continue;
        }
        ASSERT_TRUE(opened);
        EXPECT_EQ(decodeAll(decoder).size(), size_t(c.frames) * 2);
    }
    // Cut anywhere inside the header: refused, never read past the end.
    WavFields wav;
    wav.data = tenFrames;
    const QByteArray whole = wav.bytes();
    for (int cut = 0; cut < 44; ++cut) {
        MemoryReader input(whole.left(cut));
        WavDecoder decoder;
        EXPECT_FALSE(decoder.open(input)) << cut;
    }
}

TEST(WavDecoderTest, SeeksToTheFrame)
{
    const QByteArray wav = TestLibrary::toneWav(1.0, 440);
    MemoryReader input(wav);
    WavDecoder decoder;
    ASSERT_TRUE(decoder.open(input));
    const std::vector<int16_t> all = decodeAll(decoder);
    ASSERT_EQ(all.size(), 22050u);
    ASSERT_TRUE(decoder.seek(12345));
    int16_t sample[4];
    ASSERT_EQ(decoder.read(sample, 4), 4);
    EXPECT_TRUE(std::equal(sample, sample + 4, all.begin() + 12345));
}

TEST(StreamSnifferTest, FirstBytesChooseTheDecoder)
{
    using Kind = StreamSniffer::Kind;
    const std::pair<QByteArray, Kind> cases[] = {
        {QByteArray("RIFF\x24\x00\x00\x00WAVE", 12), Kind::Wav},
        {QByteArray("RIFF\x24\x00\x00\x00AVI ", 12), Kind::Other},
        {"ID3\x04", Kind::Mpeg},
        {QByteArray("\xFF\xFB\x90\x64", 4), Kind::Mpeg},  // MPEG-1 layer III
        {QByteArray("\xFF\xF3\x40\xC4", 4), Kind::Mpeg},  // MPEG-2 layer III
        {QByteArray("\xFF\xF1\x50\x80", 4), Kind::Other}, // AAC in ADTS
        {QByteArray("\xFF\xE9\x50\x80", 4), Kind::Other}, // reserved version
        {"fLaC\x00", Kind::Sndfile},
        {"OggS\x00\x02", Kind::Sndfile},
        {QByteArray("\x00\x00\x00\x20"
                    "ftypM4A ",
                    12),
         Kind::Other},
        {"<html>", Kind::Other},
        {"", Kind::Other},
    };
    for (const auto &[head, kind] : cases)
        EXPECT_EQ(int(StreamSniffer::kindOf(head)), int(kind)) << head.toHex().toStdString();
}

// The tone encoded by each encoder, decoded by the light decoder for it.
TEST(LibraryDecoderTest, EncodedTonesDecodeWholeAndSeekToTheSample)
{
    QTemporaryDir dir;
    const QByteArray wav = TestLibrary::toneWav(2.0, 440);
    struct Case
    {
        const char *suffix;
        int rate; // 0: the decoder's choice (Opus decodes at one of its own)
    };
    for (const Case &c :
         {Case{"mp3", 22050}, Case{"flac", 22050}, Case{"ogg", 22050}, Case{"opus", 0}}) {
        SCOPED_TRACE(c.suffix);
        const QString file = dir.filePath(QStringLiteral("tone.") + QLatin1String(c.suffix));
        QString error;
        ASSERT_TRUE(TestLibrary::encode(wav, file, &error)) << error.toStdString();
        QFile in(file);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        MemoryReader input(in.readAll(), 4096);
        std::unique_ptr<StreamDecoder> decoder;
        if (QLatin1String(c.suffix) == QLatin1String("mp3")) {
            ASSERT_NE(Mpg123Library::instance(), nullptr);
            decoder = std::make_unique<Mpg123Decoder>(*Mpg123Library::instance());
        } else {
            ASSERT_NE(SndfileLibrary::instance(), nullptr);
            decoder = std::make_unique<SndfileDecoder>(*SndfileLibrary::instance());
        }
        ASSERT_TRUE(decoder->open(input));
        const int rate = decoder->rate();
        if (c.rate) {
            EXPECT_EQ(rate, c.rate);
        }
        EXPECT_EQ(decoder->channels(), 1);
        const std::vector<int16_t> all = decodeAll(*decoder);
        // Gapless: as many samples as went in, give or take a frame's
        // rounding of the lossy encoders.
        EXPECT_NEAR(double(all.size()), 2.0 * rate, rate * 0.01);
        if (decoder->frames() > 0) {
            EXPECT_EQ(decoder->frames(), qint64(all.size()));
        }
        // A seek gives the very samples a straight decode gave there.
        const qint64 target = qint64(1.3 * rate);
        ASSERT_TRUE(decoder->seek(target));
        std::vector<int16_t> after(64);
        ASSERT_EQ(decoder->read(after.data(), 64), 64);
        for (int i = 0; i < 64; ++i)
            EXPECT_NEAR(after[i], all[size_t(target) + i], 2) << i;
        // And back to the start.
        ASSERT_TRUE(decoder->seek(10));
        ASSERT_EQ(decoder->read(after.data(), 64), 64);
        for (int i = 0; i < 64; ++i)
            EXPECT_NEAR(after[i], all[size_t(10) + i], 2) << i;
    }
}

// The first byte a request asks for ("Range: bytes=N-"), 0 without one.
size_t rangeStart(const std::string &request)
{
    const size_t at = request.find("Range: bytes=");
    return at == std::string::npos ? 0 : std::stoul(request.substr(at + 13));
}

// The answer a server that honours ranges gives.
ScriptedServer::Answer partOf(const std::string &body, const std::string &request)
{
    const size_t from = std::min(rangeStart(request), body.size());
    ScriptedServer::Answer answer;
    answer.head =
        "HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(body.size() - from) +
        "\r\nContent-Range: bytes " + std::to_string(from) + "-" + std::to_string(body.size() - 1) +
        "/" + std::to_string(body.size());
    answer.body = body.substr(from);
    return answer;
}

TEST(ReadAheadBufferTest, ReadsLittleUntilToldHowMuchAndThenSoMuch)
{
    // A fast server must not fill memory while the stream is recognised:
    // only the opening capacity, then what the decoder asks for, which may
    // be more or less, within its bounds.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bytes"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(12 * 1024 * 1024, 'b'));
    file.close();
    std::atomic<bool> abort{false};
    auto source = std::make_unique<FileByteSource>(QFile::encodeName(path));
    ASSERT_TRUE(source->open(0));
    ReadAheadBuffer input(std::move(source), abort, nullptr);
    const auto settled = [&input](qint64 capacity) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (input.ahead() < capacity && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return input.ahead();
    };
    struct Step
    {
        qint64 asked;
        qint64 held; // what a full read-ahead then holds at least
    } steps[] = {
        {-1, ReadAheadBuffer::kOpeningCapacity},
        {3 * 1024 * 1024, 3 * 1024 * 1024},
        {1, ReadAheadLimits::kRefillBytes}, // never too little to play on
        {2 * 1024 * 1024, 2 * 1024 * 1024},
    };
    char buffer[64 * 1024];
    for (const Step &step : steps) {
        SCOPED_TRACE(step.asked);
        if (step.asked >= 0)
            input.setCapacity(step.asked);
        // A smaller one: taken down just below its mark, so the reader
        // reads on (it adds nothing before that).
        qint64 excess =
            input.ahead() - qint64(double(step.held) * ReadAheadLimits::kReadOnBelow) + 1;
        while (excess > 0) {
            const qint64 n = input.read(buffer, std::min<qint64>(excess, sizeof buffer));
            ASSERT_GT(n, 0);
            excess -= n;
        }
        const qint64 ahead = settled(step.held);
        EXPECT_GE(ahead, step.held);
        EXPECT_LE(ahead, step.held + 64 * 1024);
    }
}

TEST(ReadAheadBufferTest, HoldsNoMoreThanItsCapacityAndGivesEveryByteInOrder)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bytes"));
    QByteArray bytes(3 * 1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 7919) >> 5);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    std::atomic<bool> abort{false};
    auto source = std::make_unique<FileByteSource>(QFile::encodeName(path));
    ASSERT_TRUE(source->open(0));
    const qint64 capacity = 512 * 1024;
    ReadAheadBuffer input(std::move(source), abort, nullptr, capacity);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (input.ahead() < capacity && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // Full: the reader stopped (one read's worth over at most).
    EXPECT_GE(input.ahead(), capacity);
    EXPECT_LE(input.ahead(), capacity + 64 * 1024);
    QByteArray read;
    char buffer[7777];
    for (qint64 n; (n = input.read(buffer, sizeof buffer)) > 0;)
        read.append(buffer, n);
    EXPECT_TRUE(read == bytes);
    EXPECT_LE(input.peakHeld(), capacity + ReadAheadBuffer::kKeepBehind + 5 * 64 * 1024);
    // Back a little (kept behind) and far back (read again): the same bytes.
    for (const qint64 back : {qint64(bytes.size() - 1000), qint64(12345)}) {
        ASSERT_TRUE(input.seek(back));
        ASSERT_EQ(input.read(buffer, 100), 100);
        EXPECT_EQ(QByteArray(buffer, 100), bytes.mid(back, 100)) << back;
    }
}

class HttpReadingTest : public ::testing::Test
{
protected:
    // The tone as a WAV, served by the scripts below.
    const std::string wav = TestLibrary::toneWav(3.0, 440).toStdString();
    std::atomic<bool> abort{false};

    std::unique_ptr<ReadAheadBuffer> open(const QByteArray &url)
    {
        auto source = std::make_unique<HttpByteSource>(url, abort);
        if (!source->open(0))
            return nullptr;
        return std::make_unique<ReadAheadBuffer>(std::move(source), abort, nullptr);
    }
};

TEST_F(HttpReadingTest, ADroppedConnectionResumesWithARangeAndLosesNoSample)
{
    // The first connection closes a third of the way in, the second after
    // two thirds; the third gives the rest.
    ScriptedServer server([this](const std::string &request, int connection) {
        ScriptedServer::Answer answer = partOf(wav, request);
        if (connection < 2)
            answer.sendBytes = wav.size() / 3 - rangeStart(request) / 2;
        return answer;
    });
    std::unique_ptr<ReadAheadBuffer> input = open(server.url("/tone.wav"));
    ASSERT_TRUE(input);
    WavDecoder decoder;
    ASSERT_TRUE(decoder.open(*input));
    const std::vector<int16_t> samples = decodeAll(decoder);
    MemoryReader whole(QByteArray::fromStdString(wav));
    WavDecoder reference;
    ASSERT_TRUE(reference.open(whole));
    EXPECT_EQ(samples, decodeAll(reference));
    const std::vector<std::string> requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(rangeStart(requests[1]), wav.size() / 3);
    EXPECT_GT(rangeStart(requests[2]), rangeStart(requests[1]));
    EXPECT_NE(requests[0].find("User-Agent: " + HttpConnection::userAgent().toStdString()),
              std::string::npos);
}

TEST_F(HttpReadingTest, AServerWithoutRangesIsReadOnToTheByteAskedFor)
{
    // Always the whole body from its first byte, whatever was asked for.
    ScriptedServer server([this](const std::string &, int) {
        return ScriptedServer::Answer{
            "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(wav.size()), wav};
    });
    HttpByteSource source(server.url("/tone.wav"), abort);
    ASSERT_TRUE(source.open(100000));
    EXPECT_FALSE(source.rangesHonoured());
    EXPECT_EQ(source.size(), qint64(wav.size()));
    char byte[3];
    ASSERT_EQ(source.read(byte, 3), 3);
    EXPECT_EQ(std::string(byte, 3), wav.substr(100000, 3));

    // A decoder's seek far ahead lands on the very samples.
    std::unique_ptr<ReadAheadBuffer> input = open(server.url("/tone.wav"));
    ASSERT_TRUE(input);
    WavDecoder decoder;
    ASSERT_TRUE(decoder.open(*input));
    ASSERT_TRUE(decoder.seek(50000));
    int16_t sample[8];
    ASSERT_EQ(decoder.read(sample, 8), 8);
    MemoryReader whole(QByteArray::fromStdString(wav));
    WavDecoder reference;
    ASSERT_TRUE(reference.open(whole));
    ASSERT_TRUE(reference.seek(50000));
    int16_t expected[8];
    ASSERT_EQ(reference.read(expected, 8), 8);
    EXPECT_TRUE(std::equal(sample, sample + 8, expected));
}

TEST_F(HttpReadingTest, RedirectsAndChunkedBodiesAreFollowed)
{
    // /hopN redirects to /hopN-1 (relative, then absolute); /hop0 answers
    // in chunks of odd sizes.
    ScriptedServer *self = nullptr;
    ScriptedServer server([this, &self](const std::string &request, int) {
        const size_t hop = request.find("GET /hop");
        const int n = hop == std::string::npos ? -1 : request[hop + 8] - '0';
        if (n > 0) {
            const std::string next = "/hop" + std::to_string(n - 1);
            const std::string location = n % 2 ? next : self->url(next.c_str()).toStdString();
            return ScriptedServer::Answer{"HTTP/1.1 302 Found\r\nLocation: " + location, ""};
        }
        std::string chunked;
        for (size_t at = 0; at < wav.size();) {
            const size_t size = std::min<size_t>(wav.size() - at, 777 + at % 3000);
            char length[32];
            std::snprintf(length, sizeof length, "%zx\r\n", size);
            chunked += length + wav.substr(at, size) + "\r\n";
            at += size;
        }
        chunked += "0\r\n\r\n";
        return ScriptedServer::Answer{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked", chunked};
    });
    self = &server;
    for (int hops : {0, 1, 5}) {
        SCOPED_TRACE(hops);
        HttpByteSource source(server.url(("/hop" + std::to_string(hops)).c_str()), abort);
        ASSERT_TRUE(source.open(0));
        EXPECT_EQ(source.size(), -1); // a chunked body does not say
        std::string all;
        char buffer[5000];
        for (qint64 n; (n = source.read(buffer, sizeof buffer)) > 0;)
            all.append(buffer, size_t(n));
        EXPECT_EQ(all, wav);
    }
    // One hop too many.
    HttpByteSource tooFar(server.url("/hop6"), abort);
    EXPECT_FALSE(tooFar.open(0));
}

TEST_F(HttpReadingTest, AStalledServerLeavesTheReadAheadDryAndAbortEndsAtOnce)
{
    ScriptedServer server([this](const std::string &request, int) {
        ScriptedServer::Answer answer = partOf(wav, request);
        answer.sendBytes = 20000;
        answer.stallAfter = true;
        return answer;
    });
    std::unique_ptr<ReadAheadBuffer> input = open(server.url("/tone.wav"));
    ASSERT_TRUE(input);
    // What came is there to read; then nothing more, and no end either.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (input->ahead() < 20000 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(input->ahead(), 20000);
    EXPECT_FALSE(input->ended());
    // A read blocked on the stall returns once the playback aborts, long
    // before the server's time-out.
    std::vector<char> bytes(30000);
    EXPECT_EQ(input->read(bytes.data(), 30000), 20000);
    std::atomic<qint64> blocked{1};
    std::thread reader([&] { blocked = input->read(bytes.data(), 100); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto start = std::chrono::steady_clock::now();
    abort = true;
    reader.join();
    input.reset();
    EXPECT_EQ(blocked.load(), -1);
    // Generous: only a hang (the 10 s time-out waited for) fails this.
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(HttpByteSource::kReadTimeoutMs / 2));
}

TEST_F(HttpReadingTest, ErrorAnswersAndDeadPortsDoNotOpen)
{
    ScriptedServer server([](const std::string &request, int) {
        if (request.find("/https") != std::string::npos)
            return ScriptedServer::Answer{"HTTP/1.1 301 Moved\r\nLocation: https://127.0.0.1/x.mp3",
                                          ""};
        return ScriptedServer::Answer{"HTTP/1.1 404 Not Found\r\nContent-Length: 4", "gone"};
    });
    HttpByteSource missing(server.url("/none.wav"), abort);
    EXPECT_FALSE(missing.open(0));
    EXPECT_FALSE(missing.redirectedAway());
    HttpByteSource secure(server.url("/https"), abort);
    EXPECT_FALSE(secure.open(0));
    EXPECT_TRUE(secure.redirectedAway()); // another reader may go there
    HttpByteSource dead("http://127.0.0.1:1/a.wav", abort);
    EXPECT_FALSE(dead.open(0));
}

} // namespace
