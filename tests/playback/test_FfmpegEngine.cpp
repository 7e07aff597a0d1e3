// The lighter engine (FFmpeg's libraries, null output paced in real time)
// behind MediaPlayer: every format people's files come in, from disk and
// over HTTP; seeking; pausing; a stream that runs dry, stalls or is cut;
// and the fall back to libmpv for outputs it does not drive.
#include "playback/MediaPlayer.h"
#include "playback/output/NullAudioSink.h"
#include "tests/common/TestHttpServer.h"
#include "tests/common/TestLibrary.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <httplib.h>
#include <thread>

namespace {

constexpr int kWaitMs = 15000; // generous: the machine is shared
constexpr double kToneSeconds = 3.0;

std::vector<int> states(const QSignalSpy &spy)
{
    std::vector<int> out;
    for (const QList<QVariant> &args : spy)
        out.push_back(args.at(0).toInt());
    return out;
}

bool waitForState(MediaPlayer &player, int state)
{
    return QTest::qWaitFor([&] { return player.playState() == state; }, kWaitMs);
}

// Sets an environment variable for the life of the object.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const QByteArray &value) : m_name(name), m_old(qgetenv(name))
    {
        m_had = qEnvironmentVariableIsSet(name);
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    QByteArray m_old;
    bool m_had = false;
};

// The tone of every format, encoded once for the whole suite and served
// from disk and over a loopback server that also misbehaves on request.
class FfmpegEngineTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        s_server = new TestHttpServer;
        const QByteArray wav = TestLibrary::toneWav(kToneSeconds, 440);
        for (const char *suffix : {"wav", "mp3", "flac", "ogg", "opus", "m4a"}) {
            const QString file = s_dir->filePath(QStringLiteral("tone.") + QLatin1String(suffix));
            QString failure;
            ASSERT_TRUE(TestLibrary::encode(wav, file, &failure)) << failure.toStdString();
        }
        QString failure;
        ASSERT_TRUE(TestLibrary::encodeChainedOgg(
            1.5, s_dir->filePath(QStringLiteral("chained.ogg")), &failure))
            << failure.toStdString();
        httplib::Server &http = s_server->http();
        http.set_mount_point("/files", s_dir->path().toStdString());
        // Twelve seconds of MP3 of which the first arrive at once and the rest
        // only after a pause (a slow network), never (a stall) or not at all,
        // the connection closing early (a cut). (Not WAV: FFmpeg holds back
        // a WAV's first packets until it has looked at 32 of them.)
        const QString longFile = s_dir->filePath(QStringLiteral("long.mp3"));
        QString error;
        ASSERT_TRUE(TestLibrary::encode(TestLibrary::toneWav(12.0, 440), longFile, &error))
            << error.toStdString();
        QFile longMp3(longFile);
        ASSERT_TRUE(longMp3.open(QIODevice::ReadOnly));
        const std::string longAudio = longMp3.readAll().toStdString();
        const auto partly = [longAudio](const char *path, int mode) {
            s_server->http().Get(path, [longAudio, mode](const httplib::Request &,
                                                         httplib::Response &res) {
                res.set_content_provider(
                    longAudio.size(), "audio/mpeg",
                    [longAudio, mode](size_t offset, size_t, httplib::DataSink &sink) {
                        const size_t firstPart = longAudio.size() / 8; // 1.5 s
                        if (offset < firstPart)
                            return sink.write(longAudio.data() + offset, firstPart - offset);
                        // Only the continuation misbehaves: the reader's own
                        // look at the tags at the end is answered at once.
                        if (offset != firstPart)
                            return sink.write(longAudio.data() + offset, longAudio.size() - offset);
                        if (mode == kCut)
                            return false;
                        const int pauseMs = mode == kSlow ? 2500 : 20000;
                        for (int i = 0; i < pauseMs / 10 && !s_server->stopping(); ++i)
                            std::this_thread::sleep_for(std::chrono::milliseconds(10));
                        return sink.write(longAudio.data() + offset, longAudio.size() - offset);
                    });
            });
        };
        // Eight seconds of WAV whose first connection closes a quarter of
        // the way in: the reader goes on from there on a new one.
        const std::string dropped = TestLibrary::toneWav(8.0, 440).toStdString();
        http.Get("/dropped.wav", [dropped](const httplib::Request &, httplib::Response &res) {
            res.set_content_provider(
                dropped.size(), "audio/wav",
                [dropped](size_t offset, size_t, httplib::DataSink &sink) {
                    static std::atomic<bool> cut{false};
                    const size_t quarter = dropped.size() / 4;
                    if (offset < quarter && !cut.exchange(true))
                        return sink.write(dropped.data() + offset, quarter - offset) && false;
                    return sink.write(dropped.data() + offset, dropped.size() - offset);
                });
        });
        partly("/slow.mp3", kSlow);
        partly("/stall.mp3", kStall);
        partly("/cut.mp3", kCut);
        ASSERT_TRUE(s_server->start());
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        delete s_dir;
        s_server = nullptr;
        s_dir = nullptr;
    }
    void SetUp() override { MediaPlayer::setStallTimeoutMs(15000); }
    void TearDown() override { MediaPlayer::setStallTimeoutMs(15000); }

    static QString file(const char *suffix)
    {
        return s_dir->filePath(QStringLiteral("tone.") + QLatin1String(suffix));
    }
    static QString link(const QString &path) { return s_server->url() + path; }

    enum { kSlow, kStall, kCut };
    static QTemporaryDir *s_dir;
    static TestHttpServer *s_server;
    ScopedEnv engine{"VELMOR_PLAYBACK_ENGINE", "ffmpeg"};
    ScopedEnv output{"VELMOR_AUDIO_OUTPUT", "null"};
    MediaPlayer player;
    QSignalSpy spy{&player, &MediaPlayer::playStateChanged};
};

QTemporaryDir *FfmpegEngineTest::s_dir = nullptr;
TestHttpServer *FfmpegEngineTest::s_server = nullptr;

TEST_F(FfmpegEngineTest, EveryFormatPlaysSeeksAndEndsFromDiskAndHttp)
{
    // Which decoder plays each: the light ones for the common formats,
    // FFmpeg for AAC in MP4.
    const std::pair<const char *, const char *> formats[] = {
        {"wav", "wav"},     {"mp3", "mpg123"},   {"flac", "sndfile"},
        {"ogg", "sndfile"}, {"opus", "sndfile"}, {"m4a", "ffmpeg"},
    };
    for (const auto &[suffix, decoder] : formats) {
        for (const bool overHttp : {false, true}) {
            const QString target =
                overHttp ? link(QStringLiteral("/files/tone.") + QLatin1String(suffix))
                         : file(suffix);
            SCOPED_TRACE(target.toStdString());
            spy.clear();
            player.setUrl(target);
            ASSERT_TRUE(waitForState(player, MediaPlayer::kStatePlaying))
                << player.status().toStdString();
            EXPECT_EQ(player.engineName(), QStringLiteral("ffmpeg"));
            EXPECT_EQ(player.decoderName(), QLatin1String(decoder));
            EXPECT_NEAR(player.currentMedia().duration(), kToneSeconds, 0.15);
            // Seeking decodes and drops up to the target: the position
            // heard starts there, not at the packet before it.
            player.controls().setCurrentPosition(1.7);
            EXPECT_TRUE(QTest::qWaitFor([&] { return player.controls().currentPosition() > 1.75; },
                                        kWaitMs));
            EXPECT_LT(player.controls().currentPosition(), 2.6);
            ASSERT_TRUE(waitForState(player, MediaPlayer::kStateStopped));
            EXPECT_EQ(states(spy), (std::vector<int>{9, 3, 8, 1}));
        }
    }
}

// Whether this process maps a library whose file name starts so.
bool mapsLibrary(const char *name)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    const QByteArray all = maps.readAll();
    return all.contains(QByteArray("/") + name + ".so");
}

TEST_F(FfmpegEngineTest, CommonFormatsPlayWithoutMappingFfmpeg)
{
    if (mapsLibrary("libavformat"))
        GTEST_SKIP() << "FFmpeg was mapped by an earlier test in this process";
    for (const char *suffix : {"wav", "mp3", "flac", "ogg", "opus"}) {
        SCOPED_TRACE(suffix);
        player.setUrl(link(QStringLiteral("/files/tone.") + QLatin1String(suffix)));
        ASSERT_TRUE(waitForState(player, MediaPlayer::kStatePlaying));
        player.controls().setCurrentPosition(kToneSeconds - 0.3);
        ASSERT_TRUE(waitForState(player, MediaPlayer::kStateStopped));
        EXPECT_EQ(player.status(), QStringLiteral("播放完毕"));
        EXPECT_FALSE(mapsLibrary("libavformat"));
        EXPECT_FALSE(mapsLibrary("libavcodec"));
    }
    // The check sees FFmpeg once a link needs it.
    player.setUrl(file("m4a"));
    ASSERT_TRUE(waitForState(player, MediaPlayer::kStatePlaying));
    EXPECT_TRUE(mapsLibrary("libavformat"));
    EXPECT_TRUE(mapsLibrary("libavcodec"));
}

TEST_F(FfmpegEngineTest, PauseHoldsThePositionAndResumesWhereItWas)
{
    player.setUrl(file("wav"));
    ASSERT_TRUE(waitForState(player, MediaPlayer::kStatePlaying));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return player.controls().currentPosition() > 0.5; }, kWaitMs));
    player.controls().pause();
    QTest::qWait(100);
    const double paused = player.controls().currentPosition();
    QTest::qWait(600);
    EXPECT_DOUBLE_EQ(player.controls().currentPosition(), paused);
    player.controls().play();
    // What the output held unheard at the pause is played again, so the
    // track goes on from where it was rather than a buffer later.
    QTest::qWait(60);
    EXPECT_GE(player.controls().currentPosition(), paused);
    EXPECT_LT(player.controls().currentPosition(), paused + 0.3);
    ASSERT_TRUE(waitForState(player, MediaPlayer::kStateStopped));
    EXPECT_EQ(states(spy), (std::vector<int>{9, 3, 2, 3, 8, 1}));
}

TEST_F(FfmpegEngineTest, StreamsThatRunDryBufferStallOrAreCut)
{
    struct Case
    {
        const char *path;
        int stallTimeoutMs;
        std::vector<int> seen; // empty: only the start and the end are fixed
        const char *status;
        bool skipToEnd = false; // once it plays again after buffering
    };
    const Case cases[] = {
        // Refilled after the pause: buffering, then playing on to the end.
        {"/slow.mp3", 15000, {9, 3, 6, 3, 8, 1}, "播放完毕", true},
        // Never refilled: the player's stall timeout ends it as a failure.
        {"/stall.mp3", 1500, {9, 3, 6, 1}, "无法播放：连接超时，没有收到音频数据"},
        // Closed early, and again on each reconnect: a track ending well
        // short of its length did not play.
        {"/cut.mp3", 15000, {}, "无法播放：音频数据中断"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        MediaPlayer::setStallTimeoutMs(c.stallTimeoutMs);
        spy.clear();
        player.setUrl(link(QLatin1String(c.path)));
        bool skipped = !c.skipToEnd;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                if (!skipped && player.playState() == MediaPlayer::kStatePlaying &&
                    spy.count() > 2) {
                    skipped = true;
                    player.controls().setCurrentPosition(player.currentMedia().duration() - 0.5);
                }
                return player.playState() == MediaPlayer::kStateStopped;
            },
            30000));
        const std::vector<int> seen = states(spy);
        if (!c.seen.empty()) {
            EXPECT_EQ(seen, c.seen);
        } else {
            ASSERT_GE(seen.size(), 3u);
            EXPECT_EQ(seen[0], MediaPlayer::kStateTransitioning);
            EXPECT_EQ(seen[1], MediaPlayer::kStatePlaying);
            EXPECT_EQ(std::count(seen.begin(), seen.end(), MediaPlayer::kStateMediaEnded), 0);
        }
        EXPECT_EQ(player.status(), QString::fromUtf8(c.status));
    }
}

TEST_F(FfmpegEngineTest, ADroppedConnectionResumesAndThePlayGoesOnToTheEnd)
{
    player.setUrl(link(QStringLiteral("/dropped.wav")));
    ASSERT_TRUE(waitForState(player, MediaPlayer::kStatePlaying));
    // Within what came before the drop (read ahead at once on loopback), so
    // the seek itself starts no new connection; without a resumed one the
    // sound would stop at 2 s, far short of 8: a cut, not an end.
    player.controls().setCurrentPosition(1.5);
    ASSERT_TRUE(waitForState(player, MediaPlayer::kStateStopped));
    EXPECT_EQ(player.status(), QStringLiteral("播放完毕"));
    EXPECT_EQ(states(spy), (std::vector<int>{9, 3, 8, 1}));
}

TEST_F(FfmpegEngineTest, AChainedStreamPlaysOnThroughAChangeOfFormat)
{
    player.setUrl(link(QStringLiteral("/files/chained.ogg")));
    ASSERT_TRUE(waitForState(player, MediaPlayer::kStatePlaying));
    EXPECT_EQ(player.decoderName(), QStringLiteral("ffmpeg"));
    double last = 0.0;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            last = std::max(last, player.controls().currentPosition());
            return player.playState() == MediaPlayer::kStateStopped;
        },
        kWaitMs));
    // Both parts were heard, the second after the first.
    EXPECT_EQ(player.status(), QStringLiteral("播放完毕"));
    EXPECT_EQ(states(spy), (std::vector<int>{9, 3, 8, 1}));
    EXPECT_GT(last, 2.5);
}

TEST_F(FfmpegEngineTest, BrokenAndEmptyAudioFailsWithAReason)
{
    QTemporaryDir dir;
    const QByteArray header = TestLibrary::toneWav(0, 440); // a header, no samples
    const QByteArray garbage = QByteArray(4096, '\x5a');
    const std::pair<QString, QByteArray> files[] = {
        {dir.filePath(QStringLiteral("empty.wav")), header},
        {dir.filePath(QStringLiteral("garbage.mp3")), garbage},
        {dir.filePath(QStringLiteral("nothing.ogg")), QByteArray()},
    };
    for (const auto &[path, bytes] : files) {
        SCOPED_TRACE(path.toStdString());
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
        out.close();
        spy.clear();
        player.setUrl(path);
        ASSERT_TRUE(waitForState(player, MediaPlayer::kStateStopped));
        EXPECT_TRUE(player.status().startsWith(QStringLiteral("无法播放：")))
            << player.status().toStdString();
        const std::vector<int> seen = states(spy);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), MediaPlayer::kStateMediaEnded), 0);
    }
    // A missing file, too.
    player.setUrl(dir.filePath(QStringLiteral("missing.flac")));
    ASSERT_TRUE(waitForState(player, MediaPlayer::kStateStopped));
    EXPECT_EQ(player.status(), QStringLiteral("无法播放：无法打开链接"));
}

TEST(FfmpegEngineChoice, OutputsItDoesNotDriveFallBackToLibmpv)
{
    ScopedEnv engine("VELMOR_PLAYBACK_ENGINE", "ffmpeg");
    struct Case
    {
        QByteArray output;
        const char *expected;
    };
    const Case cases[] = {{"null", "ffmpeg"}, {"alsa", "mpv"}, {"jack", "mpv"}};
    for (const Case &c : cases) {
        ScopedEnv output("VELMOR_AUDIO_OUTPUT", c.output);
        MediaPlayer player;
        player.setUrl(QStringLiteral("http://127.0.0.1:1/a.wav"));
        EXPECT_EQ(player.engineName(), QLatin1String(c.expected)) << c.output.toStdString();
        waitForState(player, MediaPlayer::kStateStopped);
    }
    // Unnamed, the lighter engine plays; libmpv only when asked for.
    for (const auto &[asked, expected] :
         {std::pair{"", "ffmpeg"}, std::pair{"ffmpeg", "ffmpeg"}, std::pair{"mpv", "mpv"}}) {
        ScopedEnv named("VELMOR_PLAYBACK_ENGINE", asked);
        ScopedEnv output("VELMOR_AUDIO_OUTPUT", "null");
        MediaPlayer player;
        player.setUrl(QStringLiteral("http://127.0.0.1:1/a.wav"));
        EXPECT_EQ(player.engineName(), QLatin1String(expected)) << asked;
        waitForState(player, MediaPlayer::kStateStopped);
    }
}

TEST(NullAudioSinkTest, TakesSamplesAtTheirOwnPace)
{
    NullAudioSink sink;
    EXPECT_FALSE(sink.open(0, 2));
    ASSERT_TRUE(sink.open(8000, 2));
    EXPECT_EQ(sink.latency(), 0.0);
    std::vector<int16_t> samples(8000 * 2); // one second
    const auto start = std::chrono::steady_clock::now();
    sink.write(samples.data(), 800); // 0.1 s: taken at once
    EXPECT_LE(sink.latency(), 0.1);
    // More than the sink keeps ahead: the write waits until no more than
    // that is left unheard, so 1.1 s written take at least 0.85 s.
    sink.write(samples.data(), 8000);
    EXPECT_LE(sink.latency(), NullAudioSink::kAheadSeconds);
    EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
              1.1 - NullAudioSink::kAheadSeconds);
    sink.flush();
    EXPECT_EQ(sink.latency(), 0.0);
}

} // namespace
