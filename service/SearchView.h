// What the page loop of a search needs from whoever shows its results: the
// main window implements it on its result list, buttons and status line,
// the command-line client on the terminal.
#pragma once

#include "service/SearchResult.h"

#include <QString>

class SearchView
{
public:
    virtual ~SearchView() = default;

    // Append one row at the end of the result list (resultsView); the row's
    // ticked field says whether to tick its box.
    virtual void appendResult(const SearchResult &row) = 0;
    // Rows in the result list now, held-back ones included.
    virtual int resultCount() const = 0;
    // Remove every row (a new search starts).
    virtual void clearResults() = 0;

    // The auto-tick option (autoTickBox) and the select-all indicator (selectAllBox).
    virtual bool autoTickEnabled() const = 0;
    virtual void tickSelectAll() = 0;
    // The fit option (autoFitBox) and the fit itself (fitColumnsToContents).
    virtual bool fitEnabled() const = 0;
    virtual void fitResultColumns() = 0;

    // The status line (statusEdit).
    virtual void setStatusText(const QString &text) = 0;
    // The search box (searchEdit), emptied when a search ends.
    virtual void clearSearchBox() = 0;
    // The search button's caption (searchButton): "搜索" or "停止".
    virtual void setSearchButtonCaption(const QString &caption) = 0;
    // The stop button (stopButton).
    virtual void setStopButtonCaption(const QString &caption) = 0;
    virtual void setStopButtonEnabled(bool enabled) = 0;

    // A page could not be read at all (refused, reset, timed out); error is
    // HttpClient::lastError(). The loop goes on with an empty page, as it
    // would with a page that lacks its markers; a view that wants to give up
    // clears searchInProgress here. The window shows nothing of its own.
    virtual void pageFetchFailed(const QString &error) { (void)error; }

    // Every page's answer: the URL asked and the HTTP status (0 when no
    // answer came). An error page is parsed like any other, so a view that
    // takes an error status as a failure says so here (and may clear
    // searchInProgress to stop at this page). The window shows nothing.
    virtual void pageAnswered(const QString &url, int status)
    {
        (void)url;
        (void)status;
    }
};
