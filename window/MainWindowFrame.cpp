// Window handlers of the main window: dragging the borderless window, the
// hover pictures of the image buttons, the option labels, the song
// information window and the media player's own click events.
#include "window/MainWindow.h"

#include "controls/image/ImageControl.h"
#include "playback/MediaPlayer.h"
#include "service/FetchPage.h"
#include "service/ResolveSongLink.h"
#include "window/PopupMenus.h"
#include "window/SongInfoWindow.h"
#include "window/results/ResultList.h"

#include <QAction>
#include <QCheckBox>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QWindow>

namespace {

// Runs one step of a handler that skips a failing statement and goes on.
template <typename Step> void attempt(Step step)
{
    try {
        step();
    } catch (...) {
    }
}

// The song information window's own lyric box is the only place the lyric
// of the song it shows goes: the lines under the playing song stay its own.
class SongInfoLyrics : public LyricsView
{
public:
    explicit SongInfoLyrics(SongInfoWindow *info) : m_info(info) {}
    void clearLyricList() override {}
    void addLyricEntry(const QString &) override {}
    void setLyricText(const QString &text) override
    {
        if (m_info)
            m_info->lyricEdit->setPlainText(text);
    }
    void setLyricBoxText(const QString &) override {}

private:
    QPointer<SongInfoWindow> m_info;
};

// "Value 1 becomes 0, any other value becomes 1."
void toggle(QCheckBox *box)
{
    box->setCheckState(box->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

} // namespace

void MainWindow::connectWindow()
{
    connect(minimiseButton, &ImageControl::clicked, this, &MainWindow::onMinimiseClicked);
    connect(closeButton, &ImageControl::clicked, this, &MainWindow::onCloseClicked);
    connect(searchImageButton, &ImageControl::clicked, this, &MainWindow::onSearchImageClicked);
    connect(singerPicture, &ImageControl::clicked, this, &MainWindow::onSingerPictureClicked);
    connect(singerPicture, &ImageControl::mouseMoved, this, [this] { restoreButtonImages(); });
    connect(singerPicture, &ImageControl::mouseUp, this, [this] { dragWindow(); });
    connect(mediaPlayer, &MediaPlayer::clicked, this, &MainWindow::onPlayerClicked);
    connect(mediaPlayer, &MediaPlayer::doubleClicked, this, &MainWindow::onPlayerDoubleClicked);
    connect(popupMenus->songInfoAction, &QAction::triggered, this,
            &MainWindow::showSongInformation);

    for (ImageControl *button : {previousButton, nextButton, playButton, searchImageButton,
                                 minimiseButton, closeButton, playModeButton})
        connect(button, &ImageControl::mouseMoved, this, [this, button] { showHover(button); });

    for (QObject *watched :
         {static_cast<QObject *>(titleLabel), static_cast<QObject *>(statusLabel),
          static_cast<QObject *>(autoFitLabel), static_cast<QObject *>(autoTickLabel)})
        watched->installEventFilter(this);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (watched == titleLabel && type == QEvent::MouseButtonPress) {
        const auto *press = static_cast<QMouseEvent *>(event);
        if (press->button() == Qt::RightButton)
            showWindowMenu(press->globalPosition().toPoint());
        else
            dragWindow();
        return true;
    } else if (watched == statusLabel && type == QEvent::MouseMove) {
        dragWindow();
        restoreButtonImages();
    } else if ((watched == autoFitLabel || watched == autoTickLabel) &&
               (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick)) {
        // The label takes its own press: passed on to the window it would
        // start a drag, and the drag's mouse grab (without a window manager
        // to move the window) would keep the release from the label.
        return true;
    } else if ((watched == autoFitLabel || watched == autoTickLabel) &&
               type == QEvent::MouseButtonRelease) {
        const auto *release = static_cast<QMouseEvent *>(event);
        const auto *label = static_cast<QLabel *>(watched);
        if (release->button() == Qt::LeftButton &&
            label->rect().contains(release->position().toPoint())) {
            if (watched == autoFitLabel)
                onAutoFitLabelClicked();
            else
                onAutoTickLabelClicked();
        }
        return true;
    } else if (watched == searchEdit) {
        if (type == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            onSearchEditClicked();
        else if (type == QEvent::MouseButtonDblClick)
            onSearchEditDoubleClicked();
        else if (type == QEvent::FocusOut)
            onSearchEditFocusLost();
        else if (type == QEvent::MouseMove)
            onSearchEditHovered();
    } else if (watched == searchButton && type == QEvent::MouseMove) {
        onSearchButtonHovered();
    } else if (watched == resultsView->viewport() && type == QEvent::MouseButtonPress) {
        onResultsPressed();
    } else if (watched == statusEdit) {
        if (type == QEvent::MouseButtonPress)
            onStatusEditPressed();
        else if (type == QEvent::KeyPress)
            onStatusEditKeyPressed();
    } else if (watched == lyricLine && type == QEvent::MouseButtonPress) {
        onLyricLinePressed();
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::dragWindow()
{
    // The platform's move loop ends at once when no button is held, so a
    // drag asked for by a mere mouse move does nothing.
    if (QGuiApplication::mouseButtons() == Qt::NoButton)
        return;
    if (QWindow *window = windowHandle(); window && window->startSystemMove())
        return;
    // No system move here: follow the cursor ourselves until the release.
    m_manualDrag = true;
    m_dragOffset = QCursor::pos() - frameGeometry().topLeft();
    grabMouse();
}

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    // Form_MouseDown: restore the search prompt, then drag; the right
    // button opens the window's menu instead.
    restoreSearchPrompt();
    if (event->button() == Qt::RightButton)
        showWindowMenu(event->globalPosition().toPoint());
    else
        dragWindow();
    event->accept();
}

void MainWindow::showWindowMenu(const QPoint &globalPos)
{
    // The tray menu's commands (previous, next, about, exit) from the
    // window itself: the only way to them where there is no notification
    // area.
    popupMenus->trayMenu()->popup(globalPos);
}

void MainWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (m_manualDrag) {
        move(event->globalPosition().toPoint() - m_dragOffset);
        return;
    }
    // Form_MouseMove
    restoreButtonImages();
}

void MainWindow::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_manualDrag) {
        m_manualDrag = false;
        releaseMouse();
    }
    event->accept();
}

void MainWindow::restoreSearchPrompt()
{
    const QString text = searchEdit->text();
    if (text.trimmed().isEmpty() || text == kSearchPrompt) {
        searchEdit->setText(kSearchPrompt);
        setSearchTextColour(kPromptColour);
        focusHolder->setFocus();
    }
}

bool MainWindow::playerRunning() const
{
    if (!mediaPlayer)
        return false;
    const int state = mediaPlayer->playState();
    return state == MediaPlayer::kStatePlaying || state == MediaPlayer::kStateBuffering ||
           state == MediaPlayer::kStateTransitioning || state == MediaPlayer::kStateReady;
}

void MainWindow::updatePlayButtonLook()
{
    // Pause while something plays, play in every other state (paused,
    // stopped, ended, nothing loaded).
    playButton->setLooks(playButtonLooks());
    if (playButton->underMouse())
        playButton->showHoverLook();
    else
        playButton->showNormalLook();
}

void MainWindow::restoreButtonImages()
{
    playButton->setLooks(playButtonLooks());
    for (ImageControl *button : {previousButton, nextButton, searchImageButton, minimiseButton,
                                 closeButton, playModeButton, playButton})
        button->showNormalLook();
}

void MainWindow::showHover(ImageControl *button)
{
    if (button == playButton)
        playButton->setLooks(playButtonLooks());
    button->showHoverLook();
}

void MainWindow::onMinimiseClicked()
{
    setWindowState(windowState() | Qt::WindowMinimized);
}

void MainWindow::onCloseClicked()
{
    // Unloading the window runs the close path, which always cancels.
    close();
}

void MainWindow::onSearchImageClicked()
{
    onSearchClicked();
}

void MainWindow::onAutoFitLabelClicked()
{
    toggle(autoFitBox);
}

void MainWindow::onAutoTickLabelClicked()
{
    toggle(autoTickBox);
}

void MainWindow::fillSongInformation()
{
    const int row = resultsView->currentRow();
    if (row < 0)
        return;
    // The link request lets other events run; a new search may empty the
    // list meanwhile, so the row is copied first.
    const SearchResult song = resultsView->row(row);
    QPointer<SongInfoWindow> info = songInfoWindow();
    info->titleEdit->setText(song.title);
    info->singerEdit->setText(song.singer);
    info->albumEdit->setText(song.album);
    SongInfoLyrics lyrics(info);
    const QString link =
        musicservice::resolveSongLink(song.songId, song.singer, song.title, lyrics);
    if (!info)
        return;
    info->linkEdit->setText(link);
    info->songIdEdit->setText(song.songId);
}

void MainWindow::showSongInformation()
{
    if (resultsView->currentRow() < 0)
        return;
    fillSongInformation();
    QPointer<SongInfoWindow> info = songInfoWindow();
    info->exec();
    if (!info)
        return;
    info->setWindowState(Qt::WindowNoState);
    fillSongInformation();
}

void MainWindow::onSingerPictureClicked()
{
    singerPicture->hide();
    playerFrame->show();
}

void MainWindow::onPlayerClicked()
{
    attempt([&] { playerFrame->hide(); });
    attempt([&] { singerPicture->show(); });
    attempt([&] { mediaPlayer->setFullScreen(false); });
}

void MainWindow::onPlayerDoubleClicked()
{
    attempt([&] { mediaPlayer->setFullScreen(true); });
}

void MainWindow::toggleFullScreen()
{
    mediaPlayer->setFullScreen(!mediaPlayer->fullScreen());
}

QString MainWindow::fetchAnsiText(const QString &url)
{
    return musicservice::httpGetAnsi(url);
}
