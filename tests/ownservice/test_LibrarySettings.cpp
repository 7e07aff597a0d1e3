// The music-library choice file: what is read, what is refused as a whole,
// and that a write reads back.
#include "ownservice/LibrarySettings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

struct ParseCase
{
    const char *name;
    const char *json;
    bool refused;
    const char *folders = ""; // expected, separated by '|'
    const char *server = "";
};

LibraryChoice expectedChoice(const ParseCase &c)
{
    LibraryChoice choice;
    const QString folders = QString::fromUtf8(c.folders);
    if (!folders.isEmpty())
        choice.folders = folders.split(QLatin1Char('|'));
    choice.server = QString::fromUtf8(c.server);
    return choice;
}

TEST(LibrarySettings, ParseTakesExactlyWhatIsWrittenAndRefusesTheRest)
{
    const ParseCase cases[] = {
        {"version only", R"({"version":1})", false},
        {"folders", R"({"version":1,"folders":["/m/a","/m/b/"]})", false, "/m/a|/m/b"},
        {"server", R"({"version":1,"server":"https://nas.lan:4533"})", false, "",
         "https://nas.lan:4533"},
        {"chinese folder", R"({"version":1,"folders":["/home/u/音乐"]})", false, "/home/u/音乐"},
        {"no version", R"({"folders":[]})", true},
        {"future version", R"({"version":2})", true},
        {"relative folder", R"({"version":1,"folders":["Music"]})", true},
        {"folder not text", R"({"version":1,"folders":[3]})", true},
        {"folders not list", R"({"version":1,"folders":"/m"})", true},
        {"server not http", R"({"version":1,"server":"file:///etc"})", true},
        {"server without host", R"({"version":1,"server":"http://"})", true},
        {"not an object", R"([1])", true},
        {"garbage", "\x01\x02{", true},
    };
    for (const ParseCase &c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = LibrarySettingsFile::parse(QByteArray(c.json));
        EXPECT_TRUE(result.found);
        EXPECT_EQ(!result.warning.isEmpty(), c.refused) << result.warning.toStdString();
        // A refused file means the defaults, never half of what it said.
        EXPECT_EQ(result.choice, c.refused ? LibraryChoice{} : expectedChoice(c));
    }
    QByteArray many = R"({"version":1,"folders":[)";
    for (int i = 0; i <= LibrarySettingsFile::kMaxFolders; ++i)
        many += (i ? ",\"/f" : "\"/f") + QByteArray::number(i) + "\"";
    EXPECT_FALSE(LibrarySettingsFile::parse(many + "]}").warning.isEmpty());
}

TEST(LibrarySettings, WriteReadsBackAndOddFilesMeanDefaults)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("deeper/library.json"));
    EXPECT_FALSE(LibrarySettingsFile::read(path).found);

    const LibraryChoice choice{{QStringLiteral("/srv/music"), QStringLiteral("/home/u/音乐")},
                               QString()};
    QString error;
    ASSERT_TRUE(LibrarySettingsFile::write(path, choice, &error)) << error.toStdString();
    const auto back = LibrarySettingsFile::read(path);
    EXPECT_TRUE(back.warning.isEmpty());
    EXPECT_EQ(back.choice, choice);

    // A FIFO in the file's place would block a plain open for ever.
    const QString fifo = dir.filePath(QStringLiteral("fifo.json"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const auto fromFifo = LibrarySettingsFile::read(fifo);
    EXPECT_TRUE(fromFifo.found);
    EXPECT_FALSE(fromFifo.warning.isEmpty());
    EXPECT_EQ(fromFifo.choice, LibraryChoice{});
}

TEST(LibrarySettings, OwnServiceServesTheMusicFolderUnlessFoldersAreChosen)
{
    EXPECT_EQ(LibrarySettingsFile::servedFolders({}),
              QStringList{LibrarySettingsFile::defaultMusicFolder()});
    EXPECT_FALSE(LibrarySettingsFile::defaultMusicFolder().isEmpty());
    EXPECT_EQ(LibrarySettingsFile::servedFolders({{QStringLiteral("/a")}, QString()}),
              QStringList{QStringLiteral("/a")});
    EXPECT_TRUE(LibraryChoice{}.usesOwnService());
}

} // namespace
