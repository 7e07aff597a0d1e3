// Asking the service for a song's playable link. The same answer names the
// song's lyric file, which is loaded before the link is returned.
#pragma once

#include "service/LyricsView.h"

#include <QString>

namespace GetMusicList {

// Transport failures of the two requests of one ResolveSongLink call; empty
// when the request succeeded or was not made.
struct ResolveErrors
{
    QString link;
    QString lyrics;
};

// A song ID as it goes into the link URL: ASCII letters, digits and "-_."
// stay, every other byte of its UTF-8 form is percent-escaped, so an ID cut
// from a page cannot add query parameters of its own.
QString EncodeSongId(const QString &songId);

// resource 102 + ID + "&songArtist=" + UrlEncode(artist) + "&songTitle="
// + UrlEncode(title).
QString LinkRequestUrl(const QString &songId, const QString &artist, const QString &title);

// The playable link in a link answer, escaped slashes made plain; empty when
// the answer has no link marker.
QString CutSongLink(const QString &answer);

// Fetches the link answer, runs LoadLyrics on it, then cuts the link.
QString ResolveSongLink(const QString &songId, const QString &artist, const QString &title,
                        LyricsView &lyrics, ResolveErrors *errors = nullptr);

} // namespace GetMusicList
