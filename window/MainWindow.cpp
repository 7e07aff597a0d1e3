// Construction, layout and start-up of the main window. The layout is drawn
// for 96 dpi in pixels and scaled with the screen; the knobs live in twips,
// the unit their rules are written in.
#include "window/MainWindow.h"

#include "controls/PropertyBag.h"
#include "controls/image/ImageControl.h"
#include "controls/listbox/PlaylistView.h"
#include "net/UrlEncode.h"
#include "playback/MediaPlayer.h"
#include "service/SearchState.h"
#include "shell/SkinLoader.h"
#include "shell/TrayIcon.h"
#include "window/AppInfo.h"
#include "window/Artwork.h"
#include "window/PopupMenus.h"
#include "window/SongInfoWindow.h"
#include "window/results/ResultList.h"
#include "window/rules/PlaybackKnobs.h"

#include <QAction>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QStyleOption>
#include <QTimer>
#include <cmath>

const QString MainWindow::kSearchPrompt = QStringLiteral("请输入歌名、歌手或专辑");

namespace {

// Design size of the window at 96 dpi.
constexpr int kDesignWidth = 980;
constexpr int kDesignHeight = 612;
// Result-list columns and their widths in twips.
constexpr int kColumnWidths[] = {2000, 4000, 2000, 5000};
// The seek knob's design position, in twips from the left of its track (the
// volume knob stands where the player's volume puts it).
constexpr int kSeekKnobDesignLeft = 120;
// The knobs' travel, in twips, and their size.
constexpr int kSeekKnobMaxLeft = 3495;
constexpr int kVolumeKnobMaxLeft = 800;
constexpr int kKnobTwips = 240;
constexpr int kTrackHeightTwips = 360;

// Runs one start-up step; a failing step is skipped so the next still runs.
template <typename Step> void attempt(Step step)
{
    try {
        step();
    } catch (...) {
    }
}

} // namespace

MainWindow::MainWindow(const QString &skinPath, QWidget *parent)
    : MainWindow(nullptr, skinPath, parent)
{
}

MainWindow::MainWindow(PlayerState *state, const QString &skinPath, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      m_state(state ? state : new PlayerState(this)),
      m_skinPath(skinPath.isEmpty() ? defaultSkinPath() : skinPath)
{
    setObjectName(QStringLiteral("MainWindow"));
    setAttribute(Qt::WA_StyledBackground);
    setWindowIcon(Artwork::appIcon());
    setMouseTracking(true);
    setFixedSize(px(kDesignWidth), px(kDesignHeight));

    createControls();
    createPictures();
    layoutControls();
    connectWindow();
    connectSearch();
    connectPlayback();
    connectState();
    connectFileDrops();
    setupKeys();
    setupAccessibility();
    startUp();
}

MainWindow::~MainWindow()
{
    // The tray hook belongs to this window; take it out with the icon.
    tray::removeTrayIcon(this);
}

int MainWindow::px(int designPixels) const
{
    const int dpi = logicalDpiX() > 0 ? logicalDpiX() : 96;
    return designPixels * dpi / 96;
}

void MainWindow::createControls()
{
    const auto named = [](QWidget *w, const char *name) {
        w->setObjectName(QLatin1String(name));
        return w;
    };

    auto *titleBar = new QFrame(this);
    titleBar->setObjectName(QStringLiteral("TitleBar"));
    titleBar->setGeometry(0, 0, px(kDesignWidth), px(40));
    titleBar->setAttribute(Qt::WA_TransparentForMouseEvents);

    // The focus holder sits under the title bar: it only takes the focus.
    focusHolder = new QLineEdit(this);
    named(focusHolder, "focusHolder");
    focusHolder->setFrame(false);

    m_titleIcon = new QLabel(this);
    m_titleIcon->setObjectName(QStringLiteral("TitleIcon"));
    m_titleIcon->setAttribute(Qt::WA_TransparentForMouseEvents);
    titleLabel = new QLabel(QStringLiteral("标题"), this);
    named(titleLabel, "titleLabel");
    statusLabel = new QLabel(QStringLiteral("准备就绪"), this);
    named(statusLabel, "statusLabel");
    statusLabel->setMouseTracking(true);

    searchEdit = new QLineEdit(kSearchPrompt, this);
    named(searchEdit, "searchEdit");
    searchButton = new QPushButton(QStringLiteral("搜索"), this);
    named(searchButton, "searchButton");
    stopButton = new QPushButton(QStringLiteral("停止"), this);
    named(stopButton, "stopButton");
    stopButton->setEnabled(false);

    resultsView = new ResultList(this);
    named(resultsView, "resultsView");

    selectAllBox = new QCheckBox(QStringLiteral("全选"), this);
    named(selectAllBox, "selectAllBox");
    invertBox = new QCheckBox(QStringLiteral("反选"), this);
    named(invertBox, "invertBox");
    autoFitBox = new QCheckBox(this);
    named(autoFitBox, "autoFitBox");
    autoFitLabel = new QLabel(QStringLiteral("列表数据自动缩进"), this);
    named(autoFitLabel, "autoFitLabel");
    autoTickBox = new QCheckBox(this);
    named(autoTickBox, "autoTickBox");
    autoTickLabel = new QLabel(QStringLiteral("列表自动选中"), this);
    named(autoTickLabel, "autoTickLabel");
    for (QLabel *label : {autoFitLabel, autoTickLabel})
        label->setCursor(Qt::PointingHandCursor);

    singleRepeatBox = new QCheckBox(QStringLiteral("单曲播放"), this);
    named(singleRepeatBox, "singleRepeatBox");
    listLoopBox = new QCheckBox(QStringLiteral("列表循环播放"), this);
    named(listLoopBox, "listLoopBox");
    listLoopBox->setChecked(true);
    randomBox = new QCheckBox(QStringLiteral("随机播放"), this);
    named(randomBox, "randomBox");

    lyricLine = new QLineEdit(QStringLiteral("暂无歌词"), this);
    named(lyricLine, "lyricLine");
    lyricLine->setReadOnly(true);
    lyricLine->setAlignment(Qt::AlignCenter);

    // The playlist starts with the properties this window stores for it (its
    // colours, font, row height and border), so the new control's serif font
    // is never loaded only to be replaced.
    playlistView = new PlaylistView(PlaylistViewProperties::mainWindow(), this);
    named(playlistView, "playlistView");
    playlistView->readProperties(PlaylistView::mainWindowProperties());

    statusEdit = new QLineEdit(this);
    named(statusEdit, "statusEdit");
    statusEdit->setReadOnly(true);
    statusEdit->setPlaceholderText(QStringLiteral("输入歌名、歌手或专辑搜索，双击结果即可播放"));

    volumeSlider = new QSlider(Qt::Horizontal, this);
    named(volumeSlider, "volumeSlider");
    volumeSlider->setRange(0, 100);
    volumeSlider->setValue(m_state->volume());
    volumeSlider->setToolTip(QStringLiteral("音量调节"));

    clockTimer = new QTimer(this);
    clockTimer->setObjectName(QStringLiteral("clockTimer"));
    displayTimer = new QTimer(this);
    displayTimer->setObjectName(QStringLiteral("displayTimer"));

    popupMenus = new PopupMenus(this);
}

void MainWindow::createPictures()
{
    const auto image = [this](QWidget *parent, const char *name) {
        auto *control = new ImageControl(parent ? parent : this);
        control->setObjectName(QLatin1String(name));
        return control;
    };
    previousButton = image(nullptr, "previousButton");
    nextButton = image(nullptr, "nextButton");
    playButton = image(nullptr, "playButton");
    searchImageButton = image(nullptr, "searchImageButton");
    minimiseButton = image(nullptr, "minimiseButton");
    closeButton = image(nullptr, "closeButton");
    playModeButton = image(nullptr, "playModeButton");
    // Each button carries its normal and hover pictures; the play button
    // swaps between the pause look (while playing) and the play look.
    const QSize small(px(36), px(36));
    const QSize big(px(52), px(52));
    const QSize chrome(px(30), px(26));
    const QSize square(px(32), px(32));
    const auto looks = [](Artwork::Glyph glyph, QSize size) { return buttonLooks(glyph, size); };
    previousButton->setLooks(looks(Artwork::Glyph::Previous, small));
    nextButton->setLooks(looks(Artwork::Glyph::Next, small));
    searchImageButton->setLooks(looks(Artwork::Glyph::Search, square));
    minimiseButton->setLooks(looks(Artwork::Glyph::Minimise, chrome));
    closeButton->setLooks(looks(Artwork::Glyph::Close, chrome));
    playModeButton->setLooks(looks(Artwork::Glyph::PlayMode, square));
    m_playLook = looks(Artwork::Glyph::Play, big);
    playButton->setLooks(m_playLook);
    previousButton->setToolTip(QStringLiteral("上一首"));
    nextButton->setToolTip(QStringLiteral("下一首"));
    searchImageButton->setToolTip(QStringLiteral("搜索"));
    minimiseButton->setToolTip(QStringLiteral("最小化"));
    closeButton->setToolTip(QStringLiteral("关闭"));
    playModeButton->setToolTip(QStringLiteral("播放模式"));
    for (ImageControl *button : {previousButton, nextButton, playButton, searchImageButton,
                                 minimiseButton, closeButton, playModeButton})
        button->setCursor(Qt::PointingHandCursor);

    singerPicture = image(nullptr, "singerPicture");
    singerPicture->setScaledContents(true);
    defaultSingerPicture = image(nullptr, "defaultSingerPicture");
    defaultSingerPicture->hide();
    playerFrame = image(nullptr, "playerFrame");
    playerFrame->hide();
    mediaPlayer = new MediaPlayer(playerFrame);
    mediaPlayer->setObjectName(QStringLiteral("mediaPlayer"));

    seekTrack = image(nullptr, "seekTrack");
    seekFill = image(seekTrack, "seekFill");
    seekKnob = image(seekTrack, "seekKnob");
    volumeTrack = image(nullptr, "volumeTrack");
    volumeFill = image(volumeTrack, "volumeFill");
    volumeKnob = image(volumeTrack, "volumeKnob");
    for (ImageControl *fill : {seekFill, volumeFill})
        fill->setScaledContents(true);
    volumeKnob->setToolTip(QStringLiteral("音量"));
}

void MainWindow::layoutControls()
{
    const auto place = [this](QWidget *w, int x, int y, int width, int height) {
        w->setGeometry(px(x), px(y), px(width), px(height));
    };

    place(focusHolder, 2, 2, 1, 1);
    place(m_titleIcon, 14, 8, 24, 24);
    m_titleIcon->setPixmap(windowIcon().pixmap(m_titleIcon->size()));
    place(titleLabel, 46, 0, 600, 40);
    place(minimiseButton, 908, 7, 30, 26);
    place(closeButton, 942, 7, 30, 26);

    place(searchEdit, 16, 54, 440, 32);
    place(searchImageButton, 462, 54, 32, 32);
    place(searchButton, 502, 54, 72, 32);
    place(stopButton, 580, 54, 72, 32);

    place(resultsView, 16, 96, 636, 374);
    place(selectAllBox, 16, 478, 64, 24);
    place(invertBox, 84, 478, 64, 24);
    place(autoFitBox, 164, 478, 20, 24);
    place(autoFitLabel, 186, 478, 130, 24);
    place(autoTickBox, 326, 478, 20, 24);
    place(autoTickLabel, 348, 478, 120, 24);

    place(singerPicture, 668, 54, 140, 140);
    place(playerFrame, 668, 54, 140, 140);
    place(defaultSingerPicture, 668, 54, 140, 140);
    mediaPlayer->setGeometry(playerFrame->rect());
    place(singleRepeatBox, 822, 60, 142, 26);
    place(listLoopBox, 822, 92, 142, 26);
    place(randomBox, 822, 124, 142, 26);
    place(playModeButton, 822, 160, 32, 32);
    place(lyricLine, 668, 204, 296, 30);
    place(playlistView, 668, 242, 296, 260);

    place(previousButton, 16, 520, 36, 36);
    place(playButton, 58, 512, 52, 52);
    place(nextButton, 116, 520, 36, 36);

    // Seek track: the knob travels 0 … 3495 twips from the track's left.
    place(seekTrack, 166, 526, 0, 0);
    seekTrack->setGeometryTwips(seekTrack->leftTwips(), seekTrack->topTwips(),
                                kSeekKnobMaxLeft + kKnobTwips, kTrackHeightTwips);
    const int knobTop = (kTrackHeightTwips - kKnobTwips) / 2;
    seekKnob->setGeometryTwips(kSeekKnobDesignLeft, knobTop, kKnobTwips, kKnobTwips);
    seekFill->setGeometryTwips(0, knobTop, kSeekKnobDesignLeft, kKnobTwips);
    place(statusLabel, 426, 524, 330, 28);

    // Volume track: the knob travels 0 … 800 twips.
    place(volumeTrack, 766, 526, 0, 0);
    volumeTrack->setGeometryTwips(volumeTrack->leftTwips(), volumeTrack->topTwips(),
                                  kVolumeKnobMaxLeft + kKnobTwips, kTrackHeightTwips);
    const int volumeLeft =
        static_cast<int>(std::lround(m_state->volume() / PlaybackKnobs::kVolumePerTwip));
    volumeKnob->setGeometryTwips(volumeLeft, knobTop, kKnobTwips, kKnobTwips);
    volumeFill->setGeometryTwips(0, knobTop, volumeLeft, kKnobTwips);
    place(volumeSlider, 846, 528, 118, 22);

    place(statusEdit, 16, 574, 948, 28);

    // Pictures sized to their controls.
    singerPicture->setPicture(Artwork::defaultSinger(singerPicture->size()));
    defaultSingerPicture->setPicture(singerPicture->picture());
    seekTrack->setPicture(Artwork::track(seekTrack->size()));
    volumeTrack->setPicture(Artwork::track(volumeTrack->size()));
    seekKnob->setPicture(Artwork::knob(seekKnob->size()));
    volumeKnob->setPicture(Artwork::knob(volumeKnob->size()));
    const QPixmap fill = Artwork::trackFill(QSize(px(240), seekKnob->height()));
    seekFill->setPicture(fill);
    volumeFill->setPicture(fill);
    restoreButtonImages();
}

QListWidget *MainWindow::lyricList()
{
    if (!m_lyricList) {
        m_lyricList = new QListWidget(this);
        m_lyricList->setObjectName(QStringLiteral("lyricList"));
        m_lyricList->hide();
        m_lyricList->addItems(m_lyrics.entries());
    }
    return m_lyricList;
}

ImageControl::Looks MainWindow::buttonLooks(Artwork::Glyph glyph, QSize size)
{
    return ImageControl::Looks{
        Artwork::button(glyph, size, false),
        ImageControl::LazyPicture([glyph, size] { return Artwork::button(glyph, size, true); })};
}

const ImageControl::Looks &MainWindow::playButtonLooks()
{
    if (!playerRunning())
        return m_playLook;
    // The pause look is drawn at the first play.
    if (m_pauseLook.normal.isNull())
        m_pauseLook = buttonLooks(Artwork::Glyph::Pause, m_playLook.normal.size());
    return m_pauseLook;
}

SongInfoWindow *MainWindow::songInfoWindow()
{
    if (!m_songInfoWindow) {
        m_songInfoWindow = new SongInfoWindow(this);
        m_songInfoWindow->hide();
        m_songInfoWindow->lyricEdit->setPlainText(m_lyricText);
    }
    return m_songInfoWindow;
}

void MainWindow::paintEvent(QPaintEvent *event)
{
    // Lets the skin's background rules paint this plain QWidget subclass.
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    QWidget::paintEvent(event);
}

void MainWindow::startUp()
{
    SearchState &search = musicservice::searchState();

    attempt([&] {
        m_state->setTrayTipMode(1);
        m_state->setCurrentIndex(1);
        search.firstPageMarker = SearchState::kFirstPage;
    });
    attempt([&] {
        resultsView->clear();
        const QStringList captions{QStringLiteral("歌曲ID："), QStringLiteral("歌曲名称："),
                                   QStringLiteral("歌手："), QStringLiteral("专辑：")};
        const int dpi = logicalDpiX() > 0 ? logicalDpiX() : 96;
        QList<int> widths;
        for (int column = 0; column < captions.size(); ++column)
            widths.append(kColumnWidths[column] * dpi / 1440);
        resultsView->setColumns(captions, widths);
    });
    attempt([&] {
        popupMenus->showWindowAction->setVisible(false);
        popupMenus->showWindowSeparator->setVisible(false);
    });
    attempt([&] {
        search.searchInProgress = true;
        search.searchPage = 1;
        search.playlistAddInProgress = false;
        search.firstPageMarker = SearchState::kFirstPage;
        search.encodedQuery = musicservice::urlEncode(searchEdit->text());
        resultsView->clear();
    });
    attempt([&] {
        const QString title = AppInfo::windowTitle();
        titleLabel->setText(title);
        setWindowTitle(title);
    });
    attempt([&] { focusHolder->setFocus(); });
    attempt([&] {
        attachSkin(m_skinPath, QString());
        setSkinAero(0);
    });
    attempt([&] {
        popupMenus->singleRepeatAction->setChecked(false);
        popupMenus->listLoopAction->setChecked(true);
        popupMenus->randomAction->setChecked(false);
    });
    attempt([&] {
        // Start-up balloon flags; the empty balloon text shows none.
        constexpr int kStartBalloonFlags = 10;
        constexpr int kBalloonTimeoutMs = 5000;
        tray::setTrayMenuSource([menus = QPointer<PopupMenus>(popupMenus)] {
            return menus ? menus->trayMenu() : nullptr;
        });
        // A balloon that ends leaves the tip naming the playing track.
        tray::setTipSource([state = QPointer<PlayerState>(m_state)](QWidget *form) {
            return state ? state->trayTip(form->windowTitle()) : form->windowTitle();
        });
        // Without a notification area a balloon shows in the status line.
        tray::setBalloonFallback([](QWidget *form, const QString &text, int timeoutMs) {
            if (auto *window = qobject_cast<MainWindow *>(form))
                window->showStatusMessage(text, timeoutMs);
        });
        tray::updateTrayIcon(this, windowTitle(), QString(), kStartBalloonFlags, kBalloonTimeoutMs);
    });
    m_loaded = true;
}
