// The pieces of velmor-musicd that need no network: the query scheme it
// shares with the player's encoder, the guards on request text, the
// catalogue's lookups, and the agreement between a song's music and its
// lyric timing.
#include "musicd/Catalogue.h"
#include "musicd/LyricFile.h"
#include "musicd/MusicService.h"
#include "musicd/MusicdQueries.h"
#include "musicd/QueryText.h"
#include "musicd/Tune.h"
#include "net/UrlEncode.h"

#include <QRegularExpression>
#include <QtEndian>
#include <gtest/gtest.h>

using namespace musicd;

namespace {

// What cpp-httplib hands a handler: the percent escapes undone, bytes left.
std::string percentDecoded(const QString &encoded)
{
    return QByteArray::fromPercentEncoding(encoded.toLatin1()).toStdString();
}

TEST(MusicdQueryText, DecodesWhatThePlayerEncodes)
{
    const QString cases[] = {
        QStringLiteral("abcXYZ09"),
        QStringLiteral("Tom & Jerry"),
        QStringLiteral("-._~+&=%"),
        QStringLiteral("\tx"),
        QStringLiteral("café"),                 // U+00E9: one escape of its own value
        QString(QChar(0x0100)) + QChar(0x01FF), // three-byte pattern that is not UTF-8
        QString(QChar(0x07FF)) + QChar(0x0800), // both sides of the UTF-8 boundary
        QStringLiteral("晴川 夜航精选"),
        QStringLiteral("😀"),  // surrogate units one by one
        QStringLiteral("é©"), // Latin-1 bytes that look like a lead byte
    };
    for (const QString &text : cases) {
        const QString encoded = musicservice::urlEncode(text);
        EXPECT_EQ(decodePlayerQuery(percentDecoded(encoded)), text) << encoded.toStdString();
        EXPECT_EQ(QString::fromStdString(encodePlayerQuery(text)), encoded);
    }
}

TEST(MusicdQueryText, BrokenThreeBytePatternsFallBackToSingleBytes)
{
    // A lead byte without two continuation bytes is a Latin-1 character.
    EXPECT_EQ(decodePlayerQuery("\xE4\xB8"), QString(QChar(0xE4)) + QChar(0xB8));
    EXPECT_EQ(decodePlayerQuery("\xE4"
                                "ab"),
              QString(QChar(0xE4)) + QStringLiteral("ab"));
    EXPECT_EQ(decodePlayerQuery(std::string("a\0b", 3)),
              QString(QStringLiteral("a")) + QChar(0) + u'b');
}

TEST(MusicdQueryText, EscapesNamesForHtmlAndJson)
{
    EXPECT_EQ(htmlEscape(QStringLiteral("Rock'n'Roll & <b>\"x\"")),
              QStringLiteral("Rock&#039;n&#039;Roll &amp; &lt;b&gt;&quot;x&quot;"));
    // JSON: quotes cannot close the value early, and slashes are escaped as
    // the player expects of every URL in the answer.
    EXPECT_EQ(jsonEscape(QStringLiteral("a\"b\\c/d 晴")),
              QStringLiteral("a\\\"b\\\\c\\/d \\u6674"));
}

TEST(MusicdQueryText, HostHeaderOnlyPassesPlainHostNames)
{
    const QString fallback = QStringLiteral("127.0.0.1:1");
    const std::pair<std::string, QString> cases[] = {
        {"localhost:8080", QStringLiteral("localhost:8080")},
        {"127.0.0.1:18750", QStringLiteral("127.0.0.1:18750")},
        {"[::1]:80", QStringLiteral("[::1]:80")},
        {"", fallback},
        {"evil.test/\"><script>", fallback},
        {"a b", fallback},
        {"host\r\nX: y", fallback},
        {std::string(300, 'a'), fallback},
    };
    for (const auto &[header, expected] : cases)
        EXPECT_EQ(sanitisedHost(header, fallback), expected) << header;
}

TEST(MusicdQueryText, PageNumbersAndSongIdsFromRequestText)
{
    const std::pair<std::string, qint64> pages[] = {
        {"", 1},
        {"1", 1},
        {"7", 7},
        {"0", 1},
        {"-3", 1},
        {"abc", 1},
        {"2x", 1},
        {" 2", 1},
        {"999999999999", 999999999999},
        {"99999999999999999999999", 999999999999},
    };
    for (const auto &[text, page] : pages)
        EXPECT_EQ(MusicService::parsePageNumber(text), page) << text;

    const std::pair<std::string, qint64> ids[] = {
        {"100001", 100001}, {"", 0}, {"-5", 0}, {"12a", 0}, {"1e5", 0}, {"99999999999999999999", 0},
    };
    for (const auto &[text, id] : ids)
        EXPECT_EQ(MusicService::parseSongId(text), id) << text;
}

TEST(MusicdCatalogue, FindsSingersUnderTheNamesThePlayerScrapes)
{
    const Catalogue catalogue;
    // The player deletes "&amp;" and "&#039;" from names it scrapes.
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("Tom  Jerry"), QStringLiteral("Tom & Jerry")},
        {QStringLiteral("tom & jerry"), QStringLiteral("Tom & Jerry")},
        {QStringLiteral("RocknRoll Band"), QStringLiteral("Rock'n'Roll Band")},
        {QStringLiteral(" 晴川 "), QStringLiteral("晴川")},
    };
    for (const auto &[asked, found] : cases) {
        const Singer *s = catalogue.singerByName(asked);
        ASSERT_NE(s, nullptr) << asked.toStdString();
        EXPECT_EQ(s->name, found);
    }
    EXPECT_EQ(catalogue.singerByName(QStringLiteral("Nobody Here")), nullptr);
    EXPECT_EQ(catalogue.singerByName(QStringLiteral(" & ")), nullptr);
}

TEST(MusicdCatalogue, SongIdsCoverTheCatalogueAndTheSyntheticRowsOnly)
{
    const Catalogue catalogue;
    const std::pair<qint64, bool> cases[] = {
        {kFirstSongId - 1, false},
        {kFirstSongId, true},
        {kFirstSongId + kCatalogueSize - 1, true},
        {kFirstSongId + kCatalogueSize, false},
        {kLoadFirstSongId - 1, false},
        {kLoadFirstSongId, true},
        {kLoadFirstSongId + kLoadQueryMaxRows - 1, true},
        {kLoadFirstSongId + kLoadQueryMaxRows, false},
        {0, false},
        {-1, false},
    };
    for (const auto &[id, known] : cases) {
        const std::optional<Song> song = catalogue.songById(id);
        ASSERT_EQ(song.has_value(), known) << id;
        if (known) {
            EXPECT_EQ(song->id, id);
        }
    }
    // A synthetic row found by its ID is the row the load query lists.
    const SearchPage page = catalogue.search(QLatin1String(kQueryLoad30000), 1000, 30);
    ASSERT_EQ(page.rows.size(), 30);
    EXPECT_EQ(catalogue.songById(page.rows.last().id)->title, page.rows.last().title);
}

TEST(MusicdCatalogue, SearchWordsMustAllMatch)
{
    const Catalogue catalogue;
    const qint64 both = catalogue.search(QStringLiteral("starlight motel"), 1, 30).total;
    EXPECT_EQ(both, 20);
    EXPECT_LT(both, catalogue.search(QStringLiteral("starlight"), 1, 30).total);
    EXPECT_EQ(catalogue.search(QStringLiteral("STARLIGHT"), 1, 30).total, kQueryThreePagesCount);
    EXPECT_EQ(catalogue.search(QStringLiteral("   "), 1, 30).total, 0);
    EXPECT_EQ(catalogue.search(QStringLiteral("load0"), 1, 30).total, 0);
    EXPECT_EQ(catalogue.search(QStringLiteral("load300001"), 1, 30).total, 0);
}

// LRC tag "[mm:ss.xx]" to seconds.
double tagSeconds(const QString &tag)
{
    return tag.mid(1, 2).toInt() * 60 + tag.mid(4, 5).toDouble();
}

TEST(MusicdTune, LyricLinesFallOnPhraseStartsInsideTheSong)
{
    const Catalogue catalogue;
    int multiTagLines = 0;
    for (const qint64 id :
         {Q_INT64_C(100001), Q_INT64_C(100050), Q_INT64_C(100333), Q_INT64_C(5000123)}) {
        const Song song = *catalogue.songById(id);
        const Tune tune(song.id, !song.latin);
        ASSERT_GE(tune.durationSeconds(), 20.0);
        ASSERT_LE(tune.durationSeconds(), 90.0);

        QList<double> phraseStarts;
        for (const Tune::Phrase &p : tune.phrases())
            phraseStarts.append(p.start);

        const QString lrc = QString::fromUtf8(lyricFile(song, tune));
        ASSERT_TRUE(lrc.startsWith(QStringLiteral("[ti:") + song.title + QStringLiteral("]\r\n")));
        EXPECT_TRUE(lrc.contains(QStringLiteral("[ar:") + song.singer + QStringLiteral("]\r\n")));
        EXPECT_FALSE(lrc.contains(QRegularExpression(QStringLiteral("[^\\r]\\n"))));

        static const QRegularExpression tagRe(QStringLiteral("\\[\\d\\d:\\d\\d\\.\\d\\d\\]"));
        QList<double> tagged;
        double lastFirstTag = -1;
        for (const QString &line : lrc.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
            if (!tagRe.match(line).hasMatch() || tagRe.match(line).capturedStart() != 0)
                continue;
            int tags = 0;
            for (auto it = tagRe.globalMatch(line); it.hasNext();) {
                const auto m = it.next();
                tagged.append(tagSeconds(m.captured()));
                ++tags;
            }
            multiTagLines += tags > 1;
            // Lines in time order of their first tag.
            EXPECT_GT(tagSeconds(line.left(10)), lastFirstTag);
            lastFirstTag = tagSeconds(line.left(10));
        }
        std::sort(tagged.begin(), tagged.end());
        // Every phrase has exactly one tag, and nothing is timed past the end.
        ASSERT_EQ(tagged.size(), phraseStarts.size()) << id;
        for (qsizetype i = 0; i < tagged.size(); ++i)
            EXPECT_NEAR(tagged.at(i), phraseStarts.at(i), 0.005);
        EXPECT_LT(tagged.last(), tune.durationSeconds());
    }
    EXPECT_GT(multiTagLines, 0);
}

TEST(MusicdTune, RendersTheWavItAnnounces)
{
    const Tune tune(100007, true);
    const QByteArray wav = tune.renderWav();
    ASSERT_EQ(wav.size(), tune.wavByteCount());
    ASSERT_TRUE(wav.startsWith("RIFF"));
    EXPECT_EQ(wav.mid(8, 8), QByteArray("WAVEfmt "));
    EXPECT_EQ(qFromLittleEndian<quint32>(wav.constData() + 4), quint32(wav.size() - 8));
    EXPECT_EQ(qFromLittleEndian<quint16>(wav.constData() + 22), 1);      // mono
    EXPECT_EQ(qFromLittleEndian<quint32>(wav.constData() + 24), 22050u); // sample rate
    EXPECT_EQ(qFromLittleEndian<quint16>(wav.constData() + 34), 16);     // bits
    EXPECT_EQ(qFromLittleEndian<quint32>(wav.constData() + 40), quint32(wav.size() - 44));

    // Not silence, and the same song always sounds the same.
    qint16 peak = 0;
    for (qsizetype i = 44; i + 1 < wav.size(); i += 2)
        peak = std::max<qint16>(peak, std::abs(qFromLittleEndian<qint16>(wav.constData() + i)));
    EXPECT_GT(peak, 8000);
    EXPECT_EQ(Tune(100007, true).renderWav(), wav);
    EXPECT_NE(Tune(100008, true).renderWav().mid(44, 4000), wav.mid(44, 4000));
}

} // namespace
