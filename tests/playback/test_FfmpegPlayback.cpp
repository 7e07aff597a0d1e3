// The FFmpeg path's parts without a player, against what a hostile server or
// file sends: the frame converter over every change of rate, layout and
// sample format; the packet read-ahead over packet sizes; a chained stream
// that changes its format mid-stream, played to an output that records what
// it was given; playlists naming local files or FIFOs; an https link.
#include "playback/decoders/FfmpegSampleSource.h"
#include "playback/decoders/FrameConverter.h"
#include "playback/decoders/PacketQueue.h"
#include "playback/engines/TrackPlayback.h"
#include "playback/libraries/FfmpegLibrary.h"
#include "playback/output/AudioSink.h"
#include "playback/sources/ByteReader.h"
#include "playback/sources/ReadAheadLimits.h"
#include "tests/common/Sanitizers.h"
#include "tests/common/TestCertificate.h"
#include "tests/common/TestHttpServer.h"
#include "tests/common/TestLibrary.h"
#include "tests/hardening/ProcessMemory.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <gtest/gtest.h>
#include <httplib.h>
#include <malloc.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>

// Readable QString values in failure messages.
void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

using namespace std::chrono_literals;

const FfmpegLibrary &ffmpeg()
{
    const FfmpegLibrary *api = FfmpegLibrary::instance();
    EXPECT_NE(api, nullptr);
    return *api;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// ---------------------------------------------------------------------------
// The converter

struct FrameShape
{
    AVSampleFormat format;
    int rate;
    int channels;
    bool unnamed = false; // the decoder leaves the layout unspecified
};

// One frame of `frames` samples, every channel at a quarter of full scale.
class TestFrame
{
public:
    TestFrame(const FrameShape &shape, int frames) : m_frame{}
    {
        const FfmpegLibrary &api = ffmpeg();
        if (shape.unnamed) {
            m_frame.ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
            m_frame.ch_layout.nb_channels = shape.channels;
        } else {
            api.channel_layout_default(&m_frame.ch_layout, shape.channels);
        }
        m_frame.format = shape.format;
        m_frame.sample_rate = shape.rate;
        m_frame.nb_samples = frames;
        const bool planar = av_sample_fmt_is_planar(shape.format);
        const int width = av_get_bytes_per_sample(shape.format);
        const int planes = planar ? shape.channels : 1;
        const int perPlane = frames * (planar ? 1 : shape.channels);
        m_planes.assign(size_t(planes), std::vector<uint8_t>(size_t(perPlane) * width));
        for (std::vector<uint8_t> &plane : m_planes) {
            for (int i = 0; i < perPlane; ++i)
                put(shape.format, plane.data() + size_t(i) * width);
            m_pointers.push_back(plane.data());
        }
        m_frame.extended_data = m_pointers.data();
    }
    ~TestFrame() { ffmpeg().channel_layout_uninit(&m_frame.ch_layout); }
    const AVFrame &frame() const { return m_frame; }

private:
    static void put(AVSampleFormat format, uint8_t *to)
    {
        switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_U8:
            *to = 128 + 32;
            break;
        case AV_SAMPLE_FMT_S16:
            *reinterpret_cast<int16_t *>(to) = 8192;
            break;
        case AV_SAMPLE_FMT_S32:
            *reinterpret_cast<int32_t *>(to) = 8192 << 16;
            break;
        case AV_SAMPLE_FMT_FLT:
            *reinterpret_cast<float *>(to) = 0.25f;
            break;
        default:
            *reinterpret_cast<double *>(to) = 0.25;
            break;
        }
    }

    AVFrame m_frame;
    std::vector<std::vector<uint8_t>> m_planes;
    std::vector<uint8_t *> m_pointers;
};

TEST(FrameConverterTest, FollowsEveryChangeOfRateLayoutAndSampleFormat)
{
    struct Step
    {
        FrameShape shape;
        int frames;
        bool converts;
    };
    // One stream whose every frame may differ from the one before, as the
    // parts of a chained stream do.
    const Step steps[] = {
        {{AV_SAMPLE_FMT_S16, 44100, 2}, 1024, true},
        {{AV_SAMPLE_FMT_FLTP, 22050, 1}, 512, true},
        {{AV_SAMPLE_FMT_S32P, 48000, 2}, 1, true},
        {{AV_SAMPLE_FMT_U8, 8000, 1}, 4096, true},
        {{AV_SAMPLE_FMT_FLT, 96000, 6}, 300, true},
        {{AV_SAMPLE_FMT_S16, 44100, 2, true}, 1024, true},
        {{AV_SAMPLE_FMT_DBLP, 44100, 16}, 64, true},
        {{AV_SAMPLE_FMT_S16, 44100, 2}, 0, false},
        {{AV_SAMPLE_FMT_FLTP, 44100, 33}, 64, false},
        {{AV_SAMPLE_FMT_S16, 2000000000, 1}, 64, true},
        {{AV_SAMPLE_FMT_S16, 44100, 2}, 1024, true},
    };
    FrameConverter converter(ffmpeg());
    std::vector<int16_t> samples;
    for (const Step &step : steps) {
        const FrameShape &shape = step.shape;
        SCOPED_TRACE(testing::Message()
                     << av_get_sample_fmt_name(shape.format) << ' ' << shape.rate << " Hz "
                     << shape.channels << " ch " << step.frames << " frames");
        TestFrame frame(shape, step.frames);
        ASSERT_EQ(converter.convert(frame.frame(), samples), step.converts);
        if (!step.converts) {
            EXPECT_TRUE(samples.empty());
            continue;
        }
        const int channels = std::min(shape.channels, 2);
        EXPECT_EQ(converter.rate(), shape.rate);
        EXPECT_EQ(converter.channels(), channels);
        ASSERT_EQ(samples.size(), size_t(step.frames) * channels);
        // Mono and stereo come through at the level they went in; more
        // channels are mixed down to a level of their own.
        if (shape.channels <= 2) {
            for (const int16_t sample : samples)
                ASSERT_NEAR(sample, 8192, 64);
        } else {
            EXPECT_GT(samples.front(), 1000);
        }
    }
}

// ---------------------------------------------------------------------------
// The packet read-ahead

// Bytes the C library's allocator hands out (this thread's arena and large
// blocks of their own).
qint64 heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
}

TEST(PacketQueueTest, AFullReadAheadHoldsNoMoreMemoryThanItsCapWhateverThePacketSize)
{
    if (sanitizers::kAddress)
        GTEST_SKIP() << "the address sanitizer's allocator has no heap to measure";
    const FfmpegLibrary &api = ffmpeg();
    const qint64 cap = ReadAheadLimits::kReadAheadBytes;
    struct Case
    {
        int payload;
        int sideData; // bytes of side data per packet, 0: none
    };
    // One-sample PCM blocks (2 bytes), an empty packet, MP3 and AAC frames,
    // a FLAC frame and a huge one, each with and without side data.
    const Case cases[] = {{0, 0},    {2, 0},     {2, 16},      {417, 0},     {417, 10},
                          {4096, 0}, {65536, 0}, {1 << 20, 0}, {1 << 20, 64}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.payload << " bytes, side data " << c.sideData);
        const qint64 before = heapInUse();
        qint64 packets = 0;
        {
            PacketQueue queue(api);
            // Without a true cost, tiny packets would pass the cap many
            // times over before the queue said it is full.
            // (The heap is looked at now and then: adding it up takes a while.)
            while (!queue.full() && (packets % 1024 != 0 || heapInUse() - before < 4 * cap)) {
                AVPacket *packet = api.packet_alloc();
                ASSERT_EQ(av_new_packet(packet, c.payload), 0);
                if (c.sideData > 0) {
                    ASSERT_NE(av_packet_new_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES,
                                                      size_t(c.sideData)),
                              nullptr);
                }
                packet->duration = 0; // as Matroska blocks without a duration
                queue.push(packet, 0, 1.0 / 48000);
                ++packets;
            }
            const qint64 held = heapInUse() - before;
            EXPECT_TRUE(queue.full());
            EXPECT_LE(held, cap + cap / 4) << packets << " packets";
            // It does not starve either: the cap is what is held.
            EXPECT_GE(held, cap / 2) << packets << " packets";
            EXPECT_GE(queue.cost(), held - cap / 16);
        }
        EXPECT_LE(heapInUse() - before, cap / 16); // everything freed
    }
}

// A Matroska file of `blocks` one-sample 16-bit PCM blocks without
// durations, as a hostile file would hold millions of.
QByteArray tinyBlockMatroska(int blocks)
{
    const auto element = [](QByteArray id, const QByteArray &payload) {
        QByteArray size(8, '\0');
        qToBigEndian<quint64>(quint64(payload.size()) | (quint64(1) << 56), size.data());
        return id + size + payload;
    };
    const auto uint = [&](QByteArray id, quint8 value) {
        return element(std::move(id), QByteArray(1, char(value)));
    };
    QByteArray rate(8, '\0');
    double hertz = 48000;
    quint64 bits;
    std::memcpy(&bits, &hertz, 8);
    qToBigEndian(bits, rate.data());
    const QByteArray header = element(
        "\x1a\x45\xdf\xa3", uint("\x42\x86", 1) + uint("\x42\xf7", 1) + uint("\x42\xf2", 4) +
                                uint("\x42\xf3", 8) + element("\x42\x82", "matroska") +
                                uint("\x42\x87", 4) + uint("\x42\x85", 2));
    const QByteArray audio = element("\xb5", rate) + uint("\x9f", 1) + uint("\x62\x64", 16);
    const QByteArray track =
        element("\xae", uint("\xd7", 1) + uint("\x73\xc5", 1) + uint("\x83", 2) +
                            element("\x86", "A_PCM/INT/LIT") + element("\xe1", audio));
    const QByteArray info = element("\x15\x49\xa9\x66", element("\x2a\xd7\xb1", "\x0f\x42\x40"));
    // SimpleBlock: track 1, relative time 0, a key frame, one sample.
    const QByteArray block("\xa3\x86\x81\x00\x00\x80\x10\x00", 8);
    QByteArray cluster = uint("\xe7", 0);
    cluster.reserve(cluster.size() + qsizetype(blocks) * block.size());
    for (int i = 0; i < blocks; ++i)
        cluster += block;
    // The segment and the cluster of unknown size, as a live writer sends.
    const QByteArray unknown("\x01\xff\xff\xff\xff\xff\xff\xff", 8);
    return header + "\x18\x53\x80\x67" + unknown + info + element("\x16\x54\xae\x6b", track) +
           "\x1f\x43\xb6\x75" + unknown + cluster;
}

TEST(FfmpegSampleSourceTest, TinyPacketsFillTheReadAheadByWhatTheyCost)
{
    if (sanitizers::kAddress)
        GTEST_SKIP() << "the address sanitizer's allocator has no resident size to measure";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tiny.mkv"));
    // 600,000 packets: about 280 MB if every one were read ahead.
    ASSERT_TRUE(writeFile(path, tinyBlockMatroska(600000)));
    const qint64 before = ProcessMemory::residentBytes();
    std::atomic<bool> abort{false};
    FfmpegSampleSource source(ffmpeg(), abort, [] {});
    QString reason;
    ASSERT_TRUE(source.open(QFile::encodeName(path), nullptr, reason)) << reason.toStdString();
    EXPECT_EQ(source.rate(), 48000);
    // The reader stops once the read-ahead is full: wait until the size
    // settles (or has clearly passed the cap).
    const qint64 limit = 4 * ReadAheadLimits::kReadAheadBytes;
    qint64 grown = 0;
    for (int still = 0; still < 10 && grown < limit;) {
        std::this_thread::sleep_for(100ms);
        const qint64 now = ProcessMemory::residentBytes() - before;
        still = now - grown < 64 * 1024 ? still + 1 : 0;
        grown = std::max(grown, now);
    }
    EXPECT_LT(grown, 2 * ReadAheadLimits::kReadAheadBytes);
    // And it plays: decoding takes the packets in order.
    std::vector<int16_t> samples;
    double seconds = 0;
    int decoded = 0;
    for (int i = 0; i < 1000 && source.decode(samples, seconds) == SampleSource::Step::Samples; ++i)
        decoded += int(samples.size());
    EXPECT_EQ(decoded, 1000);
}

// ---------------------------------------------------------------------------
// Whole playbacks against a recording output

// Takes everything at once and writes down each format it was opened for
// and how many frames came in it.
class RecordingSink : public AudioSink
{
public:
    struct Part
    {
        int rate;
        int channels;
        qint64 frames = 0;
    };
    explicit RecordingSink(std::shared_ptr<std::vector<Part>> parts) : m_parts(std::move(parts)) {}
    bool open(int rate, int channels) override
    {
        m_parts->push_back({rate, channels});
        return true;
    }
    bool write(const int16_t *, int frames) override
    {
        m_parts->back().frames += frames;
        return true;
    }
    double latency() override { return 0.0; }
    void flush() override {}
    void drain() override {}

private:
    std::shared_ptr<std::vector<Part>> m_parts;
};

// Plays `target` to its end (or failure) on a recording output.
struct PlaybackResult
{
    TrackPlayback::EventType last = TrackPlayback::EventType::Loaded;
    QString text;
    std::vector<RecordingSink::Part> parts;
};

PlaybackResult playToTheEnd(const QByteArray &target)
{
    auto parts = std::make_shared<std::vector<RecordingSink::Part>>();
    std::mutex mutex;
    std::condition_variable done;
    PlaybackResult result;
    bool finished = false;
    {
        TrackPlayback playback(std::make_unique<RecordingSink>(parts), target, 100,
                               [&](const TrackPlayback::Event &event) {
                                   using Type = TrackPlayback::EventType;
                                   if (event.type != Type::Ended && event.type != Type::Failed)
                                       return;
                                   std::lock_guard lock(mutex);
                                   result.last = event.type;
                                   result.text = event.text;
                                   finished = true;
                                   done.notify_all();
                               });
        std::unique_lock lock(mutex);
        EXPECT_TRUE(done.wait_for(lock, 30s, [&] { return finished; }));
    }
    result.parts = *parts;
    return result;
}

class FfmpegPlaybackTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        s_server = new TestHttpServer;
        QString error;
        ASSERT_TRUE(TestLibrary::encodeChainedOgg(
            kPartSeconds, s_dir->filePath(QStringLiteral("chained.ogg")), &error))
            << error.toStdString();
        ASSERT_TRUE(TestLibrary::encode(TestLibrary::toneWav(2.0, 440),
                                        s_dir->filePath(QStringLiteral("segment.mp3")), &error))
            << error.toStdString();
        httplib::Server &http = s_server->http();
        http.set_mount_point("/files", s_dir->path().toStdString());
        const std::string local =
            "file://" + s_dir->filePath(QStringLiteral("segment.mp3")).toStdString();
        http.Get("/to-file", [local](const httplib::Request &, httplib::Response &res) {
            res.set_redirect(local);
        });
        ASSERT_TRUE(s_server->start());
        s_certificate = new TestCertificate;
        ASSERT_TRUE(s_certificate->isValid()) << s_certificate->error().toStdString();
        s_secure = new TestHttpServer(s_certificate->certificateFile(), s_certificate->keyFile());
        s_secure->http().set_mount_point("/files", s_dir->path().toStdString());
        ASSERT_TRUE(s_secure->start());
    }
    static void TearDownTestSuite()
    {
        delete s_secure;
        delete s_certificate;
        delete s_server;
        delete s_dir;
    }
    static QByteArray link(const QString &path) { return (s_server->url() + path).toUtf8(); }

    static constexpr double kPartSeconds = 1.5;
    static QTemporaryDir *s_dir;
    static TestHttpServer *s_server;
    static TestCertificate *s_certificate;
    static TestHttpServer *s_secure; // the same files over https
};

QTemporaryDir *FfmpegPlaybackTest::s_dir = nullptr;
TestHttpServer *FfmpegPlaybackTest::s_server = nullptr;
TestCertificate *FfmpegPlaybackTest::s_certificate = nullptr;
TestHttpServer *FfmpegPlaybackTest::s_secure = nullptr;

// The link a Subsonic bridge hands out for an https server (its stream URL):
// read over TLS, it plays to its end.
TEST_F(FfmpegPlaybackTest, AnHttpsLinkPlaysToItsEnd)
{
    const PlaybackResult result =
        playToTheEnd((s_secure->url() + QStringLiteral("/files/segment.mp3")).toUtf8());
    EXPECT_EQ(result.last, TrackPlayback::EventType::Ended) << result.text.toStdString();
    double seconds = 0;
    for (const RecordingSink::Part &part : result.parts)
        seconds += double(part.frames) / part.rate;
    EXPECT_NEAR(seconds, 2.0, 0.15);
}

TEST_F(FfmpegPlaybackTest, AChainedStreamThatChangesItsFormatPlaysEachPartInItsOwn)
{
    const PlaybackResult result = playToTheEnd(link(QStringLiteral("/files/chained.ogg")));
    EXPECT_EQ(result.last, TrackPlayback::EventType::Ended) << result.text.toStdString();
    // The output is opened again for the second part, and each part plays
    // all its samples at its own rate: neither too fast nor too slow.
    ASSERT_EQ(result.parts.size(), 2u);
    const std::pair<int, int> formats[] = {{44100, 2}, {22050, 1}};
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(result.parts[i].rate, formats[i].first);
        EXPECT_EQ(result.parts[i].channels, formats[i].second);
        EXPECT_NEAR(double(result.parts[i].frames) / result.parts[i].rate, kPartSeconds, 0.1);
    }
}

TEST_F(FfmpegPlaybackTest, ALinkCannotMakeThePlayerReadLocalFiles)
{
    // A FIFO nobody writes to: opening it would block for ever.
    const QString fifo = s_dir->filePath(QStringLiteral("fifo.mp3"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString local = s_dir->filePath(QStringLiteral("segment.mp3"));
    const auto hls = [](const QString &segment) {
        return (QStringLiteral("#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:2.0,\n") + segment +
                QStringLiteral("\n#EXT-X-ENDLIST\n"))
            .toUtf8();
    };
    struct Case
    {
        const char *name;
        QByteArray list;
        bool remote; // served over http, else opened from disk
        bool plays;
    };
    const Case cases[] = {
        {"HLS naming a local file", hls(QStringLiteral("file://") + local), true, false},
        {"HLS naming a local path", hls(local), true, false},
        {"HLS naming a FIFO", hls(QStringLiteral("file://") + fifo), true, false},
        {"concat list naming a local file",
         "ffconcat version 1.0\nfile 'file:" + QFile::encodeName(local) + "'\n", true, false},
        {"HLS naming a network segment", hls(QStringLiteral("segment.mp3")), true, true},
        {"HLS on disk naming a FIFO", hls(QStringLiteral("file://") + fifo), false, false},
        {"a FIFO itself", {}, false, false},
        {"a redirect to a local file", {}, true, false},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = QStringLiteral("list%1.m3u8").arg(n++);
        ASSERT_TRUE(c.list.isEmpty() || writeFile(s_dir->filePath(name), c.list));
        QByteArray target = QFile::encodeName(s_dir->filePath(name));
        if (c.remote)
            target = link(c.list.isEmpty() ? QStringLiteral("/to-file")
                                           : QStringLiteral("/files/") + name);
        else if (c.list.isEmpty())
            target = QFile::encodeName(fifo);
        // Run apart, so a blocked open fails the test instead of hanging it.
        auto played = std::async(std::launch::async, [target] { return playToTheEnd(target); });
        ASSERT_EQ(played.wait_for(60s), std::future_status::ready);
        const PlaybackResult result = played.get();
        qint64 frames = 0;
        for (const RecordingSink::Part &part : result.parts)
            frames += part.frames;
        if (c.plays) {
            EXPECT_EQ(result.last, TrackPlayback::EventType::Ended);
            EXPECT_GT(frames, 22050);
        } else {
            EXPECT_EQ(frames, 0);
            EXPECT_EQ(result.last, TrackPlayback::EventType::Failed);
        }
    }
}

} // namespace
