// What the HTTP layer serves, whoever keeps the music: the built-in
// synthetic catalogue (SyntheticSource) or the user's own folders
// (LibrarySource). The routes, the page markers and the Range handling live
// once in MusicService; a source only answers questions about songs and
// hands over bytes. Every method is called from many request threads at once.
#pragma once

#include "musicd/ByteCache.h"
#include "musicd/Catalogue.h"
#include "musicd/library/OpenFile.h"

#include <QList>
#include <QString>
#include <memory>
#include <optional>
#include <string>

namespace musicd {

// A singer as the singer page shows it: picture or not, a few songs.
struct SingerEntry
{
    Singer singer;
    QList<Song> songs; // listed on the page, at most a handful
};

// Bytes to send: held in memory or read from an open file.
struct Payload
{
    ByteCache::Value bytes;
    std::shared_ptr<const OpenFile> file;
    std::string contentType;

    qint64 size() const { return bytes ? bytes->size() : file ? file->size() : 0; }
};

class MusicSource
{
public:
    virtual ~MusicSource() = default;

    // Songs matching every whitespace-separated word of the query (each a
    // case-insensitive substring of the title, singer or album); page counts
    // from 1.
    virtual SearchPage search(const QString &query, qint64 page, int rowsPerPage) const = 0;
    virtual std::optional<Song> songById(qint64 id) const = 0;
    // Names compare ignoring case and everything but letters and digits.
    virtual std::optional<SingerEntry> singerByName(const QString &name) const = 0;

    // None when the song is unknown or has no such thing.
    virtual std::optional<Payload> lyric(qint64 id) = 0;
    virtual std::optional<Payload> audio(qint64 id, const QString &suffix) = 0;
    virtual std::optional<Payload> picture(const QString &key) = 0;
    // The song's lyric as written, LRC or plain lines, before plain lines
    // are given times; none by default (then only lyric() says it).
    virtual std::optional<QString> writtenLyric(qint64 id)
    {
        (void)id;
        return std::nullopt;
    }
    // The song's own picture as found (folder file or embedded cover), not
    // scaled; none by default.
    virtual std::optional<Payload> cover(qint64 id)
    {
        (void)id;
        return std::nullopt;
    }

    // Takes the audio file at path, or the audio files under the folder at
    // path, into what is served, and gives their songs in order (none when
    // there is no readable audio file there). nullopt: this source serves
    // no files of the user's.
    virtual std::optional<QList<Song>> addFiles(const std::string &path)
    {
        (void)path;
        return std::nullopt;
    }
};

} // namespace musicd
