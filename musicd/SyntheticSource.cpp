#include "musicd/SyntheticSource.h"

#include "musicd/LyricFile.h"
#include "musicd/SingerPage.h"
#include "musicd/Tune.h"

namespace musicd {
namespace {

// A handful of songs of up to 90 s each (about 4 MB apiece) stay rendered.
constexpr qint64 kAudioCacheBytes = 48 * 1024 * 1024;
constexpr qint64 kSmallCacheBytes = 8 * 1024 * 1024;

const char kText[] = "text/plain; charset=utf-8";
const char kWav[] = "audio/wav";
const char kJpeg[] = "image/jpeg";

} // namespace

SyntheticSource::SyntheticSource() : m_audio(kAudioCacheBytes), m_small(kSmallCacheBytes) {}

SearchPage SyntheticSource::search(const QString &query, qint64 page, int rowsPerPage) const
{
    return m_catalogue.search(query, page, rowsPerPage);
}

std::optional<Song> SyntheticSource::songById(qint64 id) const
{
    return m_catalogue.songById(id);
}

std::optional<SingerEntry> SyntheticSource::singerByName(const QString &name) const
{
    const Singer *singer = m_catalogue.singerByName(name);
    if (!singer)
        return std::nullopt;
    SingerEntry entry{*singer, {}};
    for (const Song &s : m_catalogue.songs()) {
        if (s.singer == singer->name && entry.songs.size() < kSongsListed)
            entry.songs.append(s);
    }
    return entry;
}

std::optional<Payload> SyntheticSource::lyric(qint64 id)
{
    const std::optional<Song> song = m_catalogue.songById(id);
    if (!song || !song->hasLyrics)
        return std::nullopt;
    const std::string key = "lrc:" + std::to_string(song->id);
    ByteCache::Value value = m_small.find(key);
    if (!value)
        value = m_small.insert(key, lyricFile(*song, Tune(song->id, !song->latin)));
    return Payload{value, nullptr, kText};
}

std::optional<Payload> SyntheticSource::audio(qint64 id, const QString &suffix)
{
    const std::optional<Song> song = m_catalogue.songById(id);
    if (!song || suffix != QLatin1String("wav"))
        return std::nullopt;
    const std::string key = std::to_string(song->id);
    ByteCache::Value value = m_audio.find(key);
    if (!value)
        value = m_audio.insert(key, Tune(song->id, !song->latin).renderWav());
    return Payload{value, nullptr, kWav};
}

std::optional<Payload> SyntheticSource::picture(const QString &key)
{
    const Singer *singer = m_catalogue.singerByPictureKey(key);
    if (!singer)
        return std::nullopt;
    const std::string cacheKey = "pic:" + key.toStdString();
    ByteCache::Value value = m_small.find(cacheKey);
    if (!value) {
        QByteArray jpeg = singerPictureJpeg(m_catalogue.singerIndexOf(singer));
        if (jpeg.isEmpty())
            return std::nullopt;
        value = m_small.insert(cacheKey, std::move(jpeg));
    }
    return Payload{value, nullptr, kJpeg};
}

} // namespace musicd
