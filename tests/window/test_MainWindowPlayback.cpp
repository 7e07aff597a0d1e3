// Playing from the main window against the bundled music service, with
// mpv's null audio output: the play paths, the order at the end of a
// track, next and previous, the playlist commands, the knobs, the lyric
// line, downloads and exit.
#include "tests/window/MainWindowFixture.h"

#include "controls/image/ImageControl.h"
#include "controls/listbox/PlaylistView.h"
#include "downloads/DownloadManager.h"
#include "playback/MediaPlayer.h"
#include "service/ServiceConfig.h"
#include "tests/common/MusicdServer.h"
#include "tests/common/TestHttpServer.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <httplib.h>

namespace {

const QColor kPlayingColour(255, 128, 255);

class MainWindowPlaybackTest : public MusicdSuite<MainWindowFixture>
{
protected:
    void SetUp() override
    {
        ServiceConfig::setHost(service->url());
        MainWindowFixture::SetUp();
        form->setQuitHandler([this](int code) { quitCodes.append(code); });
        form->downloads()->setShowProgress(false);
        form->downloads()->setPathChooser([this](const QString &suggested) {
            suggestions.append(suggested);
            return chosenPath;
        });
        form->downloads()->setMessageSink(
            [this](bool, const QString &text) { downloadMessages.append(text); });
        player = form->mediaPlayer;
        list = form->playlistView;
    }
    void TearDown() override
    {
        MainWindowFixture::TearDown();
        ServiceConfig::setHost(ServiceConfig::defaultHost());
    }

    // Searches and waits for the rows; the singer's songs come in order.
    void search(const QString &words, int rows)
    {
        form->searchEdit->setText(words);
        form->onSearchClicked();
        ASSERT_TRUE(QTest::qWaitFor([&] { return form->resultsView->rowCount() >= rows; }, 10000));
    }

    void selectRow(int row) { form->resultsView->setCurrentRow(row); }

    QString rowText(int row, int column) const { return form->resultsView->text(row, column); }

    // Ticks `rows` and adds them to the playlist, nothing selected.
    void addRows(const QList<int> &rows)
    {
        form->resultsView->setCurrentRow(-1);
        for (int row : rows)
            form->resultsView->setTicked(row, true);
        form->addResultsToPlaylist();
    }

    bool waitForState(int state, int ms = 10000)
    {
        return QTest::qWaitFor([&] { return player->playState() == state; }, ms);
    }

    // Lets the playing track run out and waits for what follows.
    void endTrack()
    {
        ASSERT_TRUE(waitForState(MediaPlayer::kStatePlaying));
        ASSERT_TRUE(QTest::qWaitFor([&] { return player->currentMedia().duration() > 0; }, 5000));
        player->controls().setCurrentPosition(player->currentMedia().duration() - 0.3);
    }

    // Lets the track run out and waits until the next one plays.
    void endTrackAndWaitForNext()
    {
        QSignalSpy changes(player, &MediaPlayer::playStateChanged);
        endTrack();
        const auto sawEnd = [&] {
            for (const QList<QVariant> &args : changes) {
                if (args.at(0).toInt() == MediaPlayer::kStateMediaEnded)
                    return true;
            }
            return false;
        };
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return sawEnd() && player->playState() == MediaPlayer::kStatePlaying; }, 10000));
    }

    bool urlNamesSong(const QString &songId) const
    {
        return player->url().contains(QStringLiteral("/music/") + songId + QLatin1Char('.'));
    }

    int current() const { return form->playerState()->currentIndex(); }

    QStringList requestsWithEmptyId()
    {
        return service->logLines().filter(QStringLiteral("songId=&"));
    }

    MediaPlayer *player = nullptr;
    PlaylistView *list = nullptr;
    QList<int> quitCodes;
    QTemporaryDir downloadDir;
    QString chosenPath;
    QStringList suggestions;
    QStringList downloadMessages;
};

TEST_F(MainWindowPlaybackTest, DoubleClickedResultPlaysMarkedAndFollowsTheLyric)
{
    EXPECT_FALSE(form->clockTimer->isActive()); // idle: the clock does not tick
    search(QStringLiteral("晴川"), 30);
    selectRow(0);
    form->onResultDoubleClicked();

    ASSERT_EQ(list->listCount(), 1);
    EXPECT_EQ(list->title(0), rowText(0, 1));
    EXPECT_EQ(list->url(0), rowText(0, 0));
    EXPECT_EQ(list->playIndex(), 0);
    EXPECT_EQ(list->playingTextColor(), kPlayingColour);
    EXPECT_EQ(current(), 0);
    EXPECT_EQ(form->playerState()->nowPlayingText(), rowText(0, 1) + QStringLiteral("--晴川"));
    EXPECT_EQ(form->playingSinger, QStringLiteral("晴川"));
    EXPECT_TRUE(urlNamesSong(rowText(0, 0)));
    EXPECT_EQ(tray::lastBalloon(), QStringLiteral("正在播放：") + rowText(0, 1));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return form->windowTitle() ==
                   QStringLiteral("正在播放：") + rowText(0, 1) + QStringLiteral("--晴川");
        },
        2000));

    ASSERT_TRUE(waitForState(MediaPlayer::kStatePlaying));
    EXPECT_TRUE(form->clockTimer->isActive());
    ASSERT_GT(form->lyricList()->count(), 3);
    // The line follows the playing second: seek into the lines tagged
    // [00:04.00] and [00:08.00], then onto the tag-only line at [00:12.00].
    player->controls().setCurrentPosition(4.4);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return form->lyricLine->text() == QStringLiteral("那年夏天的蝉声还在"); }, 3000))
        << form->lyricLine->text().toStdString();
    player->controls().setCurrentPosition(8.4);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return form->lyricLine->text() == QStringLiteral("海浪一遍一遍地说"); }, 3000));
    player->controls().setCurrentPosition(12.4);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->lyricLine->text().isEmpty(); }, 3000));
    EXPECT_TRUE(form->statusLabel->text().contains(QLatin1Char('/')));

    // A second result appends a second item and moves the mark; a singer
    // without a picture shows the default, not the previous singer's.
    const QImage firstPicture = form->singerPicture->picture().toImage();
    search(QStringLiteral("苏小暖"), 1);
    selectRow(0);
    form->playSelectedResult();
    ASSERT_EQ(list->listCount(), 2);
    EXPECT_EQ(list->playIndex(), 1);
    EXPECT_EQ(current(), 1);
    EXPECT_EQ(form->singerPicture->picture().toImage(),
              form->defaultSingerPicture->picture().toImage());
    EXPECT_NE(firstPicture, form->defaultSingerPicture->picture().toImage());
}

TEST_F(MainWindowPlaybackTest, TrackEndAdvancesByTheMode)
{
    search(QStringLiteral("晴川"), 30);
    addRows({0, 1, 2});
    ASSERT_EQ(list->listCount(), 3);
    form->playlistMouseIndex = 1;
    form->playPlaylistMouseItem();
    EXPECT_EQ(list->playIndex(), 1);

    // List loop (the start mode): 1 → 2 → 0.
    for (int expected : {2, 0}) {
        endTrack();
        ASSERT_TRUE(QTest::qWaitFor([&] { return current() == expected; }, 10000));
        EXPECT_TRUE(urlNamesSong(list->url(expected)));
        EXPECT_EQ(list->playIndex(), expected);
        EXPECT_EQ(form->playerState()->nowPlayingText(),
                  list->title(expected) + QStringLiteral("--") + list->author(expected));
    }

    // Single repeat: the same item starts again.
    form->onSingleRepeatChosen();
    EXPECT_TRUE(form->singleRepeatBox->isChecked());
    EXPECT_FALSE(form->listLoopBox->isChecked());
    endTrackAndWaitForNext();
    EXPECT_EQ(current(), 0);
    EXPECT_TRUE(urlNamesSong(list->url(0)));

    // Random: any item, always one that exists.
    form->onRandomChosen();
    EXPECT_TRUE(form->randomBox->isChecked());
    for (int i = 0; i < 2; ++i) {
        endTrackAndWaitForNext();
        EXPECT_GE(current(), 0);
        EXPECT_LT(current(), 3);
        EXPECT_EQ(list->playIndex(), current());
    }

    // No mode: the track ends and nothing follows.
    form->randomBox->setChecked(false);
    const int before = current();
    const QString url = player->url();
    endTrack();
    ASSERT_TRUE(waitForState(MediaPlayer::kStateStopped));
    QTest::qWait(300);
    EXPECT_EQ(player->playState(), MediaPlayer::kStateStopped);
    EXPECT_EQ(current(), before);
    EXPECT_EQ(player->url(), url);
    EXPECT_FALSE(form->clockTimer->isActive());
}

TEST_F(MainWindowPlaybackTest, NextAndPreviousWrapAndAnEmptyListOnlyAnnounces)
{
    search(QStringLiteral("晴川"), 30);
    // Start value 1 with a single item: Next plays item 0.
    addRows({0});
    form->onNextClicked();
    EXPECT_EQ(current(), 0);
    EXPECT_TRUE(urlNamesSong(list->url(0)));

    addRows({1, 2});
    form->playlistMouseIndex = 2;
    form->playPlaylistMouseItem();
    form->onTrayNextChosen(); // last → first
    EXPECT_EQ(current(), 0);
    EXPECT_EQ(list->playIndex(), 0);
    EXPECT_TRUE(urlNamesSong(list->url(0)));
    form->onPreviousClicked(); // first → last
    EXPECT_EQ(current(), 2);
    EXPECT_TRUE(urlNamesSong(list->url(2)));
    form->onTrayPreviousChosen();
    EXPECT_EQ(current(), 1);

    // Double-clicking below the last item plays nothing.
    const QString url = player->url();
    form->onPlaylistDoubleClicked(1, 0, 5, float(list->height() - 2));
    EXPECT_EQ(current(), 1);
    EXPECT_EQ(player->url(), url);

    form->clearPlaylist();
    EXPECT_EQ(list->listCount(), 0);
    form->onNextClicked();
    EXPECT_EQ(tray::lastBalloon(), QStringLiteral("当前尚未添加歌曲"));
    form->onPreviousClicked();
    EXPECT_EQ(tray::lastBalloon(), QStringLiteral("当前尚未添加歌曲"));
    EXPECT_EQ(current(), 1);
    EXPECT_EQ(player->url(), url); // emptying the list keeps the music playing
    EXPECT_TRUE(requestsWithEmptyId().isEmpty());
}

TEST_F(MainWindowPlaybackTest, DeleteOnePlaysTheNeighbour)
{
    search(QStringLiteral("晴川"), 30);
    addRows({0, 1, 2, 3, 4, 5});
    QStringList ids;
    for (int i = 0; i < 6; ++i)
        ids << list->url(i);

    // Index 3 deleted while 5 plays: the item above the deleted one (2).
    form->playlistMouseIndex = 5;
    form->playPlaylistMouseItem();
    form->playlistMouseIndex = 3;
    form->removeSelectedFromPlaylist();
    EXPECT_EQ(list->listCount(), 5);
    EXPECT_EQ(current(), 2);
    EXPECT_EQ(list->playIndex(), 2);
    EXPECT_EQ(list->url(2), ids.at(2));
    EXPECT_TRUE(urlNamesSong(ids.at(2)));

    // While the first item plays: the last of the shortened list.
    form->playlistMouseIndex = 0;
    form->playPlaylistMouseItem();
    form->playlistMouseIndex = 1;
    form->removeSelectedFromPlaylist();
    EXPECT_EQ(list->listCount(), 4);
    EXPECT_EQ(current(), 3);
    EXPECT_EQ(list->playIndex(), 3);
    EXPECT_TRUE(urlNamesSong(list->url(3)));

    // A press that named no item deletes nothing.
    form->playlistMouseIndex = -1;
    form->removeSelectedFromPlaylist();
    form->playPlaylistMouseItem();
    form->downloadPlaylistItem();
    EXPECT_EQ(list->listCount(), 4);
    EXPECT_EQ(current(), 3);
    EXPECT_TRUE(suggestions.isEmpty());

    // The only item: the list empties and nothing is requested for it.
    form->clearPlaylist();
    addRows({7});
    form->playlistMouseIndex = 0;
    form->playPlaylistMouseItem();
    form->removeSelectedFromPlaylist();
    EXPECT_EQ(list->listCount(), 0);
    EXPECT_EQ(list->playIndex(), -1);
    EXPECT_TRUE(requestsWithEmptyId().isEmpty());
}

TEST_F(MainWindowPlaybackTest, AddToPlaylistTakesTickedRowsThenTheSelectedRow)
{
    search(QStringLiteral("晴川"), 30);
    for (int row : {1, 3, 4})
        form->resultsView->setTicked(row, true);
    selectRow(6);
    form->addResultsToPlaylist();

    const QList<int> expected = {1, 3, 4, 6};
    ASSERT_EQ(list->listCount(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(list->title(i), rowText(expected.at(i), 1));
        EXPECT_EQ(list->author(i), rowText(expected.at(i), 2));
        EXPECT_EQ(list->url(i), rowText(expected.at(i), 0));
    }
    for (int row = 0; row < form->resultsView->rowCount(); ++row)
        EXPECT_FALSE(form->resultsView->isTicked(row)) << row;
    EXPECT_FALSE(musicservice::searchState().playlistAddInProgress);
    EXPECT_EQ(player->url(), QString()); // adding plays nothing

    // The tool tip names the row under the pointer, and keeps it over
    // empty space.
    ResultList *results = form->resultsView;
    results->scrollToRow(2);
    form->onResultsHovered(results->rowRect(2).center());
    const QString tip = QStringLiteral("曲名：") + rowText(2, 1) + QStringLiteral(" | 歌手：") +
                        rowText(2, 2) + QStringLiteral(" | 专辑：") + rowText(2, 3) +
                        QStringLiteral(" | 歌曲ID：") + rowText(2, 0);
    EXPECT_EQ(results->toolTip(), tip);
    form->onResultsHovered(QPoint(5, -5)); // above the first row
    EXPECT_EQ(results->toolTip(), tip);
}

TEST_F(MainWindowPlaybackTest, KnobsSeekAndSetTheVolume)
{
    // Volume knob dragged past the right end: 800 twips, volume 100.
    form->onVolumeKnobPressed(ImageControl::kLeftButton, 0, 100, 0);
    form->onVolumeKnobMoved(ImageControl::kLeftButton, 0, 5000, 0);
    // The knob sits on whole pixels: within one pixel (15 twips) of 800.
    EXPECT_NEAR(form->volumeKnob->leftTwips(), 800, 15);
    EXPECT_EQ(form->volumeSlider->value(), 100);
    EXPECT_EQ(form->volumeKnob->toolTip(), QStringLiteral("音量: 100%"));
    form->onVolumeKnobMoved(ImageControl::kLeftButton, 0, -9000, 0);
    EXPECT_EQ(form->volumeKnob->leftTwips(), 0);
    EXPECT_EQ(form->volumeSlider->value(), 0);
    form->onVolumeKnobMoved(ImageControl::kLeftButton, 0, 100 + 480, 0);
    EXPECT_EQ(form->volumeSlider->value(), 60);
    EXPECT_TRUE(QTest::qWaitFor([&] { return player->settings().volume() == 60; }, 2000));
    EXPECT_EQ(form->volumeSlider->toolTip(), QStringLiteral("音量调节: 60%"));

    // A release with nothing loaded changes nothing, the drag flag included.
    form->onSeekKnobPressed(ImageControl::kLeftButton, 0, 50, 0);
    EXPECT_TRUE(form->seekDragging);
    form->onSeekKnobReleased(ImageControl::kLeftButton, 0, 50, 0);
    EXPECT_TRUE(form->seekDragging);

    search(QStringLiteral("晴川"), 30);
    selectRow(0);
    form->onResultDoubleClicked();
    ASSERT_TRUE(waitForState(MediaPlayer::kStatePlaying));
    ASSERT_TRUE(QTest::qWaitFor([&] { return player->currentMedia().duration() > 0; }, 5000));
    const double duration = player->currentMedia().duration();

    // Dragged while playing, released at 1920 twips: the share of the
    // length that 1920 is of the knob's travel of 3495.
    form->seekKnob->setLeftTwips(1000);
    form->onSeekKnobPressed(ImageControl::kLeftButton, 0, 30, 0);
    form->onSeekKnobMoved(ImageControl::kLeftButton, 0, 30 + 920, 0);
    EXPECT_EQ(form->seekKnob->leftTwips(), 1920);
    EXPECT_EQ(form->seekFill->widthTwips(), 1920);
    form->onSeekKnobReleased(ImageControl::kLeftButton, 0, 0, 0);
    EXPECT_FALSE(form->seekDragging);
    const double target = duration * 1920 / 3495;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return std::abs(player->controls().currentPosition() - target) < 1.0; }, 3000))
        << player->controls().currentPosition() << " vs " << target;

    // Paused: the clock stops, the knob can still be dragged.
    form->onPlayClicked();
    ASSERT_TRUE(waitForState(MediaPlayer::kStatePaused));
    EXPECT_FALSE(form->clockTimer->isActive());
    const int left = form->seekKnob->leftTwips();
    form->onSeekKnobPressed(ImageControl::kLeftButton, 0, 30, 0);
    form->onSeekKnobMoved(ImageControl::kLeftButton, 0, 600, 0);
    EXPECT_NEAR(form->seekKnob->leftTwips(), left + 570, 15);
    EXPECT_TRUE(form->seekDragging);
    form->onSeekKnobReleased(ImageControl::kLeftButton, 0, 600, 0);
    form->onPlayClicked();
    EXPECT_TRUE(waitForState(MediaPlayer::kStatePlaying));
}

TEST_F(MainWindowPlaybackTest, DownloadsSaveTheSongAndLeaveThePlayingLyricAlone)
{
    search(QStringLiteral("晴川"), 30);
    selectRow(0);
    form->onResultDoubleClicked();
    QStringList lyric;
    for (int i = 0; i < form->lyricList()->count(); ++i)
        lyric << form->lyricList()->item(i)->text();

    chosenPath = downloadDir.filePath(QStringLiteral("song.wav"));
    selectRow(5);
    QSignalSpy done(form->downloads(), &DownloadManager::downloadFinished);
    form->downloadSelectedResult();
    ASSERT_TRUE(done.count() == 1 || done.wait(20000));
    EXPECT_EQ(done.first().at(1).value<DownloadJob::Result>(), DownloadJob::Result::Saved);
    // "title - singer" with the extension of what the link answers (WAV).
    ASSERT_EQ(suggestions.size(), 1);
    EXPECT_TRUE(suggestions.first().endsWith(QLatin1Char('/') + rowText(5, 1) +
                                             QStringLiteral(" - 晴川.wav")))
        << suggestions.first().toStdString();
    EXPECT_GT(QFile(chosenPath).size(), 1000);
    EXPECT_EQ(QDir(downloadDir.path()).entryList(QDir::Files).size(), 1);

    QStringList after;
    for (int i = 0; i < form->lyricList()->count(); ++i)
        after << form->lyricList()->item(i)->text();
    EXPECT_EQ(after, lyric);
    EXPECT_EQ(downloadMessages, QStringList{QStringLiteral("下载完成：song.wav")});
}

TEST_F(MainWindowPlaybackTest, ExitStopsSilencesRemovesTheIconAndQuitsWithZero)
{
    search(QStringLiteral("晴川"), 30);
    selectRow(0);
    form->onResultDoubleClicked();
    ASSERT_TRUE(waitForState(MediaPlayer::kStatePlaying));
    ASSERT_TRUE(tray::isHooked());

    form->exitPlayer();
    EXPECT_EQ(quitCodes, QList<int>{0});
    EXPECT_EQ(player->playState(), MediaPlayer::kStateStopped);
    EXPECT_EQ(player->settings().volume(), 0);
    EXPECT_FALSE(tray::isHooked());
    EXPECT_FALSE(form->clockTimer->isActive());
}

// A WAV file of 10 ms of silence: it ends as soon as it starts.
std::string blipWav()
{
    const uint32_t rate = 44100;
    const uint32_t samples = rate / 100;
    const uint32_t dataBytes = samples * 2;
    std::string w;
    const auto u32 = [&w](uint32_t v) { w.append(reinterpret_cast<const char *>(&v), 4); };
    const auto u16 = [&w](uint16_t v) { w.append(reinterpret_cast<const char *>(&v), 2); };
    w += "RIFF";
    u32(36 + dataBytes);
    w += "WAVEfmt ";
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    w += "data";
    u32(dataBytes);
    w.append(dataBytes, '\0');
    return w;
}

TEST_F(MainWindowPlaybackTest, TracksWithoutLengthDoNotRepeatForever)
{
    TestHttpServer fake;
    std::atomic<int> linkRequests{0};
    fake.http().Get("/app/link/getLinks.php", [&](const httplib::Request &,
                                                  httplib::Response &res) {
        ++linkRequests;
        const std::string url =
            "http:\\/\\/127.0.0.1:" + std::to_string(fake.port()) + "\\/blip.wav";
        res.set_content("{\"status\":1,\"url\":\"" + url + "\",\"lyric_url\":\"\"}", "text/html");
    });
    fake.http().Get("/blip.wav", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(blipWav(), "audio/wav");
    });
    ASSERT_TRUE(fake.start());
    ServiceConfig::setHost(fake.url());

    form->onSingleRepeatChosen(); // single repeat
    list->addItem(QStringLiteral("短"), QStringLiteral("歌手"), QStringLiteral("1"), QString());
    list->addItem(QStringLiteral("也短"), QStringLiteral("歌手"), QStringLiteral("2"), QString());
    form->playlistMouseIndex = 0;
    form->playPlaylistMouseItem();
    ASSERT_TRUE(player->url().endsWith(QStringLiteral("/blip.wav")));

    // A few restarts are allowed, then the player rests.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return linkRequests > 1 && player->playState() == MediaPlayer::kStateStopped; },
        10000));
    QTest::qWait(1000);
    EXPECT_EQ(player->playState(), MediaPlayer::kStateStopped);
    EXPECT_LE(linkRequests.load(), 4);
    EXPECT_FALSE(form->clockTimer->isActive());
}

} // namespace
