// The search page is read the way the service has always been read: plain
// substring cuts on marker texts, in a fixed order. The order is part of the
// contract: quotes are gone before the rows are split (so the ddSong
// arguments are bare), entities are deleted rather than decoded (so
// "Tom &amp; Jerry" lists as "Tom  Jerry"), and the title is closed with ")"
// whenever it holds "(" (a title cut at a comma inside brackets is closed
// again; one that already had its ")" gains another, as the service's other
// clients show it).
#include "service/SearchPageParser.h"

#include <limits>

namespace musicservice {
namespace {

// The service's "sorry, nothing found matching" page.
const QString kNoMatchMarker = QStringLiteral("很抱歉，没有找到与");
// "found related songs", followed by the song count ...
const QString kCountStart = QStringLiteral("找到相关歌曲");
// ... and the measure word after the count.
const QString kCountEnd = QStringLiteral("首");
// The last cell of the result table's head (the favourites column).
const QString kTableHeadEnd = QStringLiteral("收藏</a></div></td>");
// The pager's previous-page link, which closes the result table.
const QString kPagerStart = QStringLiteral(">上一页</a");
// Ends every result row (its "collect" link).
const QString kRowEnd = QStringLiteral(">collect</a>");
// The play call whose arguments are ID, singer, title.
const QString kRowArgsStart = QStringLiteral("ddSong(");
// Closes the play call's argument list.
const QString kRowArgsEnd = QStringLiteral(") class=");
// Book-title marks around an album name.
const QChar kAlbumOpen(u'《');
const QChar kAlbumClose(u'》');

const QString kEightSpaces(8, QLatin1Char(' '));
const QString kCrLf = QStringLiteral("\r\n");
const QString kAmpEntity = QStringLiteral("&amp;");
const QString kAposEntity = QStringLiteral("&#039;");

// Only U+0020 counts as a space for the service's texts.
QStringView trimSpaces(QStringView s)
{
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && s.at(b) == u' ')
        ++b;
    while (e > b && s.at(e - 1) == u' ')
        --e;
    return s.mid(b, e - b);
}

// "The number 0" as the service writes it: an integer that reads as zero.
bool isZeroId(const QString &id)
{
    bool ok = false;
    const qlonglong v = id.toLongLong(&ok);
    return ok && v == 0;
}

} // namespace

QString roundUpQuotient(qint64 a, qint64 b)
{
    if (b == 0 || (b == -1 && a == std::numeric_limits<qint64>::min()))
        return QStringLiteral("0");
    qint64 q = a / b;
    if (a % b > 0)
        ++q;
    return QString::number(q);
}

QString pageCountFromFirstPage(const QString &page)
{
    QString c = page;
    c.remove(QLatin1Char('"'));
    c.remove(QLatin1Char(' '));
    c.remove(kCrLf);
    c.remove(QLatin1Char('\t'));

    const qsizetype start = c.indexOf(kCountStart);
    if (start < 0)
        return QStringLiteral("0");
    c = c.mid(start + kCountStart.size());
    const qsizetype end = c.indexOf(kCountEnd);
    if (end < 0)
        return QStringLiteral("0");
    c.truncate(end);

    // Only a whole number is a count; anything else means no pages follow.
    bool ok = false;
    const qint64 songs = c.toLongLong(&ok);
    if (!ok || songs < 0)
        return QStringLiteral("0");
    return roundUpQuotient(songs, kSongsPerPage);
}

bool isNoMatchPage(const QString &page)
{
    return page.contains(kNoMatchMarker);
}

QString normaliseSearchPage(QString page)
{
    // Each removal sees the result of the one before it; a run of ten spaces
    // leaves two, and an entity split by a quote is still removed.
    page.remove(kEightSpaces);
    page.remove(kCrLf);
    page.remove(QLatin1Char('\t'));
    page.remove(QLatin1Char('"'));
    page.remove(kAmpEntity);
    page.remove(kAposEntity);
    return page;
}

QString cutResultTable(QString page)
{
    // Drop up to and including the marker's first character only; the rest
    // of the marker cannot be mistaken for a row.
    const qsizetype head = page.indexOf(kTableHeadEnd);
    if (head >= 0)
        page.remove(0, head + 1);
    const qsizetype pager = page.indexOf(kPagerStart);
    if (pager >= 0)
        page.truncate(pager);
    return page;
}

std::optional<SearchResult> parseResultRow(QStringView row)
{
    if (trimSpaces(row).isEmpty())
        return std::nullopt;
    const qsizetype argsAt = row.indexOf(kRowArgsStart);
    if (argsAt < 0)
        return std::nullopt;
    const qsizetype argsStart = argsAt + kRowArgsStart.size();
    const qsizetype argsEnd = row.indexOf(kRowArgsEnd, argsStart);
    if (argsEnd < 0)
        return std::nullopt;

    // ID, singer and title are the first three arguments of the play call.
    const QStringView args = row.mid(argsStart, argsEnd - argsStart);
    const qsizetype comma1 = args.indexOf(u',');
    if (comma1 < 0)
        return std::nullopt;
    const qsizetype comma2 = args.indexOf(u',', comma1 + 1);
    if (comma2 < 0)
        return std::nullopt;
    const qsizetype comma3 = args.indexOf(u',', comma2 + 1);

    SearchResult r;
    r.songId = args.left(comma1).toString();
    if (trimSpaces(r.songId).isEmpty() || isZeroId(r.songId))
        return std::nullopt;
    r.singer = args.mid(comma1 + 1, comma2 - comma1 - 1).toString();
    r.title =
        (comma3 < 0 ? args.mid(comma2 + 1) : args.mid(comma2 + 1, comma3 - comma2 - 1)).toString();
    if (r.title.contains(QLatin1Char('(')))
        r.title += QLatin1Char(')');

    const qsizetype open = row.indexOf(kAlbumOpen);
    if (open >= 0) {
        const qsizetype close = row.indexOf(kAlbumClose, open + 1);
        if (close >= 0)
            r.album = row.mid(open, close - open + 1).toString();
    }
    return r;
}

QList<SearchResult> parseSearchPage(const QString &page)
{
    const QString table = cutResultTable(normaliseSearchPage(page));
    QList<SearchResult> rows;
    qsizetype from = 0;
    for (;;) {
        const qsizetype end = table.indexOf(kRowEnd, from);
        const QStringView piece =
            QStringView(table).mid(from, end < 0 ? table.size() - from : end - from);
        if (std::optional<SearchResult> r = parseResultRow(piece))
            rows.append(std::move(*r));
        if (end < 0)
            break;
        from = end + kRowEnd.size();
    }
    return rows;
}

} // namespace musicservice
