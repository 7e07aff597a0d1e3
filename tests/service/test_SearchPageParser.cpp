#include "service/SearchPageParser.h"
#include "tests/service/FakeSearchPages.h"

#include <gtest/gtest.h>

using namespace musicservice;

namespace {

struct CountCase
{
    const char *name;
    QString countText; // what stands between the two count markers
    QString pages;
};

class PageCountTest : public ::testing::TestWithParam<CountCase>
{
};

TEST_P(PageCountTest, ReadsTheSongCountAndRoundsUpToPages)
{
    const QString page = QStringLiteral("<div>共找到相关歌曲") + GetParam().countText +
                         QStringLiteral("首歌曲</div><p>收录30首</p>");
    EXPECT_EQ(pageCountFromFirstPage(page), GetParam().pages);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, PageCountTest,
    ::testing::Values(
        CountCase{"SixtyOne", QStringLiteral("61"), QStringLiteral("3")},
        CountCase{"Zero", QStringLiteral("0"), QStringLiteral("0")},
        CountCase{"ExactlyOnePage", QStringLiteral("30"), QStringLiteral("1")},
        CountCase{"OneOver", QStringLiteral("31"), QStringLiteral("2")},
        CountCase{"QuotedAndSpaced", QStringLiteral(" \"6 1\"\t\r\n"), QStringLiteral("3")},
        CountCase{"NotANumber", QStringLiteral("<b>61</b>"), QStringLiteral("0")},
        CountCase{"Fraction", QStringLiteral("61.5"), QStringLiteral("0")},
        CountCase{"Negative", QStringLiteral("-45"), QStringLiteral("0")},
        CountCase{"TooLarge", QStringLiteral("99999999999999999999999"), QStringLiteral("0")}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(PageCount, MissingMarkersGiveNoPages)
{
    EXPECT_EQ(pageCountFromFirstPage(QString()), QStringLiteral("0"));
    EXPECT_EQ(pageCountFromFirstPage(QStringLiteral("共有61首")), QStringLiteral("0"));
    EXPECT_EQ(pageCountFromFirstPage(QStringLiteral("找到相关歌曲61")), QStringLiteral("0"));
}

TEST(RoundUpQuotient, RoundsUpOnlyAPositiveRemainder)
{
    struct Case
    {
        qint64 a, b;
        const char *expected;
    };
    for (const Case &c : {Case{61, 30, "3"}, Case{60, 30, "2"}, Case{1, 30, "1"}, Case{0, 30, "0"},
                          Case{-5, 30, "0"}, Case{-31, 30, "-1"}, Case{7, 0, "0"},
                          Case{5000000000LL, 30, "166666667"}})
        EXPECT_EQ(roundUpQuotient(c.a, c.b), QLatin1String(c.expected)) << c.a << "/" << c.b;
}

TEST(NormaliseSearchPage, RemovesInOrderWithoutOverlap)
{
    const QString ten(10, QLatin1Char(' '));
    const QString sixteen(16, QLatin1Char(' '));
    EXPECT_EQ(normaliseSearchPage(QStringLiteral("a") + ten + QStringLiteral("b")),
              QStringLiteral("a  b"));
    EXPECT_EQ(normaliseSearchPage(QStringLiteral("a") + sixteen + QStringLiteral("b")),
              QStringLiteral("ab"));
    // Only the CR LF pair goes; a lone line feed stays.
    EXPECT_EQ(normaliseSearchPage(QStringLiteral("a\r\nb\nc\td\"e")), QStringLiteral("ab\ncde"));
    // Entities are deleted, not decoded; one split by a quote is deleted too,
    // because the quotes go first.
    EXPECT_EQ(normaliseSearchPage(QStringLiteral("Tom &amp; Jerry")), QStringLiteral("Tom  Jerry"));
    EXPECT_EQ(normaliseSearchPage(QStringLiteral("a&a\"mp;b&#039;c")), QStringLiteral("abc"));
}

TEST(CutResultTable, KeepsTheTextBetweenHeadAndPager)
{
    EXPECT_EQ(cutResultTable(QStringLiteral("head 收藏</a></div></td>rows>上一页</a>tail")),
              QStringLiteral("藏</a></div></td>rows"));
    EXPECT_EQ(cutResultTable(QStringLiteral("rows only")), QStringLiteral("rows only"));
    EXPECT_EQ(cutResultTable(QStringLiteral("x收藏</a></div></td>rows")),
              QStringLiteral("藏</a></div></td>rows"));
}

struct RowCase
{
    const char *name;
    QString piece; // one normalised row
    bool kept;
    SearchResult expected;
};

class ResultRowTest : public ::testing::TestWithParam<RowCase>
{
};

TEST_P(ResultRowTest, CutsIdSingerTitleAndAlbum)
{
    const RowCase &c = GetParam();
    const std::optional<SearchResult> r = parseResultRow(c.piece);
    ASSERT_EQ(r.has_value(), c.kept);
    if (r) {
        EXPECT_EQ(*r, c.expected) << r->songId.toStdString() << "|" << r->title.toStdString() << "|"
                                  << r->singer.toStdString() << "|" << r->album.toStdString();
    }
}

SearchResult result(const char *id, const char *title, const char *singer, const char *album)
{
    return {QString::fromUtf8(id), QString::fromUtf8(title), QString::fromUtf8(singer),
            QString::fromUtf8(album), false};
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ResultRowTest,
    ::testing::Values(
        RowCase{
            "Plain",
            QStringLiteral("<td><a onclick=ddSong(42,林夕,夜曲) class=play>x</a><td>《晨》</td>"),
            true, result("42", "夜曲", "林夕", "《晨》")},
        RowCase{"TitleCutAtCommaInsideBrackets",
                QStringLiteral("<a onclick=ddSong(7,Band,Live (Remix, 2010)) class=play>"), true,
                result("7", "Live (Remix)", "Band", "")},
        RowCase{"TitleWithBracketsAndNoCommaGainsAnother",
                QStringLiteral("<a onclick=ddSong(7,Band,Live (Remix)) class=play>"), true,
                result("7", "Live (Remix))", "Band", "")},
        RowCase{"MoreArgumentsAfterTitle", QStringLiteral("ddSong(8,S,T,extra,more) class=p 《A》"),
                true, result("8", "T", "S", "《A》")},
        RowCase{"EntityBetweenSpacesLeavesTwoSpaces",
                // as it reads after normalisation
                QStringLiteral("ddSong(9,Duo,Tom  Jerry) class=p"), true,
                result("9", "Tom  Jerry", "Duo", "")},
        RowCase{"AlbumWithoutClosingMark", QStringLiteral("ddSong(3,S,T) class=p 《Half"), true,
                result("3", "T", "S", "")},
        RowCase{"AlbumCloseBeforeOpenIgnored", QStringLiteral("》x ddSong(3,S,T) class=p 《A》"),
                true, result("3", "T", "S", "《A》")},
        RowCase{"IdZero", QStringLiteral("ddSong(0,S,T) class=p"), false, {}},
        RowCase{"IdZeroPadded", QStringLiteral("ddSong(000,S,T) class=p"), false, {}},
        RowCase{"IdEmpty", QStringLiteral("ddSong(,S,T) class=p"), false, {}},
        RowCase{"IdSpaces", QStringLiteral("ddSong(  ,S,T) class=p"), false, {}},
        RowCase{"TooFewArguments", QStringLiteral("ddSong(5,S) class=p"), false, {}},
        RowCase{"NoArgumentEnd", QStringLiteral("ddSong(5,S,T)class=p"), false, {}},
        RowCase{"NoPlayCall", QStringLiteral("<td>5,S,T</td>"), false, {}},
        RowCase{"Blank", QStringLiteral("   "), false, {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ParseSearchPage, ListsEveryTableRowInOrderAndNothingOutsideTheTable)
{
    QList<FakeSong> songs = FakeSearchPages::numbered(100, 3);
    songs.append({QStringLiteral("0"), QStringLiteral("x"), QStringLiteral("skipped"), {}});
    songs.append({QStringLiteral("200"),
                  QStringLiteral("Tom &amp; Co"),
                  QStringLiteral("It&#039;s (Live, 1999)"),
                  {}});
    const QList<SearchResult> rows = parseSearchPage(FakeSearchPages::page(61, songs));

    // The footer's play call after the pager is not a result.
    ASSERT_EQ(rows.size(), 4);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rows[i].songId, songs[i].id);
        EXPECT_EQ(rows[i].title, songs[i].title);
        EXPECT_EQ(rows[i].singer, songs[i].singer);
        EXPECT_EQ(rows[i].album, QStringLiteral("《") + songs[i].album + QStringLiteral("》"));
        EXPECT_FALSE(rows[i].ticked);
    }
    EXPECT_EQ(rows[3].singer, QStringLiteral("Tom  Co"));
    EXPECT_EQ(rows[3].title, QStringLiteral("Its (Live)"));
    EXPECT_TRUE(rows[3].album.isEmpty());
}

TEST(ParseSearchPage, MalformedPagesGiveNoGarbageRows)
{
    // No table head and no pager: every row of the text counts, to the end.
    const QString bare =
        FakeSearchPages::row({QStringLiteral("1"), QStringLiteral("a"), QStringLiteral("b"), {}}) +
        FakeSearchPages::row({QStringLiteral("2"), QStringLiteral("c"), QStringLiteral("d"), {}});
    ASSERT_EQ(parseSearchPage(bare).size(), 2);
    EXPECT_EQ(parseSearchPage(bare)[1].songId, QStringLiteral("2"));

    for (const QString &junk :
         {QString(), QStringLiteral(">collect</a>>collect</a>"), QStringLiteral("ddSong("),
          QStringLiteral("ddSong(,,,) class=>collect</a>"), QString(5000, QChar(u'《')),
          FakeSearchPages::noMatchPage(QStringLiteral("x"))})
        EXPECT_TRUE(parseSearchPage(junk).isEmpty()) << junk.left(40).toStdString();
}

TEST(IsNoMatchPage, RecognisesTheNothingFoundPage)
{
    EXPECT_TRUE(isNoMatchPage(FakeSearchPages::noMatchPage(QStringLiteral("abc"))));
    EXPECT_FALSE(isNoMatchPage(FakeSearchPages::page(0, {})));
}

} // namespace
