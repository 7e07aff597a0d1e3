// The search's view on a terminal: each row is one tab-separated line on
// stdout (ID, title, singer, album) as soon as its page is parsed; progress
// and the summary go to stderr. A page that cannot be fetched, or that
// answers with an HTTP error, ends the search at the next page boundary and
// is reported by the caller.
#pragma once

#include "service/SearchView.h"

#include <cstdio>

class TerminalSearchView : public SearchView
{
public:
    explicit TerminalSearchView(std::FILE *rows = stdout, std::FILE *progress = stderr);

    void appendResult(const SearchResult &row) override;
    int resultCount() const override { return m_count; }
    void clearResults() override { m_count = 0; }
    bool autoTickEnabled() const override { return false; }
    void tickSelectAll() override {}
    bool fitEnabled() const override { return false; }
    void fitResultColumns() override {}
    void setStatusText(const QString &text) override;
    void clearSearchBox() override {}
    void setSearchButtonCaption(const QString &) override {}
    void setStopButtonCaption(const QString &) override {}
    void setStopButtonEnabled(bool) override {}
    void pageFetchFailed(const QString &error) override;
    // A page answered with an HTTP error ends the search there: the pages
    // after it would make a list with a hole in it.
    void pageAnswered(const QString &url, int status) override;

    // The first transport failure of the search, "" when there was none.
    QString failure() const { return m_failure; }
    // The first page answered with an HTTP error status (400 and up): its
    // status (0 when none was), URL and number (1 for the first page).
    int errorStatus() const { return m_errorStatus; }
    QString errorUrl() const { return m_errorUrl; }
    int errorPage() const { return m_errorPage; }

private:
    std::FILE *m_rows;
    std::FILE *m_progress;
    int m_count = 0;
    QString m_failure;
    int m_pagesAnswered = 0;
    int m_errorStatus = 0;
    QString m_errorUrl;
    int m_errorPage = 0;
};
