#include "service/LoadLyrics.h"
#include "service/LoadNetPicture.h"
#include "service/ResolveSongLink.h"

#include <gtest/gtest.h>

using namespace musicservice;

namespace {

struct Cut
{
    const char *name;
    QString input;
    QString expected;
};

std::string caseName(const ::testing::TestParamInfo<Cut> &info)
{
    return info.param.name;
}

class SongLinkCut : public ::testing::TestWithParam<Cut>
{
};

TEST_P(SongLinkCut, GivesThePlayableLink)
{
    EXPECT_EQ(cutSongLink(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SongLinkCut,
    ::testing::Values(
        Cut{"EscapedSlashesAndSrcParam",
            QStringLiteral(R"({"url":"http:\/\/h.example\/song.mp3?xcode=1&src=\/x","t":1})"),
            QStringLiteral("http://h.example/song.mp3?xcode=1")},
        Cut{"ClosedByQuoteComma", QStringLiteral(R"({"url":"http:\/\/h\/a.mp3?k=v","size":3})"),
            QStringLiteral("http://h/a.mp3?k=v")},
        Cut{"LyricMemberFirst",
            QStringLiteral(R"({"lyric_url":"http:\/\/h\/a.lrc","url":"http:\/\/h\/a.mp3","x":0})"),
            QStringLiteral("http://h/a.mp3")},
        Cut{"SrcInALaterMemberDoesNotCount",
            QStringLiteral(R"({"url":"http:\/\/h\/a.mp3","ref":"x&src=\/y"})"),
            QStringLiteral("http://h/a.mp3")},
        Cut{"LastMemberEndsAtItsQuote", QStringLiteral(R"({"id":1,"url":"http:\/\/h\/a.mp3"})"),
            QStringLiteral("http://h/a.mp3")},
        Cut{"UnterminatedRunsToTheEnd", QStringLiteral(R"({"url":"http:\/\/h\/a.mp3)"),
            QStringLiteral("http://h/a.mp3")},
        Cut{"NoLinkMarker", QStringLiteral(R"({"lyric_url":"http:\/\/h\/a.lrc","x":1})"),
            QString()},
        Cut{"Empty", QString(), QString()}),
    caseName);

class LyricUrlCut : public ::testing::TestWithParam<Cut>
{
};

TEST_P(LyricUrlCut, GivesTheLyricFileUrl)
{
    const std::optional<QString> url = cutLyricUrl(GetParam().input);
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(*url, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, LyricUrlCut,
    ::testing::Values(Cut{"EscapedSlashesBeforeComma",
                          QStringLiteral(R"({"lyric_url":"http:\/\/h\/l\/1.lrc","url":"x"})"),
                          QStringLiteral("http://h/l/1.lrc")},
                      Cut{"LastMemberBeforeBrace",
                          QStringLiteral(R"({"url":"x"  ,  "lyric_url":"http:\/\/h\/2.LRC"})"),
                          QStringLiteral("http://h/2.LRC")},
                      Cut{"NoCommaAnywhere", QStringLiteral(R"({"lyric_url":"http:\/\/h\/3.lrc"})"),
                          QStringLiteral("http://h/3.lrc")},
                      Cut{"NoCommaNoCloser", QStringLiteral(R"({"lyric_url":"http:\/\/h\/4.lrc)"),
                          QStringLiteral("http://h/4.lrc")},
                      Cut{"EmptyValue", QStringLiteral(R"({"lyric_url":"","url":"x"})"), QString()},
                      Cut{"NullValue", QStringLiteral(R"({"lyric_url":null,"url":"x"})"),
                          QStringLiteral("null")}),
    caseName);

TEST(LyricUrlCut, AnswerWithoutTheKeyGivesNothing)
{
    EXPECT_FALSE(cutLyricUrl(QStringLiteral(R"({"url":"http:\/\/h\/a.mp3"})")).has_value());
    EXPECT_FALSE(cutLyricUrl(QString()).has_value());
}

TEST(IsLrcUrl, AnyLetterCaseAnywhere)
{
    EXPECT_TRUE(isLrcUrl(QStringLiteral("http://h/A.LRC")));
    EXPECT_TRUE(isLrcUrl(QStringLiteral("http://h/a.Lrc?x=1")));
    EXPECT_FALSE(isLrcUrl(QStringLiteral("http://h/a.txt")));
    EXPECT_FALSE(isLrcUrl(QString()));
}

TEST(SplitLrc, OneEntryPerBracketKeepingLineBreaks)
{
    EXPECT_EQ(splitLrc(QStringLiteral("[ti:歌]\r\n[00:01.00]一\r\n[00:02.50] 二 \r\n")),
              (QStringList{QStringLiteral("[ti:歌]\r\n"), QStringLiteral("[00:01.00]一\r\n"),
                           QStringLiteral("[00:02.50] 二 \r\n")}));
    // A first line without a tag gains a "[".
    EXPECT_EQ(splitLrc(QStringLiteral("plain line\n[00:03]x")),
              (QStringList{QStringLiteral("[plain line\n"), QStringLiteral("[00:03]x")}));
    // Two tags on one line give a wordless entry and a worded one.
    EXPECT_EQ(splitLrc(QStringLiteral("[00:12.00][01:30.00]words")),
              (QStringList{QStringLiteral("[00:12.00]"), QStringLiteral("[01:30.00]words")}));
    // Blank pieces (spaces only) are dropped; nothing at all gives nothing.
    EXPECT_EQ(splitLrc(QStringLiteral("   [  [x")), (QStringList{QStringLiteral("[x")}));
    EXPECT_TRUE(splitLrc(QString()).isEmpty());
    EXPECT_TRUE(splitLrc(QStringLiteral("    ")).isEmpty());
}

TEST(EncodeSongId, NumericIdsStayAndNothingCanAddParameters)
{
    EXPECT_EQ(encodeSongId(QStringLiteral("1234567")), QStringLiteral("1234567"));
    EXPECT_EQ(encodeSongId(QStringLiteral("ab-_.Z9")), QStringLiteral("ab-_.Z9"));
    EXPECT_EQ(encodeSongId(QStringLiteral("1&songArtist=x#y")),
              QStringLiteral("1%26songArtist%3Dx%23y"));
    EXPECT_EQ(encodeSongId(QStringLiteral("a b~/?")), QStringLiteral("a%20b%7E%2F%3F"));
    EXPECT_EQ(encodeSongId(QStringLiteral("中")), QStringLiteral("%E4%B8%AD"));
}

class PictureUrlCut : public ::testing::TestWithParam<Cut>
{
};

const QString kPrefix = QStringLiteral("http://pic.test/ting/pic/item/");

TEST_P(PictureUrlCut, GivesTheFirstJpgAfterTheCover)
{
    EXPECT_EQ(LoadNetPicture::cutSingerPictureUrl(GetParam().input, kPrefix), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, PictureUrlCut,
    ::testing::Values(
        Cut{"CoverJpg",
            QStringLiteral("<img src=\"http://x/logo.jpg\"><div class=\"cover-img\"><img "
                           "src=\"http://pic.test/ting/pic/item/abc.jpg\"></div>"),
            QStringLiteral("http://pic.test/ting/pic/item/abc.jpg")},
        Cut{"PngCoverTakesTheNextJpg",
            QStringLiteral("<div class=cover-img><img src=http://pic.test/ting/pic/item/a.png>"
                           "</div><img src=http://other.test/b.jpg>"),
            QStringLiteral("http://other.test/b.jpg")},
        Cut{"NoCoverMarkerTakesTheFirstUrl",
            QStringLiteral("<img src=http://pic.test/ting/pic/item/z.jpg>"),
            QStringLiteral("http://pic.test/ting/pic/item/z.jpg")},
        Cut{"PrefixButNoJpg",
            QStringLiteral("<div class=cover-img><img src=http://pic.test/ting/pic/item/a.png>"),
            LoadNetPicture::kNoSingerInfo},
        Cut{"NoHttpUrlAfterTheCover",
            QStringLiteral("http://pic.test/ting/pic/item/ <div class=cover-img><img "
                           "src=https://cdn.test/a.jpg>"),
            LoadNetPicture::kNoSingerInfo},
        Cut{"NoPrefix", QStringLiteral("<div class=cover-img><img src=http://elsewhere/a.jpg>"),
            LoadNetPicture::kNoSingerInfo},
        Cut{"Empty", QString(), LoadNetPicture::kNoSingerInfo}),
    caseName);

} // namespace
