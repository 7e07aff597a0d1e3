// Construction, layout and start-up of the main window. The layout is drawn
// for 96 dpi in pixels and scaled with the screen; the knobs live in twips,
// the unit their rules are written in.
#include "app/Form1.h"

#include "app/AppInfo.h"
#include "app/Artwork.h"
#include "app/Form2.h"
#include "app/ImageControl.h"
#include "app/MediaPlayer.h"
#include "app/MenuFrm.h"
#include "app/PlaybackState.h"
#include "controls/PropertyBag.h"
#include "controls/listbox/NaluListBox.h"
#include "service/SearchState.h"
#include "service/UrlEncode.h"
#include "shell/SkinH.h"
#include "shell/Trayico.h"

#include <QAction>
#include <QCheckBox>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QStyleOption>
#include <QTimer>
#include <QTreeWidget>

const QString Form1::kSearchPrompt = QStringLiteral("请输入歌名、歌手或专辑");

namespace {

// Design size of the window at 96 dpi.
constexpr int kDesignWidth = 980;
constexpr int kDesignHeight = 612;
// Result-list columns and their widths in twips.
constexpr int kColumnWidths[] = {2000, 4000, 2000, 5000};
// The knobs' design positions, in twips from the left of their tracks.
constexpr int kSeekKnobDesignLeft = 120;
constexpr int kVolumeKnobDesignLeft = 600;
// The knobs' travel, in twips, and their size.
constexpr int kSeekKnobMaxLeft = 3495;
constexpr int kVolumeKnobMaxLeft = 800;
constexpr int kKnobTwips = 240;
constexpr int kTrackHeightTwips = 360;
// Volume percent per twip of volume knob travel.
constexpr double kVolumePerTwip = 0.125;

// Runs one start-up step; a failing step is skipped so the next still runs.
template <typename Step> void attempt(Step step)
{
    try {
        step();
    } catch (...) {
    }
}

} // namespace

Form1::Form1(const QString &skinPath, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      m_skinPath(skinPath.isEmpty() ? SkinH_DefaultPath() : skinPath)
{
    setObjectName(QStringLiteral("Form1"));
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
    Form_Load();
}

Form1::~Form1()
{
    // The tray hook belongs to this window; take it out with the icon.
    Trayico::RemoveTrayIcon(this);
}

int Form1::px(int designPixels) const
{
    const int dpi = logicalDpiX() > 0 ? logicalDpiX() : 96;
    return designPixels * dpi / 96;
}

void Form1::createControls()
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
    Text2 = new QLineEdit(this);
    named(Text2, "Text2");
    Text2->setFrame(false);

    m_titleIcon = new QLabel(this);
    m_titleIcon->setObjectName(QStringLiteral("TitleIcon"));
    m_titleIcon->setAttribute(Qt::WA_TransparentForMouseEvents);
    Label3 = new QLabel(QStringLiteral("标题"), this);
    named(Label3, "Label3");
    Label4 = new QLabel(QStringLiteral("准备就绪"), this);
    named(Label4, "Label4");
    Label4->setMouseTracking(true);

    Text1 = new QLineEdit(kSearchPrompt, this);
    named(Text1, "Text1");
    Command1 = new QPushButton(QStringLiteral("搜索"), this);
    named(Command1, "Command1");
    Command4 = new QPushButton(QStringLiteral("停止"), this);
    named(Command4, "Command4");
    Command4->setEnabled(false);

    ListView1 = new QTreeWidget(this);
    named(ListView1, "ListView1");
    ListView1->setRootIsDecorated(false);
    ListView1->setItemsExpandable(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setAlternatingRowColors(true);
    ListView1->header()->setStretchLastSection(false);
    ListView1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    Check5 = new QCheckBox(QStringLiteral("全选"), this);
    named(Check5, "Check5");
    Check6 = new QCheckBox(QStringLiteral("反选"), this);
    named(Check6, "Check6");
    Check4 = new QCheckBox(this);
    named(Check4, "Check4");
    lblLabel1 = new QLabel(QStringLiteral("列表数据自动缩进"), this);
    named(lblLabel1, "lblLabel1");
    Check8 = new QCheckBox(this);
    named(Check8, "Check8");
    lblLabel2 = new QLabel(QStringLiteral("列表自动选中"), this);
    named(lblLabel2, "lblLabel2");
    for (QLabel *label : {lblLabel1, lblLabel2})
        label->setCursor(Qt::PointingHandCursor);

    Check1 = new QCheckBox(QStringLiteral("单曲播放"), this);
    named(Check1, "Check1");
    Check2 = new QCheckBox(QStringLiteral("列表循环播放"), this);
    named(Check2, "Check2");
    Check2->setChecked(true);
    Check3 = new QCheckBox(QStringLiteral("随机播放"), this);
    named(Check3, "Check3");

    txtText3 = new QLineEdit(QStringLiteral("暂无歌词"), this);
    named(txtText3, "txtText3");
    txtText3->setReadOnly(true);
    txtText3->setAlignment(Qt::AlignCenter);

    List1 = new QListWidget(this);
    named(List1, "List1");
    List1->hide();

    NaluListBox1 = new NaluListBox(this);
    named(NaluListBox1, "NaluListBox1");
    // The playlist is loaded with the properties this window stores for it
    // (its colours, font, row height and border).
    NaluListBox1->ReadProperties(NaluListBox::mainWindowProperties());

    Textx2 = new QLineEdit(this);
    named(Textx2, "Textx2");
    Textx2->setReadOnly(true);
    Textx2->setPlaceholderText(QStringLiteral("输入歌名、歌手或专辑搜索，双击结果即可播放"));

    Slider2 = new QSlider(Qt::Horizontal, this);
    named(Slider2, "Slider2");
    Slider2->setRange(0, 100);
    Slider2->setValue(static_cast<int>(kVolumeKnobDesignLeft * kVolumePerTwip));
    Slider2->setToolTip(QStringLiteral("音量调节"));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));

    menuFrm = new MenuFrm(this);
    menuFrm->setWindowFlags(Qt::Widget);
    menuFrm->hide();
}

void Form1::createPictures()
{
    const auto image = [this](QWidget *parent, const char *name) {
        auto *control = new ImageControl(parent ? parent : this);
        control->setObjectName(QLatin1String(name));
        return control;
    };
    // Picture stores first, hidden: only their pictures are used.
    const QSize small(px(36), px(36));
    const QSize big(px(52), px(52));
    const QSize chrome(px(30), px(26));
    struct Store
    {
        ImageControl **normal;
        ImageControl **hover;
        const char *normalName;
        const char *hoverName;
        Artwork::Glyph glyph;
        QSize size;
    };
    const Store stores[] = {
        {&Image4, &Image5, "Image4", "Image5", Artwork::Glyph::Previous, small},
        {&Image6, &Image7, "Image6", "Image7", Artwork::Glyph::Pause, big},
        {&Image8, &Image9, "Image8", "Image9", Artwork::Glyph::Play, big},
        {&Image10, &Image11, "Image10", "Image11", Artwork::Glyph::Next, small},
        {&Image13, &Image14, "Image13", "Image14", Artwork::Glyph::Search, QSize(px(32), px(32))},
        {&Image15, &Image16, "Image15", "Image16", Artwork::Glyph::Minimise, chrome},
        {&Image17, &Image18, "Image17", "Image18", Artwork::Glyph::Close, chrome},
        {&Image25, &Image26, "Image25", "Image26", Artwork::Glyph::PlayMode, QSize(px(32), px(32))},
    };
    for (const Store &store : stores) {
        *store.normal = image(nullptr, store.normalName);
        *store.hover = image(nullptr, store.hoverName);
        (*store.normal)->setPicture(Artwork::button(store.glyph, store.size, false));
        (*store.hover)->setPicture(Artwork::button(store.glyph, store.size, true));
        (*store.normal)->hide();
        (*store.hover)->hide();
    }

    Image1 = image(nullptr, "Image1");
    Image2 = image(nullptr, "Image2");
    Image3 = image(nullptr, "Image3");
    Image12 = image(nullptr, "Image12");
    Image19 = image(nullptr, "Image19");
    Image20 = image(nullptr, "Image20");
    Image24 = image(nullptr, "Image24");
    Image1->setToolTip(QStringLiteral("上一首"));
    Image2->setToolTip(QStringLiteral("下一首"));
    Image12->setToolTip(QStringLiteral("搜索"));
    Image19->setToolTip(QStringLiteral("最小化"));
    Image20->setToolTip(QStringLiteral("关闭"));
    Image24->setToolTip(QStringLiteral("播放模式"));
    for (ImageControl *button : {Image1, Image2, Image3, Image12, Image19, Image20, Image24})
        button->setCursor(Qt::PointingHandCursor);

    Picture2 = image(nullptr, "Picture2");
    Picture2->setScaledContents(true);
    Picture3 = image(nullptr, "Picture3");
    Picture3->hide();
    Picture1 = image(nullptr, "Picture1");
    Picture1->hide();
    WindowsMediaPlayer1 = new MediaPlayer(Picture1);
    WindowsMediaPlayer1->setObjectName(QStringLiteral("WindowsMediaPlayer1"));

    Picture5 = image(nullptr, "Picture5");
    B1 = image(Picture5, "B1");
    P1 = image(Picture5, "P1");
    Picture4 = image(nullptr, "Picture4");
    Image22 = image(Picture4, "Image22");
    Image21 = image(Picture4, "Image21");
    for (ImageControl *fill : {B1, Image22})
        fill->setScaledContents(true);
    Image21->setToolTip(QStringLiteral("音量"));
}

void Form1::layoutControls()
{
    const auto place = [this](QWidget *w, int x, int y, int width, int height) {
        w->setGeometry(px(x), px(y), px(width), px(height));
    };

    place(Text2, 2, 2, 1, 1);
    place(m_titleIcon, 14, 8, 24, 24);
    m_titleIcon->setPixmap(windowIcon().pixmap(m_titleIcon->size()));
    place(Label3, 46, 0, 600, 40);
    place(Image19, 908, 7, 30, 26);
    place(Image20, 942, 7, 30, 26);

    place(Text1, 16, 54, 440, 32);
    place(Image12, 462, 54, 32, 32);
    place(Command1, 502, 54, 72, 32);
    place(Command4, 580, 54, 72, 32);

    place(ListView1, 16, 96, 636, 374);
    place(Check5, 16, 478, 64, 24);
    place(Check6, 84, 478, 64, 24);
    place(Check4, 164, 478, 20, 24);
    place(lblLabel1, 186, 478, 130, 24);
    place(Check8, 326, 478, 20, 24);
    place(lblLabel2, 348, 478, 120, 24);

    place(Picture2, 668, 54, 140, 140);
    place(Picture1, 668, 54, 140, 140);
    place(Picture3, 668, 54, 140, 140);
    WindowsMediaPlayer1->setGeometry(Picture1->rect());
    place(Check1, 822, 60, 142, 26);
    place(Check2, 822, 92, 142, 26);
    place(Check3, 822, 124, 142, 26);
    place(Image24, 822, 160, 32, 32);
    place(txtText3, 668, 204, 296, 30);
    place(NaluListBox1, 668, 242, 296, 260);

    place(Image1, 16, 520, 36, 36);
    place(Image3, 58, 512, 52, 52);
    place(Image2, 116, 520, 36, 36);

    // Seek track: the knob travels 0 … 3495 twips from the track's left.
    place(Picture5, 166, 526, 0, 0);
    Picture5->setGeometryTwips(Picture5->Left(), Picture5->Top(), kSeekKnobMaxLeft + kKnobTwips,
                               kTrackHeightTwips);
    const int knobTop = (kTrackHeightTwips - kKnobTwips) / 2;
    P1->setGeometryTwips(kSeekKnobDesignLeft, knobTop, kKnobTwips, kKnobTwips);
    B1->setGeometryTwips(0, knobTop, kSeekKnobDesignLeft, kKnobTwips);
    place(Label4, 426, 524, 330, 28);

    // Volume track: the knob travels 0 … 800 twips.
    place(Picture4, 766, 526, 0, 0);
    Picture4->setGeometryTwips(Picture4->Left(), Picture4->Top(), kVolumeKnobMaxLeft + kKnobTwips,
                               kTrackHeightTwips);
    Image21->setGeometryTwips(kVolumeKnobDesignLeft, knobTop, kKnobTwips, kKnobTwips);
    Image22->setGeometryTwips(0, knobTop, kVolumeKnobDesignLeft, kKnobTwips);
    place(Slider2, 846, 528, 118, 22);

    place(Textx2, 16, 574, 948, 28);

    // Pictures sized to their controls.
    Picture2->setPicture(Artwork::defaultSinger(Picture2->size()));
    Picture3->setPicture(Picture2->picture());
    Picture5->setPicture(Artwork::track(Picture5->size()));
    Picture4->setPicture(Artwork::track(Picture4->size()));
    P1->setPicture(Artwork::knob(P1->size()));
    Image21->setPicture(Artwork::knob(Image21->size()));
    const QPixmap fill = Artwork::trackFill(QSize(px(240), P1->height()));
    B1->setPicture(fill);
    Image22->setPicture(fill);
    RestoreButtonImages();
}

void Form1::paintEvent(QPaintEvent *event)
{
    // Lets the skin's background rules paint this plain QWidget subclass.
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    QWidget::paintEvent(event);
}

void Form1::Form_Load()
{
    PlaybackState &state = PlaybackState::instance();
    SearchState &search = GetMusicList::State();

    attempt([&] {
        state.TrayTipMode = 1;
        state.CurrentPlayIndex = 1;
        search.SearchFirstPageMarker = SearchState::kFirstPage;
    });
    attempt([&] {
        ListView1->clear();
        ListView1->setColumnCount(0);
        const QStringList captions{QStringLiteral("歌曲ID："), QStringLiteral("歌曲名称："),
                                   QStringLiteral("歌手："), QStringLiteral("专辑：")};
        ListView1->setHeaderLabels(captions);
        const int dpi = logicalDpiX() > 0 ? logicalDpiX() : 96;
        for (int column = 0; column < captions.size(); ++column)
            ListView1->setColumnWidth(column, kColumnWidths[column] * dpi / 1440);
    });
    attempt([&] {
        menuFrm->ShowForm->setVisible(false);
        menuFrm->Line1->setVisible(false);
    });
    attempt([&] {
        search.SearchInProgress = true;
        search.SearchPage = 1;
        search.PlaylistAddInProgress = false;
        search.SearchFirstPageMarker = SearchState::kFirstPage;
        search.SearchQueryEncoded = GetMusicList::UrlEncode(Text1->text());
        ListView1->clear();
    });
    attempt([&] {
        const QString title = AppInfo::windowTitle();
        Label3->setText(title);
        setWindowTitle(title);
    });
    attempt([&] { Text2->setFocus(); });
    attempt([&] {
        if (!form2)
            form2 = new Form2(this);
        form2->hide();
    });
    attempt([&] {
        SkinH_AttachEx(m_skinPath, QString());
        SkinH_SetAero(0);
    });
    attempt([&] {
        menuFrm->Onessw->setChecked(false);
        menuFrm->Lists->setChecked(true);
        menuFrm->Suijibo->setChecked(false);
    });
    attempt([&] {
        // Start-up balloon flags; the empty balloon text shows none.
        constexpr int kStartBalloonFlags = 10;
        constexpr int kBalloonTimeoutMs = 5000;
        Trayico::SetTrayMenu(menuFrm->Tuopan);
        Trayico::UpdateTrayIcon(this, windowTitle(), QString(), kStartBalloonFlags,
                                kBalloonTimeoutMs);
    });
    m_loaded = true;
}
