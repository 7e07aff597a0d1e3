// Menu commands of the main window that are not a play: deleting from and
// emptying the playlist, about and exit in the tray menu, and the actions
// on search results (add to the playlist, download, tick all or invert,
// the row tool tip and the result menu).
#include "app/Form1.h"

#include "app/DownloadManager.h"
#include "app/EventHook.h"
#include "app/MediaPlayer.h"
#include "app/MenuFrm.h"
#include "app/PlaybackState.h"
#include "app/PlaylistCommands.h"
#include "controls/listbox/NaluListBox.h"
#include "service/LyricsView.h"
#include "service/ResolveSongLink.h"
#include "service/SearchState.h"
#include "shell/Trayico.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QCursor>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QSlider>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>

namespace {

constexpr int kIdColumn = 0;
constexpr int kTitleColumn = 1;
constexpr int kSingerColumn = 2;
constexpr int kAlbumColumn = 3;

// A download asks the service for the link, whose answer also names a
// lyric. That lyric belongs to the song being saved, not to the one
// playing, so it goes nowhere.
class DiscardLyrics : public LyricsView
{
public:
    void clearLyricList() override {}
    void addLyricEntry(const QString &) override {}
    void setLyricText(const QString &) override {}
    void setLyricBoxText(const QString &) override {}
};

} // namespace

void Form1::connectCommands()
{
    m_downloads = new DownloadManager(this, this);
    m_quit = [](int code) { QCoreApplication::exit(code); };

    const std::pair<QAction *, void (Form1::*)()> commands[] = {
        {menuFrm->Player1, &Form1::Player1_Click},
        {menuFrm->AddPlayList, &Form1::AddPlayList_Click},
        {menuFrm->DownloadMusic, &Form1::DownloadMusic_Click},
        {menuFrm->quanxuan, &Form1::quanxuan_Click},
        {menuFrm->fanxuan, &Form1::fanxuan_Click},
        {menuFrm->Player2, &Form1::Player2_Click},
        {menuFrm->DeletOne, &Form1::DeletOne_Click},
        {menuFrm->DeletAll, &Form1::DeletAll_Click},
        {menuFrm->Download2, &Form1::Download2_Click},
        {menuFrm->UMusic, &Form1::UMusic_Click},
        {menuFrm->NMusic, &Form1::NMusic_Click},
        {menuFrm->AboutMe, &Form1::AboutMe_Click},
        {menuFrm->CloseMe, &Form1::CloseMe_Click},
        {menuFrm->Onessw, &Form1::Onessw_Click},
        {menuFrm->Lists, &Form1::Lists_Click},
        {menuFrm->Suijibo, &Form1::Suijibo_Click},
    };
    for (const auto &[action, handler] : commands)
        connect(action, &QAction::triggered, this, handler);

    connect(ListView1, &QTreeWidget::itemDoubleClicked, this, &Form1::ListView1_DblClick);
    ListView1->viewport()->setMouseTracking(true);
    EventHook::install(ListView1->viewport(), [this](QEvent *event) {
        switch (event->type()) {
        case QEvent::MouseButtonRelease:
            ListView1_MouseUp(static_cast<QMouseEvent *>(event)->button() == Qt::RightButton ? 2
                                                                                             : 1);
            return false;
        case QEvent::MouseMove:
            ListView1_MouseMove(static_cast<QMouseEvent *>(event)->position().toPoint());
            return false;
        case QEvent::ToolTip:
            // The list's tool tip names the row last moved over; show it
            // wherever the pointer rests on the list.
            if (!ListView1->toolTip().isEmpty())
                QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(),
                                   ListView1->toolTip(), ListView1->viewport());
            return true;
        default:
            return false;
        }
    });
    Slider2->setMouseTracking(true);
    EventHook::install(Slider2, [this](QEvent *event) {
        if (event->type() == QEvent::MouseMove)
            Slider2_MouseMove();
        return false;
    });
}

// ---- playlist menu ---------------------------------------------------------------

void Form1::DeletOne_Click()
{
    PlaybackState &state = PlaybackState::instance();
    const PlaylistCommands::DeleteOutcome outcome = PlaylistCommands::deleteOne(
        state.CurrentPlayIndex, PlaylistMouseIndex, NaluListBox1->ListCount());
    if (!outcome.remove)
        return; // the last press named no item: nothing to delete
    NaluListBox1->RemoveItem(PlaylistMouseIndex);
    state.CurrentPlayIndex = outcome.currentPlayIndex;
    if (!outcome.playIndex)
        return; // the list is empty now: no request with an empty song ID

    // Deleting any item restarts playback on the neighbour, which is
    // intended; the lyric box and NowPlayingText stay as they are.
    const int index = *outcome.playIndex;
    markPlaying(index);
    const Track track{NaluListBox1->URL(index), NaluListBox1->Title(index),
                      NaluListBox1->Author(index)};
    QString link;
    if (!resolvePlayableLink(track, link))
        return;
    startLink(link, false);
    finishPlay(track);
}

void Form1::DeletAll_Click()
{
    // The track keeps playing and CurrentPlayIndex keeps its value.
    NaluListBox1->Clear();
}

void Form1::Download2_Click()
{
    const int index = PlaylistMouseIndex;
    if (index < 0 || index >= NaluListBox1->ListCount())
        return;
    downloadSong(
        {NaluListBox1->URL(index), NaluListBox1->Title(index), NaluListBox1->Author(index)});
}

// ---- tray menu -------------------------------------------------------------------

void Form1::AboutMe_Click()
{
    // Our own about text. No web site is opened afterwards: the program has
    // no site of its own to send the user to.
    const QStringList lines = {
        QStringLiteral("本程序开放源码!"),
        QString(),
        QStringLiteral("开发环境：C++20 与 Qt 6 Widgets"),
        QString(),
        QStringLiteral("作者：Velmor 音乐播放器开发组"),
        QString(),
        QStringLiteral("交流方式：请在项目的问题列表中留言"),
        QString(),
        QStringLiteral("下载：随源码一同发布"),
        QStringLiteral("欢迎您的加入！"),
    };
    QMessageBox::information(this, QStringLiteral("关于我们"), lines.join(QStringLiteral("\r\n")));
}

void Form1::CloseMe_Click()
{
    m_closing = true;
    if (WindowsMediaPlayer1->settings().volume() != 0) {
        WindowsMediaPlayer1->controls().stop();
        WindowsMediaPlayer1->settings().setVolume(0);
    }
    Timer1->stop();
    Timer2->stop();
    Trayico::RemoveTrayIcon(this);
    // Leaves every event loop, nested network waits included; main() then
    // destroys the window, whose player shuts mpv down, and the download
    // manager, which drops unfinished temporary files.
    if (m_quit)
        m_quit(0);
}

void Form1::setQuitHandler(std::function<void(int)> quit)
{
    m_quit = std::move(quit);
}

// ---- search-result actions ---------------------------------------------------------

void Form1::AddPlayList_Click()
{
    const int rows = ListView1->topLevelItemCount();
    QList<bool> ticks;
    ticks.reserve(rows);
    for (int i = 0; i < rows; ++i)
        ticks.append(ListView1->topLevelItem(i)->checkState(0) == Qt::Checked);
    QTreeWidgetItem *selected = selectedResultRow();
    const int selectedRow = selected ? ListView1->indexOfTopLevelItem(selected) : -1;
    const PlaylistCommands::AddOutcome outcome =
        PlaylistCommands::addToPlaylist(ticks, selectedRow);

    SearchState &search = GetMusicList::State();
    search.PlaylistAddInProgress = rows > 0;
    for (const int row : outcome.rows) {
        const QTreeWidgetItem *item = ListView1->topLevelItem(row);
        NaluListBox1->AddItem(item->text(kTitleColumn), item->text(kSingerColumn),
                              item->text(kIdColumn), QString());
    }
    for (int i = 0; i < rows; ++i) {
        if (ticks.at(i) != outcome.ticks.at(i))
            ListView1->topLevelItem(i)->setCheckState(0, outcome.ticks.at(i) ? Qt::Checked
                                                                             : Qt::Unchecked);
    }
    search.PlaylistAddInProgress = false;
}

void Form1::DownloadMusic_Click()
{
    const QTreeWidgetItem *row = selectedResultRow();
    if (!row)
        return; // nothing selected: no request with an empty song ID
    downloadSong({row->text(kIdColumn), row->text(kTitleColumn), row->text(kSingerColumn)});
}

void Form1::downloadSong(const Track &track)
{
    DiscardLyrics lyrics;
    QPointer<Form1> alive(this);
    const QString link =
        GetMusicList::ResolveSongLink(track.songId, track.singer, track.title, lyrics);
    if (!alive || m_closing)
        return;
    m_downloads->download(link, track.title + QStringLiteral(" - ") + track.singer);
}

void Form1::quanxuan_Click()
{
    Check5->setChecked(true);
    QuanxuanS();
}

void Form1::fanxuan_Click()
{
    Check6->setChecked(true);
    XunZ();
}

void Form1::ListView1_MouseUp(int Button)
{
    if (ListView1->topLevelItemCount() > 0 && Button == 2)
        menuFrm->SelectMenu->popup(QCursor::pos());
}

void Form1::ListView1_MouseMove(const QPoint &viewportPos)
{
    RestoreButtonImages();
    if (ListView1->topLevelItemCount() == 0)
        return;
    const QTreeWidgetItem *row = ListView1->itemAt(viewportPos);
    if (!row)
        return; // the tool tip keeps its previous text
    ListView1->setToolTip(QStringLiteral("曲名：") + row->text(kTitleColumn) +
                          QStringLiteral(" | 歌手：") + row->text(kSingerColumn) +
                          QStringLiteral(" | 专辑：") + row->text(kAlbumColumn) +
                          QStringLiteral(" | 歌曲ID：") + row->text(kIdColumn));
}

DownloadManager *Form1::downloads() const
{
    return m_downloads;
}
