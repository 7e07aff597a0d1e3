// The player, unchanged, on velmor-musicd serving a generated music
// library: searching finds the user's files, a double-click plays the file
// itself, the sidecar lyric follows the playing second and the singer's
// own picture replaces the default one.
#include "tests/app/MainWindowFixture.h"

#include "app/ImageControl.h"
#include "app/MediaPlayer.h"
#include "service/ServiceConfig.h"
#include "tests/common/MusicdServer.h"
#include "tests/common/TestLibrary.h"

#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

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
        for (int i = 0; i < form->resultsView->topLevelItemCount(); ++i) {
            if (form->resultsView->topLevelItem(i)->text(1) == title)
                return i;
        }
        return -1;
    }

    static TestLibrary *s_library;
    static MusicdServer *s_service;
};

TestLibrary *MainWindowLibraryTest::s_library = nullptr;
MusicdServer *MainWindowLibraryTest::s_service = nullptr;

TEST_F(MainWindowLibraryTest, SearchPlayLyricAndPictureFromTheLibrary)
{
    form->searchEdit->setText(QStringLiteral("晴川"));
    form->onSearchClicked();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return form->resultsView->topLevelItemCount() == 2; }, 10000));
    const int row = rowOfTitle(QStringLiteral("爱的故事"));
    ASSERT_GE(row, 0);
    QTreeWidgetItem *item = form->resultsView->topLevelItem(row);
    form->resultsView->setCurrentItem(item);
    item->setSelected(true);
    const QImage defaultPicture = form->defaultSingerPicture->picture().toImage();
    form->onResultDoubleClicked();

    MediaPlayer *player = form->mediaPlayer;
    EXPECT_TRUE(
        player->url().contains(QStringLiteral("/music/") + item->text(0) + QStringLiteral(".mp3")))
        << player->url().toStdString();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return player->playState() == MediaPlayer::kStatePlaying; }, 10000));
    // The file is 2.5 s long: mpv read its real length from the served bytes.
    ASSERT_TRUE(QTest::qWaitFor([&] { return player->currentMedia().duration() > 0; }, 5000));
    EXPECT_NEAR(player->currentMedia().duration(), 2.5, 0.3);

    // The GBK sidecar's second line is tagged [00:01.50].
    player->controls().setCurrentPosition(1.6);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return form->lyricLine->text() == TestLibrary::gbkSidecarLines().at(1); }, 5000))
        << form->lyricLine->text().toStdString();

    // The artist folder's picture, converted, instead of the default.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return form->singerPicture->picture().toImage() != defaultPicture; }, 5000));
    const QImage shown = form->singerPicture->picture().toImage();
    ASSERT_FALSE(shown.isNull());
    const QColor centre = shown.pixelColor(shown.width() / 2, shown.height() / 2);
    EXPECT_GT(centre.red(), 200); // the picture is plain red
    EXPECT_LT(centre.green(), 60);
}

} // namespace
