#include "player/PlaylistCommands.h"

namespace PlaylistCommands {

DeleteOutcome deleteOne(int currentPlayIndex, int mouseIndex, int countBefore)
{
    DeleteOutcome out;
    if (mouseIndex < 0 || mouseIndex >= countBefore)
        return out;
    out.remove = true;
    const int countAfter = countBefore - 1;
    int next = currentPlayIndex > 0 ? mouseIndex - 1 : countAfter - 1;
    if (countAfter <= 0) {
        out.currentPlayIndex = -1;
        return out;
    }
    if (next < 0)
        next = 0;
    out.currentPlayIndex = next;
    out.playIndex = next;
    return out;
}

AddOutcome addToPlaylist(const QList<bool> &ticks, int selectedRow)
{
    AddOutcome out;
    out.ticks = ticks;
    for (int row = 0; row < ticks.size(); ++row) {
        if (ticks.at(row)) {
            out.rows.append(row);
            out.ticks[row] = false;
        }
    }
    if (selectedRow >= 0 && selectedRow < ticks.size())
        out.rows.append(selectedRow);
    return out;
}

} // namespace PlaylistCommands
