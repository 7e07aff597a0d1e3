// One playlist entry as the playlist control stores it. Selection and the
// playing item are indexes of the control (listIndex, playIndex), not fields
// here. The main window keeps the service's song ID in url and hands it to
// the song-link request when the item is played.
#pragma once

#include <QString>

// Author given to an item added without one (the control's own spelling).
inline constexpr char16_t kUnknownAuthor[] = u"UnKnow";

struct PlaylistItem
{
    QString title;
    QString author;
    // Stored exactly as addItem received it; nothing reads it back.
    QString duration;
    // Text of the time cell; addItem leaves it empty.
    QString timeText;
    QString url;
    bool itemError = false;
};
