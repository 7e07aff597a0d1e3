// One playlist entry as the playlist control stores it. Selection and the
// playing item are indexes of the control (ListIndex, PlayIndex), not fields
// here. The main window keeps the service's song ID in URL and hands it to
// the song-link request when the item is played.
#pragma once

#include <QString>

// Author given to an item added without one (the control's own spelling).
inline constexpr char16_t kUnknownAuthor[] = u"UnKnow";

struct PlaylistItem
{
    QString Title;
    QString Author;
    // Stored exactly as AddItem received it; nothing reads it back.
    QString LongTime;
    // Text of the time cell; AddItem leaves it empty.
    QString StrTime;
    QString URL;
    bool ItemError = false;
};
