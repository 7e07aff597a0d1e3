// Views that record what the service client shows, for tests.
#pragma once

#include "service/LyricsView.h"
#include "service/SearchView.h"

#include <QList>
#include <QStringList>
#include <functional>

class RecordingLyricsView : public LyricsView
{
public:
    void clearLyricList() override { list.clear(); }
    void addLyricEntry(const QString &entry) override { list.append(entry); }
    void setLyricText(const QString &text) override { text5 = text; }
    void setLyricBoxText(const QString &text) override { text3 = text; }

    QStringList list;
    QString text5;
    QString text3;
};

class RecordingSearchView : public SearchView
{
public:
    void appendResult(const SearchResult &row) override
    {
        rows.append(row);
        if (onRow)
            onRow(row);
    }
    int resultCount() const override { return int(rows.size()); }
    void clearResults() override { rows.clear(); }
    bool autoTickEnabled() const override { return autoTick; }
    void tickSelectAll() override { selectAllTicked = true; }
    bool fitEnabled() const override { return fit; }
    void fitResultColumns() override { ++fitCount; }
    void setStatusText(const QString &text) override { statusHistory.append(text); }
    void clearSearchBox() override { searchBox.clear(); }
    void setSearchButtonCaption(const QString &caption) override { searchCaption = caption; }
    void setStopButtonCaption(const QString &caption) override { stopCaption = caption; }
    void setStopButtonEnabled(bool enabled) override { stopEnabled = enabled; }
    void pageFetchFailed(const QString &error) override { failures.append(error); }

    QList<SearchResult> rows;
    bool autoTick = false;
    bool selectAllTicked = false;
    bool fit = false;
    int fitCount = 0;
    QStringList statusHistory;
    QString searchBox = QStringLiteral("typed words");
    QString searchCaption;
    QString stopCaption;
    bool stopEnabled = false;
    QStringList failures;
    std::function<void(const SearchResult &)> onRow;
};
