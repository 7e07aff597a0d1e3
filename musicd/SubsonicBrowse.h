// The Subsonic endpoints that browse, list, search and keep the user's own
// state (stars, plays, playlists), over the library's ApiLibrary. Each turns
// its parameters into one library call and the records into the API's
// elements; a missing parameter is error 10, an unknown ID 70.
#pragma once

#include "musicd/SubsonicApi.h"
#include "musicd/library/ApiLibrary.h"

namespace musicd {

class SubsonicBrowse
{
public:
    // The one music folder: the library's folders are served as one.
    static constexpr int kFolderId = 1;

    // The library must outlive this.
    explicit SubsonicBrowse(ApiLibrary &library) : m_library(library) {}

    static bool answers(const QString &endpoint);
    SubsonicResult answer(const QString &endpoint, const SubsonicCall &call);

private:
    SubsonicResult musicFolders() const;
    SubsonicResult indexes(const SubsonicCall &call, bool id3) const;
    SubsonicResult artist(const SubsonicCall &call) const;
    SubsonicResult album(const SubsonicCall &call) const;
    SubsonicResult song(const SubsonicCall &call) const;
    SubsonicResult directory(const SubsonicCall &call) const;
    SubsonicResult albumList(const SubsonicCall &call, bool id3) const;
    SubsonicResult randomSongs(const SubsonicCall &call) const;
    SubsonicResult genres() const;
    SubsonicResult songsByGenre(const SubsonicCall &call) const;
    SubsonicResult search(const SubsonicCall &call, bool id3) const;
    SubsonicResult playlists(const SubsonicCall &call) const;
    SubsonicResult playlist(const SubsonicCall &call) const;
    SubsonicResult createPlaylist(const SubsonicCall &call);
    SubsonicResult updatePlaylist(const SubsonicCall &call);
    SubsonicResult deletePlaylist(const SubsonicCall &call);
    SubsonicResult star(const SubsonicCall &call, bool starred);
    SubsonicResult starredList(const SubsonicCall &call, bool id3) const;
    SubsonicResult scrobble(const SubsonicCall &call);

    // Why the caller may not change a playlist: 70 unknown, 50 not theirs.
    SubsonicResult playlistRefusal(const SubsonicCall &call, qint64 id) const;

    ApiLibrary &m_library;
};

} // namespace musicd
