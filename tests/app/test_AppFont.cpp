// The window's own font: registering the cut face, what it holds, that text
// outside it still renders through the system's faces, and that the faces
// the window never uses are never loaded. Faces FreeType loads are mapped
// from their files, so /proc/self/maps tells which ones the process holds.
#include "app/AppFont.h"
#include "controls/listbox/PlaylistView.h"

#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QPainter>
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
