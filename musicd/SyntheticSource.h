// The built-in catalogue as a MusicSource: songs made up from word pools,
// their audio, lyrics and singer pictures computed on demand and cached in
// memory (bounded). What velmor-musicd serves without a library.
#pragma once

#include "musicd/ByteCache.h"
#include "musicd/Catalogue.h"
#include "musicd/MusicSource.h"

namespace musicd {

class SyntheticSource : public MusicSource
{
public:
    SyntheticSource();

    const Catalogue &catalogue() const { return m_catalogue; }

    SearchPage search(const QString &query, qint64 page, int rowsPerPage) const override;
    std::optional<Song> songById(qint64 id) const override;
    std::optional<SingerEntry> singerByName(const QString &name) const override;
    std::optional<Payload> lyric(qint64 id) override;
    std::optional<Payload> audio(qint64 id, const QString &suffix) override;
    std::optional<Payload> picture(const QString &key) override;

private:
    Catalogue m_catalogue;
    ByteCache m_audio;
    ByteCache m_small; // lyrics and pictures
};

} // namespace musicd
