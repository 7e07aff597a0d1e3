#include "app/DownloadNaming.h"

#include <gtest/gtest.h>

using namespace DownloadNaming;

namespace {

TEST(DownloadNaming, AcceptsOnlyHttpAndHttpsLinksWithAHost)
{
    const struct
    {
        const char *url;
        bool ok;
    } cases[] = {
        {"http://127.0.0.1:8080/a.mp3", true},
        {"HTTPS://example.org/a.mp3", true},
        {"ftp://example.org/a.mp3", false},
        {"file:///etc/passwd", false},
        {"javascript:alert(1)", false},
        {"/relative/a.mp3", false},
        {"http://", false},
        {"", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(isDownloadableUrl(QUrl(QString::fromUtf8(c.url))), c.ok) << c.url;
}

TEST(DownloadNaming, SuggestsASafeNameFromTheLink)
{
    const struct
    {
        const char *url;
        const char *hint;
        const char *name;
    } cases[] = {
        {"http://h/music/song.mp3", "", "song.mp3"},
        {"http://h/music/Song.FLAC?x=1", "", "Song.flac"},
        {"http://h/%E5%A4%9C%E8%88%AA.mp3", "", "夜航.mp3"},
        {"http://h/play.php?id=3", "夜航 - 歌手甲", "夜航 - 歌手甲.mp3"},
        {"http://h/play.php?id=3", "", "play.php.mp3"},
        {"http://h/", "", "歌曲.mp3"},
        {"http://h/", "a/b:c", "a_b_c.mp3"},
        {"http://h/a%01b.mp3", "", "a_b.mp3"},
        {"http://h/.hidden.mp3", "", "hidden.mp3"},
        {"http://h/%2E%2E", "", "歌曲.mp3"},
        {"http://h/x/..%5C..%5Cwin.ini", "", "_.._win.ini.mp3"},
        {"http://h/con%3F%2A.mp3", "", "con__.mp3"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(suggestedFileName(QUrl(QString::fromUtf8(c.url)), QString::fromUtf8(c.hint)),
                  QString::fromUtf8(c.name))
            << c.url;
    }
}

TEST(DownloadNaming, NeverYieldsAPathOrAHiddenOrOverlongName)
{
    const char *hostile[] = {
        "http://h/a/..%2F..%2F..%2Fetc%2Fpasswd",
        "http://h/%2F",
        "http://h/...%2F.mp3",
        "http://h/%0A%0D%09.mp3",
        "http://h/%E2%80%AEevil.mp3", // right-to-left override
    };
    for (const char *u : hostile) {
        const QString name = suggestedFileName(QUrl(QString::fromUtf8(u)));
        EXPECT_FALSE(name.contains(QLatin1Char('/'))) << u;
        EXPECT_FALSE(name.contains(QLatin1Char('\\'))) << u;
        EXPECT_FALSE(name.startsWith(QLatin1Char('.'))) << u;
        EXPECT_FALSE(name.contains(QChar(0x202E))) << u;
        EXPECT_TRUE(name.endsWith(QStringLiteral(".mp3"))) << u;
        for (QChar ch : name)
            EXPECT_GE(ch.unicode(), 0x20) << u;
    }
    const QString longName = suggestedFileName(
        QUrl(QStringLiteral("http://h/") + QString(300, QChar(0x4E2D)) + QStringLiteral(".mp3")));
    EXPECT_LE(longName.toUtf8().size(), 255);
    EXPECT_TRUE(longName.endsWith(QStringLiteral(".mp3")));
}

} // namespace
