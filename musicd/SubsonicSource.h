// A Subsonic server as a MusicSource: velmor-musicd --subsonic serves the
// player's protocol from the songs of Navidrome-style servers (and of
// velmor-musicd's own Subsonic API), so the player needs no change.
//
// Search pages come from search3, lyrics from getLyricsBySongId (synced
// lines become LRC) or else getLyrics (plain text, spread over the song),
// singer pictures from getCoverArt. Audio never passes through here: the
// link answer points at the server's own stream URL, signed for the player.
// The player's numeric song IDs map to the server's string IDs through
// SubsonicIds (hashed, so a song keeps its number across runs, but known
// only once a search or singer page of this run has shown it).
#pragma once

#include "musicd/ByteCache.h"
#include "musicd/MusicSource.h"
#include "subsonic/SubsonicAnswer.h"
#include "subsonic/SubsonicClient.h"
#include "subsonic/SubsonicIds.h"

#include <memory>

namespace musicd {

class SubsonicSource : public MusicSource
{
public:
    // Search results beyond this many are not listed: the server gives no
    // total, so every search counts its matches by asking for them.
    static constexpr int kMaxListed = 2000;
    static constexpr int kBatch = 200;

    explicit SubsonicSource(std::unique_ptr<subsonic::SubsonicClient> client);

    // Asks the server's ping: empty when it answers as it should, else a
    // message for the user (unreachable, wrong user name or password, not
    // a Subsonic server).
    static QString check(subsonic::SubsonicClient &client, const QString &baseUrl,
                         const QString &user);
    // The source velmor-musicd --subsonic serves: the address checked, the
    // password read from the first line of a file only its owner can read,
    // the server asked whether it knows the user. caFile (may be empty)
    // holds certificates an https server is trusted by beside the system's.
    // Null, with the reason in error, when any of that fails.
    static std::unique_ptr<SubsonicSource> open(const QString &baseUrl, const QString &user,
                                                const QString &passwordFile, const QString &caFile,
                                                QString *error);

    SearchPage search(const QString &query, qint64 page, int rowsPerPage) const override;
    std::optional<Song> songById(qint64 id) const override;
    std::optional<SingerEntry> singerByName(const QString &name) const override;
    std::optional<Payload> lyric(qint64 id) override;
    // Always none: the link sends the player to the server for audio.
    std::optional<Payload> audio(qint64 id, const QString &suffix) override;
    std::optional<Payload> picture(const QString &key) override;

private:
    Song songOf(qint64 id, const subsonic::SongFacts &facts) const;
    Song remember(const subsonic::SongFacts &facts) const;
    QByteArray lyricOf(const QString &serverId, const subsonic::SongFacts &facts) const;

    std::unique_ptr<subsonic::SubsonicClient> m_client;
    mutable subsonic::SubsonicIds<subsonic::SongFacts> m_songs;
    mutable subsonic::SubsonicIds<int> m_covers; // cover-art IDs behind picture keys
    ByteCache m_pictures;                        // the served JPEGs
};

} // namespace musicd
