// The embedded media player: plays one link at a time (audio only) and offers the small control
// surface the main window drives -- url, controls(), settings(), currentMedia(), playState(),
// status(), fullScreen -- plus the playStateChanged, clicked and doubleClicked signals.
//
// The sound itself comes from a PlaybackEngine (libmpv, or FFmpeg with
// PulseAudio), created lazily on the first setUrl so an idle player costs
// nothing. Its events reach the UI thread as queued calls; nothing polls.
//
// playState values (the numbers the window's handlers compare against):
//   0 undefined (no link set yet), 1 stopped, 2 paused, 3 playing,
//   6 buffering, 8 media ended, 9 transitioning (connecting / loading).
// 10 "ready" is never reported: a link is always started as soon as it is
// loaded, and the window's clock would call play() on every tick of 10.
// A link that cannot be played settles at 1 with status "无法播放：…"; so
// does a stream that stalls (connecting or buffering for stallTimeoutMs) or
// ends well short of its length: such an end is no end of track (8).
#pragma once

#include "playback/engines/PlaybackEngine.h"

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

class QTimer;

class MediaPlayer : public QWidget, private PlaybackEngine::Listener
{
    Q_OBJECT
public:
    static constexpr int kStateUndefined = 0;
    static constexpr int kStateStopped = 1;
    static constexpr int kStatePaused = 2;
    static constexpr int kStatePlaying = 3;
    static constexpr int kStateBuffering = 6;
    static constexpr int kStateMediaEnded = 8;
    static constexpr int kStateTransitioning = 9;
    static constexpr int kStateReady = 10;

    // Transport: mediaPlayer->controls().play().
    class Controls
    {
    public:
        // Resumes from paused, restarts the last link when stopped or ended,
        // and cancels a pause requested while a link was still loading.
        void play();
        // Pauses while playing, buffering or loading; otherwise does nothing.
        void pause();
        void stop();
        // Seconds from the start; 0 while nothing is loaded.
        double currentPosition() const;
        // Seeks; negative means 0, past the end means the end. Does nothing
        // unless a link is loaded (playing, paused or buffering).
        void setCurrentPosition(double seconds);
        // "mm:ss", minutes not capped at 59 ("75:02" for 75 min 2 s).
        QString currentPositionString() const;

    private:
        friend class MediaPlayer;
        explicit Controls(MediaPlayer &player) : m_player(player) {}
        MediaPlayer &m_player;
    };

    class Settings
    {
    public:
        int volume() const;
        // Clamped to 0..100; kept until the engine exists.
        void setVolume(int volume);

    private:
        friend class MediaPlayer;
        explicit Settings(MediaPlayer &player) : m_player(player) {}
        MediaPlayer &m_player;
    };

    class Media
    {
    public:
        // Length in seconds; 0 until known. Kept after the track ends or is
        // stopped, until another link is set.
        double duration() const;
        QString durationString() const;

    private:
        friend class MediaPlayer;
        explicit Media(MediaPlayer &player) : m_player(player) {}
        MediaPlayer &m_player;
    };

    explicit MediaPlayer(QWidget *parent = nullptr);
    ~MediaPlayer() override;

    // Setting a link starts its playback without a further call, even when
    // it is the link already playing.
    void setUrl(const QString &link);
    QString url() const;

    Controls &controls() { return m_controls; }
    Settings &settings() { return m_settings; }
    Media &currentMedia() { return m_media; }

    int playState() const { return m_state; }
    // Empty until the first link is set; afterwards always a short text.
    QString status() const { return m_status; }

    bool fullScreen() const { return m_fullScreen; }
    void setFullScreen(bool on);

    // Connecting or buffering for this long without playing ends the play
    // as a failure (default 15 s).
    static int stallTimeoutMs();
    static void setStallTimeoutMs(int ms);

    // The engine playing, "mpv" or "ffmpeg"; empty before the first link.
    QString engineName() const;
    // What decodes the link playing ("wav", "mpg123", "sndfile", "ffmpeg"),
    // when the engine tells.
    QString decoderName() const;

Q_SIGNALS:
    void playStateChanged(int newState);
    // A single click is told once the double-click interval has passed
    // without a second press, so the first half of a double click never
    // acts as a click of its own.
    void clicked();
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    bool ensureEngine();
    void loadCurrentUrl();
    void engineLoaded(double duration) override;
    void engineDurationChanged(double seconds) override;
    void engineBufferingChanged(bool buffering) override;
    void engineSeekDone() override;
    void engineEnded() override;
    void engineFailed(const QString &reason) override;
    // Stops the engine and settles at stopped with "无法播放：" + reason.
    void failPlay(const QString &reason);
    // Once a second while a link loads or plays: times a stall, samples the
    // position reached.
    void watchStream();
    // Sets state and status; emits playStateChanged when the state changed.
    // Returns false when the player was destroyed by a slot.
    bool changeState(int state, const QString &status);
    double readPosition() const;
    void updateRepaintTimer();

    // Repaint period of the view while it is visible and playing.
    static constexpr int kRepaintIntervalMs = 500;

    Controls m_controls{*this};
    Settings m_settings{*this};
    Media m_media{*this};

    PlaybackEngine *m_engine = nullptr; // a child, made on first use
    QString m_url;
    int m_state = kStateUndefined;
    QString m_status;
    // Bumped by every setUrl, so a playStateChanged(8) slot that starts a new
    // link is told apart from one that leaves the player to stop.
    quint64 m_loadGeneration = 0;
    bool m_loaded = false;
    bool m_pauseRequested = false;
    bool m_pausedForCache = false;
    int m_volume = 50;
    double m_duration = 0.0;

    // Position reads are throttled: the window's clock asks many times a
    // millisecond-timer second, the engine is asked at most every kPositionRefreshMs.
    mutable double m_positionCache = 0.0;
    mutable QElapsedTimer m_positionAge;
    bool m_seeking = false;
    double m_seekTarget = 0.0;

    bool m_fullScreen = false;
    bool m_hiddenBeforeFullScreen = false;
    QRect m_normalGeometry;
    bool m_pressed = false;
    // A double click's button is still down: its press and release, which
    // reach the full-screen view that the double click just opened under
    // the pointer, are no click.
    bool m_doubleClickHeld = false;
    QTimer *m_repaintTimer = nullptr;
    QTimer *m_watchTimer = nullptr;
    // Since when the link has been connecting or buffering; invalid while
    // it plays or rests.
    QElapsedTimer m_waitingSince;
    // The furthest position the track was seen playing at (or sought to).
    mutable double m_furthest = 0.0;
    QTimer *m_clickTimer = nullptr; // a click waiting to see whether a second one follows
};
