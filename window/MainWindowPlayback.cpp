// The play path of the main window and everything that picks a track: the
// search-result and playlist plays, next and previous, the end of a track
// by the play mode, the play-mode boxes and menu, and the playlist mouse
// events that prepare the playlist menu. Which playlist item plays is the
// player state's to decide: the window's entry points send it their
// command, and its play requests, wherever they came from (a button, a
// key, the desktop), run playPlaylistItem here.
//
// Every play is one function, playTrack(), with the differences of the
// entry points passed in: whether the lyric box empties first, whether the
// item is marked before or after the link request, whether the player is
// told to play after the link is set.
#include "window/MainWindow.h"

#include "controls/image/ImageControl.h"
#include "controls/listbox/PlaylistView.h"
#include "playback/MediaPlayer.h"
#include "service/LoadNetPicture.h"
#include "service/LyricsBuffer.h"
#include "service/ResolveSongLink.h"
#include "shell/TrayIcon.h"
#include "window/PopupMenus.h"
#include "window/results/ResultList.h"
#include "window/rules/HeapTrim.h"

#include <QAction>
#include <QCheckBox>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QSlider>
#include <QTimer>
#include <algorithm>

namespace {

// Text colour of the playing item, &HFF80FF (red 255, green 128, blue 255).
const QColor kPlayingColour(255, 128, 255);
// Balloon flags of the play announcements: the information icon.
constexpr int kInfoBalloon = 1;
constexpr int kBalloonTimeoutMs = 5000;
// Balloon of Next and Previous on an empty playlist.
const QString kNoSongsBalloon = QStringLiteral("当前尚未添加歌曲");
// Status line of a play whose link request gave no playable link, and how
// long it stays before the clock takes the line back.
const QString kNoLinkStatus = QStringLiteral("无法获取歌曲的播放地址");
constexpr int kFailureMessageMs = 5000;
// A track shorter than this that ends counts as one that did not play.
constexpr double kShortestTrackSeconds = 0.5;
// Prefix of the play balloon and the now-playing captions.
const QString kNowPlaying = QStringLiteral("正在播放：");

} // namespace

void MainWindow::playSearchResult(bool fromDoubleClick)
{
    if (resultsView->rowCount() == 0)
        return;
    const int row = selectedResultRow();
    if (row < 0)
        return; // nothing selected: no request with an empty song ID
    Track track = resultTrack(row);

    QString link;
    if (!resolvePlayableLink(track, link, fromDoubleClick))
        return;
    playlistView->addItem(track.title, track.singer, track.songId, QString());
    m_state->setNowPlayingText(track.title + QStringLiteral("--") + track.singer);
    startLink(link, false);
    const int index = playlistView->listCount() - 1;
    markPlaying(index);
    m_state->setCurrentIndex(index);
    finishPlay(track);
}

void MainWindow::playPlaylistItem(int index, PlayEntry entry)
{
    m_state->setCurrentIndex(index);
    // Read the item before the request: the list may change while it waits.
    const Track track{playlistView->url(index), playlistView->title(index),
                      playlistView->author(index)};
    const bool markFirst = entry == PlayEntry::ListDoubleClick || entry == PlayEntry::Menu;
    if (markFirst)
        markPlaying(index);

    QString link;
    if (!resolvePlayableLink(track, link, entry == PlayEntry::ListDoubleClick))
        return;
    if (!markFirst)
        markPlaying(index);
    // Every playlist play names the track it starts, so the caption and the
    // tray tip never keep naming the previous one.
    m_state->setNowPlayingText(track.title + QStringLiteral("--") + track.singer);
    startLink(link, entry == PlayEntry::Step);
    finishPlay(track);
}

bool MainWindow::resolvePlayableLink(const Track &track, QString &link, bool clearLyricBox)
{
    // A new play cancels an end-of-track advance that has not run yet.
    m_endOfTrackPending = false;
    QPointer<MainWindow> alive(this);
    // The answer's lyric replaces the playing song's only once this play
    // goes ahead: a song without a playable link leaves the old one alone.
    LyricsBuffer lyrics;
    link = musicservice::resolveSongLink(track.songId, track.singer, track.title, lyrics).trimmed();
    // The request waits with events running: the window may have been
    // closed for good meanwhile, and then nothing of it may be touched.
    if (!alive || m_closing)
        return false;
    if (link.isEmpty()) {
        showStatusMessage(kNoLinkStatus, kFailureMessageMs);
        return false;
    }
    if (clearLyricBox)
        lyricLine->clear();
    lyrics.applyTo(*this);
    return true;
}

void MainWindow::startLink(const QString &link, bool callPlay)
{
    mediaPlayer->setUrl(link);
    if (callPlay)
        mediaPlayer->controls().play();
    updateClockTimer();
    reportPlayback();
}

void MainWindow::markPlaying(int index)
{
    playlistView->setPlayIndex(index);
    playlistView->setPlayingTextColor(kPlayingColour);
}

void MainWindow::finishPlay(const Track &track)
{
    playingSinger = track.singer;
    m_state->startTrack(
        {track.songId, track.title, track.singer, albumOf(track.songId), QString()});
    showSingerPicture(track.singer);
    if (m_closing)
        return;
    // The caption names the new track before the tray tip copies it, so the
    // tip never names the track that was playing before.
    if (m_state->nowPlayingTest())
        setWindowTitle(m_state->nowPlayingTip());
    tray::updateTrayIcon(this, windowTitle(), kNowPlaying + track.title, kInfoBalloon,
                         kBalloonTimeoutMs);
    scheduleDisplayTick();
    heaptrim::returnFreedPagesSoon();
}

void MainWindow::showSingerPicture(const QString &singer)
{
    QPointer<MainWindow> alive(this);
    const QString address = LoadNetPicture::singerPictureUrl(singer);
    if (!alive)
        return;
    QImage picture;
    if (address != LoadNetPicture::kNoSingerInfo) {
        picture = LoadNetPicture::loadPictureFromPath(address);
        if (!alive)
            return;
    }
    // A singer without a picture (or one that cannot be loaded) shows the
    // default, never the previous singer's picture.
    m_state->setPictureUrl(picture.isNull() ? QString() : address);
    if (picture.isNull()) {
        singerPicture->setPicture(defaultSingerPicture->picture());
    } else {
        singerPicture->setPicture(QPixmap::fromImage(picture.scaled(
            singerPicture->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
    }
}

int MainWindow::selectedResultRow() const
{
    return resultsView->currentRow();
}

MainWindow::Track MainWindow::resultTrack(int row) const
{
    const SearchResult &result = resultsView->row(row);
    return {result.songId, result.title, result.singer};
}

// ---- entry points -----------------------------------------------------------

void MainWindow::onResultDoubleClicked()
{
    playSearchResult(true);
}

void MainWindow::playSelectedResult()
{
    playSearchResult(false);
}

void MainWindow::onPlaylistDoubleClicked(short, short, float x, float y)
{
    if (playlistView->listCount() == 0)
        return;
    const int index = playlistView->indexFromPoint(x, y);
    if (index < 0)
        return;
    m_state->playItem(index, PlayEntry::ListDoubleClick);
}

void MainWindow::playPlaylistMouseItem()
{
    const int index = playlistMouseIndex;
    if (index < 0 || index >= playlistView->listCount())
        return; // no item under the last press: nothing to play
    m_state->playItem(index, PlayEntry::Menu);
}

void MainWindow::onPlaylistMousePressed(short, short, float x, float y)
{
    if (playlistView->listCount() >= 1)
        playlistMouseIndex = playlistView->indexFromPoint(x, y);
}

void MainWindow::onPlaylistMouseReleased(short button, short, float, float)
{
    if (button != 2)
        return;
    // As on the result list: an empty playlist offers the window's menu.
    if (playlistView->listCount() >= 1)
        popupMenus->playlistMenu()->popup(QCursor::pos());
    else
        showWindowMenu(QCursor::pos());
}

// ---- play order -------------------------------------------------------------

PlayMode MainWindow::playMode() const
{
    if (singleRepeatBox->isChecked())
        return PlayMode::SingleRepeat;
    if (listLoopBox->isChecked())
        return PlayMode::ListLoop;
    if (randomBox->isChecked())
        return PlayMode::Random;
    return PlayMode::None;
}

void MainWindow::stepTrack(bool forward)
{
    if (forward)
        m_state->next();
    else
        m_state->previous();
}

void MainWindow::onNextClicked()
{
    stepTrack(true);
}
void MainWindow::onTrayNextChosen()
{
    stepTrack(true);
}
void MainWindow::onPreviousClicked()
{
    stepTrack(false);
}
void MainWindow::onTrayPreviousChosen()
{
    stepTrack(false);
}

void MainWindow::onPlayStateChanged(int)
{
    // The argument is ignored on purpose: the player's state now decides.
    const int state = mediaPlayer->playState();
    if (state == MediaPlayer::kStateMediaEnded && !m_endOfTrackPending && !endsWithoutPlaying()) {
        // The next track starts once the player has finished reporting this
        // end: its link request waits for the network, which must not
        // happen inside the player's own event delivery.
        m_endOfTrackPending = true;
        QTimer::singleShot(0, this, &MainWindow::playAfterEndOfTrack);
    }
    if (mediaPlayer->playState() == MediaPlayer::kStateStopped)
        playlistView->setPlayingTextColor(kPlayingColour);
    reportPlayback();
    updatePlayButtonLook();
    updateClockTimer();
    onClockTick();
}

bool MainWindow::endsWithoutPlaying()
{
    // A track of (almost) no length ends as soon as it starts; repeating it
    // or walking a list of such tracks would request and restart them
    // without end. Once every item has had its turn that way, stop.
    if (mediaPlayer->currentMedia().duration() >= kShortestTrackSeconds) {
        m_shortEnds = 0;
        return false;
    }
    if (++m_shortEnds <= std::max(1, playlistView->listCount()))
        return false;
    m_shortEnds = 0;
    return true;
}

void MainWindow::playAfterEndOfTrack()
{
    if (!m_endOfTrackPending || m_closing)
        return;
    m_endOfTrackPending = false;
    m_state->playAfterEnd();
}

void MainWindow::onSingleRepeatClicked()
{
    playModeBoxClicked(singleRepeatBox);
}
void MainWindow::onListLoopClicked()
{
    playModeBoxClicked(listLoopBox);
}
void MainWindow::onRandomClicked()
{
    playModeBoxClicked(randomBox);
}

void MainWindow::playModeBoxClicked(QCheckBox *box)
{
    // Unticking a box changes nothing else, so all three may end unticked.
    if (!box->isChecked())
        return;
    for (QCheckBox *other : {singleRepeatBox, listLoopBox, randomBox}) {
        if (other != box)
            other->setChecked(false);
    }
}

void MainWindow::setPlayModeFromMenu(QAction *chosen)
{
    const std::pair<QAction *, QCheckBox *> pairs[] = {
        {popupMenus->singleRepeatAction, singleRepeatBox},
        {popupMenus->listLoopAction, listLoopBox},
        {popupMenus->randomAction, randomBox}};
    for (const auto &[action, box] : pairs) {
        action->setCheckable(true);
        action->setChecked(action == chosen);
        box->setChecked(action == chosen);
    }
}

void MainWindow::onSingleRepeatChosen()
{
    setPlayModeFromMenu(popupMenus->singleRepeatAction);
}
void MainWindow::onListLoopChosen()
{
    setPlayModeFromMenu(popupMenus->listLoopAction);
}
void MainWindow::onRandomChosen()
{
    setPlayModeFromMenu(popupMenus->randomAction);
}

void MainWindow::showPlayModeMenu()
{
    popupMenus->playModeMenu()->popup(QCursor::pos());
}

// ---- the player's state -------------------------------------------------------

void MainWindow::connectState()
{
    playlistView->setStore(&m_state->playlist());
    connect(m_state, &PlayerState::playRequested, this, &MainWindow::playPlaylistItem);
    connect(m_state, &PlayerState::transportRequested, this, &MainWindow::onTransportRequested);
    connect(m_state, &PlayerState::nothingToPlay, this, [this] {
        tray::updateTrayIcon(this, windowTitle(), kNoSongsBalloon, kInfoBalloon, kBalloonTimeoutMs);
    });
    connect(m_state, &PlayerState::raiseRequested, this, &MainWindow::raiseWindow);
    connect(m_state, &PlayerState::quitRequested, this, &MainWindow::exitPlayer);

    // The volume: the slider (moved by the knob, a key or the state) and
    // the state follow each other.
    connect(volumeSlider, &QSlider::valueChanged, m_state, &PlayerState::setVolume);
    connect(m_state, &PlayerState::volumeChanged, this, [this](int volume) {
        if (volumeSlider->value() != volume)
            showVolume(volume);
    });
    // The play mode: the three boxes (ticked by a click or the menu) and
    // the state follow each other.
    for (QCheckBox *box : {singleRepeatBox, listLoopBox, randomBox})
        connect(box, &QCheckBox::toggled, this, [this] { m_state->setPlayMode(playMode()); });
    connect(m_state, &PlayerState::playModeChanged, this, [this](PlayMode mode) {
        if (playMode() != mode)
            setPlayMode(mode);
    });
    if (playMode() != m_state->playMode())
        setPlayMode(m_state->playMode());

    m_state->setPositionSource([player = QPointer<MediaPlayer>(mediaPlayer)] {
        return player ? player->controls().currentPosition() : 0.0;
    });
    reportPlayback();
}

void MainWindow::onTransportRequested(PlayerState::Transport command, double seconds)
{
    switch (command) {
    case PlayerState::Transport::Toggle:
        togglePlayback();
        break;
    case PlayerState::Transport::PlayOrResume:
        playOrResume();
        break;
    case PlayerState::Transport::Pause:
        pausePlayback();
        break;
    case PlayerState::Transport::Stop:
        stopPlayback();
        break;
    case PlayerState::Transport::SeekBy:
        seekBy(seconds);
        break;
    case PlayerState::Transport::SeekTo:
        seekTo(seconds);
        break;
    }
}

void MainWindow::reportPlayback()
{
    m_state->setPlayback(mediaPlayer->playState(), !mediaPlayer->status().isEmpty());
    // The length becomes known a little after the track starts, with no
    // event of its own: the clock's ticks report it.
    m_state->setLength(mediaPlayer->currentMedia().duration());
}
