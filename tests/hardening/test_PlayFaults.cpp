// Playing from the main window when what the service hands over is not
// what it claims: a link to something that is no audio, a lyric file of
// binary garbage, a singer picture that is no picture. The player settles,
// asks for nothing in a loop, shows nothing of the garbage and stays usable.
#include "tests/hardening/HardeningFixture.h"
#include "tests/hardening/ProcessMemory.h"
#include "tests/hardening/StallProbe.h"

#include "controls/image/ImageControl.h"
#include "controls/listbox/PlaylistView.h"
#include "musicd/MusicdQueries.h"
#include "playback/MediaPlayer.h"
#include "service/LoadLyrics.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QListWidget>
#include <QRandomGenerator>
#include <QTest>
#include <QtEndian>
#include <atomic>
#include <httplib.h>
#include <memory>
#include <thread>

namespace {

using Request = httplib::Request;
using Response = httplib::Response;

// Deterministic bytes of every value, so a failure reproduces.
std::string garbage(size_t size, quint32 seed)
{
    QRandomGenerator random(seed);
    std::string bytes(size, '\0');
    for (char &b : bytes)
        b = char(random.bounded(256));
    return bytes;
}

// A RIFF/WAVE header that announces PCM audio and holds no sample at all.
std::string emptyWav()
{
    QByteArray h;
    auto u32 = [&h](quint32 v) { h.append(reinterpret_cast<const char *>(&v), 4); };
    auto u16 = [&h](quint16 v) { h.append(reinterpret_cast<const char *>(&v), 2); };
    h += "RIFF";
    u32(36);
    h += "WAVEfmt ";
    u32(16);
    u16(1);
    u16(1);
    u32(22050);
    u32(44100);
    u16(2);
    u16(16);
    h += "data";
    u32(0);
    return h.toStdString();
}

quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A small PNG that announces 60000 x 60000 pixels: a decoder that trusts
// the header would ask for gigabytes.
std::string pngBomb()
{
    auto chunk = [](const char *type, const QByteArray &data) {
        QByteArray out(4, '\0');
        qToBigEndian<quint32>(quint32(data.size()), out.data());
        const QByteArray body = QByteArray(type) + data;
        QByteArray crc(4, '\0');
        qToBigEndian<quint32>(crc32(body), crc.data());
        return out + body + crc;
    };
    QByteArray ihdr(13, '\0');
    qToBigEndian<quint32>(60000, ihdr.data());
    qToBigEndian<quint32>(60000, ihdr.data() + 4);
    ihdr[8] = 8; // bit depth
    ihdr[9] = 0; // greyscale
    const QByteArray zlib = qCompress(QByteArray(60001 * 4, '\0')).mid(4);
    return (QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunk("IDAT", zlib) +
            chunk("IEND", {}))
        .toStdString();
}

class PlayFaults : public HardeningFixture
{
protected:
    void SetUp() override
    {
        HardeningFixture::SetUp();
        player = form->mediaPlayer;
        form->setQuitHandler([](int) {});
    }

    // Searches through the relay and double-clicks result `row`.
    void playResult(const QString &words, int row = 0)
    {
        search(words);
        ASSERT_GT(form->resultsView->rowCount(), row);
        form->resultsView->setCurrentRow(row);
        form->onResultDoubleClicked();
    }

    bool settled(int ms = 10000)
    {
        return QTest::qWaitFor(
            [&] {
                const int s = player->playState();
                return s == MediaPlayer::kStateStopped || s == MediaPlayer::kStatePlaying;
            },
            ms);
    }

    MediaPlayer *player = nullptr;
};

} // namespace

TEST_F(PlayFaults, LinkToSomethingThatIsNoAudioSettlesWithoutAPlayLoop)
{
    struct Case
    {
        const char *name;
        std::string body;
        const char *type;
        int status;
    } cases[] = {
        {"html", "<html><body>not here</body></html>", "text/html", 200},
        {"garbage", garbage(200000, 7), "audio/wav", 200},
        {"empty wav", emptyWav(), "audio/wav", 200},
        {"not found", "no such song", "text/plain", 404},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        relay = std::make_unique<FaultRelay>(service->url());
        startRelay([&c](const Request &req, Response &res) {
            if (req.path.rfind("/music/", 0) != 0)
                return false;
            res.status = c.status;
            res.set_content(c.body, c.type);
            return true;
        });
        // List loop with two items: a player that took the failure for the
        // end of a track would go round the list for ever.
        form->listLoopBox->setChecked(true);
        playResult(QStringLiteral("load2"), 0);
        playResult(QStringLiteral("load2"), 1);
        ASSERT_TRUE(settled());
        const auto audioAsked = [this](int row) {
            const QString id = form->resultsView->text(row, 0);
            return relay->requestsContaining(QStringLiteral("/music/") + id + QLatin1Char('.'));
        };
        const auto requestList = [this] {
            return relay->requests().join(QLatin1Char('\n')).toStdString();
        };
        // On a busy machine the player may ask for the second link's audio
        // a while after the first failure settled: wait for it, then make
        // sure nothing more is asked for. The first link was replaced at
        // once, so its audio may never have been asked for at all.
        EXPECT_TRUE(QTest::qWaitFor([&] { return audioAsked(1) >= 1; }, 10000)) << requestList();
        QTest::qWait(1500);
        EXPECT_LE(audioAsked(0), 1) << requestList();
        EXPECT_EQ(audioAsked(1), 1) << requestList();
        EXPECT_EQ(relay->requestsContaining(QStringLiteral("/music/")),
                  audioAsked(0) + audioAsked(1))
            << requestList();
        EXPECT_EQ(relay->requestsContaining(QStringLiteral("getLinks.php")), 2);
        EXPECT_EQ(form->playlistView->listCount(), 2);
        EXPECT_NE(player->playState(), MediaPlayer::kStatePlaying);
        form->playlistView->clear();
    }
    // The same window plays a real song afterwards.
    ServiceConfig::setHost(service->url());
    playResult(QStringLiteral("load1"));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return player->playState() == MediaPlayer::kStatePlaying; }, 10000));
}

TEST_F(PlayFaults, LyricFileOfBinaryGarbageShowsNoGarbage)
{
    const std::string lyric = garbage(64 * 1024, 11);
    startRelay([&lyric](const Request &req, Response &res) {
        if (req.path.rfind("/lrc/", 0) != 0)
            return false;
        res.set_content(lyric, "text/plain; charset=utf-8");
        return true;
    });
    StallProbe probe;
    probe.start();
    QStringList shown;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (!shown.contains(form->lyricLine->text()))
            shown << form->lyricLine->text();
    });
    playResult(QStringLiteral("load1"));
    watcher.start(20);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return player->playState() == MediaPlayer::kStatePlaying; }, 10000));
    for (double second : {1.2, 5.3, 9.1})
        player->controls().setCurrentPosition(second);
    QTest::qWait(1500);
    watcher.stop();
    probe.stop();

    EXPECT_GT(form->lyricList()->count(), 0);
    for (int i = 0; i < form->lyricList()->count(); ++i)
        EXPECT_TRUE(form->lyricList()->item(i)->text().startsWith(QLatin1Char('['))) << i;
    // No time tag in the garbage matches a playing second: the line stays
    // as the play left it, empty.
    EXPECT_EQ(shown, QStringList{QString()});
    EXPECT_EQ(player->playState(), MediaPlayer::kStatePlaying);
    std::printf("[ lyric    ] 64 KB garbage lyric: %lld entries, longest event-loop gap %lld ms\n",
                static_cast<long long>(form->lyricList()->count()),
                static_cast<long long>(probe.longestGapMs()));
}

TEST_F(PlayFaults, SingerPictureThatIsNoPictureShowsTheDefault)
{
    std::string real;
    struct Case
    {
        const char *name;
        std::function<std::string()> body;
    } cases[] = {
        {"html", [] { return std::string("<html>moved</html>"); }},
        {"garbage", [] { return garbage(30000, 3); }},
        {"jpeg header only", [&real] { return real.substr(0, 20); }},
        {"png bomb", [] { return pngBomb(); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        relay = std::make_unique<FaultRelay>(service->url());
        startRelay([&](const Request &req, Response &res) {
            if (req.path.rfind("/ting/pic/item/", 0) != 0)
                return false;
            if (real.empty())
                real = relay->upstreamBody(req.target);
            res.set_content(c.body(), "image/jpeg");
            return true;
        });
        StallProbe probe;
        probe.start();
        // 晴川 has a picture on the real service.
        playResult(QStringLiteral("晴川"));
        probe.stop();
        EXPECT_EQ(relay->requestsContaining(QStringLiteral("/ting/pic/item/")), 1);
        EXPECT_EQ(form->singerPicture->picture().toImage(),
                  form->defaultSingerPicture->picture().toImage());
        std::printf("[ picture  ] %s: longest event-loop gap %lld ms\n", c.name,
                    static_cast<long long>(probe.longestGapMs()));
    }
}

TEST_F(PlayFaults, StalledLinkAnswerLeavesTheWindowPlayingAnotherSong)
{
    // The first song's link answer stalls; while the window waits for it
    // the user double-clicks the second row, which plays. The stalled
    // request then times out and adds nothing, stops nothing.
    HttpClient::setTransferTimeoutMs(1500);
    const QString firstId = QString::number(musicd::kLoadFirstSongId);
    const QString secondId = QString::number(musicd::kLoadFirstSongId + 1);
    startRelay([this, firstId](const Request &req, Response &res) {
        if (req.path != "/app/link/getLinks.php" ||
            req.get_param_value("songId") != firstId.toStdString())
            return false;
        relay->stallMidBody(res, relay->upstreamBody(req.target));
        return true;
    });
    search(QStringLiteral("load2"));
    ASSERT_EQ(form->resultsView->rowCount(), 2);
    ASSERT_EQ(form->resultsView->text(0, 0), firstId);

    StallProbe probe;
    bool secondStarted = false;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (!relay->stallStarted() || secondStarted)
            return;
        secondStarted = true;
        form->resultsView->setCurrentRow(1);
        form->onResultDoubleClicked();
    });
    driver.start(10);
    probe.start();
    form->resultsView->setCurrentRow(0);
    form->onResultDoubleClicked(); // returns when the stalled request has timed out
    probe.stop();
    driver.stop();

    EXPECT_TRUE(secondStarted);
    ASSERT_EQ(form->playlistView->listCount(), 1);
    EXPECT_EQ(form->playlistView->url(0), secondId);
    EXPECT_TRUE(player->url().contains(QStringLiteral("/music/") + secondId));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return player->playState() == MediaPlayer::kStatePlaying; }, 10000));
    std::printf("[ stall    ] stalled link answer: longest event-loop gap %lld ms\n",
                static_cast<long long>(probe.longestGapMs()));
    relay->release();
}

// The audio answer sends its head and 100 KB of the song, then nothing more
// (it stalls) or closes (it is cut). The play ends with a status line saying
// so, and list loop does not go round asking for the same link again.
TEST_F(PlayFaults, StalledOrCutStreamEndsThePlayWithoutALoop)
{
    const int oldStall = MediaPlayer::stallTimeoutMs();
    MediaPlayer::setStallTimeoutMs(2000);
    for (const bool stall : {true, false}) {
        SCOPED_TRACE(stall ? "stalled" : "cut");
        auto release = std::make_shared<std::atomic<bool>>(false);
        relay = std::make_unique<FaultRelay>(service->url());
        startRelay([this, stall, release](const Request &req, Response &res) {
            if (req.path.rfind("/music/", 0) != 0)
                return false;
            const std::string wav = relay->upstreamBody(req.target);
            const size_t sent = std::min<size_t>(100 * 1024, wav.size() / 2);
            res.set_content_provider(
                wav.size(), "audio/wav",
                [wav, sent, stall, release](size_t offset, size_t, httplib::DataSink &sink) {
                    if (offset < sent)
                        return sink.write(wav.data() + offset, sent - offset);
                    for (int i = 0; stall && i < 3000 && !release->load(); ++i)
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    return false;
                });
            return true;
        });
        form->listLoopBox->setChecked(true);
        QElapsedTimer clock;
        clock.start();
        playResult(QStringLiteral("load1"));
        const bool failed = QTest::qWaitFor(
            [&] {
                return player->playState() == MediaPlayer::kStateStopped &&
                       player->status().startsWith(QStringLiteral("无法播放："));
            },
            30000);
        const qint64 toFailure = clock.elapsed();
        QTest::qWait(2500); // a loop would ask for the link again meanwhile
        release->store(true);
        EXPECT_TRUE(failed) << player->status().toStdString();
        EXPECT_EQ(relay->requestsContaining(QStringLiteral("getLinks.php")), 1);
        EXPECT_EQ(player->playState(), MediaPlayer::kStateStopped);
        std::printf("[ stream   ] %s after 100 KB: play ended in %lld ms with \"%s\"\n",
                    stall ? "stalled" : "cut", static_cast<long long>(toFailure),
                    player->status().toUtf8().constData());
        form->playlistView->clear();
    }
    MediaPlayer::setStallTimeoutMs(oldStall);
}

// A lyric file far larger than any real one: it is refused once the cap is
// passed, so the window neither freezes reading it nor holds it, and the
// clock's lyric step never copies the lyric list. A lyric just under the
// cap (100,000 lines) plays with the window responsive.
TEST_F(PlayFaults, HugeLyricFileCannotFreezeTheWindow)
{
    struct Case
    {
        const char *name;
        qint64 bytes;
        bool kept;
    } cases[] = {
        {"60 MB", 60 * 1024 * 1024, false},
        {"just under the cap", musicservice::kMaxLyricBytes - 1024, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        relay = std::make_unique<FaultRelay>(service->url());
        startRelay([&c](const Request &req, Response &res) {
            if (req.path.rfind("/lrc/", 0) != 0)
                return false;
            // Timed lines of every second from 00:00 on, as long as the size
            // allows: each clock tick finds its line near the end.
            std::string text;
            text.reserve(size_t(std::min<qint64>(c.bytes, 2 << 20)));
            for (int i = 0; qint64(text.size()) < std::min<qint64>(c.bytes, 2 << 20); ++i) {
                char line[40];
                std::snprintf(line, sizeof(line), "[%02d:%02d.00]line %d\r\n", (i / 60) % 100,
                              i % 60, i);
                text += line;
            }
            text.resize(size_t(std::min<qint64>(c.bytes, 2 << 20)), ' ');
            if (c.bytes <= qint64(text.size())) {
                // Sent as it is: compressing it costs the relay seconds.
                res.set_content(text, "application/octet-stream");
            } else {
                FaultRelay::giganticBody(res, c.bytes, text, std::string(),
                                         FaultRelay::Filler::Random);
            }
            return true;
        });
        const qint64 before = ProcessMemory::residentBytes();
        StallProbe probe;
        probe.start();
        playResult(QStringLiteral("load1"));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return player->playState() == MediaPlayer::kStatePlaying; }, 20000));
        QTest::qWait(1500); // clock ticks with the lyric loaded
        probe.stop();
        const qint64 growth = ProcessMemory::residentBytes() - before;
        std::printf("[ lyric    ] %s lyric: %d entries kept, longest event-loop gap %lld ms, "
                    "RSS %+.1f MB\n",
                    c.name, int(form->lyricList()->count()),
                    static_cast<long long>(probe.longestGapMs()), growth / 1048576.0);
        if (c.kept) {
            EXPECT_GT(form->lyricList()->count(), 10000);
        } else {
            EXPECT_EQ(form->lyricList()->count(), 0);
            EXPECT_EQ(form->lyricLine->text(), musicservice::kNoLyrics);
        }
        player->controls().stop();
        form->playlistView->clear();
    }
}
