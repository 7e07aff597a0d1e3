// What a user trips over in the window, against the bundled service (through
// the relay where an answer must be spoiled) with mpv's null output: a
// failed play must leave the playing song's lyric and say why for long
// enough to read it, the song information must not touch the playing
// lyric, the seek knob must seek where it stands and show a seek at once
// even while paused, play must start again once a track stopped, and
// deleting the playing item must leave the caption and the tray tip naming
// what plays.
#include "tests/hardening/HardeningFixture.h"

#include "controls/image/ImageControl.h"
#include "controls/listbox/PlaylistView.h"
#include "playback/MediaPlayer.h"
#include "window/Artwork.h"
#include "window/SongInfoWindow.h"
#include "window/rules/PlaybackKnobs.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <httplib.h>

namespace {

using Request = httplib::Request;
using Response = httplib::Response;

class WindowFaults : public HardeningFixture
{
protected:
    void SetUp() override
    {
        HardeningFixture::SetUp();
        // Straight to the service; a test that spoils answers starts the relay.
        ServiceConfig::setHost(service->url());
        player = form->mediaPlayer;
        form->setQuitHandler([](int) {});
    }

    void select(int row)
    {
        ASSERT_GT(form->resultsView->rowCount(), row);
        form->resultsView->setCurrentRow(row);
    }

    // Double-clicks result `row` and waits until it plays with a length.
    void playRow(int row)
    {
        select(row);
        form->onResultDoubleClicked();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return player->playState() == MediaPlayer::kStatePlaying &&
                       player->currentMedia().duration() > 0;
            },
            10000));
    }

    QStringList lyricEntries() const
    {
        QStringList entries;
        for (int i = 0; i < form->lyricList()->count(); ++i)
            entries << form->lyricList()->item(i)->text();
        return entries;
    }

    // The play button shows `look` (its normal picture).
    bool playButtonShows(Artwork::Glyph look) const
    {
        const QImage shown = form->playButton->picture().toImage();
        return shown == Artwork::button(look, form->playButton->picture().size(), false).toImage();
    }

    MediaPlayer *player = nullptr;
};

TEST_F(WindowFaults, AFailedPlayLeavesThePlayingLyricAndSaysWhyReadably)
{
    // The second song's link answer names its lyric but no playable link.
    startRelay([this](const Request &req, Response &res) {
        if (req.path != "/app/link/getLinks.php" || req.get_param_value("songId") != "100002")
            return false;
        QString body = QString::fromStdString(relay->upstreamBody(req.target));
        const qsizetype url = body.indexOf(QStringLiteral("\"url\":\""));
        const qsizetype end = body.indexOf(QStringLiteral("\","), url);
        body.replace(url, end - url, QStringLiteral("\"url\":\""));
        res.set_content(body.toStdString(), "text/html");
        return true;
    });
    search(QStringLiteral("晴川"));
    ASSERT_EQ(form->resultsView->text(1, 0), QStringLiteral("100002"));
    playRow(0);
    player->controls().setCurrentPosition(4.4);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return form->lyricLine->text() == QStringLiteral("那年夏天的蝉声还在"); }, 3000));
    const QStringList lyric = lyricEntries();
    const QString url = player->url();

    select(1);
    form->onResultDoubleClicked();
    EXPECT_EQ(form->statusLabel->text(), QStringLiteral("无法获取歌曲的播放地址"));
    // The clock ticks four times a second and leaves the message alone for
    // its time; the old song goes on with its own lyric.
    QTest::qWait(1500);
    EXPECT_EQ(form->statusLabel->text(), QStringLiteral("无法获取歌曲的播放地址"));
    EXPECT_EQ(lyricEntries(), lyric);
    EXPECT_EQ(form->lyricLine->text(), QStringLiteral("那年夏天的蝉声还在"));
    EXPECT_EQ(player->url(), url);
    EXPECT_EQ(form->playlistView->listCount(), 1);
    player->controls().setCurrentPosition(8.4);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return form->lyricLine->text() == QStringLiteral("海浪一遍一遍地说"); }, 3000));
    // Then the clock has the line back.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return form->statusLabel->text().contains(QLatin1Char('/')); }, 8000));
}

TEST_F(WindowFaults, SongInformationKeepsItsLyricToItself)
{
    search(QStringLiteral("晴川"));
    playRow(0);
    const QStringList lyric = lyricEntries();
    ASSERT_GT(lyric.size(), 3);
    const QString line = form->lyricLine->text();

    select(4);
    // The window is modal: close it as soon as it shows.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (form->songInfoWindow()->isVisible())
            form->songInfoWindow()->reject();
    });
    closer.start(20);
    form->showSongInformation();
    closer.stop();

    EXPECT_EQ(form->songInfoWindow()->titleEdit->text(), form->resultsView->text(4, 1));
    EXPECT_FALSE(form->songInfoWindow()->lyricEdit->toPlainText().isEmpty());
    EXPECT_NE(form->songInfoWindow()->lyricEdit->toPlainText(), lyric.join(QLatin1Char('\n')));
    EXPECT_EQ(lyricEntries(), lyric);
    EXPECT_EQ(form->lyricLine->text(), line);
}

TEST_F(WindowFaults, SeekKnobSeeksWhereItStandsAndShowsASeekAtOnce)
{
    search(QStringLiteral("晴川"));
    playRow(0);
    const double duration = player->currentMedia().duration();
    player->controls().setCurrentPosition(duration * 0.4);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return std::abs(player->controls().currentPosition() - duration * 0.4) < 0.5; },
        3000));
    form->onPlayClicked();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return player->playState() == MediaPlayer::kStatePaused; }, 5000));
    QTest::qWait(400); // the seek and the pause have settled
    form->onClockTick();
    const double pausedAt = player->controls().currentPosition();
    const int knob = form->seekKnob->leftTwips();
    EXPECT_NEAR(knob, PlaybackKnobs::knobForPosition(duration, pausedAt), 15);

    // A press and release without a move seeks nowhere.
    form->onSeekKnobPressed(ImageControl::kLeftButton, 0, 100, 0);
    form->onSeekKnobReleased(ImageControl::kLeftButton, 0, 100, 0);
    EXPECT_FALSE(form->seekDragging);
    QTest::qWait(300);
    EXPECT_NEAR(player->controls().currentPosition(), pausedAt, 0.05);
    EXPECT_EQ(form->seekKnob->leftTwips(), knob);

    // Dragged while paused to a quarter: the clock, the status line and
    // the knob show it at once, and the knob stays where it was dropped.
    const int quarter = PlaybackKnobs::kSeekKnobMax / 4;
    form->onSeekKnobPressed(ImageControl::kLeftButton, 0, 100, 0);
    form->onSeekKnobMoved(ImageControl::kLeftButton, 0, 100 + quarter - knob, 0);
    const int dropped = form->seekKnob->leftTwips();
    EXPECT_NEAR(dropped, quarter, 15);
    form->onSeekKnobReleased(ImageControl::kLeftButton, 0, 0, 0);
    const double target = duration * dropped / PlaybackKnobs::kSeekKnobMax;
    EXPECT_NEAR(player->controls().currentPosition(), target, 0.05);
    EXPECT_TRUE(form->statusLabel->text().startsWith(player->controls().currentPositionString()))
        << form->statusLabel->text().toStdString();
    EXPECT_EQ(player->playState(), MediaPlayer::kStatePaused);
    EXPECT_EQ(form->seekKnob->leftTwips(), dropped);

    // The far end is the track's end.
    form->onSeekKnobPressed(ImageControl::kLeftButton, 0, 0, 0);
    form->onSeekKnobMoved(ImageControl::kLeftButton, 0, 2 * PlaybackKnobs::kSeekKnobMax, 0);
    EXPECT_EQ(form->seekKnob->leftTwips(), PlaybackKnobs::kSeekKnobMax);
    form->onSeekKnobReleased(ImageControl::kLeftButton, 0, 0, 0);
    EXPECT_NEAR(player->controls().currentPosition(), duration, 0.05);
}

TEST_F(WindowFaults, PlayStartsAgainOnceATrackStoppedAndTheButtonSaysSo)
{
    EXPECT_TRUE(playButtonShows(Artwork::Glyph::Play)); // nothing plays at start
    search(QStringLiteral("晴川"));
    form->randomBox->setChecked(false);
    form->listLoopBox->setChecked(false); // no mode: an ended track stays ended
    playRow(2);
    const QString url = player->url();
    EXPECT_TRUE(playButtonShows(Artwork::Glyph::Pause));

    player->controls().setCurrentPosition(player->currentMedia().duration() - 0.3);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return player->playState() == MediaPlayer::kStateStopped; }, 10000));
    EXPECT_TRUE(playButtonShows(Artwork::Glyph::Play));

    form->onPlayClicked();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return player->playState() == MediaPlayer::kStatePlaying; }, 10000));
    EXPECT_EQ(form->playlistView->playIndex(), 0);
    EXPECT_TRUE(player->url().contains(QStringLiteral("/music/") + form->playlistView->url(0)));
    EXPECT_EQ(QUrl(player->url()).path(), QUrl(url).path());
    EXPECT_TRUE(playButtonShows(Artwork::Glyph::Pause));
}

TEST_F(WindowFaults, DeletingThePlayingItemRenamesCaptionAndTrayTip)
{
    search(QStringLiteral("晴川"));
    for (int row : {0, 1, 2})
        form->resultsView->setTicked(row, true);
    form->resultsView->setCurrentRow(-1);
    form->addResultsToPlaylist();
    PlaylistView *list = form->playlistView;
    ASSERT_EQ(list->listCount(), 3);
    form->playlistMouseIndex = 2;
    form->playPlaylistMouseItem();

    // Delete the playing item: the one above it plays and is named.
    form->removeSelectedFromPlaylist();
    ASSERT_EQ(list->listCount(), 2);
    const QString named =
        QStringLiteral("正在播放：") + list->title(1) + QStringLiteral("--") + list->author(1);
    EXPECT_EQ(list->playIndex(), 1);
    EXPECT_EQ(form->windowTitle(), named);
    EXPECT_EQ(tray::lastRecord().tip, named);
}

} // namespace
