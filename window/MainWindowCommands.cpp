// Menu commands of the main window that are not a play: deleting from and
// emptying the playlist, about and exit in the tray menu, and the actions
// on search results (add to the playlist, download, tick all or invert,
// the row tool tip and the result menu).
#include "window/MainWindow.h"

#include "controls/listbox/PlaylistView.h"
#include "downloads/DownloadManager.h"
#include "playback/MediaPlayer.h"
#include "player/PlaylistCommands.h"
#include "service/LyricsView.h"
#include "service/ResolveSongLink.h"
#include "service/SearchState.h"
#include "shell/TrayIcon.h"
#include "window/EventHook.h"
#include "window/PopupMenus.h"
#include "window/results/ResultList.h"

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

namespace {

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

// Status line of an add that found the playlist full: its room, then how
// many songs stayed out; and how long the line says it.
const QString kPlaylistFullStatus = QStringLiteral("播放列表已满（最多 %1 首），%2 首歌曲未添加");
constexpr int kPlaylistFullMessageMs = 8000;

} // namespace

void MainWindow::connectCommands()
{
    m_downloads = new DownloadManager(this, this);
    // A finished download is announced like a track (the balloon, or the
    // status line without a tray); a failure still asks to be read.
    m_downloads->setMessageSink([this](bool isError, const QString &text) {
        if (isError) {
            QMessageBox::warning(this, QStringLiteral("下载歌曲"), text);
            return;
        }
        constexpr int kInfoBalloon = 1;
        constexpr int kBalloonTimeoutMs = 5000;
        tray::updateTrayIcon(this, windowTitle(), text, kInfoBalloon, kBalloonTimeoutMs);
    });
    m_quit = [](int code) { QCoreApplication::exit(code); };

    const std::pair<QAction *, void (MainWindow::*)()> commands[] = {
        {popupMenus->playResultAction, &MainWindow::playSelectedResult},
        {popupMenus->addToPlaylistAction, &MainWindow::addResultsToPlaylist},
        {popupMenus->downloadResultAction, &MainWindow::downloadSelectedResult},
        {popupMenus->selectAllAction, &MainWindow::onSelectAllChosen},
        {popupMenus->invertAction, &MainWindow::onInvertChosen},
        {popupMenus->playPlaylistAction, &MainWindow::playPlaylistMouseItem},
        {popupMenus->removeSelectedAction, &MainWindow::removeSelectedFromPlaylist},
        {popupMenus->clearPlaylistAction, &MainWindow::clearPlaylist},
        {popupMenus->downloadPlaylistAction, &MainWindow::downloadPlaylistItem},
        {popupMenus->trayPreviousAction, &MainWindow::onTrayPreviousChosen},
        {popupMenus->trayNextAction, &MainWindow::onTrayNextChosen},
        {popupMenus->libraryAction, &MainWindow::showLibraryDialog},
        {popupMenus->aboutAction, &MainWindow::showAbout},
        {popupMenus->exitAction, &MainWindow::exitPlayer},
        {popupMenus->singleRepeatAction, &MainWindow::onSingleRepeatChosen},
        {popupMenus->listLoopAction, &MainWindow::onListLoopChosen},
        {popupMenus->randomAction, &MainWindow::onRandomChosen},
    };
    for (const auto &[action, handler] : commands)
        connect(action, &QAction::triggered, this, handler);

    connect(resultsView, &ResultList::rowDoubleClicked, this, &MainWindow::onResultDoubleClicked);
    EventHook::install(resultsView->viewport(), [this](QEvent *event) {
        switch (event->type()) {
        case QEvent::MouseButtonRelease:
            onResultsReleased(static_cast<QMouseEvent *>(event)->button() == Qt::RightButton ? 2
                                                                                             : 1);
            return false;
        case QEvent::MouseMove:
            onResultsHovered(static_cast<QMouseEvent *>(event)->position().toPoint());
            return false;
        case QEvent::ToolTip:
            // The list's tool tip names the row last moved over; show it
            // wherever the pointer rests on the list.
            if (!resultsView->toolTip().isEmpty())
                QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(),
                                   resultsView->toolTip(), resultsView->viewport());
            return true;
        default:
            return false;
        }
    });
    volumeSlider->setMouseTracking(true);
    EventHook::install(volumeSlider, [this](QEvent *event) {
        if (event->type() == QEvent::MouseMove)
            onVolumeSliderHovered();
        return false;
    });
}

// ---- playlist menu ---------------------------------------------------------------

void MainWindow::removeSelectedFromPlaylist()
{
    // The item under the last press goes, and its neighbour plays.
    m_state->removeItem(playlistMouseIndex);
}

void MainWindow::clearPlaylist()
{
    // The track keeps playing and currentPlayIndex keeps its value.
    playlistView->clear();
}

void MainWindow::downloadPlaylistItem()
{
    const int index = playlistMouseIndex;
    if (index < 0 || index >= playlistView->listCount())
        return;
    downloadSong(
        {playlistView->url(index), playlistView->title(index), playlistView->author(index)});
}

// ---- tray menu -------------------------------------------------------------------

void MainWindow::showAbout()
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

void MainWindow::exitPlayer()
{
    m_closing = true;
    if (mediaPlayer->settings().volume() != 0) {
        mediaPlayer->controls().stop();
        mediaPlayer->settings().setVolume(0);
    }
    clockTimer->stop();
    displayTimer->stop();
    tray::removeTrayIcon(this);
    // Leaves every event loop, nested network waits included; main() then
    // destroys the window, whose player shuts mpv down, and the download
    // manager, which drops unfinished temporary files.
    if (m_quit)
        m_quit(0);
}

void MainWindow::setQuitHandler(std::function<void(int)> quit)
{
    m_quit = std::move(quit);
}

// ---- search-result actions ---------------------------------------------------------

void MainWindow::addResultsToPlaylist()
{
    const int rows = resultsView->rowCount();
    QList<bool> ticks;
    ticks.reserve(rows);
    for (int i = 0; i < rows; ++i)
        ticks.append(resultsView->isTicked(i));
    const int selectedRow = selectedResultRow();
    const PlaylistCommands::AddOutcome outcome =
        PlaylistCommands::addToPlaylist(ticks, selectedRow);

    SearchState &search = musicservice::searchState();
    search.playlistAddInProgress = rows > 0;
    QList<PlaylistView::NewItem> items;
    items.reserve(outcome.rows.size());
    for (const int row : outcome.rows) {
        const SearchResult &result = resultsView->row(row);
        items.append({result.title, result.singer, result.songId, QString()});
    }
    const qsizetype refused = items.size() - playlistView->appendItems(items);
    if (refused > 0)
        showStatusMessage(kPlaylistFullStatus.arg(PlaylistView::kMaxItems).arg(refused),
                          kPlaylistFullMessageMs);
    for (int i = 0; i < rows; ++i) {
        if (ticks.at(i) != outcome.ticks.at(i))
            resultsView->setTicked(i, outcome.ticks.at(i));
    }
    search.playlistAddInProgress = false;
}

void MainWindow::downloadSelectedResult()
{
    const int row = selectedResultRow();
    if (row < 0)
        return; // nothing selected: no request with an empty song ID
    downloadSong(resultTrack(row));
}

void MainWindow::downloadSong(const Track &track)
{
    DiscardLyrics lyrics;
    QPointer<MainWindow> alive(this);
    const QString link =
        musicservice::resolveSongLink(track.songId, track.singer, track.title, lyrics);
    if (!alive || m_closing)
        return;
    m_downloads->download(link, track.title + QStringLiteral(" - ") + track.singer);
}

void MainWindow::onSelectAllChosen()
{
    selectAllBox->setChecked(true);
    tickAllResults();
}

void MainWindow::onInvertChosen()
{
    invertBox->setChecked(true);
    invertResultTicks();
}

void MainWindow::onResultsReleased(int button)
{
    if (button != 2)
        return;
    // An empty list has no rows to act on: the window's own menu (about,
    // exit) answers the right click instead of nothing.
    if (resultsView->rowCount() > 0)
        popupMenus->resultMenu()->popup(QCursor::pos());
    else
        showWindowMenu(QCursor::pos());
}

void MainWindow::onResultsHovered(const QPoint &viewportPos)
{
    restoreButtonImages();
    if (resultsView->rowCount() == 0)
        return;
    const int row = resultsView->rowAt(viewportPos);
    if (row < 0)
        return; // the tool tip keeps its previous text
    const SearchResult &result = resultsView->row(row);
    resultsView->setToolTip(QStringLiteral("曲名：") + result.title + QStringLiteral(" | 歌手：") +
                            result.singer + QStringLiteral(" | 专辑：") + result.album +
                            QStringLiteral(" | 歌曲ID：") + result.songId);
}

DownloadManager *MainWindow::downloads() const
{
    return m_downloads;
}
