// Index rules of the playlist and result-list commands: which item plays
// after a delete, and which result rows go into the playlist in what order.
// Pure functions over indexes and tick states, so the menu handlers only
// apply what they return.
#pragma once

#include <QList>
#include <optional>

namespace PlaylistCommands {

struct DeleteOutcome
{
    bool remove = false;          // the command applies at all
    int currentPlayIndex = -1;    // the new currentPlayIndex
    std::optional<int> playIndex; // the item to mark and play, if any remains
};

// removeSelectedAction: the item at `mouseIndex` is removed from a list of `countBefore`
// items, then a neighbour plays. While an item other than the first was
// playing, the item above the deleted one plays; while the first was
// playing, the last item of the shortened list plays. This happens whether
// or not the deleted item was the playing one, which is intended.
// A mouseIndex that names no item means there is nothing to delete: the
// command does nothing. Deleting the first item while a later one plays
// plays the new first item rather than an index of -1. When the list is
// empty afterwards nothing is played.
DeleteOutcome deleteOne(int currentPlayIndex, int mouseIndex, int countBefore);

struct AddOutcome
{
    QList<int> rows;   // rows to append to the playlist, in this order
    QList<bool> ticks; // the tick states afterwards
};

// addToPlaylistAction: every ticked row in list order (each unticked afterwards),
// then the selected row whether or not it was ticked (its tick unchanged),
// so a selected row that was ticked goes in twice, which is intended.
// With no selected row (-1 or out of range) only the ticked rows go in.
AddOutcome addToPlaylist(const QList<bool> &ticks, int selectedRow);

} // namespace PlaylistCommands
