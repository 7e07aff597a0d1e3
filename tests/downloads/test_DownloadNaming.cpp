#include "downloads/DownloadNaming.h"

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

TEST(DownloadNaming, SuggestsTheCallersNameWithTheAnswersExtension)
{
    const struct
    {
        const char *url;
        const char *hint;
        const char *extension;
        const char *name;
    } cases[] = {
        // The caller's "title - singer" wins over the song ID in the link.
        {"http://h/music/100230.wav?xcode=1", "夜航 - 歌手甲", "wav", "夜航 - 歌手甲.wav"},
        {"http://h/play.php?id=3", "夜航 - 歌手甲", "mp3", "夜航 - 歌手甲.mp3"},
        {"http://h/play.php?id=3", "夜航 - 歌手甲", "", "夜航 - 歌手甲"},
        // Without a name of the caller's: the link's, when it names audio.
        {"http://h/music/song.mp3", "", "", "song.mp3"},
        {"http://h/music/Song.FLAC?x=1", "", "", "Song.flac"},
        {"http://h/%E5%A4%9C%E8%88%AA.mp3", "", "ogg", "夜航.ogg"},
        {"http://h/play.php?id=3", "", "", "歌曲"},
        {"http://h/", "", "wav", "歌曲.wav"},
        {"http://h/", "a/b:c", "", "a_b_c"},
        {"http://h/a%01b.mp3", "", "", "a_b.mp3"},
        {"http://h/.hidden.mp3", "", "", "hidden.mp3"},
        {"http://h/%2E%2E", "", "", "歌曲"},
        {"http://h/x/..%5C..%5Cwin.ini", "", "", "歌曲"},
        {"http://h/con%3F%2A.mp3", "", "", "con__.mp3"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(suggestedFileName(QUrl(QString::fromUtf8(c.url)), QString::fromUtf8(c.hint),
                                    QString::fromUtf8(c.extension)),
                  QString::fromUtf8(c.name))
            << c.url;
    }
}

TEST(DownloadNaming, ExtensionComesFromTheTypeThenTheBytesThenTheLink)
{
    const QByteArray wav = QByteArrayLiteral("RIFF\x24\0\0\0WAVEfmt ");
    const QByteArray id3 = QByteArrayLiteral("ID3\x04\0\0\0\0\0\0");
    const QByteArray flac = QByteArrayLiteral("fLaC\0\0\0\x22");
    const struct
    {
        const char *type;
        QByteArray bytes;
        const char *url;
        const char *extension;
    } cases[] = {
        {"audio/wav", {}, "http://h/x.mp3", "wav"},
        {"audio/mpeg; charset=binary", {}, "http://h/x", "mp3"},
        {"audio/flac", wav, "http://h/x", "flac"},
        // A type that says nothing: the bytes decide.
        {"application/octet-stream", wav, "http://h/play.php", "wav"},
        {"", id3, "http://h/x", "mp3"},
        {"text/plain", flac, "http://h/x", "flac"},
        // Neither says anything: the link's name, if it names audio.
        {"", QByteArrayLiteral("\x01\x02\x03"), "http://h/a/b.m4a", "m4a"},
        {"application/octet-stream", {}, "http://h/play.php", ""},
        {"", {}, "http://h/", ""},
        // An unknown type from the server is not taken as an extension.
        {"audio/x-no-such-thing", {}, "http://h/x.mp3", "mp3"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(extensionFor(QString::fromUtf8(c.type), c.bytes, QUrl(QString::fromUtf8(c.url))),
                  QString::fromUtf8(c.extension))
            << c.type << " " << c.url;
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
        const QString name =
            suggestedFileName(QUrl(QString::fromUtf8(u)), QString(), QStringLiteral("mp3"));
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
