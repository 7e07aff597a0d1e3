// The search's view on a terminal: each row is one tab-separated line on
// stdout (ID, title, singer, album) as soon as its page is parsed; progress
// and the summary go to stderr. A page that cannot be fetched ends the
// search at the next page boundary and is reported by the caller.
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

    // The first transport failure of the search, "" when there was none.
    QString failure() const { return m_failure; }

private:
    std::FILE *m_rows;
    std::FILE *m_progress;
    int m_count = 0;
    QString m_failure;
};
