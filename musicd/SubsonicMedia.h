// The Subsonic endpoints that hand over media: stream and download (the file
// itself, byte for byte; maxBitRate and format are ignored, as the API lets
// a server that does not transcode), getCoverArt (the song's, album's or
// artist's picture, scaled down to `size` keeping its shape), the lyrics
// (plain by artist and title; OpenSubsonic's structured lines by song,
// synced when the lyric has times) and the artist's info with picture URLs on getCoverArt.
#pragma once

#include "musicd/ByteCache.h"
#include "musicd/LyricText.h"
#include "musicd/MusicSource.h"
#include "musicd/SubsonicApi.h"
#include "musicd/library/ApiLibrary.h"

namespace musicd {

class SubsonicMedia
{
public:
    // library may be null (the built-in catalogue): then songs are found by
    // their ID alone. Both must outlive this.
    SubsonicMedia(ApiLibrary *library, MusicSource &media);

    static bool answers(const QString &endpoint);
    SubsonicResult answer(const QString &endpoint, const SubsonicCall &call);

private:
    SubsonicResult stream(const SubsonicCall &call);
    SubsonicResult coverArt(const SubsonicCall &call);
    SubsonicResult lyrics(const SubsonicCall &call);
    SubsonicResult lyricsBySongId(const SubsonicCall &call);
    SubsonicResult artistInfo(const SubsonicCall &call, bool id3);

    // A song's lyric lines, with their times when the lyric has them
    // (synced); none when it has no lyric.
    struct LyricLines
    {
        bool synced = false;
        QList<LyricText::TimedLine> lines;
    };
    LyricLines lyricLines(qint64 songId);
    // The song whose picture stands for a song, album or artist ID; 0 none.
    qint64 pictureSong(const QString &id, const QString &user) const;

    ApiLibrary *m_library;
    MusicSource &m_media;
    ByteCache m_scaled; // pictures scaled to a requested size
};

} // namespace musicd
