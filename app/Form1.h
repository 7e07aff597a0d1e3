// The main window: search box and result list, playlist, lyric line, singer
// picture, transport buttons, volume and seek knobs, status lines. It is
// borderless and draws its own title bar; closing it only hides it to the
// notification area.
//
// The controls are public members under the names the rest of the player
// uses (Text1, ListView1, Image3, Slider2 ...). Handlers are split by
// concern over several sources of this class:
//   Form1.cpp         construction, layout, start-up (Form_Load)
//   Form1_Window.cpp  drag, hover pictures, background and label clicks,
//                     song information, the media player's click events
//   Form1_Tray.cpp    close, resize and the tray tips
//   Form1_Search.cpp  the search buttons, the search-box prompt, the result
//                     list fit, and the SearchView / LyricsView interfaces
//   Form1_Playback.cpp       the play path, play order, playlist mouse events
//   Form1_PlaybackClock.cpp  Timer1/Timer2, the knobs, play/pause
//   Form1_Commands.cpp       playlist, tray and search-result menu commands
#pragma once

#include "app/PlayOrder.h"
#include "service/LyricsView.h"
#include "service/SearchView.h"

#include <QPoint>
#include <QString>
#include <QWidget>
#include <functional>

class DownloadManager;
class Form2;
class ImageControl;
class MediaPlayer;
class MenuFrm;
class NaluListBox;
class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSlider;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

class Form1 : public QWidget, public SearchView, public LyricsView
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
    explicit Form1(const QString &skinPath = QString(), QWidget *parent = nullptr);
    ~Form1() override;

    // ---- controls --------------------------------------------------------
    QLabel *Label3 = nullptr;            // title line "标题"; drags the window
    QLabel *Label4 = nullptr;            // status line "准备就绪"
    QLineEdit *Text1 = nullptr;          // search box
    QLineEdit *Text2 = nullptr;          // focus holder
    QLineEdit *Textx2 = nullptr;         // status text box (read-only)
    QLineEdit *txtText3 = nullptr;       // lyric line "暂无歌词"
    QListWidget *List1 = nullptr;        // hidden lyric store
    QPushButton *Command1 = nullptr;     // "搜索" / "停止"
    QPushButton *Command4 = nullptr;     // stop button
    QTreeWidget *ListView1 = nullptr;    // search results
    NaluListBox *NaluListBox1 = nullptr; // playlist

    ImageControl *Picture1 = nullptr; // frame of the media player's view (hidden at start)
    MediaPlayer *WindowsMediaPlayer1 = nullptr;
    ImageControl *Picture2 = nullptr; // singer picture
    ImageControl *Picture3 = nullptr; // default singer picture (hidden)
    ImageControl *Picture4 = nullptr; // volume track
    ImageControl *Picture5 = nullptr; // seek track

    ImageControl *Image1 = nullptr;  // previous
    ImageControl *Image2 = nullptr;  // next
    ImageControl *Image3 = nullptr;  // play / pause
    ImageControl *Image12 = nullptr; // search
    ImageControl *Image19 = nullptr; // minimise
    ImageControl *Image20 = nullptr; // close
    ImageControl *Image24 = nullptr; // play mode
    ImageControl *Image21 = nullptr; // volume knob (left 0 … 800 twips)
    ImageControl *Image22 = nullptr; // volume fill
    ImageControl *P1 = nullptr;      // seek knob (left 0 … 3495 twips)
    ImageControl *B1 = nullptr;      // seek fill
    // Picture stores of the hover effect (normal / hover pairs).
    ImageControl *Image4 = nullptr, *Image5 = nullptr;   // previous
    ImageControl *Image6 = nullptr, *Image7 = nullptr;   // pause look
    ImageControl *Image8 = nullptr, *Image9 = nullptr;   // play look (paused)
    ImageControl *Image10 = nullptr, *Image11 = nullptr; // next
    ImageControl *Image13 = nullptr, *Image14 = nullptr; // search
    ImageControl *Image15 = nullptr, *Image16 = nullptr; // minimise
    ImageControl *Image17 = nullptr, *Image18 = nullptr; // close
    ImageControl *Image25 = nullptr, *Image26 = nullptr; // play mode

    QSlider *Slider2 = nullptr;  // volume 0 … 100, tool tip "音量调节"
    QCheckBox *Check1 = nullptr; // "单曲播放"
    QCheckBox *Check2 = nullptr; // "列表循环播放" (checked at start)
    QCheckBox *Check3 = nullptr; // "随机播放"
    QCheckBox *Check4 = nullptr; // fit option, label lblLabel1
    QCheckBox *Check5 = nullptr; // "全选" indicator
    QCheckBox *Check6 = nullptr; // "反选" indicator
    QCheckBox *Check8 = nullptr; // auto-tick option, label lblLabel2
    QLabel *lblLabel1 = nullptr; // "列表数据自动缩进"
    QLabel *lblLabel2 = nullptr; // "列表自动选中"

    QTimer *Timer1 = nullptr; // clock and lyric tick (handlers: playback)
    QTimer *Timer2 = nullptr; // volume, caption and tool tips (handlers: playback)

    Form2 *form2 = nullptr;     // song information window
    MenuFrm *menuFrm = nullptr; // the pop-up menus

    // ---- main-window fields -----------------------------------------------
    QString Songersss;            // singer now playing, "" until the first play
    short PlaylistMouseIndex = 0; // playlist index at the last mouse-down

    // ---- start-up, window -------------------------------------------------
    void Form_Load();
    void Form_Unload(bool &cancel);
    void Form_Resize();
    void DragWindow();
    void RestoreButtonImages();
    void Image19_Click();
    void Image20_Click();
    void Image12_Click();
    void lblLabel1_Click();
    void lblLabel2_Click();
    void MusicTT_Click();
    // A GET of url decoded in the system ANSI code page (GBK); empty text
    // when the request fails. The service client does not use it.
    QString XMLHttpGET(const QString &url);
    void Picture2_Click();
    void WindowsMediaPlayer1_Click();
    void WindowsMediaPlayer1_DoubleClick();
    // The search-prompt restore of a background press (before the drag).
    void restoreSearchPrompt();

    // ---- search -----------------------------------------------------------
    void Command1_Click();
    void Command4_Click();
    void Text1_Change();
    void Text1_Click();
    void Text1_DblClick();
    void Text1_KeyPress(int keyAscii);
    void Text1_LostFocus();
    void Text1_MouseMove();
    void Command1_MouseMove();
    void ListView1_MouseDown();
    void Textx2_MouseDown();
    void txtText3_MouseDown();
    void Textx2_KeyDown();
    void FitResultColumns();
    static void AutoSizeColumn(QTreeWidget *list, int column = -1);
    // Select all / invert the ticks of the result list.
    void QuanxuanS();
    void XunZ();
    void Check4_Click();
    void Check8_Click();

    // The search box's text colour as 0x00BBGGRR.
    unsigned text1ForeColour() const;

    // Whether the player is paused (the play button then shows play).
    bool playerPaused() const;

    // ---- playback ---------------------------------------------------------
    short KnobGrabX = 0;       // twips into a knob where the left button went down
    bool SeekDragging = false; // the seek knob is held: the clock leaves it alone

    void ListView1_DblClick();
    void Player1_Click();
    void NaluListBox1_DBClick(short Button, short Shift, float X, float Y);
    void NaluListBox1_MouseDown(short Button, short Shift, float X, float Y);
    void NaluListBox1_MouseUp(short Button, short Shift, float X, float Y);
    void Player2_Click();
    void Image1_Click();
    void Image2_Click();
    void UMusic_Click();
    void NMusic_Click();
    void WindowsMediaPlayer1_PlayStateChange(int NewState);
    void Check1_Click();
    void Check2_Click();
    void Check3_Click();
    void Onessw_Click();
    void Lists_Click();
    void Suijibo_Click();
    void Image24_Click();
    // The play mode the three boxes hold.
    PlayMode playMode() const;

    QString GetMusicLong();
    void Timer1_Timer();
    void Timer2_Timer();
    void Image21_MouseDown(int Button, int Shift, double X, double Y);
    void Image21_MouseMove(int Button, int Shift, double X, double Y);
    void Slider2_MouseMove();
    void P1_MouseDown(int Button, int Shift, double X, double Y);
    void P1_MouseMove(int Button, int Shift, double X, double Y);
    void P1_MouseUp(int Button, int Shift, double X, double Y);
    void Image3_Click();

    // ---- playlist, tray and result commands -------------------------------
    void DeletOne_Click();
    void DeletAll_Click();
    void Download2_Click();
    void AboutMe_Click();
    void CloseMe_Click();
    void AddPlayList_Click();
    void DownloadMusic_Click();
    void quanxuan_Click();
    void fanxuan_Click();
    void ListView1_MouseUp(int Button);
    void ListView1_MouseMove(const QPoint &viewportPos);
    // Saves songs for the two download commands (tests replace its dialogs).
    DownloadManager *downloads() const;
    // What the exit command calls last (QCoreApplication::exit by default).
    void setQuitHandler(std::function<void(int)> quit);

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

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
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
    void setText1Colour(unsigned bgr);
    void showHover(ImageControl *button);
    void fillSongInformation();

    // ---- playback internals (Form1_Playback*.cpp, Form1_Commands.cpp) ------
    struct Track
    {
        QString songId;
        QString title;
        QString singer;
    };
    // How an entry point differs on the playlist form of the play path.
    enum class PlayEntry { DoubleClick, Menu, Step };
    void playSearchResult(bool fromDoubleClick);
    void playPlaylistItem(int index, PlayEntry entry);
    // Asks for the track's link; false when the play ends here (no link, or
    // the window closed while the request waited).
    bool resolvePlayableLink(const Track &track, QString &link);
    void startLink(const QString &link, bool callPlay);
    void markPlaying(int index);
    void finishPlay(const Track &track);
    void showSingerPicture(const QString &singer);
    QTreeWidgetItem *selectedResultRow() const;
    void stepTrack(bool forward);
    void playAfterEndOfTrack();
    bool endsWithoutPlaying();
    void playModeBoxClicked(QCheckBox *box);
    void setPlayModeFromMenu(QAction *chosen);
    void updateClockTimer();
    void scheduleTimer2();
    void connectPlayback();
    void connectCommands();
    void downloadSong(const Track &track);

    PlayOrder m_playOrder;
    DownloadManager *m_downloads = nullptr;
    std::function<void(int)> m_quit;
    bool m_closing = false;            // the exit command ran: start nothing new
    bool m_endOfTrackPending = false;  // an end of track waits to advance
    int m_shortEnds = 0;               // tracks in a row that ended with no length

    QString m_skinPath;
    QLabel *m_titleIcon = nullptr;
    bool m_loaded = false;
    // Manual drag when the platform cannot move the window itself.
    bool m_manualDrag = false;
    QPoint m_dragOffset;
    // What the status line said when a page could not be fetched.
    QString m_lastFetchError;
};
