// The HTML of the search endpoint. The player reads these pages with plain
// substring cuts, so the markers it cuts by are written exactly: the count
// between "找到相关歌曲" and "首" with nothing but spaces around the digits,
// the table head ending in "收藏</a></div></td>", one ddSong(...) call per row
// directly followed by " class=", each row ending in ">collect</a>", the
// album in "《…》", the pager's ">上一页</a" after the table, and the
// "很抱歉，没有找到与" text when nothing matches. Everything else (CR LF line
// ends, tabs, runs of spaces, entities) is what a real page generator writes
// and what the player's normalisation removes.
#pragma once

#include "musicd/Catalogue.h"

#include <QByteArray>
#include <QString>

namespace musicd {

// Songs on one result page.
inline constexpr int kRowsPerPage = 30;

// A result page: the total count, the rows of page pageNo (possibly none)
// and the pager. query is the decoded search text.
QByteArray resultPageHtml(const QString &query, qint64 pageNo, const SearchPage &page);

// The page for a search without any match.
QByteArray noMatchPageHtml(const QString &query);

} // namespace musicd
