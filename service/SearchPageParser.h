// Cutting songs out of the service's search-result pages. Pure text in,
// data out: the page loop fetches, these functions read, so they are tested
// and fuzzed without a network. The service's pages are read with plain
// substring cuts on fixed markers, never with an HTML parser, and the order
// of the cuts matters (see SearchPageParser.cpp).
#pragma once

#include "service/SearchResult.h"

#include <QList>
#include <QString>
#include <optional>

namespace musicservice {

// Songs the service lists on one result page.
inline constexpr int kSongsPerPage = 30;

// a / b rounded up, as decimal text: the truncated quotient when a mod b is
// not positive, one more otherwise. A zero divisor gives "0".
QString roundUpQuotient(qint64 a, qint64 b);

// The number of result pages, as decimal text, read from a search's first
// page (the song count between "找到相关歌曲" and "首"). A page without a
// readable, non-negative whole-number count gives "0".
QString pageCountFromFirstPage(const QString &page);

// The service's "nothing found" page.
bool isNoMatchPage(const QString &page);

// Removes runs of eight spaces, CR LF, tabs, double quotes, "&amp;" and
// "&#039;", in that order; the entities are deleted, not converted.
QString normaliseSearchPage(QString page);

// The result table of a normalised page: after the table head, before the
// pager. A missing marker leaves that end of the text as it is.
QString cutResultTable(QString page);

// One candidate row (a piece of the table between ">collect</a>" markers).
// nullopt for a piece that is no song row or whose song ID is empty or 0.
std::optional<SearchResult> parseResultRow(QStringView piece);

// Every song row of a raw result page, in page order.
QList<SearchResult> parseSearchPage(const QString &page);

} // namespace musicservice
