// The page loop runs on the UI thread and waits for each page inside
// HttpClient's nested event loop, so stop buttons, timers and even a new
// search run in the middle of it. Two rules keep that safe:
//  - the stop flag is read once per page, before its fetch; a page in
//    flight when the user stops is still parsed and added (intended);
//  - a loop that wakes up to find a newer search started meanwhile drops its
//    page and returns without touching the list, the state or the buttons:
//    the newer search owns all three and has already run its own end.
#include "service/SearchSongs.h"

#include "net/HttpClient.h"
#include "net/UrlEncode.h"
#include "service/FetchPage.h"
#include "service/SearchPageParser.h"
#include "service/SearchState.h"
#include "service/ServiceConfig.h"

#include <limits>

namespace musicservice {
namespace {

// Service endpoints: first search page, later pages, the page parameter.
constexpr int kFirstPageResource = 101;
constexpr int kLaterPageResource = 103;
constexpr int kPageParamResource = 104;
// The group of the page requests, cut short together when the user stops.
const QString kSearchRequests = QStringLiteral("search");

int g_stopGraceMs = 15000;

// note: said after the summary, why the search ended early.
void endSearch(SearchView &view, const QString &note = QString())
{
    SearchState &s = searchState();
    if (view.fitEnabled())
        view.fitResultColumns();
    s.searchInProgress = false;
    s.playlistAddInProgress = false;
    s.searchPage = 1;
    s.firstPageMarker = SearchState::kFirstPage;
    view.clearSearchBox();
    view.setSearchButtonCaption(kSearchCaption);
    // The stop button keeps "已停止" from now on, also while enabled.
    view.setStopButtonCaption(kStoppedCaption);
    view.setStopButtonEnabled(false);
    const int count = view.resultCount();
    QString summary =
        QStringLiteral("搜索结束,共找到：") + QString::number(count) + QStringLiteral("条资源");
    if (count >= kMaxResultRows)
        summary += QStringLiteral("（结果过多，只列出前%1条）").arg(kMaxResultRows);
    view.setStatusText(summary + note);
}

// False once the list is full: the rest of the page, and of the search, is
// dropped.
bool addRows(const QList<SearchResult> &rows, SearchView &view)
{
    int room = kMaxResultRows - view.resultCount();
    for (SearchResult row : rows) {
        if (room-- <= 0)
            return false;
        row.ticked = view.autoTickEnabled();
        view.appendResult(row);
        if (row.ticked)
            view.tickSelectAll();
    }
    return room > 0;
}

} // namespace

void searchSongs(QString &url, SearchView &view)
{
    SearchState &s = searchState();
    const quint64 generation = ++s.generation;
    for (;;) {
        if (!s.searchInProgress) {
            endSearch(view);
            return;
        }
        const QString page = fetchPage(url, QStringLiteral("utf-8"), {0, kSearchRequests});
        if (s.generation != generation)
            return;
        view.pageAnswered(HttpClient::lastUrl(), HttpClient::lastStatus());
        const QString error = HttpClient::lastError();
        if (!error.isEmpty())
            view.pageFetchFailed(error);

        if (isNoMatchPage(page)) {
            endSearch(view);
            return;
        }
        const bool laterPage = s.firstPageMarker != SearchState::kFirstPage;
        if (!laterPage) {
            s.firstPageMarker = SearchState::kLaterPage;
            s.searchPageCount = pageCountFromFirstPage(page);
        }
        const QList<SearchResult> rows = parseSearchPage(page);
        if (!addRows(rows, view)) {
            endSearch(view);
            return;
        }
        // The count comes from the first page alone: a service that claims
        // more songs than it has would be asked for pages without end. The
        // first later page with nothing on it ends the search.
        if (laterPage && rows.isEmpty()) {
            endSearch(view,
                      s.searchInProgress
                          ? QStringLiteral("（第%1页没有资源，搜索提前结束）").arg(s.searchPage)
                          : QString());
            return;
        }

        const qint64 pageCount = s.searchPageCount.toLongLong(); // not a number: 0
        if (pageCount > s.searchPage && s.searchPage < std::numeric_limits<int>::max()) {
            ++s.searchPage;
            s.firstPageMarker = SearchState::kLaterPage;
            url = ServiceConfig::resource(kLaterPageResource) + s.encodedQuery +
                  ServiceConfig::resource(kPageParamResource) + QString::number(s.searchPage);
            view.setStatusText(QStringLiteral("共找到") + s.searchPageCount +
                               QStringLiteral("页,正在查找第") + QString::number(s.searchPage) +
                               QStringLiteral("页资源信息。"));
            continue;
        }
        endSearch(view);
        return;
    }
}

void beginSearch(const QString &words, SearchView &view)
{
    SearchState &s = searchState();
    view.setStopButtonEnabled(true);
    view.setSearchButtonCaption(kStopCaption);
    s.searchInProgress = true;
    s.searchPage = 1;
    s.firstPageMarker = SearchState::kFirstPage;
    s.encodedQuery = urlEncode(words);
    view.clearResults();
    QString url = ServiceConfig::resource(kFirstPageResource) + urlEncode(words);
    searchSongs(url, view);
}

void stopSearch(SearchView &view)
{
    SearchState &s = searchState();
    view.setSearchButtonCaption(kSearchCaption);
    s.searchInProgress = false;
    s.playlistAddInProgress = false;
    // The page in flight may still arrive and be added (intended), but a
    // server dripping it in cannot keep the search alive for long.
    HttpClient::limitGroup(kSearchRequests, g_stopGraceMs);
}

int stopGraceMs()
{
    return g_stopGraceMs;
}

void setStopGraceMs(int ms)
{
    g_stopGraceMs = ms;
}

} // namespace musicservice
