// Asking the service for a song's playable link. The same answer names the
// song's lyric file, which is loaded before the link is returned.
#pragma once

#include "service/LyricsView.h"

#include <QString>

namespace musicservice {

// Transport failures of the two requests of one resolveSongLink call; empty
// when the request succeeded or was not made.
struct ResolveErrors
{
    QString link;
    QString lyrics;
};

// A song ID as it goes into the link URL: ASCII letters, digits and "-_."
// stay, every other byte of its UTF-8 form is percent-escaped, so an ID cut
// from a page cannot add query parameters of its own.
QString encodeSongId(const QString &songId);

// resource 102 + ID + "&songArtist=" + urlEncode(artist) + "&songTitle="
// + urlEncode(title).
QString linkRequestUrl(const QString &songId, const QString &artist, const QString &title);

// The playable link in a link answer, escaped slashes made plain; empty when
// the answer has no link marker.
QString cutSongLink(const QString &answer);

// Whether a link from the service may reach the player: an http or https
// URL with a host. A local file (file:, an absolute path) or any other
// scheme in a remote answer is refused: local files are the user's own
// choice, never the service's.
bool isServiceLink(const QString &link);

// Fetches the link answer, runs loadLyrics on it, then cuts the link; ""
// when the answer has none or its link is no service link.
QString resolveSongLink(const QString &songId, const QString &artist, const QString &title,
                        LyricsView &lyrics, ResolveErrors *errors = nullptr);

} // namespace musicservice
