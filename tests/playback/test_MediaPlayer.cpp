// MediaPlayer against real audio: short WAV tones served from a loopback
// server in the test process, played on the null audio output by the engine
// VELMOR_PLAYBACK_ENGINE names (this binary runs once per engine).
#include "playback/MediaPlayer.h"
#include "tests/common/MusicdServer.h"
#include "tests/common/TestHttpServer.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <clocale>
#include <cmath>
#include <gtest/gtest.h>
#include <httplib.h>
#include <memory>
#include <thread>
#include <tuple>

// Readable QString values in failure messages.
void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

constexpr int kWaitMs = 15000; // generous: the machine is shared

// A mono tone of `seconds` at `rate` samples a second, 16 or 8 bits a sample.
std::string makeWav(double seconds, int rate = 8000, int bits = 16)
{
    const int width = bits / 8;
    const auto bytes = static_cast<uint32_t>(seconds * rate) * width;
    std::string wav;
    wav.reserve(44 + bytes);
    const auto put = [&wav](uint32_t value, int count) {
        for (int i = 0; i < count; ++i)
            wav.push_back(char((value >> (8 * i)) & 0xff));
    };
    wav += "RIFF";
    put(36 + bytes, 4);
    wav += "WAVEfmt ";
    put(16, 4), put(1, 2), put(1, 2), put(rate, 4), put(rate * width, 4), put(width, 2);
    put(bits, 2);
    wav += "data";
    put(bytes, 4);
    for (uint32_t i = 0; i < bytes / width; ++i) {
        const double wave = std::sin(2 * M_PI * 110 * i / rate);
        if (bits == 8)
            put(uint32_t(128 + 40 * wave), 1); // 8-bit samples are unsigned
        else
            put(uint16_t(int16_t(6000 * wave)), 2);
    }
    return wav;
}

std::vector<int> states(const QSignalSpy &spy)
{
    std::vector<int> out;
    for (const QList<QVariant> &args : spy)
        out.push_back(args.at(0).toInt());
    return out;
}

// Runs the event loop until `condition` holds or the generous limit passes.
template <typename Condition> bool eventually(Condition condition)
{
    return QTest::qWaitFor(condition, kWaitMs);
}

bool waitForState(MediaPlayer &player, int state)
{
    return eventually([&] { return player.playState() == state; });
}

class MediaPlayerTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_server = new TestHttpServer;
        auto &http = s_server->http();
        const auto serve = [&http](const char *path, std::string body, const char *type) {
            http.Get(path, [body, type](const httplib::Request &, httplib::Response &res) {
                res.set_content(body, type);
            });
        };
        serve("/tone.wav", makeWav(6), "audio/wav");
        serve("/short.wav", makeWav(1), "audio/wav");
        // 75 min 2 s at the lowest rate mpv's output takes, to keep it small.
        serve("/long.wav", makeWav(75 * 60 + 2, 2000, 8), "audio/wav");
        serve("/page.html", "<html><body>no audio here</body></html>", "text/html");
        // Endless WAV streams (lengths left 0) of a rate or a channel count
        // no output plays; our own WAV reader refuses the headers.
        for (const auto &[path, wavRate, wavChannels] :
             {std::tuple{"/endless-2ghz.wav", 2000000000u, 2},
              std::tuple{"/endless-40ch.wav", 8000u, 40}})
            // Copied into the lambda: clang 14 cannot capture a structured binding.
            http.Get(path, [rate = wavRate, channels = wavChannels](const httplib::Request &,
                                                                    httplib::Response &res) {
                std::string header = makeWav(0, 8000);
                const auto put = [&header](size_t at, uint32_t value, int count) {
                    for (int i = 0; i < count; ++i)
                        header[at + i] = char((value >> (8 * i)) & 0xff);
                };
                put(4, 36, 4); // a streamed WAV's writer leaves both lengths 0
                put(22, channels, 2);
                put(24, rate, 4);
                put(28, rate * channels * 2, 4);
                put(32, channels * 2, 2);
                put(40, 0, 4);
                // Four gigabytes of silence after it, made as they are asked for.
                res.set_content_provider(
                    size_t(1) << 32, "audio/wav",
                    [header](size_t offset, size_t length, httplib::DataSink &sink) {
                        if (s_server->stopping())
                            return false;
                        if (offset < header.size())
                            return sink.write(header.data() + offset, header.size() - offset);
                        static const std::string silence(64 * 1024, '\0');
                        return sink.write(silence.data(), std::min(length, silence.size()));
                    });
            });
        http.Get("/stall", [](const httplib::Request &, httplib::Response &) {
            for (int i = 0; i < 1000 && !s_server->stopping(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        });
        ASSERT_TRUE(s_server->start());
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }
    static QString link(const char *path) { return s_server->url() + QLatin1String(path); }

    static TestHttpServer *s_server;
    MediaPlayer player;
    QSignalSpy spy{&player, &MediaPlayer::playStateChanged};
};

TestHttpServer *MediaPlayerTest::s_server = nullptr;

TEST_F(MediaPlayerTest, TransportMovesThroughTheStatesOnce)
{
    EXPECT_EQ(player.playState(), MediaPlayer::kStateUndefined);
    EXPECT_TRUE(player.status().isEmpty());
    // Nothing to act on yet: none of these may start or report anything.
    player.controls().play();
    player.controls().pause();
    player.controls().setCurrentPosition(3);
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(player.controls().currentPosition(), 0.0);

    player.setUrl(link("/tone.wav"));
    EXPECT_EQ(player.playState(), MediaPlayer::kStateTransitioning);
    EXPECT_FALSE(player.status().isEmpty());
    ASSERT_TRUE(waitForState(player, MediaPlayer::kStatePlaying));
    player.controls().play(); // already playing: no change, no signal
    player.controls().pause();
    EXPECT_EQ(player.status(), QStringLiteral("已暂停"));
    player.controls().play();
    player.controls().stop();
    EXPECT_EQ(player.status(), QStringLiteral("已停止"));
    player.controls().pause(); // the play/pause button while stopped starts nothing
    QTest::qWait(300);
    EXPECT_EQ(states(spy), (std::vector<int>{9, 3, 2, 3, 1}));

    // play() after stop restarts the same link.
    player.controls().play();
    EXPECT_TRUE(waitForState(player, MediaPlayer::kStatePlaying));
    EXPECT_EQ(player.url(), link("/tone.wav"));
}

TEST_F(MediaPlayerTest, PositionAdvancesAndSeeksWithinTheTrack)
{
    player.setUrl(link("/tone.wav"));
    ASSERT_TRUE(waitForState(player, MediaPlayer::kStatePlaying));
    EXPECT_NEAR(player.currentMedia().duration(), 6.0, 0.1);
    EXPECT_EQ(player.currentMedia().durationString(), QStringLiteral("00:06"));
    EXPECT_TRUE(eventually([&] { return player.controls().currentPosition() > 0.3; }));

    player.controls().setCurrentPosition(4.2);
    EXPECT_TRUE(eventually([&] { return player.controls().currentPosition() >= 4.2; }));
    EXPECT_EQ(player.controls().currentPositionString(), QStringLiteral("00:04"));
    player.controls().setCurrentPosition(-20);
    EXPECT_TRUE(eventually([&] { return player.controls().currentPosition() < 1.0; }));

    // Seeking while paused moves the position but does not resume.
    player.controls().pause();
    player.controls().setCurrentPosition(2.0);
    EXPECT_TRUE(eventually([&] { return player.controls().currentPosition() >= 2.0; }));
    EXPECT_EQ(player.playState(), MediaPlayer::kStatePaused);

    // Past the end means the end: the track finishes as if played out.
    player.controls().play();
    player.controls().setCurrentPosition(1e9);
    ASSERT_TRUE(waitForState(player, MediaPlayer::kStateStopped));
    EXPECT_EQ(states(spy).back(), 1);
    EXPECT_EQ(states(spy).at(states(spy).size() - 2), 8);
    // The length of the finished track is still known; the position is not.
    EXPECT_NEAR(player.currentMedia().duration(), 6.0, 0.1);
    EXPECT_EQ(player.controls().currentPosition(), 0.0);
}

TEST_F(MediaPlayerTest, LengthTextCountsMinutesPastAnHour)
{
    player.setUrl(link("/long.wav"));
    ASSERT_TRUE(waitForState(player, MediaPlayer::kStatePlaying));
    EXPECT_EQ(player.currentMedia().durationString(), QStringLiteral("75:02"));
}

TEST_F(MediaPlayerTest, EndOfTrackReportsEndedThenStopped)
{
    player.setUrl(link("/short.wav"));
    ASSERT_TRUE(waitForState(player, MediaPlayer::kStateStopped));
    EXPECT_EQ(states(spy), (std::vector<int>{9, 3, 8, 1}));
    EXPECT_FALSE(player.status().isEmpty());
}

TEST_F(MediaPlayerTest, EndedSlotThatStartsTheNextTrackKeepsPlaying)
{
    // As the window does at the end of a track: wait for the next link (the
    // link request pumps events meanwhile), set it, then call play.
    int restarts = 0;
    QObject::connect(&player, &MediaPlayer::playStateChanged, [&] {
        if (player.playState() == MediaPlayer::kStateMediaEnded && restarts++ == 0) {
            QTest::qWait(100);
            player.setUrl(link("/short.wav"));
            player.controls().play();
        }
    });
    player.setUrl(link("/short.wav"));
    ASSERT_TRUE(eventually([&] { return spy.count() >= 7; }));
    QTest::qWait(300);
    EXPECT_EQ(states(spy), (std::vector<int>{9, 3, 8, 9, 3, 8, 1}));
}

TEST_F(MediaPlayerTest, PauseWhileLoadingHoldsTheTrackUntilPlay)
{
    player.setUrl(link("/tone.wav"));
    player.controls().pause();
    QTest::qWait(1000); // time to load; it must stay paused
    EXPECT_EQ(player.playState(), MediaPlayer::kStatePaused);
    player.controls().play();
    EXPECT_TRUE(waitForState(player, MediaPlayer::kStatePlaying));
    EXPECT_EQ(states(spy), (std::vector<int>{9, 2, 3}));
}

TEST_F(MediaPlayerTest, BadLinksSettleStoppedWithAReason)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QString refused = QStringLiteral("http://127.0.0.1:%1/a.mp3").arg(closed.serverPort());
    closed.close();
    const QStringList links{QString(),
                            QStringLiteral("   "),
                            refused,
                            link("/missing.mp3"),
                            link("/page.html"),
                            QStringLiteral("lavfi://sine"),
                            QStringLiteral("song.mp3")};
    for (const QString &bad : links) {
        SCOPED_TRACE(bad.toStdString());
        spy.clear();
        player.setUrl(bad);
        EXPECT_TRUE(waitForState(player, MediaPlayer::kStateStopped));
        QTest::qWait(200);
        EXPECT_EQ(player.playState(), MediaPlayer::kStateStopped);
        EXPECT_TRUE(player.status().startsWith(QStringLiteral("无法播放：")))
            << player.status().toStdString();
        const std::vector<int> seen = states(spy);
        for (int never :
             {MediaPlayer::kStatePlaying, MediaPlayer::kStateMediaEnded, MediaPlayer::kStateReady})
            EXPECT_EQ(std::count(seen.begin(), seen.end(), never), 0);
    }
}

TEST_F(MediaPlayerTest, RatesAndChannelCountsNoOutputPlaysAreRefused)
{
    const std::pair<const char *, const char *> cases[] = {
        {"/endless-2ghz.wav", "无法播放：采样率 2000000000 Hz 超出可播放的范围"},
        {"/endless-40ch.wav", "无法播放：声道数 40 超出可播放的范围"},
    };
    for (const auto &[path, status] : cases) {
        SCOPED_TRACE(path);
        spy.clear();
        player.setUrl(link(path));
        EXPECT_TRUE(waitForState(player, MediaPlayer::kStateStopped));
        EXPECT_EQ(player.status(), QString::fromUtf8(status));
        const std::vector<int> seen = states(spy);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), MediaPlayer::kStatePlaying), 0);
    }
}

TEST_F(MediaPlayerTest, ReplacedTrackNeverReportsItsEnd)
{
    player.setUrl(link("/short.wav"));
    ASSERT_TRUE(waitForState(player, MediaPlayer::kStatePlaying));
    player.setUrl(link("/tone.wav"));
    QTest::qWait(1800); // the short track would have ended by now
    EXPECT_EQ(player.playState(), MediaPlayer::kStatePlaying);
    player.setUrl(QString()); // a bad link stops the old track, too
    QTest::qWait(300);
    EXPECT_EQ(states(spy), (std::vector<int>{9, 3, 9, 3, 1}));
}

TEST_F(MediaPlayerTest, VolumeIsClampedAndKeptBeforePlayback)
{
    const std::pair<int, int> cases[] = {{-5, 0}, {150, 100}, {37, 37}};
    for (const auto &[asked, kept] : cases) {
        player.settings().setVolume(asked);
        EXPECT_EQ(player.settings().volume(), kept) << asked;
    }
    player.setUrl(link("/short.wav"));
    ASSERT_TRUE(waitForState(player, MediaPlayer::kStatePlaying));
    EXPECT_EQ(player.settings().volume(), 37);
}

TEST(MediaPlayerEnvironment, PlaysTheBundledServiceAudioToItsEnd)
{
    // The service's WAV links answer range requests with 206, as mpv asks.
    MusicdServer musicd;
    ASSERT_TRUE(musicd.start());
    MediaPlayer player;
    QSignalSpy spy(&player, &MediaPlayer::playStateChanged);
    player.setUrl(musicd.url() + QStringLiteral("/music/100001.wav?xcode=0"));
    ASSERT_TRUE(waitForState(player, MediaPlayer::kStatePlaying));
    const double duration = player.currentMedia().duration();
    EXPECT_GE(duration, 20.0);
    EXPECT_LE(duration, 90.0);
    player.controls().setCurrentPosition(duration - 1.0);
    EXPECT_TRUE(waitForState(player, MediaPlayer::kStateStopped));
    EXPECT_EQ(states(spy), (std::vector<int>{9, 3, 8, 1}));
}

TEST(MediaPlayerEnvironment, MissingSoundDeviceStillPlaysToTheEnd)
{
    // No sound card here: the chosen output fails and mpv falls back to null.
    const QByteArray saved = qgetenv("VELMOR_AUDIO_OUTPUT");
    qputenv("VELMOR_AUDIO_OUTPUT", "alsa");
    TestHttpServer server;
    const std::string wav = makeWav(1);
    server.http().Get("/a.wav", [&wav](const httplib::Request &, httplib::Response &res) {
        res.set_content(wav, "audio/wav");
    });
    ASSERT_TRUE(server.start());
    MediaPlayer player;
    QSignalSpy spy(&player, &MediaPlayer::playStateChanged);
    player.setUrl(server.url() + QStringLiteral("/a.wav"));
    EXPECT_TRUE(eventually([&] { return player.playState() == 1; }));
    qputenv("VELMOR_AUDIO_OUTPUT", saved);
    EXPECT_EQ(states(spy), (std::vector<int>{9, 3, 8, 1}));
}

TEST(MediaPlayerEnvironment, WrongNumericLocaleFailsQuietlyAndRecovers)
{
    // mpv refuses to start under a decimal comma. Such a locale is compiled
    // into a temporary folder when the system has none installed.
    QTemporaryDir localeDir;
    const char *commaLocale = "de_DE.UTF-8";
    if (!std::setlocale(LC_NUMERIC, commaLocale)) {
        QProcess::execute(QStringLiteral("localedef"),
                          {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"),
                           QStringLiteral("UTF-8"),
                           localeDir.filePath(QLatin1String(commaLocale))});
        qputenv("LOCPATH", QFile::encodeName(localeDir.path()));
    }
    const bool available = std::setlocale(LC_NUMERIC, commaLocale) != nullptr;
    std::setlocale(LC_NUMERIC, "C");
    if (!available)
        GTEST_SKIP() << "no locale with a decimal comma";
    MediaPlayer player;
    std::setlocale(LC_NUMERIC, commaLocale);
    player.setUrl(QStringLiteral("http://127.0.0.1:1/a.wav"));
    std::setlocale(LC_NUMERIC, "C");
    if (player.engineName() == QLatin1String("ffmpeg")) {
        // The lighter engine reads no numbers through the locale: it starts.
        EXPECT_EQ(player.playState(), MediaPlayer::kStateTransitioning);
    } else {
        EXPECT_EQ(player.playState(), MediaPlayer::kStateStopped);
        EXPECT_EQ(player.status(), QStringLiteral("无法播放：播放组件无法启动"));
        player.controls().play(); // retried now that the locale is right
        EXPECT_EQ(player.playState(), MediaPlayer::kStateTransitioning);
    }
    qunsetenv("LOCPATH");
}

TEST_F(MediaPlayerTest, DestroyedWhileLoadingOrPlaying)
{
    auto loading = std::make_unique<MediaPlayer>();
    loading->setUrl(link("/stall"));
    QTest::qWait(300);
    EXPECT_EQ(loading->playState(), MediaPlayer::kStateTransitioning);
    loading.reset();

    auto playing = std::make_unique<MediaPlayer>();
    playing->setUrl(link("/tone.wav"));
    ASSERT_TRUE(waitForState(*playing, MediaPlayer::kStatePlaying));
    playing.reset();
    QTest::qWait(100); // any drain still queued must not reach the dead player
}

TEST_F(MediaPlayerTest, MouseClicksAndFullScreen)
{
    QWidget frame;
    frame.resize(300, 200);
    player.setParent(&frame);
    player.setGeometry(10, 20, 120, 80);
    frame.show();
    QSignalSpy clicks(&player, &MediaPlayer::clicked);
    QSignalSpy doubleClicks(&player, &MediaPlayer::doubleClicked);
    QTest::mouseClick(&player, Qt::LeftButton);
    QTest::mouseClick(&player, Qt::RightButton);
    // A double click as the system delivers it: press, release, double-click
    // press, release. Neither half is a click of its own; the lone click
    // before it is, told once the next press came.
    QTest::mousePress(&player, Qt::LeftButton);
    QTest::mouseRelease(&player, Qt::LeftButton);
    QTest::mouseDClick(&player, Qt::LeftButton);
    QTest::mouseRelease(&player, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(doubleClicks.count(), 1);
    QTest::qWait(QApplication::doubleClickInterval() + 100);
    EXPECT_EQ(clicks.count(), 1);
    // A lone click is told after the double-click interval.
    QTest::mouseClick(&player, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return clicks.count() == 2; }, 5000));

    player.setFullScreen(true);
    EXPECT_TRUE(player.fullScreen());
    EXPECT_TRUE(player.isWindow());
    EXPECT_TRUE(player.windowState() & Qt::WindowFullScreen);
    player.setFullScreen(false);
    EXPECT_FALSE(player.isWindow());
    EXPECT_EQ(player.parentWidget(), &frame);
    EXPECT_EQ(player.geometry(), QRect(10, 20, 120, 80));
    EXPECT_TRUE(player.isVisible());
    player.setParent(nullptr); // the fixture owns it
}

} // namespace
