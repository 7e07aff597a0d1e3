// The window's own font: registering the cut face, what it holds, that text
// outside it still renders through the system's faces, and that the faces
// the window never uses are never loaded. Faces FreeType loads are mapped
// from their files, so /proc/self/maps tells which ones the process holds.
#include "app/AppFont.h"
#include "controls/listbox/PlaylistView.h"
#include "window/MainWindow.h"
#include "window/results/ResultList.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRawFont>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kFontDir = QStringLiteral(VELMOR_FONT_DIR);

bool faceMapped(const char *fileName)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(fileName);
}

// Dark pixels after drawing text in black on white.
int inkedPixels(const QFont &font, const QString &text)
{
    QImage image(240, 60, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(image.rect(), Qt::AlignCenter, text);
    p.end();
    int inked = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            inked += qGray(image.pixel(x, y)) < 128;
    return inked;
}

// Every text the main window shows before anything is searched or played.
QString startUpTexts(const MainWindow &window)
{
    QString texts = window.windowTitle();
    for (const QLabel *label : window.findChildren<QLabel *>())
        texts += label->text();
    for (const QAbstractButton *button : window.findChildren<QAbstractButton *>())
        texts += button->text();
    for (const QLineEdit *edit : window.findChildren<QLineEdit *>())
        texts += edit->text() + edit->placeholderText();
    for (int column = 0; column < window.resultsView->columnCount(); ++column)
        texts += window.resultsView->columnCaption(column);
    return texts;
}

// The face's outline of c, unhinted, at 64 px.
QPainterPath outlineOf(const QString &family, QChar c)
{
    QFont font(family);
    font.setPixelSize(64);
    font.setHintingPreference(QFont::PreferNoHinting);
    const QRawFont raw = QRawFont::fromFont(font);
    const QList<quint32> glyphs = raw.glyphIndexesForString(QString(c));
    return glyphs.size() == 1 ? raw.pathForGlyph(glyphs.first()) : QPainterPath();
}

class AppFontTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!QFile::exists(kFontDir + QLatin1Char('/') + QLatin1String(AppFont::kFileName)))
            GTEST_SKIP() << "the window's font was not built (fonttools missing)";
        ASSERT_EQ(AppFont::install({kFontDir}), QLatin1String(AppFont::kFamily));
    }
};

TEST(AppFontInstall, MissingOrBrokenFaceIsRefusedQuietly)
{
    QTemporaryDir empty;
    QTemporaryDir broken;
    QFile junk(broken.filePath(QLatin1String(AppFont::kFileName)));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a font at all");
    junk.close();
    EXPECT_TRUE(AppFont::install({}).isEmpty());
    EXPECT_TRUE(AppFont::install({empty.path(), broken.path()}).isEmpty());
    EXPECT_FALSE(QFontDatabase::families().contains(QLatin1String(AppFont::kFamily)));
}

TEST(AppFontWindowFont, NamesTheCutFirstThenTheSystemFacesAtTheSkinSize)
{
    const QStringList system{QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Microsoft YaHei"),
                             QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("sans-serif")};
    const QFont withCut = AppFont::windowFont(QLatin1String(AppFont::kFamily));
    EXPECT_EQ(withCut.families(), QStringList{QLatin1String(AppFont::kFamily)} + system);
    EXPECT_EQ(withCut.pointSize(), 9);
    const QFont withoutCut = AppFont::windowFont(QString());
    EXPECT_EQ(withoutCut.families(), system);
    EXPECT_EQ(withoutCut.pointSize(), 9);
}

TEST_F(AppFontTest, SkinnedWindowTextsUseTheCutAtTheSkinSizes)
{
    // The skin sets no face of its own: the application's font reaches every
    // control, and the skin's title rule only makes it larger and bold.
    const QFont before = QApplication::font();
    QApplication::setFont(AppFont::windowFont(QLatin1String(AppFont::kFamily)));
    {
        MainWindow window(QStringLiteral(VELMOR_SKIN_FILE));
        window.ensurePolished();
        for (const QWidget *control : std::initializer_list<const QWidget *>{
                 window.statusLabel, window.searchEdit, window.searchButton, window.resultsView,
                 window.listLoopBox, window.statusEdit}) {
            const QFontInfo info(control->font());
            EXPECT_EQ(info.family(), QLatin1String(AppFont::kFamily))
                << control->objectName().toStdString();
            EXPECT_EQ(info.pointSize(), 9) << control->objectName().toStdString();
        }
        const QFontInfo title(window.titleLabel->font());
        EXPECT_EQ(title.family(), QLatin1String(AppFont::kFamily));
        EXPECT_EQ(title.pointSize(), 10);
        EXPECT_TRUE(title.bold());
    }
    QApplication::setFont(before);
}

TEST_F(AppFontTest, CutHoldsGb2312LatinAndPunctuationOnly)
{
    const QRawFont raw = QRawFont::fromFont(QFont(QLatin1String(AppFont::kFamily)));
    ASSERT_EQ(raw.familyName(), QLatin1String(AppFont::kFamily));
    // Simplified titles, Latin-1, CJK and full-width punctuation, quotes.
    for (const QChar c : QStringLiteral("夏日的约定晴川精选Aé·，。！“”…〈ｱ"))
        EXPECT_TRUE(raw.supportsCharacter(c)) << QString(c).toStdString();
    // Traditional, Japanese-only and Korean characters are left to the
    // system's full faces.
    for (const QChar c : QStringLiteral("麗約込한"))
        EXPECT_FALSE(raw.supportsCharacter(c)) << QString(c).toStdString();
}

TEST_F(AppFontTest, TextOutsideTheCutFallsBackToTheSystemFace)
{
    const QFont font(QLatin1String(AppFont::kFamily), 14);
    EXPECT_GT(inkedPixels(font, QStringLiteral("夏日的约定")), 50);
    // Only the cut is needed so far: the full system face stays unloaded.
    EXPECT_TRUE(faceMapped("VelmorSansCJK-Regular.otf"));
    EXPECT_FALSE(faceMapped("NotoSansCJK-Regular.ttc"));
    // Traditional Chinese, Japanese and Korean titles still draw, from the
    // system face loaded now.
    for (const QString &title : {QStringLiteral("華麗的約會"), QStringLiteral("込み上げる"),
                                 QStringLiteral("사랑의 노래")})
        EXPECT_GT(inkedPixels(font, title), 50) << title.toStdString();
    EXPECT_TRUE(faceMapped("NotoSansCJK-Regular.ttc"));
}

TEST_F(AppFontTest, StartUpTextsAreStoredAtTheFrontOfTheFace)
{
    // The glyphs the window draws at start-up sit together at the front of
    // the face, so drawing them touches a few of its pages, not all of it.
    constexpr quint32 kFrontGlyphs = 600;
    const QRawFont raw = QRawFont::fromFont(QFont(QLatin1String(AppFont::kFamily)));
    MainWindow window;
    const QString texts = startUpTexts(window);
    ASSERT_GT(texts.size(), 100);
    // Punctuation named by the kerning tables keeps its place (see
    // tools/subset_font.py); the hanzi of the captions move.
    int hanzi = 0;
    for (const QChar c : texts) {
        if (c.unicode() < 0x4E00 || c.unicode() > 0x9FFF)
            continue;
        ++hanzi;
        const QList<quint32> glyphs = raw.glyphIndexesForString(QString(c));
        ASSERT_EQ(glyphs.size(), 1);
        EXPECT_LT(glyphs.first(), kFrontGlyphs)
            << QString(c).toStdString() << ": add it to resources/fonts/window-texts.txt";
    }
    EXPECT_GT(hanzi, 40);
    // Characters the window's own texts do not use keep their places
    // further in, so the bound above tells the two apart.
    for (const QChar c : QStringLiteral("夏龙雪黛"))
        EXPECT_GE(raw.glyphIndexesForString(QString(c)).value(0), kFrontGlyphs)
            << QString(c).toStdString();
}

TEST_F(AppFontTest, MovedAndUnmovedGlyphsKeepTheSystemFaceOutlines)
{
    const QString system = QStringLiteral("Noto Sans CJK SC");
    if (QRawFont::fromFont(QFont(system)).familyName() != system)
        GTEST_SKIP() << "the system's Noto Sans CJK SC is not installed";
    // Start-up captions (moved to the front), Latin and punctuation (named
    // by the kerning tables, left in place), and hanzi further in.
    for (const QChar c : QStringLiteral("准备就绪搜索停止歌词AVgé，。！：夏龙雪黛鼎")) {
        const QPainterPath cut = outlineOf(QLatin1String(AppFont::kFamily), c);
        const QPainterPath full = outlineOf(system, c);
        ASSERT_FALSE(full.isEmpty()) << QString(c).toStdString();
        EXPECT_EQ(cut.elementCount(), full.elementCount()) << QString(c).toStdString();
        // The system face keeps its hints, which FreeType may still apply
        // vertically: allow a pixel, far below any other glyph's difference.
        const QRectF a = cut.boundingRect();
        const QRectF b = full.boundingRect();
        for (const qreal d : {a.left() - b.left(), a.top() - b.top(), a.right() - b.right(),
                              a.bottom() - b.bottom()})
            EXPECT_LE(qAbs(d), 1.0) << QString(c).toStdString();
    }
}

TEST(AppFontPlaylist, MainWindowPlaylistNeverLoadsTheSerifFace)
{
    AppFont::install({kFontDir});
    {
        PlaylistView mainWindowList(PlaylistViewProperties::mainWindow());
        mainWindowList.addItem(QStringLiteral("夏日的约定"));
        mainWindowList.grab();
        EXPECT_FALSE(faceMapped("NotoSerifCJK"));
    }
    // A newly placed control does use the serif face: the check above can
    // see it.
    PlaylistView newControl;
    EXPECT_TRUE(faceMapped("NotoSerifCJK"));
}

} // namespace
