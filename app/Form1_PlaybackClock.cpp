// The clock and the knobs of the main window: Timer1 (position, length,
// status lines, seek knob, lyric line), Timer2 (volume, caption, picture
// tool tip), the volume and seek knobs and the play/pause button.
//
// Timer1 runs only while a track is loading, buffering or playing, four
// times a second: enough for the lyric scan to see every second of
// playback, and nothing at all while the player is idle, paused or
// stopped. Every state change of the player also runs one tick at once, so
// the lines show a pause or an end without waiting. Timer2 does not poll:
// the things it shows change only when the volume slider moves or a track
// starts, and those schedule one run.
#include "app/Form1.h"

#include "app/ImageControl.h"
#include "app/MediaPlayer.h"
#include "app/MenuFrm.h"
#include "app/PlaybackClock.h"
#include "app/PlaybackKnobs.h"
#include "app/PlaybackState.h"
#include "controls/listbox/NaluListBox.h"
#include "service/SearchState.h"

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

QString Form1::GetMusicLong()
{
    if (WindowsMediaPlayer1->status().isEmpty())
        return QString();
    return PlaybackClock::formatPosition(WindowsMediaPlayer1->controls().currentPosition());
}

void Form1::Timer1_Timer()
{
    MediaPlayer *player = WindowsMediaPlayer1;
    const QString status = player->status();
    if (status.isEmpty())
        return;
    const QString t = GetMusicLong();

    const double duration = player->currentMedia().duration();
    if (duration > 0 && !SeekDragging) {
        const int left =
            PlaybackKnobs::knobForPosition(duration, player->controls().currentPosition());
        if (P1->Left() != left)
            P1->setLeft(left);
        if (B1->Width() != left)
            B1->setWidth(PlaybackKnobs::fillWidth(left));
    }

    const QString position = player->controls().currentPositionString();
    const QString length = player->currentMedia().durationString();
    const SearchState &search = GetMusicList::State();
    // The search and the add-to-playlist command own the status box while
    // they run.
    if (!search.SearchInProgress && !search.PlaylistAddInProgress)
        setIfChanged(Textx2, PlaybackClock::statusBoxText(position, length, status));
    setIfChanged(Label4, PlaybackClock::statusLabelText(position, length, status));

    if (player->playState() == MediaPlayer::kStateReady)
        player->controls().play();

    QStringList entries;
    entries.reserve(List1->count());
    for (int i = 0; i < List1->count(); ++i)
        entries.append(List1->item(i)->text());
    if (const auto line = PlaybackClock::lyricLineFor(entries, PlaybackClock::lyricKey(t)))
        setIfChanged(txtText3, *line);
}

void Form1::Timer2_Timer()
{
    const int volume = Slider2->value();
    if (WindowsMediaPlayer1->settings().volume() != volume)
        WindowsMediaPlayer1->settings().setVolume(volume);
    Slider2->setToolTip(PlaybackKnobs::sliderToolTip(volume));
    const PlaybackState &state = PlaybackState::instance();
    if (state.nowPlayingTest() && windowTitle() != state.nowPlayingTip())
        setWindowTitle(state.nowPlayingTip());
    if (!Songersss.isEmpty())
        Picture2->setToolTip(kSingerTip + Songersss);
}

void Form1::updateClockTimer()
{
    const int state = WindowsMediaPlayer1->playState();
    const bool moving =
        state == MediaPlayer::kStatePlaying || state == MediaPlayer::kStateBuffering ||
        state == MediaPlayer::kStateTransitioning || state == MediaPlayer::kStateReady;
    if (moving && !Timer1->isActive())
        Timer1->start(kClockIntervalMs);
    else if (!moving && Timer1->isActive())
        Timer1->stop();
}

void Form1::scheduleTimer2()
{
    if (!Timer2->isActive())
        Timer2->start();
}

// ---- volume knob ---------------------------------------------------------------

void Form1::Image21_MouseDown(int Button, int, double X, double)
{
    if (leftHeld(Button))
        KnobGrabX = static_cast<short>(std::lround(X));
}

void Form1::Image21_MouseMove(int Button, int, double X, double)
{
    const int left = Image21->Left();
    if (leftHeld(Button) && left >= 0 && left <= PlaybackKnobs::kVolumeKnobMax) {
        const int newLeft = PlaybackKnobs::dragKnob(left, KnobGrabX, int(std::lround(X)),
                                                    PlaybackKnobs::kVolumeKnobMax);
        Image21->setLeft(newLeft);
        const int volume = PlaybackKnobs::volumeForKnob(newLeft);
        Slider2->setValue(volume);
        Image21->setToolTip(PlaybackKnobs::volumeToolTip(volume));
    }
    Image22->setWidth(Image21->Left());
}

void Form1::Slider2_MouseMove()
{
    Slider2->setToolTip(PlaybackKnobs::sliderToolTip(Slider2->value()));
}

// ---- seek knob -----------------------------------------------------------------

void Form1::P1_MouseDown(int Button, int, double X, double)
{
    if (leftHeld(Button)) {
        KnobGrabX = static_cast<short>(std::lround(X));
        SeekDragging = true;
    }
}

void Form1::P1_MouseMove(int Button, int, double X, double)
{
    const int left = P1->Left();
    if (WindowsMediaPlayer1->playState() != MediaPlayer::kStatePlaying || !leftHeld(Button) ||
        left < 0 || left > PlaybackKnobs::kSeekKnobMax)
        return;
    const int newLeft =
        PlaybackKnobs::dragKnob(left, KnobGrabX, int(std::lround(X)), PlaybackKnobs::kSeekKnobMax);
    P1->setLeft(newLeft);
    B1->setWidth(PlaybackKnobs::fillWidth(newLeft));
}

void Form1::P1_MouseUp(int, int, double, double)
{
    // With no media loaded the release changes nothing, SeekDragging
    // included.
    if (WindowsMediaPlayer1->status().isEmpty())
        return;
    SeekDragging = false;
    B1->setWidth(PlaybackKnobs::fillWidth(P1->Left()));
    const double duration = WindowsMediaPlayer1->currentMedia().duration();
    WindowsMediaPlayer1->controls().setCurrentPosition(
        PlaybackKnobs::seekPositionForKnob(duration, P1->Left()));
}

void Form1::Image3_Click()
{
    if (WindowsMediaPlayer1->playState() == MediaPlayer::kStatePaused)
        WindowsMediaPlayer1->controls().play();
    else
        WindowsMediaPlayer1->controls().pause();
}

// ---- wiring ----------------------------------------------------------------------

void Form1::connectPlayback()
{
    Timer1->setInterval(kClockIntervalMs);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    Timer2->setSingleShot(true);
    Timer2->setInterval(0);
    connect(Timer2, &QTimer::timeout, this, &Form1::Timer2_Timer);
    connect(Slider2, &QSlider::valueChanged, this, &Form1::scheduleTimer2);

    connect(WindowsMediaPlayer1, &MediaPlayer::PlayStateChange, this,
            &Form1::WindowsMediaPlayer1_PlayStateChange);

    connect(Image21, &ImageControl::mouseDown, this, &Form1::Image21_MouseDown);
    connect(Image21, &ImageControl::mouseMoved, this, &Form1::Image21_MouseMove);
    connect(P1, &ImageControl::mouseDown, this, &Form1::P1_MouseDown);
    connect(P1, &ImageControl::mouseMoved, this, &Form1::P1_MouseMove);
    connect(P1, &ImageControl::mouseUp, this, &Form1::P1_MouseUp);
    connect(Image3, &ImageControl::clicked, this, &Form1::Image3_Click);
    connect(Image1, &ImageControl::clicked, this, &Form1::Image1_Click);
    connect(Image2, &ImageControl::clicked, this, &Form1::Image2_Click);
    connect(Image24, &ImageControl::clicked, this, &Form1::Image24_Click);

    connect(Check1, &QCheckBox::toggled, this, &Form1::Check1_Click);
    connect(Check2, &QCheckBox::toggled, this, &Form1::Check2_Click);
    connect(Check3, &QCheckBox::toggled, this, &Form1::Check3_Click);

    connect(NaluListBox1, &NaluListBox::DBClick, this, &Form1::NaluListBox1_DBClick);
    connect(NaluListBox1, &NaluListBox::MouseDown, this, &Form1::NaluListBox1_MouseDown);
    connect(NaluListBox1, &NaluListBox::MouseUp, this, &Form1::NaluListBox1_MouseUp);
    connect(NaluListBox1, &NaluListBox::MouseMove, this, [this] { RestoreButtonImages(); });

    connectCommands();
    // The slider's starting value is the player's volume from the start;
    // the rest of Timer2's work waits for a slider move or a track.
    WindowsMediaPlayer1->settings().setVolume(Slider2->value());
}
