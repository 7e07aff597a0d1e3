// The answer of the link endpoint: a JSON object whose "url" member holds
// the song's audio link and whose "lyric_url" member its LRC file, both with
// every slash escaped as "\/". The player cuts both with plain substring
// operations, so three shapes are served on purpose (chosen by the song's
// catalogue position): the link followed by an "&src=\/…" parameter or
// closed by a quote and a comma, the lyric member before or after the link
// member, and a lyric URL ending in ".lrc" or ".LRC". The lyric URL value is
// always followed by a comma; a song without lyrics has "lyric_url":"".
#pragma once

#include "musicd/Catalogue.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace musicd {

// host is "name:port" as the client addressed the service. An unknown song
// gets an answer with status 0, an empty lyric URL and no link member.
QByteArray linkAnswerJson(const std::optional<Song> &song, const QString &host);

// Shape choices, by catalogue or synthetic row index.
bool linkHasSrcParameter(const Song &song);
bool lyricMemberFirst(const Song &song);
bool lyricExtensionUpperCase(const Song &song);

// Paths the answer points at.
QString audioPath(const Song &song);
QString lyricPath(const Song &song);

} // namespace musicd
