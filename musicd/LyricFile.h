// The LRC lyric of a song: UTF-8 with CR LF line ends, [ti:], [ar:] and
// [al:] header lines, then one [mm:ss.xx] line per sung phrase of the
// song's Tune. The chorus lines, sung twice, carry both time tags on one
// line ("[00:12.00][00:31.20]…"), as LRC files usually do.
#pragma once

#include "musicd/Catalogue.h"

#include <QByteArray>

namespace musicd {

class Tune;

QByteArray lyricFile(const Song &song, const Tune &tune);

// "[mm:ss.xx]" for a time in seconds.
QString lrcTimeTag(double seconds);

} // namespace musicd
