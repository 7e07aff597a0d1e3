// The texts the clock timer shows: the position as mm:ss.hh, the lyric line
// for the playing second and the shortened status for the status box. Pure
// functions of the player's values, so the timer tick only reads the player
// and writes the results.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace PlaybackClock {

// The status box shows at most this many characters of the player's status
// before cutting it off with "...".
constexpr int kStatusMaxChars = 35;

// The position in seconds as "mm:ss.hh": rounded to hundredths, minutes and
// seconds two digits each. 65.43 gives "01:05.43", 0 gives "00:00.00". A
// negative or non-finite position counts as 0; an hour or more simply gives
// more minutes ("166:40.00").
QString formatPosition(double seconds);

// The "mm:ss" key the lyric scan looks for: the first five characters of a
// formatted position.
QString lyricKey(const QString &positionText);

// The lyric line for a key: every entry that contains the key anywhere is a
// hit, and the text after the LAST "]" of the LAST hit is the answer. Later
// entries win on purpose, so of two lines tagged with the same second the
// later one shows. An entry that is only a tag gives "" (the line empties).
// The line break that ends an entry is dropped: the lyric box is one line.
// No hit gives nothing: the line keeps what it shows.
std::optional<QString> lyricLineFor(const QStringList &entries, const QString &key);

// The status as the status box shows it: whole up to kStatusMaxChars
// characters, longer ones cut to that many and followed by "...". A cut never
// splits a surrogate pair.
QString shortStatus(const QString &status);

// "position/length status" for the status box; the status is shortened.
QString statusBoxText(const QString &position, const QString &length, const QString &status);

// "position/length   status" for the status label; never shortened.
QString statusLabelText(const QString &position, const QString &length, const QString &status);

} // namespace PlaybackClock
