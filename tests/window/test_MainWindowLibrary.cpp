// The player, unchanged, on velmor-musicd serving a generated music
// library: searching finds the user's files, a double-click plays the file
// itself (MP3, M4A and WAV), the lyric follows the playing second and the
// singer's own picture replaces the default one. A file dropped on the
// playlist from outside the library plays the same way.
#include "tests/window/MainWindowFixture.h"

#include "controls/image/ImageControl.h"
#include "controls/listbox/PlaylistView.h"
#include "playback/MediaPlayer.h"
#include "service/ServiceConfig.h"
#include "tests/common/MusicdServer.h"
#include "tests/common/TestLibrary.h"

#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <httplib.h>
#include <ostream>

namespace {

class MainWindowLibraryTest : public MainWindowFixture
{
protected:
    static void SetUpTestSuite()
    {
        s_library = new TestLibrary;
        ASSERT_TRUE(s_library->build()) << s_library->error().toStdString();
        // The service leaves the secret for handed-over files here, where
        // the window reads it.
        s_runtime = new QTemporaryDir;
        s_oldRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(s_runtime->path()));
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
        qputenv("XDG_RUNTIME_DIR", s_oldRuntime);
        delete s_runtime;
        s_runtime = nullptr;
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
    static QTemporaryDir *s_runtime;
    static QByteArray s_oldRuntime;
};

TestLibrary *MainWindowLibraryTest::s_library = nullptr;
MusicdServer *MainWindowLibraryTest::s_service = nullptr;
QTemporaryDir *MainWindowLibraryTest::s_runtime = nullptr;
QByteArray MainWindowLibraryTest::s_oldRuntime;

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

// A folder dropped from the desktop: its song is added with its tags and
// played from the service, its embedded lyric and cover shown, as for a
// song of the library. Anything but local files is refused.
TEST_F(MainWindowLibraryTest, DroppedFolderIsAddedAndPlayedLikeALibrarySong)
{
    QTemporaryDir desktop;
    const QString folder = desktop.filePath(QStringLiteral("拖来的"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QFile::copy(s_library->path(QStringLiteral("Lin Harbor/Coast/04 海边晚风.m4a")),
                            folder + QStringLiteral("/dropped.m4a")));
    const QImage defaultPicture = form->defaultSingerPicture->picture().toImage();
    const QPoint inside = form->playlistView->rect().center();

    QMimeData text;
    text.setText(QStringLiteral("/etc/passwd"));
    QDragEnterEvent refused(inside, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->playlistView, &refused);
    EXPECT_FALSE(refused.isAccepted());

    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(folder)});
    QDragEnterEvent enter(inside, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->playlistView, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(inside), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->playlistView, &drop);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->playlistView->listCount() == 1; }, 10000))
        << form->statusEdit->text().toStdString();
    EXPECT_EQ(form->playlistView->title(0), QStringLiteral("海边晚风"));
    EXPECT_EQ(form->playlistView->author(0), QStringLiteral("Lin Harbor"));

    MediaPlayer *player = form->mediaPlayer;
    const QString songId = form->playlistView->url(0);
    EXPECT_TRUE(player->url().contains(QStringLiteral("/music/%1.m4a").arg(songId)))
        << player->url().toStdString();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return player->playState() == MediaPlayer::kStatePlaying; }, 10000));
    const QString second = TestLibrary::timedLines(QStringLiteral("m4a")).at(1);
    player->controls().setCurrentPosition(1.6);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->lyricLine->text() == second; }, 5000))
        << form->lyricLine->text().toStdString();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return form->singerPicture->picture().toImage() != defaultPicture; }, 5000));

    // A service on another computer cannot read this one's files: the
    // status line says so and the playlist stays as it was.
    ServiceConfig::setHost(QStringLiteral("http://192.0.2.2:18750"));
    form->openFiles({folder});
    EXPECT_TRUE(form->statusLabel->text().contains(QStringLiteral("不在本机")))
        << form->statusLabel->text().toStdString();
    EXPECT_EQ(form->playlistView->listCount(), 1);
}

// The same library through the Subsonic bridge in front of velmor-musicd's
// own Subsonic API: the player finds the song, plays it from the server's
// stream URL and follows its lyric.
TEST_F(MainWindowLibraryTest, PlaysTheLibraryThroughTheSubsonicBridge)
{
    QTemporaryDir dir;
    const QString passwordFile = dir.filePath(QStringLiteral("password"));
    QFile file(passwordFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("velmor\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    MusicdServer bridge;
    ASSERT_TRUE(
        bridge.start({QStringLiteral("--subsonic"), s_service->url(), QStringLiteral("--user"),
                      QStringLiteral("velmor"), QStringLiteral("--password-file"), passwordFile}))
        << bridge.stderrText().toStdString();
    ServiceConfig::setHost(bridge.url());
    const QUrl own(s_service->url());

    const QString title = QStringLiteral("Quiet Water");
    form->searchEdit->setText(QStringLiteral("quiet"));
    form->onSearchClicked();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rowOfTitle(title) >= 0; }, 10000));
    form->resultsView->setCurrentRow(rowOfTitle(title));
    form->onResultDoubleClicked();
    MediaPlayer *player = form->mediaPlayer;
    const QUrl played(player->url());
    EXPECT_EQ(played.port(), own.port()) << player->url().toStdString();
    EXPECT_EQ(played.path(), QStringLiteral("/rest/stream.view"));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return player->playState() == MediaPlayer::kStatePlaying; }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return player->currentMedia().duration() > 0; }, 5000));
    EXPECT_NEAR(player->currentMedia().duration(), 2.5, 0.3);
    const QString second = TestLibrary::timedLines(QStringLiteral("wav")).at(1);
    player->controls().setCurrentPosition(1.6);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->lyricLine->text() == second; }, 5000))
        << form->lyricLine->text().toStdString();
}

} // namespace
