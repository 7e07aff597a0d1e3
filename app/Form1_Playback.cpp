// The play path of the main window and everything that picks a track: the
// search-result and playlist plays, next and previous, the end of a track
// by the play mode, the play-mode boxes and menu, and the playlist mouse
// events that prepare the playlist menu.
//
// Every play is one function, playTrack(), with the differences of the
// entry points passed in: whether the lyric box empties first, whether the
// item is marked before or after the link request, whether the player is
// told to play after the link is set.
#include "app/Form1.h"

#include "app/ImageControl.h"
#include "app/MediaPlayer.h"
#include "app/MenuFrm.h"
#include "app/PlaybackState.h"
#include "controls/listbox/NaluListBox.h"
#include "service/LoadNetPicture.h"
#include "service/ResolveSongLink.h"
#include "shell/Trayico.h"

#include <QAction>
#include <QCheckBox>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>

namespace {

// Text colour of the playing item, &HFF80FF (red 255, green 128, blue 255).
const QColor kPlayingColour(255, 128, 255);
// Balloon flags of the play announcements: the information icon.
constexpr int kInfoBalloon = 1;
constexpr int kBalloonTimeoutMs = 5000;
// Balloon of Next and Previous on an empty playlist.
const QString kNoSongsBalloon = QStringLiteral("当前尚未添加歌曲");
// Status line of a play whose link request gave no playable link.
const QString kNoLinkStatus = QStringLiteral("无法获取歌曲的播放地址");
// A track shorter than this that ends counts as one that did not play.
constexpr double kShortestTrackSeconds = 0.5;
// Prefix of the play balloon and the now-playing captions.
const QString kNowPlaying = QStringLiteral("正在播放：");
// Result-list columns of a search result.
constexpr int kIdColumn = 0;
constexpr int kTitleColumn = 1;
constexpr int kSingerColumn = 2;

} // namespace

void Form1::playSearchResult(bool fromDoubleClick)
{
    if (ListView1->topLevelItemCount() == 0)
        return;
    const QTreeWidgetItem *row = selectedResultRow();
    if (!row)
        return; // nothing selected: no request with an empty song ID
    Track track{row->text(kIdColumn), row->text(kTitleColumn), row->text(kSingerColumn)};
    if (fromDoubleClick)
        txtText3->clear();

    QString link;
    if (!resolvePlayableLink(track, link))
        return;
    NaluListBox1->AddItem(track.title, track.singer, track.songId, QString());
    PlaybackState::instance().NowPlayingText = track.title + QStringLiteral("--") + track.singer;
    startLink(link, false);
    const int index = NaluListBox1->ListCount() - 1;
    markPlaying(index);
    PlaybackState::instance().CurrentPlayIndex = index;
    finishPlay(track);
}

void Form1::playPlaylistItem(int index, PlayEntry entry)
{
    PlaybackState &state = PlaybackState::instance();
    state.CurrentPlayIndex = index;
    // Read the item before the request: the list may change while it waits.
    const Track track{NaluListBox1->URL(index), NaluListBox1->Title(index),
                      NaluListBox1->Author(index)};
    const bool markFirst = entry == PlayEntry::DoubleClick || entry == PlayEntry::Menu;
    if (markFirst)
        markPlaying(index);

    QString link;
    if (!resolvePlayableLink(track, link))
        return;
    if (!markFirst)
        markPlaying(index);
    // Every playlist play names the track it starts, so the caption and the
    // tray tip never keep naming the previous one.
    state.NowPlayingText = track.title + QStringLiteral("--") + track.singer;
    startLink(link, entry == PlayEntry::Step);
    finishPlay(track);
}

bool Form1::resolvePlayableLink(const Track &track, QString &link)
{
    // A new play cancels an end-of-track advance that has not run yet.
    m_endOfTrackPending = false;
    QPointer<Form1> alive(this);
    link = GetMusicList::ResolveSongLink(track.songId, track.singer, track.title, *this).trimmed();
    // The request waits with events running: the window may have been
    // closed for good meanwhile, and then nothing of it may be touched.
    if (!alive || m_closing)
        return false;
    if (link.isEmpty()) {
        Label4->setText(kNoLinkStatus);
        return false;
    }
    return true;
}

void Form1::startLink(const QString &link, bool callPlay)
{
    WindowsMediaPlayer1->setURL(link);
    if (callPlay)
        WindowsMediaPlayer1->controls().play();
    updateClockTimer();
}

void Form1::markPlaying(int index)
{
    NaluListBox1->setPlayIndex(index);
    NaluListBox1->setItemPlyTextColor(kPlayingColour);
}

void Form1::finishPlay(const Track &track)
{
    Songersss = track.singer;
    showSingerPicture(track.singer);
    if (m_closing)
        return;
    Trayico::UpdateTrayIcon(this, windowTitle(), kNowPlaying + track.title, kInfoBalloon,
                            kBalloonTimeoutMs);
    scheduleTimer2();
}

void Form1::showSingerPicture(const QString &singer)
{
    QPointer<Form1> alive(this);
    const QString address = LoadNetPicture::GetSingerPictureUrl(singer);
    if (!alive)
        return;
    QImage picture;
    if (address != LoadNetPicture::kNoSingerInfo) {
        picture = LoadNetPicture::LoadPictureFromPath(address);
        if (!alive)
            return;
    }
    // A singer without a picture (or one that cannot be loaded) shows the
    // default, never the previous singer's picture.
    if (picture.isNull()) {
        Picture2->setPicture(Picture3->picture());
    } else {
        Picture2->setPicture(QPixmap::fromImage(
            picture.scaled(Picture2->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
    }
}

QTreeWidgetItem *Form1::selectedResultRow() const
{
    const QList<QTreeWidgetItem *> selected = ListView1->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

// ---- entry points -----------------------------------------------------------

void Form1::ListView1_DblClick()
{
    playSearchResult(true);
}

void Form1::Player1_Click()
{
    playSearchResult(false);
}

void Form1::NaluListBox1_DBClick(short, short, float X, float Y)
{
    if (NaluListBox1->ListCount() == 0)
        return;
    const int index = NaluListBox1->IndexFromPoint(X, Y);
    if (index < 0)
        return;
    txtText3->clear();
    playPlaylistItem(index, PlayEntry::DoubleClick);
}

void Form1::Player2_Click()
{
    const int index = PlaylistMouseIndex;
    if (index < 0 || index >= NaluListBox1->ListCount())
        return; // no item under the last press: nothing to play
    playPlaylistItem(index, PlayEntry::Menu);
}

void Form1::NaluListBox1_MouseDown(short, short, float X, float Y)
{
    if (NaluListBox1->ListCount() >= 1)
        PlaylistMouseIndex = NaluListBox1->IndexFromPoint(X, Y);
}

void Form1::NaluListBox1_MouseUp(short Button, short, float, float)
{
    if (NaluListBox1->ListCount() >= 1 && Button == 2)
        menuFrm->PlaylistMenu->popup(QCursor::pos());
}

// ---- play order -------------------------------------------------------------

PlayMode Form1::playMode() const
{
    if (Check1->isChecked())
        return PlayMode::SingleRepeat;
    if (Check2->isChecked())
        return PlayMode::ListLoop;
    if (Check3->isChecked())
        return PlayMode::Random;
    return PlayMode::None;
}

void Form1::stepTrack(bool forward)
{
    const int count = NaluListBox1->ListCount();
    const int current = PlaybackState::instance().CurrentPlayIndex;
    const std::optional<int> index =
        forward ? PlayOrder::next(current, count) : PlayOrder::previous(current, count);
    if (!index) {
        Trayico::UpdateTrayIcon(this, windowTitle(), kNoSongsBalloon, kInfoBalloon,
                                kBalloonTimeoutMs);
        return;
    }
    playPlaylistItem(*index, PlayEntry::Step);
}

void Form1::Image2_Click()
{
    stepTrack(true);
}
void Form1::NMusic_Click()
{
    stepTrack(true);
}
void Form1::Image1_Click()
{
    stepTrack(false);
}
void Form1::UMusic_Click()
{
    stepTrack(false);
}

void Form1::WindowsMediaPlayer1_PlayStateChange(int)
{
    // The argument is ignored on purpose: the player's state now decides.
    const int state = WindowsMediaPlayer1->playState();
    if (state == MediaPlayer::kStateMediaEnded && !m_endOfTrackPending && !endsWithoutPlaying()) {
        // The next track starts once the player has finished reporting this
        // end: its link request waits for the network, which must not
        // happen inside the player's own event delivery.
        m_endOfTrackPending = true;
        QTimer::singleShot(0, this, &Form1::playAfterEndOfTrack);
    }
    if (WindowsMediaPlayer1->playState() == MediaPlayer::kStateStopped)
        NaluListBox1->setItemPlyTextColor(kPlayingColour);
    updateClockTimer();
    Timer1_Timer();
}

bool Form1::endsWithoutPlaying()
{
    // A track of (almost) no length ends as soon as it starts; repeating it
    // or walking a list of such tracks would request and restart them
    // without end. Once every item has had its turn that way, stop.
    if (WindowsMediaPlayer1->currentMedia().duration() >= kShortestTrackSeconds) {
        m_shortEnds = 0;
        return false;
    }
    if (++m_shortEnds <= std::max(1, NaluListBox1->ListCount()))
        return false;
    m_shortEnds = 0;
    return true;
}

void Form1::playAfterEndOfTrack()
{
    if (!m_endOfTrackPending || m_closing)
        return;
    m_endOfTrackPending = false;
    const int current = PlaybackState::instance().CurrentPlayIndex;
    const std::optional<int> index =
        m_playOrder.endOfTrack(playMode(), current, NaluListBox1->ListCount());
    if (index)
        playPlaylistItem(*index, PlayEntry::Step);
}

void Form1::Check1_Click()
{
    playModeBoxClicked(Check1);
}
void Form1::Check2_Click()
{
    playModeBoxClicked(Check2);
}
void Form1::Check3_Click()
{
    playModeBoxClicked(Check3);
}

void Form1::playModeBoxClicked(QCheckBox *box)
{
    // Unticking a box changes nothing else, so all three may end unticked.
    if (!box->isChecked())
        return;
    for (QCheckBox *other : {Check1, Check2, Check3}) {
        if (other != box)
            other->setChecked(false);
    }
}

void Form1::setPlayModeFromMenu(QAction *chosen)
{
    const std::pair<QAction *, QCheckBox *> pairs[] = {
        {menuFrm->Onessw, Check1}, {menuFrm->Lists, Check2}, {menuFrm->Suijibo, Check3}};
    for (const auto &[action, box] : pairs) {
        action->setCheckable(true);
        action->setChecked(action == chosen);
        box->setChecked(action == chosen);
    }
}

void Form1::Onessw_Click()
{
    setPlayModeFromMenu(menuFrm->Onessw);
}
void Form1::Lists_Click()
{
    setPlayModeFromMenu(menuFrm->Lists);
}
void Form1::Suijibo_Click()
{
    setPlayModeFromMenu(menuFrm->Suijibo);
}

void Form1::Image24_Click()
{
    menuFrm->XunHuan->popup(QCursor::pos());
}
