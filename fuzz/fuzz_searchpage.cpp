// The search-page scraper over arbitrary page bytes, decoded as the page
// loop decodes them. Beyond "no crash, no hang": the page count is a
// non-negative number, and every row it cuts is one the result list can
// hold (an ID that is neither blank nor 0, no quote left in any field, an
// album in book-title marks or empty, a bracketed title closed).
#include "fuzz/FuzzCheck.h"
#include "service/FetchPage.h"
#include "service/SearchPageParser.h"

#include <cstdint>

using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace musicservice;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString page = decodeBytes(bytes, QStringLiteral("utf-8"));

    bool ok = false;
    const qint64 pages = pageCountFromFirstPage(page).toLongLong(&ok);
    check(ok && pages >= 0);
    (void)isNoMatchPage(page);

    const QString normalised = normaliseSearchPage(page);
    check(!normalised.contains(QLatin1Char('"')) && !normalised.contains(QLatin1Char('\t')));
    check(cutResultTable(normalised).size() <= normalised.size());

    const QList<SearchResult> rows = parseSearchPage(page);
    check(rows.size() <= normalised.count(QStringLiteral(">collect</a>")) + 1);
    for (const SearchResult &row : rows) {
        check(QString(row.songId).remove(QLatin1Char(' ')).size() > 0);
        check(row.songId.toLongLong(&ok) != 0 || !ok);
        for (const QString *field : {&row.songId, &row.title, &row.singer, &row.album})
            check(!field->contains(QLatin1Char('"')));
        check(row.album.isEmpty() || (row.album.startsWith(u'《') && row.album.endsWith(u'》')));
        check(!row.title.contains(QLatin1Char('(')) || row.title.endsWith(QLatin1Char(')')));
        check(!row.ticked);
    }
    return 0;
}
