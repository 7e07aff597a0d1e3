// The player, unchanged, on velmor-musicd serving a generated music
// library: searching finds the user's files, a double-click plays the file
// itself (MP3, M4A and WAV), the lyric follows the playing second and the
// singer's own picture replaces the default one.
#include "tests/window/MainWindowFixture.h"

#include "controls/image/ImageControl.h"
#include "playback/MediaPlayer.h"
#include "service/ServiceConfig.h"
#include "tests/common/MusicdServer.h"
#include "tests/common/TestLibrary.h"

#include <QLineEdit>
#include <QTest>
#include <ostream>

namespace {

class MainWindowLibraryTest : public MainWindowFixture
{
protected:
    static void SetUpTestSuite()
    {
        s_library = new TestLibrary;
        ASSERT_TRUE(s_library->build()) << s_library->error().toStdString();
        s_service = new MusicdServer;
        ASSERT_TRUE(s_service->start({QStringLiteral("--library"), s_library->root(),
                                      QStringLiteral("--index"), s_library->indexFile()}));
        ASSERT_TRUE(s_service->waitForStderr(QStringLiteral("library ready"), 60000));
    }
    static void TearDownTestSuite()
    {
        delete s_service;
        s_service = nullptr;
        delete s_library;
        s_library = nullptr;
    }
    void SetUp() override
    {
        ServiceConfig::setHost(s_service->url());
        MainWindowFixture::SetUp();
    }
    void TearDown() override
    {
        MainWindowFixture::TearDown();
        ServiceConfig::setHost(ServiceConfig::defaultHost());
    }

    int rowOfTitle(const QString &title) const
    {
        for (int i = 0; i < form->resultsView->rowCount(); ++i) {
            if (form->resultsView->text(i, 1) == title)
                return i;
        }
        return -1;
    }

    static TestLibrary *s_library;
    static MusicdServer *s_service;
};

TestLibrary *MainWindowLibraryTest::s_library = nullptr;
MusicdServer *MainWindowLibraryTest::s_service = nullptr;

// One played file of each kind the player streams differently: the lyric
// and picture come from a GBK sidecar and an artist.png (MP3), the ©lyr atom
// and the embedded cover (M4A), an ID3 frame and an album's cover.jpg (WAV).
struct LibraryPlay
{
    const char *word; // typed into the search box
    const char *title;
    const char *suffix;
    QColor picture; // the singer picture's plain colour
};

// How a row shows in test names and failures.
void PrintTo(const LibraryPlay &play, std::ostream *out)
{
    *out << play.suffix;
}

class MainWindowLibraryPlayTest : public MainWindowLibraryTest,
                                  public ::testing::WithParamInterface<LibraryPlay>
{
};

TEST_P(MainWindowLibraryPlayTest, SearchPlayLyricAndPictureFromTheLibrary)
{
    const LibraryPlay &play = GetParam();
    const QString title = QString::fromUtf8(play.title);
    const QString suffix = QString::fromUtf8(play.suffix);
    form->searchEdit->setText(QString::fromUtf8(play.word));
    form->onSearchClicked();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rowOfTitle(title) >= 0; }, 10000));
    const int row = rowOfTitle(title);
    form->resultsView->setCurrentRow(row);
    const QImage defaultPicture = form->defaultSingerPicture->picture().toImage();
    form->onResultDoubleClicked();

    MediaPlayer *player = form->mediaPlayer;
    EXPECT_TRUE(player->url().contains(
        QStringLiteral("/music/%1.%2").arg(form->resultsView->text(row, 0), suffix)))
        << player->url().toStdString();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return player->playState() == MediaPlayer::kStatePlaying; }, 10000));
    // The file is 2.5 s long: the player read its real length from the
    // served bytes.
    ASSERT_TRUE(QTest::qWaitFor([&] { return player->currentMedia().duration() > 0; }, 5000));
    EXPECT_NEAR(player->currentMedia().duration(), 2.5, 0.3);

    // The lyric's second line is tagged [00:01.50].
    const QString second = TestLibrary::timedLines(suffix).at(1);
    player->controls().setCurrentPosition(1.6);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->lyricLine->text() == second; }, 5000))
        << form->lyricLine->text().toStdString();

    // The singer's own picture, as JPEG, instead of the default.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return form->singerPicture->picture().toImage() != defaultPicture; }, 5000));
    const QImage shown = form->singerPicture->picture().toImage();
    ASSERT_FALSE(shown.isNull());
    const QColor centre = shown.pixelColor(shown.width() / 2, shown.height() / 2);
    EXPECT_LT(std::abs(centre.red() - play.picture.red()) +
                  std::abs(centre.green() - play.picture.green()) +
                  std::abs(centre.blue() - play.picture.blue()),
              90)
        << centre.name().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Formats, MainWindowLibraryPlayTest,
                         ::testing::Values(LibraryPlay{"晴川", "爱的故事", "mp3", Qt::red},
                                           LibraryPlay{"海边", "海边晚风", "m4a", Qt::green},
                                           LibraryPlay{"quiet", "Quiet Water", "wav", Qt::yellow}),
                         [](const ::testing::TestParamInfo<LibraryPlay> &info) {
                             return std::string(info.param.suffix);
                         });

} // namespace
