// The keyboard and the screen reader's view of the main window, and the
// transport entry points that the keys, the media keys and the desktop's
// media-player interface share with the window's own buttons (so none of
// them can disagree with a click).
//
// The shortcuts live on the window, so they work whichever control has the
// focus, except the search box: there Space, the arrows and Delete edit
// the text, as in any text box. The focus holder and the read-only text
// lines would take the same keys for themselves; their claim is dropped.
#include "window/MainWindow.h"

#include "controls/image/ImageControl.h"
#include "controls/listbox/PlaylistView.h"
#include "playback/MediaPlayer.h"
#include "window/EventHook.h"
#include "window/PopupMenus.h"
#include "window/results/ResultList.h"
#include "window/rules/PlaybackKnobs.h"

#include <QAction>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QShowEvent>
#include <QSlider>
#include <algorithm>
#include <cmath>

namespace {

// How far Left and Right seek, in seconds.
constexpr double kSeekStepSeconds = 5.0;
// How much Ctrl+Up and Ctrl+Down change the volume, in percent.
constexpr int kVolumeStep = 5;

// Accessible name and description of a button-like picture.
struct SpokenText
{
    const char *name;
    const char *description;
};
constexpr SpokenText kPreviousText{"上一首", "播放播放列表中的上一首歌曲"};
constexpr SpokenText kNextText{"下一首", "播放播放列表中的下一首歌曲"};
constexpr SpokenText kPlayText{"播放", "继续播放当前歌曲"};
constexpr SpokenText kPauseText{"暂停", "暂停当前歌曲"};
constexpr SpokenText kSearchText{"搜索", "按搜索框中的文字查找歌曲"};
constexpr SpokenText kMinimiseText{"最小化", "将窗口最小化"};
constexpr SpokenText kCloseText{"关闭", "将窗口隐藏到通知区域，播放不会停止"};
constexpr SpokenText kPlayModeText{"播放模式", "选择单曲播放、列表循环播放或随机播放"};
constexpr SpokenText kVolumeText{"音量", "拖动调节音量，Ctrl+上/下 键每次调节 5%"};
constexpr SpokenText kSeekText{"播放进度", "拖动跳到歌曲的某一位置，左/右键每次跳 5 秒"};
constexpr SpokenText kSingerPictureText{
    "歌手图片", "单击显示播放画面；按 F11 或双击播放画面全屏显示，按 Esc 或 F11 退出全屏"};

void speak(QWidget *widget, const SpokenText &text)
{
    widget->setAccessibleName(QString::fromUtf8(text.name));
    widget->setAccessibleDescription(QString::fromUtf8(text.description));
}

bool isLoaded(const MediaPlayer *player)
{
    return !player->status().isEmpty();
}

} // namespace

// ---- transport entry points ---------------------------------------------------

void MainWindow::togglePlayback()
{
    const int state = mediaPlayer->playState();
    if (state == MediaPlayer::kStatePaused || state == MediaPlayer::kStatePlaying ||
        state == MediaPlayer::kStateBuffering || state == MediaPlayer::kStateTransitioning)
        onPlayClicked();
    else
        playOrResume();
}

void MainWindow::playOrResume()
{
    const int state = mediaPlayer->playState();
    if (state == MediaPlayer::kStatePaused) {
        onPlayClicked();
        return;
    }
    if (state == MediaPlayer::kStatePlaying || state == MediaPlayer::kStateBuffering ||
        state == MediaPlayer::kStateTransitioning)
        return;
    if (!mediaPlayer->url().isEmpty()) {
        mediaPlayer->controls().play();
        updateClockTimer();
        return;
    }
    // Nothing loaded: the item marked as playing (the one restored at
    // start, or the last one played), else the first.
    const int count = playlistView->listCount();
    if (count == 0)
        return;
    const int marked = playlistView->playIndex();
    const int index = marked >= 0 && marked < count ? marked : 0;
    lyricLine->clear();
    m_state->playItem(index, PlayEntry::Menu);
}

void MainWindow::pausePlayback()
{
    if (mediaPlayer->playState() != MediaPlayer::kStatePaused && isLoaded(mediaPlayer))
        onPlayClicked();
}

void MainWindow::stopPlayback()
{
    mediaPlayer->controls().stop();
    updateClockTimer();
}

void MainWindow::seekBy(double seconds)
{
    if (!isLoaded(mediaPlayer))
        return;
    seekTo(mediaPlayer->controls().currentPosition() + seconds);
}

void MainWindow::seekTo(double seconds)
{
    if (!isLoaded(mediaPlayer))
        return;
    mediaPlayer->controls().setCurrentPosition(seconds);
    m_state->announceSeek(mediaPlayer->controls().currentPosition());
    // The knob and the clock show the new place at once, as after a drag:
    // a paused player has no running clock to do it later.
    onClockTick();
}

void MainWindow::setVolumePercent(int volume)
{
    // The slider's change reaches the player's state.
    showVolume(std::clamp(volume, 0, 100));
}

void MainWindow::showVolume(int volume)
{
    const int left = static_cast<int>(std::lround(volume / PlaybackKnobs::kVolumePerTwip));
    volumeKnob->setLeftTwips(left);
    volumeFill->setWidthTwips(left);
    volumeKnob->setToolTip(PlaybackKnobs::volumeToolTip(volume));
    volumeSlider->setValue(volume);
}

void MainWindow::setPlayMode(PlayMode mode)
{
    switch (mode) {
    case PlayMode::SingleRepeat:
        onSingleRepeatChosen();
        break;
    case PlayMode::ListLoop:
        onListLoopChosen();
        break;
    case PlayMode::Random:
        onRandomChosen();
        break;
    case PlayMode::None:
        setPlayModeFromMenu(nullptr);
        break;
    }
}

void MainWindow::raiseWindow()
{
    if (isMinimized() || isHidden())
        showNormal();
    raise();
    activateWindow();
}

void MainWindow::removeSelectedItem()
{
    const int selected = playlistView->listIndex();
    if (selected < 0 || selected >= playlistView->listCount())
        return;
    // The playlist menu's delete command, as if the item had been pressed.
    playlistMouseIndex = static_cast<short>(selected);
    removeSelectedFromPlaylist();
}

void MainWindow::setCurrentItem(int index)
{
    m_state->setCurrentItem(index);
}

QString MainWindow::albumOf(const QString &songId) const
{
    for (int row = 0; row < resultsView->rowCount(); ++row) {
        if (resultsView->row(row).songId == songId)
            return resultsView->row(row).album;
    }
    return QString();
}

// ---- keys ---------------------------------------------------------------------

void MainWindow::setupKeys()
{
    const auto bind = [this](QKeySequence keys, auto handler) {
        auto *shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, handler);
        return keys;
    };
    const auto seekBack = [this] { seekBy(-kSeekStepSeconds); };
    const auto seekForward = [this] { seekBy(kSeekStepSeconds); };
    const auto louder = [this] { setVolumePercent(volumeSlider->value() + kVolumeStep); };
    const auto quieter = [this] { setVolumePercent(volumeSlider->value() - kVolumeStep); };
    const auto findSong = [this] { onSearchEditClicked(); };
    const QList<QKeySequence> keys = {
        bind(QKeySequence(Qt::Key_Space), &MainWindow::togglePlayback),
        bind(QKeySequence(Qt::CTRL | Qt::Key_F), findSong),
        bind(QKeySequence(Qt::CTRL | Qt::Key_Left), &MainWindow::onPreviousClicked),
        bind(QKeySequence(Qt::CTRL | Qt::Key_Right), &MainWindow::onNextClicked),
        bind(QKeySequence(Qt::Key_Left), seekBack),
        bind(QKeySequence(Qt::Key_Right), seekForward),
        bind(QKeySequence(Qt::CTRL | Qt::Key_Up), louder),
        bind(QKeySequence(Qt::CTRL | Qt::Key_Down), quieter),
        bind(QKeySequence(Qt::Key_Delete), &MainWindow::removeSelectedItem),
        bind(QKeySequence(Qt::CTRL | Qt::Key_Q), &MainWindow::exitPlayer),
        bind(QKeySequence(Qt::Key_F11), &MainWindow::toggleFullScreen),
        // The media keys, where no desktop shell takes them first. The
        // play key of most keyboards is the play/pause toggle.
        bind(QKeySequence(Qt::Key_MediaPlay), &MainWindow::togglePlayback),
        bind(QKeySequence(Qt::Key_MediaTogglePlayPause), &MainWindow::togglePlayback),
        bind(QKeySequence(Qt::Key_MediaPause), &MainWindow::pausePlayback),
        bind(QKeySequence(Qt::Key_MediaNext), &MainWindow::onNextClicked),
        bind(QKeySequence(Qt::Key_MediaPrevious), &MainWindow::onPreviousClicked),
        bind(QKeySequence(Qt::Key_MediaStop), &MainWindow::stopPlayback),
    };

    // Text lines that are not for typing give up the window's keys.
    for (QLineEdit *line : {focusHolder, lyricLine, statusEdit}) {
        EventHook::install(line, [keys](QEvent *event) {
            if (event->type() != QEvent::ShortcutOverride)
                return false;
            const QKeySequence pressed(static_cast<QKeyEvent *>(event)->keyCombination());
            return keys.contains(pressed);
        });
    }
    // A focused push button or check box takes Space for itself.
    for (QWidget *button : std::initializer_list<QWidget *>{
             searchButton, stopButton, selectAllBox, invertBox, autoFitBox, autoTickBox,
             singleRepeatBox, listLoopBox, randomBox}) {
        EventHook::install(button, [](QEvent *event) {
            if (event->type() == QEvent::ShortcutOverride &&
                static_cast<QKeyEvent *>(event)->keyCombination() == QKeyCombination(Qt::Key_Space))
                event->accept();
            return false;
        });
    }

    // The playlist: Up and Down move the selection, Return plays it.
    playlistView->setFocusPolicy(Qt::StrongFocus);
    EventHook::install(playlistView, [this](QEvent *event) {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        const int count = playlistView->listCount();
        if (count == 0 || key->modifiers() != Qt::NoModifier)
            return false;
        const int selected = playlistView->listIndex();
        switch (key->key()) {
        case Qt::Key_Up:
            playlistView->setListIndex(std::max(0, selected - 1));
            return true;
        case Qt::Key_Down:
            playlistView->setListIndex(std::min(count - 1, selected + 1));
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (selected >= 0 && selected < count) {
                lyricLine->clear();
                m_state->playItem(selected, PlayEntry::ListDoubleClick);
            }
            return true;
        default:
            return false;
        }
    });
    // Return on a result plays it, as a double-click does.
    EventHook::install(resultsView, [this](QEvent *event) {
        if (event->type() != QEvent::KeyPress)
            return false;
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter)
            return false;
        onResultDoubleClicked();
        return true;
    });

    // Tab order: search box, search, results, playlist, then the transport.
    // The focus holder only takes the focus when the window gives it.
    focusHolder->setFocusPolicy(Qt::NoFocus);
    for (ImageControl *button : {previousButton, playButton, nextButton})
        button->setFocusPolicy(Qt::TabFocus);
    const QList<QWidget *> chain = {searchEdit,     searchButton, resultsView, playlistView,
                                    previousButton, playButton,   nextButton};
    for (int i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain.at(i - 1), chain.at(i));
}

void MainWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    // Without a window manager nothing gives a new window the keyboard; it
    // takes it itself, as the tray's show does.
    activateWindow();
    // The keys start where the tab order does: the search box, its prompt
    // selected so that typing replaces it.
    if (!m_firstFocusGiven) {
        m_firstFocusGiven = true;
        searchEdit->setFocus(Qt::OtherFocusReason);
        if (searchEdit->text() == kSearchPrompt)
            searchEdit->selectAll();
    }
}

// ---- screen readers -------------------------------------------------------------

void MainWindow::setupAccessibility()
{
    speak(previousButton, kPreviousText);
    speak(nextButton, kNextText);
    speak(searchImageButton, kSearchText);
    speak(minimiseButton, kMinimiseText);
    speak(closeButton, kCloseText);
    speak(playModeButton, kPlayModeText);
    for (ImageControl *volume : {volumeKnob, volumeTrack})
        speak(volume, kVolumeText);
    for (ImageControl *seek : {seekKnob, seekTrack})
        speak(seek, kSeekText);
    speak(singerPicture, kSingerPictureText);
    for (ImageControl *button : {previousButton, nextButton, playButton, searchImageButton,
                                 minimiseButton, closeButton, playModeButton})
        button->setAccessibleRole(QAccessible::Button);
    for (ImageControl *knob : {volumeKnob, seekKnob})
        knob->setAccessibleRole(QAccessible::Slider);

    // The play button says what pressing it does: pause while a track
    // plays, play otherwise.
    const auto namePlayButton = [this] {
        const int state = mediaPlayer->playState();
        const bool playing = state == MediaPlayer::kStatePlaying ||
                             state == MediaPlayer::kStateBuffering ||
                             state == MediaPlayer::kStateTransitioning;
        speak(playButton, playing ? kPauseText : kPlayText);
    };
    namePlayButton();
    connect(mediaPlayer, &MediaPlayer::playStateChanged, this, namePlayButton);
}
