// The player's state, apart from its widgets: the playlist (items, the
// playing and the selected item), where next and previous step from, the
// play mode, the volume, the now-playing track and how its playback stands.
// One instance lives for the run. The window shows it and sends its
// commands to it; the desktop's media-player interface, the settings keeper
// and the tray observe it through its signals and call the same commands,
// never a widget.
//
// A command that needs the window's play path or the media player (play an
// item, pause, seek, raise the window) is decided here and handed on as a
// request signal; the window carries it out and reports back (startTrack,
// setPlayback, setLength). Connect the requests directly: a play asked for
// is under way when the command returns.
#pragma once

#include "player/PlayOrder.h"
#include "player/PlaylistItems.h"

#include <QObject>
#include <QString>

#include <functional>

class PlayerState : public QObject
{
    Q_OBJECT
public:
    // How a play of a playlist item was asked for: the play path differs
    // by it (what is marked first, whether the lyric box empties, whether
    // the player is told to play).
    enum class PlayEntry {
        ListDoubleClick, // a double-click or Return on the item
        Menu,            // the playlist menu, or the neighbour of a deleted item
        Step             // next, previous, the end of a track, the play button
    };
    // The media player's commands the window carries out.
    enum class Transport { Toggle, PlayOrResume, Pause, Stop, SeekBy, SeekTo };

    // What is playing (or last played): empty songId until a first play.
    struct Track
    {
        QString songId;
        QString title;
        QString singer;
        QString album;      // from the search results, when the song is there
        QString pictureUrl; // the singer picture's address, empty when none
    };

    // The volume and play mode a new player starts with (the window draws
    // its volume knob three quarters along).
    static constexpr int kStartVolume = 75;
    static constexpr PlayMode kStartMode = PlayMode::ListLoop;

    explicit PlayerState(QObject *parent = nullptr);

    PlaylistItems &playlist() { return m_playlist; }
    const PlaylistItems &playlist() const { return m_playlist; }

    // The playlist index next and previous step from. Deliberately 1 (not
    // 0 or -1) before anything has played.
    int currentIndex() const { return m_currentIndex; }
    void setCurrentIndex(int index) { m_currentIndex = index; }

    PlayMode playMode() const { return m_playMode; }
    void setPlayMode(PlayMode mode);
    // 0 … 100; other values are clamped.
    int volume() const { return m_volume; }
    void setVolume(int percent);

    // ---- the now-playing track -----------------------------------------------
    const Track &track() const { return m_track; }
    // A track was started: it is now the one playing.
    void startTrack(const Track &track);
    // The singer picture's address, once it is known ("" when none).
    void setPictureUrl(const QString &url);
    // Title + "--" + singer of the playing track; never cleared once set.
    const QString &nowPlayingText() const { return m_nowPlayingText; }
    void setNowPlayingText(const QString &text) { m_nowPlayingText = text; }
    // 1 or 2; closing the window sets 2 when it hid the window while a
    // track was named, 1 otherwise.
    short trayTipMode() const { return m_trayTipMode; }
    void setTrayTipMode(short mode) { m_trayTipMode = mode; }
    // The now-playing test: captions and tray tips name the track when this
    // holds. It is true after a close with a track named even if the text
    // were empty, which is why trayTipMode takes part.
    bool nowPlayingTest() const { return !m_nowPlayingText.isEmpty() || m_trayTipMode != 1; }
    // "正在播放：" + nowPlayingText.
    QString nowPlayingTip() const;
    // The tray's tip between balloons: the now-playing tip when the test
    // holds, else the window's title.
    QString trayTip(const QString &windowTitle) const;

    // ---- how the track's playback stands (as the media player reports it) ------
    // The media player's playState code; loaded: a track is set.
    int playState() const { return m_playState; }
    bool loaded() const { return m_loaded; }
    void setPlayback(int playState, bool loaded);
    // Seconds, 0 while unknown.
    double length() const { return m_length; }
    void setLength(double seconds);
    // The play position in seconds, read from the media player when asked.
    double position() const { return m_position ? m_position() : 0.0; }
    void setPositionSource(std::function<double()> source) { m_position = std::move(source); }
    // The play position was moved (by a knob, a key or the desktop).
    void announceSeek(double seconds);

    // ---- commands -------------------------------------------------------------
    // Plays the item (nothing for an index that names none).
    void playItem(int index, PlayEntry entry);
    // The item after / before the current one, whatever the mode;
    // nothingToPlay on an empty playlist.
    void next();
    void previous();
    // The current track ended: the next by the play mode, if any.
    void playAfterEnd();
    // Deletes the item and plays its neighbour (see
    // PlaylistCommands::deleteOne); nothing for an index that names none.
    void removeItem(int index);
    // Marks the item as the playing one without playing it, so play, next
    // and previous go on from there (a playlist restored at start).
    void setCurrentItem(int index);
    // The media player's commands.
    void togglePlayback() { Q_EMIT transportRequested(Transport::Toggle, 0); }
    void playOrResume() { Q_EMIT transportRequested(Transport::PlayOrResume, 0); }
    void pause() { Q_EMIT transportRequested(Transport::Pause, 0); }
    void stop() { Q_EMIT transportRequested(Transport::Stop, 0); }
    void seekBy(double seconds) { Q_EMIT transportRequested(Transport::SeekBy, seconds); }
    void seekTo(double seconds) { Q_EMIT transportRequested(Transport::SeekTo, seconds); }
    // The window forward, and the exit command.
    void raise() { Q_EMIT raiseRequested(); }
    void quit() { Q_EMIT quitRequested(); }

Q_SIGNALS:
    // ---- requests to whoever plays (the window) ---------------------------------
    void playRequested(int index, PlayerState::PlayEntry entry);
    void transportRequested(PlayerState::Transport command, double seconds);
    // Next or previous found no item to play.
    void nothingToPlay();
    void raiseRequested();
    void quitRequested();

    // ---- changes ----------------------------------------------------------------
    void playModeChanged(PlayMode mode);
    void volumeChanged(int percent);
    // A track was started, or its picture became known.
    void trackChanged();
    void playbackChanged();
    void lengthChanged();
    void seeked(double seconds);

private:
    PlaylistItems m_playlist;
    PlayOrder m_playOrder;
    int m_currentIndex = 1;
    PlayMode m_playMode = kStartMode;
    int m_volume = kStartVolume;
    Track m_track;
    QString m_nowPlayingText;
    short m_trayTipMode = 1;
    int m_playState = 0;
    bool m_loaded = false;
    double m_length = 0;
    std::function<double()> m_position;
};
