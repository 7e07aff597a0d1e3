#!/usr/bin/python3
"""velmor-musicd's Subsonic API through the Subsonic adapter of Debian's
sublime-music (a GTK client), imported headless: no window is opened, the
adapter's own requests and its own strict parsing of the answers are what is
tested.

    VELMOR_MUSICD=... VELMOR_SUBSONIC_LIBRARY=... /usr/bin/python3 gtk_client_test.py

The library is written by subsonic_library, which prints what it holds; the
expectations are computed from that.
"""
import json
import os
import pathlib
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

try:
    import requests
    from sublime_music.adapters import AlbumSearchQuery, ConfigurationStore
    from sublime_music.adapters.subsonic import SubsonicAdapter
except ImportError as e:
    sys.exit(f"sublime-music is not installed ({e}); run scripts/setup-deps.sh test")


def unique(values):
    return sorted(set(values))


class GtkClientTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        musicd = os.environ["VELMOR_MUSICD"]
        cls.work = tempfile.TemporaryDirectory(prefix="velmor-gtk-client-")
        root = pathlib.Path(cls.work.name, "music")
        made = subprocess.run([os.environ["VELMOR_SUBSONIC_LIBRARY"], str(root)],
                              check=True, capture_output=True, text=True)
        cls.library = json.loads(made.stdout)
        cls.tracks = cls.library["tracks"]
        cls.service = subprocess.Popen(
            [musicd, "--library", str(root), "--index", str(root.parent / "index.sqlite"),
             "--port", "0", "--rescan", "0"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            cls.url = cls.wait_for_service()
        except Exception:
            cls.tearDownClass()
            raise

        config = ConfigurationStore(server_address=cls.url, username="velmor",
                                    verify_cert=True, salt_auth=True, sync_enabled=False)
        config.set_secret("password", "unused")
        cls.adapter = SubsonicAdapter(config, pathlib.Path(cls.work.name))

    @classmethod
    def wait_for_service(cls):
        url = cls.service.stdout.readline().strip()
        if not url.startswith("http://"):
            raise RuntimeError(f"velmor-musicd did not start: {url!r}")
        # The request log goes on after the URL line; nobody reads it.
        cls.service.stdout.close()
        deadline = time.monotonic() + 60
        while True:
            with urllib.request.urlopen(url + "/status") as answer:
                status = json.load(answer)
            if status.get("library") and not status.get("firstScan") and \
                    status.get("tracks", 0) >= len(cls.tracks):
                break
            if time.monotonic() > deadline:
                raise RuntimeError(f"the scan did not finish in 60 s: {status}")
            time.sleep(0.1)
        answer = requests.get(url + "/rest/ping.view", params={"f": "json", "v": "1.16.1"})
        if "subsonic-response" not in answer.text:
            raise RuntimeError("velmor-musicd has no Subsonic API in this build: GET "
                               f"/rest/ping.view answered {answer.status_code} {answer.text[:200]}")
        return url

    @classmethod
    def tearDownClass(cls):
        cls.service.send_signal(signal.SIGTERM)
        cls.service.wait(10)
        cls.work.cleanup()

    def songs_by_title(self):
        songs = {}
        for artist in self.adapter.get_artists():
            for album in self.adapter.get_artist(artist.id).albums:
                songs.update({s.title: s for s in self.adapter.get_album(album.id).songs})
        return songs

    def test_browses_artists_albums_and_songs(self):
        artists = self.adapter.get_artists()
        self.assertEqual(sorted(a.name for a in artists), unique(t["artist"] for t in self.tracks))
        for artist in artists:
            mine = [t for t in self.tracks if t["artist"] == artist.name]
            albums = self.adapter.get_artist(artist.id).albums
            self.assertEqual(sorted(a.name for a in albums), unique(t["album"] for t in mine))
            for album in albums:
                songs = self.adapter.get_album(album.id).songs
                want = sorted((t for t in mine if t["album"] == album.name),
                              key=lambda t: t["track"])
                self.assertEqual([(s.track, s.title, s.artist.name) for s in songs],
                                 [(t["track"], t["title"], t["artist"]) for t in want])
                self.assertTrue(all(s.duration and s.duration.total_seconds() >= 2 for s in songs))

    def test_lists_every_album_page_by_page(self):
        albums = self.adapter.get_albums(
            AlbumSearchQuery(AlbumSearchQuery.Type.ALPHABETICAL_BY_NAME))
        self.assertEqual(sorted(a.name for a in albums), unique(t["album"] for t in self.tracks))

    def test_search_finds_songs_by_title_and_singer(self):
        for query in ["爱", "晴川", "starlight"]:
            with self.subTest(query=query):
                want = [t["title"] for t in self.tracks
                        if any(query in t[f].lower() for f in ("title", "artist", "album"))]
                found = self.adapter.search(query)
                self.assertEqual(sorted(s.title for s in found.songs), sorted(want))

    def test_streams_the_files_and_their_cover(self):
        songs = self.songs_by_title()
        for track in self.tracks:
            answer = requests.get(self.adapter.get_song_stream_uri(songs[track["title"]].id))
            self.assertEqual(answer.status_code, 200)
            self.assertEqual(answer.content,
                             pathlib.Path(self.library["root"], track["path"]).read_bytes())
        cover = next(t for t in self.tracks if t.get("cover"))
        art = songs[cover["title"]].cover_art
        self.assertTrue(art, "the song with a folder picture names its cover art")
        picture = requests.get(self.adapter.get_cover_art_uri(art, "http", 128))
        self.assertEqual(picture.status_code, 200)
        self.assertTrue(picture.content[:2] == b"\xff\xd8" or picture.content[:4] == b"\x89PNG")

    def test_keeps_a_playlist(self):
        songs = self.songs_by_title()
        chosen = [songs[t["title"]] for t in self.tracks[:3]]
        created = self.adapter.create_playlist("路上听", chosen[:2])
        playlist_id = created.id if created else next(
            p.id for p in self.adapter.get_playlists() if p.name == "路上听")
        updated = self.adapter.update_playlist(playlist_id, name="路上 & 家里",
                                               song_ids=[chosen[2].id, chosen[0].id])
        self.assertEqual([s.id for s in updated.songs], [chosen[2].id, chosen[0].id])
        details = self.adapter.get_playlist_details(playlist_id)
        self.assertEqual(details.name, "路上 & 家里")
        self.assertEqual(details.song_count, 2)
        self.adapter.delete_playlist(playlist_id)
        self.assertNotIn(playlist_id, [p.id for p in self.adapter.get_playlists()])


if __name__ == "__main__":
    unittest.main(verbosity=2)
