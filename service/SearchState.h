// The state of the search module. There is exactly one instance, owned by
// the module and shared with the window: the stop buttons clear
// searchInProgress, the status timer reads both flags, the add-to-playlist
// action sets playlistAddInProgress.
#pragma once

#include <QString>

struct SearchState
{
    // Set at start-up although no search runs, so that the player status
    // does not overwrite the status line before the first search has ended.
    bool searchInProgress = true;
    bool playlistAddInProgress = false;
    int searchPage = 1;
    QString searchPageCount;
    int firstPageMarker = 1; // kFirstPage or kLaterPage
    QString encodedQuery;

    // Bumped by every searchSongs call. A loop that finds a newer number
    // after its wait knows a newer search owns the list and drops its page.
    quint64 generation = 0;

    static constexpr int kFirstPage = 1; // next page parsed is a search's first
    static constexpr int kLaterPage = 5; // next page parsed is a later one
};

namespace musicservice {

// The module's one search state.
SearchState &searchState();

} // namespace musicservice
