// The page-by-page search: first page, song count, then every following
// page until the count is reached, a later page lists nothing, the user
// stops, or a newer search takes over. Rows reach the view as each page
// arrives.
#pragma once

#include "service/SearchView.h"

#include <QString>

namespace musicservice {

// Texts the search puts on the window's buttons and status line.
inline const QString kSearchCaption = QStringLiteral("搜索");
inline const QString kStopCaption = QStringLiteral("停止");
inline const QString kStoppedCaption = QStringLiteral("已停止");

// The whole page loop, starting at the first page's URL; url is overwritten
// with the URL of each following page. Returns when the search has ended
// (last page, no-match page, a later page with no rows, stop flag) or was
// superseded by a newer call.
// The stop flag (State().searchInProgress) is read once per page, before the
// fetch: a page already in flight when the user stops is still added.
void searchSongs(QString &url, SearchView &view);

// The start of a search for the words as typed: enables the stop button,
// captions the search button "停止", resets the search state, empties the
// list and runs searchSongs from the first page. Input checks (empty text,
// the prompt) are the caller's.
void beginSearch(const QString &words, SearchView &view);

// The stop buttons: caption "搜索", both flags cleared. The running loop
// ends at its next page boundary; a page in flight gets at most
// stopGraceMs() more before it is dropped.
void stopSearch(SearchView &view);

// Default 15 s; tests shorten it.
int stopGraceMs();
void setStopGraceMs(int ms);

// The result list stops growing at this many rows; the search then ends
// with a note on the status line.
inline constexpr int kMaxResultRows = 100000;

} // namespace musicservice
