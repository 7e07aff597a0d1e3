// The user's own music folders as a MusicSource. Searches and song facts
// come from the LibraryIndex; audio is the indexed file itself, byte for
// byte; lyrics are a sidecar .lrc beside the file or the file's embedded
// lyrics; a singer's picture is an artist/folder/cover image in the album or
// artist folder, else an embedded cover of one of the singer's tracks.
//
// No request text ever becomes a path, but for the files this user's own
// player hands over (addFiles, behind the service's per-run secret): an ID
// picks an indexed track, and its path is checked again (resolved, still
// under a root or among the handed-over files) before opening.
#pragma once

#include "musicd/ByteCache.h"
#include "musicd/MusicSource.h"
#include "musicd/library/LibraryIndex.h"
#include "musicd/library/LibraryScanner.h"

#include <atomic>

namespace musicd {

class LibrarySource : public MusicSource
{
public:
    // Both must outlive the source.
    LibrarySource(const LibraryIndex &index, LibraryScanner &scanner);

    SearchPage search(const QString &query, qint64 page, int rowsPerPage) const override;
    std::optional<Song> songById(qint64 id) const override;
    std::optional<SingerEntry> singerByName(const QString &name) const override;
    std::optional<Payload> lyric(qint64 id) override;
    std::optional<QString> writtenLyric(qint64 id) override;
    std::optional<Payload> audio(qint64 id, const QString &suffix) override;
    std::optional<Payload> picture(const QString &key) override;
    std::optional<Payload> cover(qint64 id) override;
    std::optional<QList<Song>> addFiles(const std::string &path) override;

    // Called after each scan pass that changed something: cached lyrics and
    // pictures of earlier files are not served again.
    void libraryChanged() { ++m_generation; }

    static std::string contentTypeOf(const QString &suffix);

private:
    // The track's path if it still resolves to somewhere under a root.
    std::optional<std::string> safePath(const IndexedTrack &track) const;
    QString lyricOf(const IndexedTrack &track) const;
    std::string sidecarLyricPath(const std::string &audioPath) const;
    // The picture file or embedded cover to show for a track; empty if none.
    QByteArray pictureBytesFor(const IndexedTrack &track) const;
    bool hasPicture(const IndexedTrack &track) const;
    std::string cacheKey(const char *kind, qint64 id) const;

    const LibraryIndex &m_index;
    LibraryScanner &m_scanner;
    ByteCache m_small; // lyrics and pictures
    std::atomic<quint64> m_generation{0};
};

} // namespace musicd
