// The main window: search box and result list, playlist, lyric line, singer
// picture, transport buttons, volume and seek knobs, status lines. It is
// borderless and draws its own title bar; closing it only hides it to the
// notification area.
//
// The controls are public members under the names the rest of the player
// uses (searchEdit, resultsView, playButton, volumeSlider ...). Handlers are
// split by concern over several sources of this class:
//   MainWindow.cpp          construction, layout, start-up (startUp)
//   MainWindowFrame.cpp     drag, hover pictures, background and label clicks,
//                           song information, the media player's click events
//   MainWindowTray.cpp      close, resize and the tray tips
//   MainWindowSearch.cpp    the search buttons, the search-box prompt, the
//                           result list fit, and the SearchView / LyricsView
//                           interfaces
//   MainWindowPlayback.cpp  the play path, play order, playlist mouse events
//   MainWindowClock.cpp     clockTimer/displayTimer, the knobs, play/pause
//   MainWindowCommands.cpp  playlist, tray and search-result menu commands
//   MainWindowLibrary.cpp   the music library dialog, files dropped or opened
//   MainWindowKeys.cpp      keyboard shortcuts, tab order, accessible names,
//                           and the transport entry points the desktop's
//                           media-player interface shares with them
//
// The window shows a PlayerState and sends its commands to it: the
// playlist control views the state's items, the knobs and boxes show its
// volume and play mode, and the state's requests (play an item, pause,
// seek, raise, exit), wherever they come from, run the handlers here.
#pragma once

#include "controls/image/ImageControl.h"
#include "ownservice/LibrarySettings.h"
#include "player/PlayerState.h"
#include "service/LyricsView.h"
#include "service/SearchView.h"
#include "window/rules/LyricIndex.h"

#include <QList>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

namespace Artwork {
enum class Glyph;
}
class DownloadManager;
class LibraryDialog;
class SongInfoWindow;
class MediaPlayer;
class PopupMenus;
class PlaylistView;
class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSlider;
class QTimer;
class ResultList;

class MainWindow : public QWidget, public SearchView, public LyricsView
{
    Q_OBJECT
public:
    // The search box's prompt, shown in kPromptColour while it is empty.
    static const QString kSearchPrompt;
    // Prompt colour, light grey (&HC0C0C0).
    static constexpr unsigned kPromptColour = 0xC0C0C0;
    // Colour of typed text, grey (&H808080).
    static constexpr unsigned kTypedColour = 0x808080;

    // The warning shown for an empty search (parent, title, text). Tests
    // replace it to see the warning without a modal box.
    using WarningBox = void (*)(QWidget *parent, const QString &title, const QString &text);
    static void setWarningBox(WarningBox box);

    // skinPath: the skin applied at start-up (the file beside the program
    // unless told otherwise).
    explicit MainWindow(const QString &skinPath = QString(), QWidget *parent = nullptr);
    // A window showing the player's state `state` (which must outlive it);
    // the other constructor makes a state of the window's own.
    explicit MainWindow(PlayerState *state, const QString &skinPath = QString(),
                        QWidget *parent = nullptr);
    ~MainWindow() override;

    // ---- controls --------------------------------------------------------
    QLabel *titleLabel = nullptr;         // title line "标题"; drags the window
    QLabel *statusLabel = nullptr;        // status line "准备就绪"
    QLineEdit *searchEdit = nullptr;      // search box
    QLineEdit *focusHolder = nullptr;     // focus holder
    QLineEdit *statusEdit = nullptr;      // status text box (read-only)
    QLineEdit *lyricLine = nullptr;       // lyric line "暂无歌词"
    QPushButton *searchButton = nullptr;  // "搜索" / "停止"
    QPushButton *stopButton = nullptr;    // stop button
    ResultList *resultsView = nullptr;    // search results
    PlaylistView *playlistView = nullptr; // playlist

    ImageControl *playerFrame = nullptr; // frame of the media player's view (hidden at start)
    MediaPlayer *mediaPlayer = nullptr;
    ImageControl *singerPicture = nullptr;        // singer picture
    ImageControl *defaultSingerPicture = nullptr; // default singer picture (hidden)
    ImageControl *volumeTrack = nullptr;          // volume track
    ImageControl *seekTrack = nullptr;            // seek track

    ImageControl *previousButton = nullptr;    // previous
    ImageControl *nextButton = nullptr;        // next
    ImageControl *playButton = nullptr;        // play / pause
    ImageControl *searchImageButton = nullptr; // search
    ImageControl *minimiseButton = nullptr;    // minimise
    ImageControl *closeButton = nullptr;       // close
    ImageControl *playModeButton = nullptr;    // play mode
    ImageControl *volumeKnob = nullptr;        // volume knob (left 0 … 800 twips)
    ImageControl *volumeFill = nullptr;        // volume fill
    ImageControl *seekKnob = nullptr;          // seek knob (left 0 … 3495 twips)
    ImageControl *seekFill = nullptr;          // seek fill

    QSlider *volumeSlider = nullptr;      // volume 0 … 100, tool tip "音量调节"
    QCheckBox *singleRepeatBox = nullptr; // "单曲播放"
    QCheckBox *listLoopBox = nullptr;     // "列表循环播放" (checked at start)
    QCheckBox *randomBox = nullptr;       // "随机播放"
    QCheckBox *autoFitBox = nullptr;      // fit option, label autoFitLabel
    QCheckBox *selectAllBox = nullptr;    // "全选" indicator
    QCheckBox *invertBox = nullptr;       // "反选" indicator
    QCheckBox *autoTickBox = nullptr;     // auto-tick option, label autoTickLabel
    QLabel *autoFitLabel = nullptr;       // "列表数据自动缩进"
    QLabel *autoTickLabel = nullptr;      // "列表自动选中"

    QTimer *clockTimer = nullptr;   // clock and lyric tick (handlers: playback)
    QTimer *displayTimer = nullptr; // volume, caption and tool tips (handlers: playback)

    PopupMenus *popupMenus = nullptr; // the pop-up menus

    // The hidden lyric store: the playing song's timed lyric entries, one
    // row each. Built on the first call from the entries kept meanwhile, as
    // nothing in the window shows it.
    QListWidget *lyricList();
    bool lyricListBuilt() const { return m_lyricList != nullptr; }

    // The song information window, built hidden on the first call: most
    // sessions never open it, so start-up does not pay for its widgets.
    SongInfoWindow *songInfoWindow();
    bool songInfoWindowBuilt() const { return m_songInfoWindow != nullptr; }

    // ---- main-window fields -----------------------------------------------
    QString playingSinger;        // singer now playing, "" until the first play
    short playlistMouseIndex = 0; // playlist index at the last mouse-down

    // ---- start-up, window -------------------------------------------------
    void startUp();
    void closeToTray(bool &cancel);
    void onResized();
    void dragWindow();
    void restoreButtonImages();
    void onMinimiseClicked();
    void onCloseClicked();
    void onSearchImageClicked();
    void onAutoFitLabelClicked();
    void onAutoTickLabelClicked();
    void showSongInformation();
    // A GET of url decoded in the system ANSI code page (GBK); empty text
    // when the request fails. The service client does not use it.
    QString fetchAnsiText(const QString &url);
    void onSingerPictureClicked();
    void onPlayerClicked();
    void onPlayerDoubleClicked();
    // F11: the player's view fills the screen, or leaves it.
    void toggleFullScreen();
    // The search-prompt restore of a background press (before the drag).
    void restoreSearchPrompt();
    // Pops the tray menu up at a screen position (a right press on the title
    // line or the window background).
    void showWindowMenu(const QPoint &globalPos);

    // ---- search -----------------------------------------------------------
    void onSearchClicked();
    void onStopClicked();
    void onSearchTextChanged();
    void onSearchEditClicked();
    void onSearchEditDoubleClicked();
    void onSearchKeyPressed(int keyAscii);
    void onSearchEditFocusLost();
    void onSearchEditHovered();
    void onSearchButtonHovered();
    void onResultsPressed();
    void onStatusEditPressed();
    void onLyricLinePressed();
    void onStatusEditKeyPressed();
    void fitColumnsToContents();
    static void autoSizeColumn(ResultList *list, int column = -1);
    // Select all / invert the ticks of the result list.
    void tickAllResults();
    void invertResultTicks();
    void onAutoFitToggled();
    void onAutoTickToggled();

    // The search box's text colour as 0x00BBGGRR.
    unsigned searchTextColour() const;

    // Whether a track is playing or about to (the play button then shows
    // pause; in every other state it shows play).
    bool playerRunning() const;
    // Shows text in the status line for ms milliseconds; the clock leaves
    // the line alone meanwhile and takes it back afterwards.
    void showStatusMessage(const QString &text, int ms);
    bool statusMessageShown() const;
    // The music service's own news (its start, the library's scan) in the
    // status box, unless the box shows a search's summary; urgent news (a
    // service that could not start) is shown whatever the box holds.
    void showServiceStatus(const QString &text, bool urgent = false);
    // A note added to every search's summary while it is set (the library
    // still being scanned); "" for none.
    void setSearchNote(const QString &note);

    // ---- playback ---------------------------------------------------------
    short knobGrabX = 0;       // twips into a knob where the left button went down
    bool seekDragging = false; // the seek knob is held: the clock leaves it alone

    void onResultDoubleClicked();
    void playSelectedResult();
    void onPlaylistDoubleClicked(short button, short shift, float x, float y);
    void onPlaylistMousePressed(short button, short shift, float x, float y);
    void onPlaylistMouseReleased(short button, short shift, float x, float y);
    void playPlaylistMouseItem();
    void onPreviousClicked();
    void onNextClicked();
    void onTrayPreviousChosen();
    void onTrayNextChosen();
    void onPlayStateChanged(int newState);
    void onSingleRepeatClicked();
    void onListLoopClicked();
    void onRandomClicked();
    void onSingleRepeatChosen();
    void onListLoopChosen();
    void onRandomChosen();
    void showPlayModeMenu();
    // The play mode the three boxes hold.
    PlayMode playMode() const;

    QString trackLengthText();
    void onClockTick();
    void onDisplayTick();
    void onVolumeKnobPressed(int button, int shift, double x, double y);
    void onVolumeKnobMoved(int button, int shift, double x, double y);
    void onVolumeSliderHovered();
    void onSeekKnobPressed(int button, int shift, double x, double y);
    void onSeekKnobMoved(int button, int shift, double x, double y);
    void onSeekKnobReleased(int button, int shift, double x, double y);
    void onPlayClicked();

    // ---- transport entry points shared by keys and the desktop --------------
    // The player's state this window shows.
    PlayerState *playerState() const { return m_state; }
    // What the playing track is, for the desktop's media-player interface.
    using NowPlaying = PlayerState::Track;
    const NowPlaying &nowPlaying() const { return m_state->track(); }
    // Play/pause: the play button while a track is loaded; with nothing
    // loaded, starts the playlist like playOrResume().
    void togglePlayback();
    // Resumes a paused track, restarts a stopped one, or plays the
    // playlist's marked playing item (the first when none is marked).
    void playOrResume();
    void pausePlayback();
    void stopPlayback();
    // Seeks relative to / to a position in seconds, then announces the new
    // position through the player's state.
    void seekBy(double seconds);
    void seekTo(double seconds);
    // Moves the volume slider, knob and fill together (clamped to 0 … 100),
    // and so the player's volume.
    void setVolumePercent(int volume);
    // The same as choosing the mode in the play-mode menu; None unticks all.
    void setPlayMode(PlayMode mode);
    // Shows the window from the tray or the task bar and brings it forward.
    void raiseWindow();
    // Deletes the playlist's selected item (the Delete key).
    void removeSelectedItem();
    // Marks the item as the playing one without playing it, so play,
    // next and previous go on from there (a playlist restored at start).
    void setCurrentItem(int index);

    // ---- playlist, tray and result commands -------------------------------
    void removeSelectedFromPlaylist();
    void clearPlaylist();
    void downloadPlaylistItem();
    void showAbout();
    void exitPlayer();
    void addResultsToPlaylist();
    void downloadSelectedResult();
    void onSelectAllChosen();
    void onInvertChosen();
    void onResultsReleased(int button);
    void onResultsHovered(const QPoint &viewportPos);
    // Saves songs for the two download commands (tests replace its dialogs).
    DownloadManager *downloads() const;
    // What the exit command calls last (QCoreApplication::exit by default).
    void setQuitHandler(std::function<void(int)> quit);

    // ---- the music library, and files from the desktop ----------------------
    // Shows the "音乐库" dialog (brings it forward when it is open already);
    // also for a library that turns out empty.
    void showLibraryDialog();
    LibraryDialog *libraryDialog() const;
    // Adds the audio files (folders walked) to the playlist through this
    // user's own music service and plays the first; the status line says
    // what could not be added.
    void openFiles(const QStringList &paths);

    // ---- SearchView ---------------------------------------------------------
    void appendResult(const SearchResult &row) override;
    int resultCount() const override;
    void clearResults() override;
    bool autoTickEnabled() const override;
    void tickSelectAll() override;
    bool fitEnabled() const override;
    void fitResultColumns() override;
    void setStatusText(const QString &text) override;
    void clearSearchBox() override;
    void setSearchButtonCaption(const QString &caption) override;
    void setStopButtonCaption(const QString &caption) override;
    void setStopButtonEnabled(bool enabled) override;
    void pageFetchFailed(const QString &error) override;

    // ---- LyricsView ---------------------------------------------------------
    void clearLyricList() override;
    void addLyricEntry(const QString &entry) override;
    void setLyricText(const QString &text) override;
    void setLyricBoxText(const QString &text) override;

Q_SIGNALS:
    // The library dialog's choice, saved; a server is used from the next
    // search on. The program restarts its own service on new folders.
    void libraryChosen(const LibraryChoice &choice);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void createControls();
    void createPictures();
    void layoutControls();
    void connectWindow();
    void connectSearch();
    int px(int designPixels) const;
    void setSearchTextColour(unsigned bgr);
    void showHover(ImageControl *button);
    void fillSongInformation();

    // ---- playback internals (MainWindowPlayback.cpp, MainWindowClock.cpp, MainWindowCommands.cpp)
    struct Track
    {
        QString songId;
        QString title;
        QString singer;
    };
    // How an entry point differs on the playlist form of the play path.
    using PlayEntry = PlayerState::PlayEntry;
    void playSearchResult(bool fromDoubleClick);
    void playPlaylistItem(int index, PlayEntry entry);
    // Asks for the track's link; false when the play ends here (no link, or
    // the window closed while the request waited).
    // On success the answer's lyric replaces the playing one (the lyric box
    // emptied first when clearLyricBox); on failure the status line says so.
    bool resolvePlayableLink(const Track &track, QString &link, bool clearLyricBox = false);
    void startLink(const QString &link, bool callPlay);
    void markPlaying(int index);
    void finishPlay(const Track &track);
    void showSingerPicture(const QString &singer);
    int selectedResultRow() const;
    Track resultTrack(int row) const;
    void stepTrack(bool forward);
    void playAfterEndOfTrack();
    bool endsWithoutPlaying();
    void playModeBoxClicked(QCheckBox *box);
    void setPlayModeFromMenu(QAction *chosen);
    void updateClockTimer();
    void scheduleDisplayTick();
    void connectPlayback();
    void connectCommands();
    void connectFileDrops();
    void downloadSong(const Track &track);
    void setupKeys();
    void setupAccessibility();
    // The state's requests run the window's handlers; the window's changes
    // (volume, play mode, playback) go to the state.
    void connectState();
    void onTransportRequested(PlayerState::Transport command, double seconds);
    // Shows a volume on the slider, knob and fill.
    void showVolume(int volume);
    // Tells the state how the media player's track stands.
    void reportPlayback();
    QString albumOf(const QString &songId) const;
    void updatePlayButtonLook();
    void onStatusMessageEnded();
    // Plays the selected playlist item, else the current one; false when
    // the playlist names neither.
    bool playChosenPlaylistItem();

    PlayerState *m_state;
    DownloadManager *m_downloads = nullptr;
    std::function<void(int)> m_quit;
    bool m_closing = false;           // the exit command ran: start nothing new
    bool m_endOfTrackPending = false; // an end of track waits to advance
    int m_shortEnds = 0;              // tracks in a row that ended with no length

    QString m_skinPath;
    QLabel *m_titleIcon = nullptr;
    SongInfoWindow *m_songInfoWindow = nullptr;
    QPointer<LibraryDialog> m_libraryDialog;
    QListWidget *m_lyricList = nullptr;
    // The playing song's whole lyric, for the song information window's
    // lyric box when that window is built later.
    QString m_lyricText;
    bool m_loaded = false;
    // Manual drag when the platform cannot move the window itself.
    bool m_manualDrag = false;
    QPoint m_dragOffset;
    // The play button's two looks: pause while playing, play while paused.
    ImageControl::Looks m_pauseLook; // drawn at the first play
    ImageControl::Looks m_playLook;
    // An image button's normal picture and its hover picture (drawn when
    // first shown).
    static ImageControl::Looks buttonLooks(Artwork::Glyph glyph, QSize size);
    // The play button's looks for the player's state: pause while playing.
    const ImageControl::Looks &playButtonLooks();
    // What the status line said when a page could not be fetched.
    QString m_lastFetchError;
    // What showServiceStatus last put in the status box, and the note for
    // the search summaries.
    QString m_serviceStatus;
    QString m_searchNote;
    // lyricList's entries as the clock reads them.
    LyricIndex m_lyrics;
    // A message held in the status line (a failure, a balloon without a
    // tray) and the text it covered.
    QTimer *m_statusMessageTimer = nullptr;
    QString m_statusBeforeMessage;
    // The seek knob moved since the press: only then does a release seek.
    bool m_seekKnobMoved = false;
    // The first show gave the search box the focus.
    bool m_firstFocusGiven = false;
};
