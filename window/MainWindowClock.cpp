// The clock and the knobs of the main window: clockTimer (position, length,
// status lines, seek knob, lyric line), displayTimer (volume, caption, picture
// tool tip), the volume and seek knobs and the play/pause button.
//
// clockTimer runs only while a track is loading, buffering or playing, four
// times a second: enough for the lyric scan to see every second of
// playback, and nothing at all while the player is idle, paused or
// stopped. Every state change of the player also runs one tick at once, so
// the lines show a pause or an end without waiting. displayTimer does not poll:
// the things it shows change only when the volume slider moves or a track
// starts, and those schedule one run.
#include "window/MainWindow.h"

#include "controls/image/ImageControl.h"
#include "controls/listbox/PlaylistView.h"
#include "playback/MediaPlayer.h"
#include "service/SearchState.h"
#include "window/PopupMenus.h"
#include "window/rules/PlaybackClock.h"
#include "window/rules/PlaybackKnobs.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSlider>
#include <QTimer>
#include <cmath>

namespace {

// Clock period while a track plays: four ticks in every second.
constexpr int kClockIntervalMs = 250;
// Prefix of the singer picture's tool tip.
const QString kSingerTip = QStringLiteral("歌手：");

bool leftHeld(int button)
{
    return (button & ImageControl::kLeftButton) != 0;
}

// Sets a text only when it differs, so an unchanged line is not repainted
// on every tick.
void setIfChanged(QLabel *label, const QString &text)
{
    if (label->text() != text)
        label->setText(text);
}

void setIfChanged(QLineEdit *edit, const QString &text)
{
    if (edit->text() != text)
        edit->setText(text);
}

} // namespace

QString MainWindow::trackLengthText()
{
    if (mediaPlayer->status().isEmpty())
        return QString();
    return PlaybackClock::formatPosition(mediaPlayer->controls().currentPosition());
}

void MainWindow::onClockTick()
{
    reportPlayback();
    MediaPlayer *player = mediaPlayer;
    const QString status = player->status();
    if (status.isEmpty())
        return;
    const QString t = trackLengthText();

    const double duration = player->currentMedia().duration();
    if (duration > 0 && !seekDragging) {
        const int left =
            PlaybackKnobs::knobForPosition(duration, player->controls().currentPosition());
        if (seekKnob->leftTwips() != left)
            seekKnob->setLeftTwips(left);
        if (seekFill->widthTwips() != left)
            seekFill->setWidthTwips(PlaybackKnobs::fillWidth(left));
    }

    const QString position = player->controls().currentPositionString();
    const QString length = player->currentMedia().durationString();
    const SearchState &search = musicservice::searchState();
    // The search and the add-to-playlist command own the status box while
    // they run.
    if (!search.searchInProgress && !search.playlistAddInProgress)
        setIfChanged(statusEdit, PlaybackClock::statusBoxText(position, length, status));
    // A message in the status line stays readable for its time.
    if (!statusMessageShown())
        setIfChanged(statusLabel, PlaybackClock::statusLabelText(position, length, status));

    if (player->playState() == MediaPlayer::kStateReady)
        player->controls().play();

    if (const auto line = m_lyrics.lineFor(PlaybackClock::lyricKey(t)))
        setIfChanged(lyricLine, *line);
}

void MainWindow::onDisplayTick()
{
    const int volume = volumeSlider->value();
    if (mediaPlayer->settings().volume() != volume)
        mediaPlayer->settings().setVolume(volume);
    volumeSlider->setToolTip(PlaybackKnobs::sliderToolTip(volume));
    if (m_state->nowPlayingTest() && windowTitle() != m_state->nowPlayingTip())
        setWindowTitle(m_state->nowPlayingTip());
    if (!playingSinger.isEmpty())
        singerPicture->setToolTip(kSingerTip + playingSinger);
}

void MainWindow::updateClockTimer()
{
    const int state = mediaPlayer->playState();
    const bool moving =
        state == MediaPlayer::kStatePlaying || state == MediaPlayer::kStateBuffering ||
        state == MediaPlayer::kStateTransitioning || state == MediaPlayer::kStateReady;
    if (moving && !clockTimer->isActive())
        clockTimer->start(kClockIntervalMs);
    else if (!moving && clockTimer->isActive())
        clockTimer->stop();
}

void MainWindow::scheduleDisplayTick()
{
    if (!displayTimer->isActive())
        displayTimer->start();
}

// ---- volume knob ---------------------------------------------------------------

void MainWindow::onVolumeKnobPressed(int button, int, double x, double)
{
    if (leftHeld(button))
        knobGrabX = static_cast<short>(std::lround(x));
}

void MainWindow::onVolumeKnobMoved(int button, int, double x, double)
{
    const int left = volumeKnob->leftTwips();
    if (leftHeld(button) && left >= 0 && left <= PlaybackKnobs::kVolumeKnobMax) {
        const int newLeft = PlaybackKnobs::dragKnob(left, knobGrabX, int(std::lround(x)),
                                                    PlaybackKnobs::kVolumeKnobMax);
        volumeKnob->setLeftTwips(newLeft);
        const int volume = PlaybackKnobs::volumeForKnob(newLeft);
        volumeSlider->setValue(volume);
        volumeKnob->setToolTip(PlaybackKnobs::volumeToolTip(volume));
    }
    volumeFill->setWidthTwips(volumeKnob->leftTwips());
}

void MainWindow::onVolumeSliderHovered()
{
    volumeSlider->setToolTip(PlaybackKnobs::sliderToolTip(volumeSlider->value()));
}

// ---- seek knob -----------------------------------------------------------------

void MainWindow::onSeekKnobPressed(int button, int, double x, double)
{
    if (leftHeld(button)) {
        knobGrabX = static_cast<short>(std::lround(x));
        seekDragging = true;
        m_seekKnobMoved = false;
    }
}

void MainWindow::onSeekKnobMoved(int button, int, double x, double)
{
    // The knob follows the mouse while a track is loaded, paused as well
    // as playing: seeking a paused track is as ordinary as seeking a
    // playing one.
    const int state = mediaPlayer->playState();
    const bool seekable = state == MediaPlayer::kStatePlaying || state == MediaPlayer::kStatePaused;
    const int left = seekKnob->leftTwips();
    if (!seekable || !leftHeld(button) || left < 0 || left > PlaybackKnobs::kSeekKnobMax)
        return;
    const int newLeft =
        PlaybackKnobs::dragKnob(left, knobGrabX, int(std::lround(x)), PlaybackKnobs::kSeekKnobMax);
    if (newLeft == left)
        return;
    m_seekKnobMoved = true;
    seekKnob->setLeftTwips(newLeft);
    seekFill->setWidthTwips(PlaybackKnobs::fillWidth(seekKnob->leftTwips()));
}

void MainWindow::onSeekKnobReleased(int, int, double, double)
{
    // With no media loaded the release changes nothing, seekDragging
    // included.
    if (mediaPlayer->status().isEmpty())
        return;
    seekDragging = false;
    // A press without a move is no request to go anywhere: the knob only
    // stands where the clock put it, which is a whole twip off the exact
    // position.
    if (m_seekKnobMoved) {
        m_seekKnobMoved = false;
        const double duration = mediaPlayer->currentMedia().duration();
        seekTo(PlaybackKnobs::seekPositionForKnob(duration, seekKnob->leftTwips()));
    }
    // The clock and the knob show the new place at once, whatever the
    // state: a paused player has no running clock to do it later.
    onClockTick();
}

void MainWindow::onPlayClicked()
{
    const int state = mediaPlayer->playState();
    if (state == MediaPlayer::kStatePaused) {
        mediaPlayer->controls().play();
    } else if (playerRunning()) {
        mediaPlayer->controls().pause();
    } else if (!playChosenPlaylistItem() && !mediaPlayer->url().isEmpty()) {
        // Nothing plays: start again rather than pause nothing. The
        // playlist's item gets a fresh link; without one, the last link.
        mediaPlayer->controls().play();
    }
    updatePlayButtonLook();
}

bool MainWindow::playChosenPlaylistItem()
{
    const int count = playlistView->listCount();
    const int selected = playlistView->listIndex();
    const int current = m_state->currentIndex();
    if (selected >= 0 && selected < count) {
        m_state->playItem(selected, PlayEntry::Step);
        return true;
    }
    if (current >= 0 && current < count) {
        m_state->playItem(current, PlayEntry::Step);
        return true;
    }
    return false;
}

// ---- status line messages ------------------------------------------------------

void MainWindow::showStatusMessage(const QString &text, int ms)
{
    if (!statusMessageShown())
        m_statusBeforeMessage = statusLabel->text();
    statusLabel->setText(text);
    m_statusMessageTimer->start(qMax(0, ms));
}

bool MainWindow::statusMessageShown() const
{
    return m_statusMessageTimer && m_statusMessageTimer->isActive();
}

void MainWindow::onStatusMessageEnded()
{
    // The clock takes the line back when a track is loaded; otherwise the
    // line shows again what the message covered.
    statusLabel->setText(m_statusBeforeMessage);
    onClockTick();
}

// ---- wiring ----------------------------------------------------------------------

void MainWindow::connectPlayback()
{
    clockTimer->setInterval(kClockIntervalMs);
    connect(clockTimer, &QTimer::timeout, this, &MainWindow::onClockTick);
    displayTimer->setSingleShot(true);
    displayTimer->setInterval(0);
    connect(displayTimer, &QTimer::timeout, this, &MainWindow::onDisplayTick);
    connect(volumeSlider, &QSlider::valueChanged, this, &MainWindow::scheduleDisplayTick);

    connect(mediaPlayer, &MediaPlayer::playStateChanged, this, &MainWindow::onPlayStateChanged);
    m_statusMessageTimer = new QTimer(this);
    m_statusMessageTimer->setSingleShot(true);
    connect(m_statusMessageTimer, &QTimer::timeout, this, &MainWindow::onStatusMessageEnded);

    connect(volumeKnob, &ImageControl::mouseDown, this, &MainWindow::onVolumeKnobPressed);
    connect(volumeKnob, &ImageControl::mouseMoved, this, &MainWindow::onVolumeKnobMoved);
    connect(seekKnob, &ImageControl::mouseDown, this, &MainWindow::onSeekKnobPressed);
    connect(seekKnob, &ImageControl::mouseMoved, this, &MainWindow::onSeekKnobMoved);
    connect(seekKnob, &ImageControl::mouseUp, this, &MainWindow::onSeekKnobReleased);
    connect(playButton, &ImageControl::clicked, this, &MainWindow::onPlayClicked);
    connect(previousButton, &ImageControl::clicked, this, &MainWindow::onPreviousClicked);
    connect(nextButton, &ImageControl::clicked, this, &MainWindow::onNextClicked);
    connect(playModeButton, &ImageControl::clicked, this, &MainWindow::showPlayModeMenu);

    connect(singleRepeatBox, &QCheckBox::toggled, this, &MainWindow::onSingleRepeatClicked);
    connect(listLoopBox, &QCheckBox::toggled, this, &MainWindow::onListLoopClicked);
    connect(randomBox, &QCheckBox::toggled, this, &MainWindow::onRandomClicked);

    connect(playlistView, &PlaylistView::doubleClicked, this, &MainWindow::onPlaylistDoubleClicked);
    connect(playlistView, &PlaylistView::mousePressed, this, &MainWindow::onPlaylistMousePressed);
    connect(playlistView, &PlaylistView::mouseReleased, this, &MainWindow::onPlaylistMouseReleased);
    connect(playlistView, &PlaylistView::mouseMoved, this, [this] { restoreButtonImages(); });

    connectCommands();
    // The slider's starting value is the player's volume from the start;
    // the rest of displayTimer's work waits for a slider move or a track.
    mediaPlayer->settings().setVolume(volumeSlider->value());
}
