// One row of the search-result list: what the scraper cuts out of a result
// page and what the play, add and download actions read back.
#pragma once

#include <QString>

struct SearchResult
{
    QString songId; // row text; never empty and never "0"
    QString title;  // column 1
    QString singer; // column 2
    QString album;  // column 3: "《" + name + "》", or empty
    bool ticked = false;

    bool operator==(const SearchResult &) const = default;
};
