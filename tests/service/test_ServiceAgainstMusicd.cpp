// The client end to end against the bundled service: real result pages,
// link answers, lyric files, singer pages and pictures.
#include "musicd/MusicdQueries.h"
#include "net/HttpClient.h"
#include "service/LoadLyrics.h"
#include "service/LoadNetPicture.h"
#include "service/ResolveSongLink.h"
#include "service/SearchSongs.h"
#include "service/SearchState.h"
#include "service/ServiceConfig.h"
#include "tests/common/MusicdServer.h"
#include "tests/service/RecordingViews.h"

#include <QSet>
#include <gtest/gtest.h>

using namespace musicservice;

namespace {

class AgainstMusicd : public MusicdSuite<>
{
protected:
    void SetUp() override
    {
        ServiceConfig::setHost(service->url());
        searchState() = SearchState();
    }
    void TearDown() override { ServiceConfig::setHost(QString()); }
};

TEST_F(AgainstMusicd, SearchesListEverySongOnceAcrossPages)
{
    struct Case
    {
        const char *words;
        int songs;
        int pages;
    };
    for (const Case &c : {Case{musicd::kQueryThreePages, musicd::kQueryThreePagesCount, 3},
                          Case{musicd::kQueryOnePage, musicd::kQueryOnePageCount, 1},
                          Case{musicd::kQueryManyPages, musicd::kQueryManyPagesCount, 11},
                          Case{musicd::kQueryNoMatch, 0, 1}}) {
        RecordingSearchView view;
        beginSearch(QString::fromUtf8(c.words), view);
        EXPECT_EQ(view.rows.size(), c.songs) << c.words;
        // Each page after the first announces itself on the status line.
        const auto later = view.statusHistory.filter(QStringLiteral("页,正在查找第")).size();
        EXPECT_EQ(later + 1, c.pages) << c.words;
        QSet<QString> ids;
        for (const SearchResult &r : view.rows) {
            ids.insert(r.songId);
            EXPECT_FALSE(r.title.isEmpty());
            EXPECT_FALSE(r.singer.isEmpty());
            EXPECT_TRUE(r.album.isEmpty() ||
                        (r.album.startsWith(u'《') && r.album.endsWith(u'》')));
        }
        EXPECT_EQ(ids.size(), c.songs) << c.words;
        EXPECT_EQ(view.statusHistory.last(),
                  QStringLiteral("搜索结束,共找到：%1条资源").arg(c.songs));
    }
}

TEST_F(AgainstMusicd, LinksAndLyricsOfTheCatalogue)
{
    const QString musicPrefix = service->url() + QStringLiteral("/music/");
    for (const char *id : {musicd::kSongSrcCutId, musicd::kSongQuoteCommaId,
                           musicd::kSongLyricFirstId, musicd::kSongUpperCaseLrcId}) {
        RecordingLyricsView lyrics;
        ResolveErrors errors;
        const QString link = resolveSongLink(QLatin1String(id), QStringLiteral("晴川"),
                                             QStringLiteral("x"), lyrics, &errors);
        EXPECT_TRUE(
            link.startsWith(musicPrefix + QLatin1String(id) + QStringLiteral(".wav?xcode=")))
            << id << " " << link.toStdString();
        EXPECT_FALSE(link.contains(QLatin1Char('\\')) || link.contains(QLatin1String("&src")) ||
                     link.contains(QLatin1Char('"')))
            << link.toStdString();
        EXPECT_TRUE(errors.link.isEmpty() && errors.lyrics.isEmpty());
        ASSERT_FALSE(lyrics.list.isEmpty()) << id;
        for (const QString &e : lyrics.list)
            EXPECT_TRUE(e.startsWith(QLatin1Char('['))) << e.toStdString();
        EXPECT_TRUE(lyrics.text5.startsWith(QStringLiteral("\r\n[")));
        // The link plays: the service answers it with audio.
        const HttpResult audio = HttpClient::get(link);
        EXPECT_TRUE(audio.ok && audio.status == 200 && audio.body.startsWith("RIFF")) << id;
    }

    RecordingLyricsView none;
    EXPECT_FALSE(
        resolveSongLink(QLatin1String(musicd::kSongWithoutLyricsId), {}, {}, none).isEmpty());
    EXPECT_TRUE(none.list.isEmpty());
    EXPECT_EQ(none.text3, kNoLyrics);

    RecordingLyricsView unknown;
    EXPECT_TRUE(resolveSongLink(QLatin1String(musicd::kUnknownSongId), {}, {}, unknown).isEmpty());
    EXPECT_EQ(unknown.text5, kNoLyrics);
}

TEST_F(AgainstMusicd, SingerPictures)
{
    for (const char *singer : {musicd::kSingerWithPicture, musicd::kSingerLatinWithPicture}) {
        const QString url = LoadNetPicture::singerPictureUrl(QString::fromUtf8(singer));
        EXPECT_TRUE(url.startsWith(ServiceConfig::pictureServerPrefix()) &&
                    url.endsWith(QLatin1String(".jpg")))
            << singer << " " << url.toStdString();
        EXPECT_FALSE(LoadNetPicture::loadPictureFromPath(url).isNull()) << singer;
    }
    EXPECT_EQ(LoadNetPicture::singerPictureUrl(QString::fromUtf8(musicd::kSingerWithoutPicture)),
              LoadNetPicture::kNoSingerInfo);
}

} // namespace
