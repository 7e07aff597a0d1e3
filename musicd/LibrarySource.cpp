#include "musicd/LibrarySource.h"

#include "musicd/LyricText.h"
#include "musicd/SingerPage.h"
#include "musicd/library/TagReader.h"

#include <QFile>
#include <dirent.h>
#include <sys/stat.h>

namespace musicd {
namespace {

constexpr qint64 kSmallCacheBytes = 8 * 1024 * 1024;
// Larger sidecar lyrics or picture files are not lyrics or pictures.
constexpr qint64 kMaxLyricFileBytes = 1024 * 1024;
constexpr qint64 kMaxPictureFileBytes = 32 * 1024 * 1024;
// Tracks of a singer looked at for a picture and listed on the page.
constexpr int kSingerTracksLooked = 50;

const char kText[] = "text/plain; charset=utf-8";
const char kJpeg[] = "image/jpeg";

std::string parentOf(const std::string &path)
{
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

QByteArray readSmallFile(const std::string &path, qint64 maxBytes)
{
    const std::shared_ptr<const OpenFile> file =
        OpenFile::open(QFile::decodeName(QByteArray::fromStdString(path)));
    if (!file || file->size() <= 0 || file->size() > maxBytes)
        return QByteArray();
    QByteArray bytes(file->size(), Qt::Uninitialized);
    if (file->read(0, bytes.data(), bytes.size()) != bytes.size())
        return QByteArray();
    return bytes;
}

} // namespace

LibrarySource::LibrarySource(const LibraryIndex &index, LibraryScanner &scanner)
    : m_index(index), m_scanner(scanner), m_small(kSmallCacheBytes)
{
}

std::string LibrarySource::contentTypeOf(const QString &suffix)
{
    if (suffix == QLatin1String("mp3"))
        return "audio/mpeg";
    if (suffix == QLatin1String("flac"))
        return "audio/flac";
    if (suffix == QLatin1String("ogg") || suffix == QLatin1String("oga") ||
        suffix == QLatin1String("opus"))
        return "audio/ogg";
    if (suffix == QLatin1String("m4a") || suffix == QLatin1String("mp4") ||
        suffix == QLatin1String("m4b"))
        return "audio/mp4";
    if (suffix == QLatin1String("wav"))
        return "audio/wav";
    return "application/octet-stream";
}

std::string LibrarySource::cacheKey(const char *kind, qint64 id) const
{
    return std::string(kind) + ":" + std::to_string(m_generation.load()) + ":" + std::to_string(id);
}

std::optional<std::string> LibrarySource::safePath(const IndexedTrack &track) const
{
    const std::string real = LibraryScanner::canonical(track.path);
    if (real.empty() || !m_scanner.isServed(real))
        return std::nullopt;
    return real;
}

std::string LibrarySource::sidecarLyricPath(const std::string &audioPath) const
{
    const std::string::size_type dot = audioPath.rfind('.');
    const std::string stem = dot == std::string::npos ? audioPath : audioPath.substr(0, dot);
    for (const char *suffix : {".lrc", ".LRC", ".Lrc"}) {
        const std::string candidate = stem + suffix;
        struct stat st
        {
        };
        if (::stat(candidate.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        const std::string real = LibraryScanner::canonical(candidate);
        if (!real.empty() && m_scanner.isServed(real))
            return candidate;
    }
    return std::string();
}

SearchPage LibrarySource::search(const QString &query, qint64 page, int rowsPerPage) const
{
    return m_index.search(query, page, rowsPerPage);
}

std::optional<Song> LibrarySource::songById(qint64 id) const
{
    const std::optional<IndexedTrack> track = m_index.track(id);
    if (!track)
        return std::nullopt;
    Song song = LibraryIndex::songOf(*track);
    // A sidecar may have been added after the scan; looking costs a stat.
    song.hasLyrics = track->hasLyrics || !sidecarLyricPath(track->path).empty();
    return song;
}

std::optional<SingerEntry> LibrarySource::singerByName(const QString &name) const
{
    const QList<IndexedTrack> tracks =
        m_index.tracksOfArtist(LibraryIndex::looseKey(name), kSingerTracksLooked);
    if (tracks.isEmpty())
        return std::nullopt;
    SingerEntry entry;
    entry.singer.name = tracks.front().artist;
    // The picture key is the ID (hex) of the track whose picture is shown.
    entry.singer.pictureKey = QString::number(tracks.front().id, 16);
    for (const IndexedTrack &t : tracks) {
        if (hasPicture(t)) {
            entry.singer.hasPicture = true;
            entry.singer.pictureKey = QString::number(t.id, 16);
            break;
        }
    }
    for (const IndexedTrack &t : tracks) {
        if (entry.songs.size() >= kSongsListed)
            break;
        entry.songs.append(LibraryIndex::songOf(t));
    }
    return entry;
}

bool LibrarySource::hasPicture(const IndexedTrack &track) const
{
    if (track.hasCover)
        return true;
    const std::string albumDir = parentOf(track.path);
    if (!LibraryScanner::pictureFileIn(albumDir).empty())
        return true;
    const std::string artistDir = parentOf(albumDir);
    // The artist folder counts only inside a root, and not the root itself
    // (a picture there belongs to no one singer).
    const std::string real = LibraryScanner::canonical(artistDir);
    bool isRoot = false;
    for (const std::string &root : m_scanner.roots())
        isRoot = isRoot || real == root;
    return !isRoot && m_scanner.isUnderRoots(real) &&
           !LibraryScanner::pictureFileIn(artistDir).empty();
}

QByteArray LibrarySource::pictureBytesFor(const IndexedTrack &track) const
{
    const std::string albumDir = parentOf(track.path);
    std::string file = LibraryScanner::pictureFileIn(albumDir);
    if (file.empty()) {
        const std::string artistDir = parentOf(albumDir);
        const std::string real = LibraryScanner::canonical(artistDir);
        bool isRoot = false;
        for (const std::string &root : m_scanner.roots())
            isRoot = isRoot || real == root;
        if (!isRoot && m_scanner.isUnderRoots(real))
            file = LibraryScanner::pictureFileIn(artistDir);
    }
    if (!file.empty()) {
        const std::string real = LibraryScanner::canonical(file);
        if (!real.empty() && m_scanner.isServed(real)) {
            const QByteArray bytes = readSmallFile(real, kMaxPictureFileBytes);
            if (!bytes.isEmpty())
                return bytes;
        }
    }
    if (track.hasCover) {
        if (const std::optional<std::string> path = safePath(track))
            return TagReader::cover(QFile::decodeName(QByteArray::fromStdString(*path)));
    }
    return QByteArray();
}

std::optional<Payload> LibrarySource::lyric(qint64 id)
{
    const std::optional<IndexedTrack> track = m_index.track(id);
    if (!track)
        return std::nullopt;
    const std::string key = cacheKey("lrc", id);
    if (ByteCache::Value value = m_small.find(key))
        return Payload{value, nullptr, kText};
    QByteArray lrc = LyricText::served(lyricOf(*track), track->durationSeconds);
    if (lrc.isEmpty())
        return std::nullopt;
    return Payload{m_small.insert(key, std::move(lrc)), nullptr, kText};
}

std::optional<QString> LibrarySource::writtenLyric(qint64 id)
{
    const std::optional<IndexedTrack> track = m_index.track(id);
    if (!track)
        return std::nullopt;
    return lyricOf(*track);
}

QString LibrarySource::lyricOf(const IndexedTrack &track) const
{
    // The sidecar first, when it has a line to show; else the file's own.
    const std::string sidecar = sidecarLyricPath(track.path);
    if (!sidecar.empty()) {
        const QString text = LyricText::decode(readSmallFile(sidecar, kMaxLyricFileBytes));
        if (!LyricText::plainLines(text).isEmpty())
            return text;
    }
    if (track.hasLyrics) {
        if (const std::optional<std::string> path = safePath(track))
            return TagReader::lyrics(QFile::decodeName(QByteArray::fromStdString(*path)));
    }
    return QString();
}

std::optional<QList<Song>> LibrarySource::addFiles(const std::string &path)
{
    const std::string real = LibraryScanner::canonical(path);
    if (real.empty())
        return QList<Song>();
    bool changed = false;
    const std::vector<qint64> ids = m_scanner.addFiles(
        LibraryScanner::audioFilesAt(real, LibraryScanner::kMaxAddedAtOnce), &changed);
    if (changed)
        libraryChanged();
    QList<Song> songs;
    for (const qint64 id : ids) {
        if (const std::optional<Song> song = id > 0 ? songById(id) : std::nullopt)
            songs.append(*song);
    }
    return songs;
}

std::optional<Payload> LibrarySource::audio(qint64 id, const QString &suffix)
{
    const std::optional<IndexedTrack> track = m_index.track(id);
    if (!track || LibraryIndex::songOf(*track).audioSuffix != suffix)
        return std::nullopt;
    const std::optional<std::string> path = safePath(*track);
    if (!path)
        return std::nullopt;
    std::shared_ptr<const OpenFile> file =
        OpenFile::open(QFile::decodeName(QByteArray::fromStdString(*path)));
    if (!file)
        return std::nullopt;
    return Payload{nullptr, std::move(file), contentTypeOf(suffix)};
}

std::optional<Payload> LibrarySource::picture(const QString &key)
{
    bool ok = false;
    const qint64 id = key.toLongLong(&ok, 16);
    if (!ok || id <= 0)
        return std::nullopt;
    const std::string cache = cacheKey("pic", id);
    if (ByteCache::Value value = m_small.find(cache))
        return Payload{value, nullptr, kJpeg};
    const std::optional<IndexedTrack> track = m_index.track(id);
    if (!track)
        return std::nullopt;
    QByteArray jpeg = singerPictureFromImage(pictureBytesFor(*track));
    if (jpeg.isEmpty())
        return std::nullopt;
    return Payload{m_small.insert(cache, std::move(jpeg)), nullptr, kJpeg};
}

std::optional<Payload> LibrarySource::cover(qint64 id)
{
    const std::string cache = cacheKey("cover", id);
    if (ByteCache::Value value = m_small.find(cache))
        return Payload{value, nullptr, value->startsWith("\x89PNG") ? "image/png" : kJpeg};
    const std::optional<IndexedTrack> track = m_index.track(id);
    if (!track)
        return std::nullopt;
    QByteArray bytes = pictureBytesFor(*track);
    if (bytes.isEmpty())
        return std::nullopt;
    const std::string type = bytes.startsWith("\x89PNG") ? "image/png" : kJpeg;
    return Payload{m_small.insert(cache, std::move(bytes)), nullptr, type};
}

} // namespace musicd
