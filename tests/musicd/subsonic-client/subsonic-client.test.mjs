// velmor-musicd's Subsonic API as a third-party client sees it: the npm
// package subsonic-api (pinned in package.json) browses, searches, streams,
// stars, scrobbles and keeps playlists on a library of real tagged files.
//
//   VELMOR_MUSICD=build/musicd/velmor-musicd \
//   VELMOR_SUBSONIC_LIBRARY=build/tests/musicd/subsonic_library \
//   node --test-reporter=tap subsonic-client.test.mjs
//
// subsonic_library writes the files and says what they hold; every
// expectation here is computed from that, never typed in. Two services run:
// one without a users file (loopback asks for no credentials) for the
// library cases, one with a users file for the sign-in forms.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';

let SubsonicAPI;
try {
    ({ SubsonicAPI } = await import('subsonic-api'));
} catch (e) {
    console.error(`the npm package subsonic-api is not installed (${e.message});` +
        ' run scripts/setup-deps.sh test, or npm ci in tests/musicd/subsonic-client');
    process.exit(1);
}

const musicd = process.env.VELMOR_MUSICD;
const makeLibrary = process.env.VELMOR_SUBSONIC_LIBRARY;
if (!musicd || !makeLibrary) {
    console.error('VELMOR_MUSICD and VELMOR_SUBSONIC_LIBRARY must name the service and the' +
        ' library writer (ctest sets both)');
    process.exit(2);
}

const work = mkdtempSync(path.join(tmpdir(), 'velmor-subsonic-'));
const library = JSON.parse(execFileSync(makeLibrary, [path.join(work, 'music')], {
    encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'],
}));
const tracks = library.tracks;
const fileOf = (track) => readFileSync(path.join(library.root, track.path));
const unique = (list) => [...new Set(list)].sort();
const sorted = (list) => [...list].sort();

// Users of the second service: an ASCII password for the token form (the
// package hashes the password's UTF-16 units, not its UTF-8 bytes) and a
// Chinese name and password for the plain and hex forms.
const users = [
    { name: 'alice', password: 'Str0ng-Pass' },
    { name: '小明', password: '密码 12345' },
];

class Service {
    constructor(args) {
        this.child = spawn(musicd, ['--port', '0', '--rescan', '0', ...args], {
            stdio: ['ignore', 'pipe', 'pipe'],
        });
        this.stderr = '';
        this.child.stderr.setEncoding('utf8').on('data', (d) => { this.stderr += d; });
        this.url = new Promise((resolve, reject) => {
            let out = '';
            const timer = setTimeout(() => reject(new Error(
                `velmor-musicd printed no URL in 15 s; stderr: ${this.stderr}`)), 15000);
            this.child.stdout.setEncoding('utf8').on('data', (d) => {
                out += d;
                const line = out.split('\n');
                if (line.length > 1 && timer) {
                    clearTimeout(timer);
                    resolve(line[0].trim());
                }
            });
            this.child.on('error', (e) => reject(new Error(
                `cannot start velmor-musicd (${musicd}): ${e.message}`)));
            this.child.on('exit', (code) => reject(new Error(
                `velmor-musicd ended with status ${code} before serving; stderr: ${this.stderr}`)));
        });
    }

    // Until the first scan has put every file in the index (GET /status).
    async ready() {
        const url = await this.url;
        const deadline = Date.now() + 60000;
        let status = {};
        while (Date.now() < deadline) {
            status = await (await fetch(`${url}/status`)).json();
            if (status.library && !status.firstScan && status.tracks >= tracks.length) {
                return url;
            }
            await new Promise((r) => setTimeout(r, 100));
        }
        throw new Error(`the scan did not finish in 60 s: ${JSON.stringify(status)}`);
    }

    // Ends the service and waits for it: it writes its index and search
    // memory as it closes, so its folder is not to be removed before.
    stop() {
        if (this.child.exitCode !== null || this.child.signalCode !== null) {
            return Promise.resolve();
        }
        const ended = new Promise((resolve) => this.child.once('exit', resolve));
        this.child.kill('SIGTERM');
        return ended;
    }
}

// A fetch that sends what the package asks for with the sign-in replaced,
// or extra headers: the package itself only signs in with token and salt or
// an API key, and sends no Range.
const withPlainPassword = (password, hex) => (url, init) => {
    const u = new URL(url);
    u.searchParams.delete('t');
    u.searchParams.delete('s');
    u.searchParams.set('p', hex ? `enc:${Buffer.from(password, 'utf8').toString('hex')}` : password);
    return fetch(u, init);
};
const withHeaders = (headers) => (url, init) =>
    fetch(url, { ...init, headers: { ...init?.headers, ...headers } });

const clientFor = (url, extra = {}) =>
    new SubsonicAPI({ url, auth: { username: 'velmor', password: 'unused' }, ...extra });

function assertOk(response, what) {
    assert.ok(response, `${what}: no subsonic-response in the answer`);
    assert.equal(response.status, 'ok', `${what}: ${JSON.stringify(response.error)}`);
}

function assertError(response, code, what) {
    assert.equal(response?.status, 'failed', `${what}: expected error ${code}, got ` +
        JSON.stringify(response));
    assert.equal(response.error?.code, code, `${what}: ${JSON.stringify(response.error)}`);
}

const open = new Service(['--library', path.join(work, 'music'),
    '--index', path.join(work, 'open.sqlite')]);
let api;
let baseUrl;
// What the browse finds, for the cases after it: title -> song, album name -> album.
const songs = new Map();
const albums = new Map();
const songOf = (track) => {
    const song = songs.get(track.title);
    assert.ok(song, `browsing found no song "${track.title}", which this case needs`);
    return song;
};
const albumOf = (name) => {
    const album = albums.get(name);
    assert.ok(album, `browsing found no album "${name}", which this case needs`);
    return album;
};

before(async () => {
    baseUrl = await open.ready();
    // Without the API the package would only say that a 404 page is no JSON.
    const answer = await fetch(`${baseUrl}/rest/ping.view?f=json&v=1.16.1&c=velmor-test`);
    const text = await answer.text();
    assert.match(text, /subsonic-response/, `velmor-musicd has no Subsonic API in this build: ` +
        `GET /rest/ping.view answered HTTP ${answer.status}: ${text.slice(0, 200)}`);
    api = clientFor(baseUrl);
});

after(async () => {
    await open.stop();
    rmSync(work, { recursive: true, force: true });
});

describe('the service without a users file', () => {
    test('answers ping and names its OpenSubsonic extensions', async () => {
        const raw = await (await fetch(`${baseUrl}/rest/ping?f=json&v=1.16.1&c=velmor-test`)).json();
        assertOk(raw['subsonic-response'], 'ping without credentials');
        const ping = await api.ping();
        assertOk(ping, 'ping');
        assert.equal(ping.openSubsonic, true, 'openSubsonic flag');
        const ext = await api.getOpenSubsonicExtensions();
        assertOk(ext, 'getOpenSubsonicExtensions');
        const names = ext.openSubsonicExtensions.map((e) => e.name);
        for (const wanted of ['apiKeyAuthentication', 'songLyrics']) {
            assert.ok(names.includes(wanted), `extension ${wanted} in ${names}`);
        }
    });

    test('browses artists, their albums and the albums\' songs as tagged', async () => {
        const index = await api.getArtists();
        assertOk(index, 'getArtists');
        const artists = index.artists.index.flatMap((i) => i.artist ?? []);
        assert.deepEqual(sorted(artists.map((a) => a.name)), unique(tracks.map((t) => t.artist)));
        for (const artist of artists) {
            const mine = tracks.filter((t) => t.artist === artist.name);
            const wantAlbums = unique(mine.map((t) => t.album));
            assert.equal(artist.albumCount, wantAlbums.length, `albumCount of ${artist.name}`);
            const detail = await api.getArtist({ id: artist.id });
            assertOk(detail, `getArtist ${artist.name}`);
            assert.deepEqual(sorted(detail.artist.album.map((a) => a.name)), wantAlbums);
            for (const album of detail.artist.album) {
                const full = await api.getAlbum({ id: album.id });
                assertOk(full, `getAlbum ${album.name}`);
                const want = mine.filter((t) => t.album === album.name)
                    .sort((a, b) => a.track - b.track);
                assert.equal(full.album.songCount, want.length, `songCount of ${album.name}`);
                assert.deepEqual(full.album.song.map((s) => [s.track, s.title, s.artist]),
                    want.map((t) => [t.track, t.title, t.artist]), `songs of ${album.name}`);
                albums.set(album.name, full.album);
                for (const s of full.album.song) {
                    songs.set(s.title, s);
                }
            }
        }
        assert.equal(songs.size, tracks.length, 'every file is reached by browsing');
    });

    test('answers in XML, in the Subsonic namespace, what it answers in JSON', async () => {
        // Asked without f=json, as the older apps do; read with libxml2's xmllint.
        const xpath = (xml, expr) =>
            execFileSync('xmllint', ['--xpath', expr, '-'], { input: xml, encoding: 'utf8' }).trim();
        const root = "/*[local-name()='subsonic-response']";
        const count = (name) => `count(${root}//*[local-name()='${name}'])`;
        // Without a browsed album its case fails on the answer, not here.
        const album = albums.get(tracks[0].album) ?? { id: 'none', song: [{}] };
        const cases = [
            ['ping', {}, 'ok', []],
            ['getArtists', {}, 'ok', [[count('artist'), unique(tracks.map((t) => t.artist)).length]]],
            ['getAlbum', { id: album.id }, 'ok', [[count('song'), album.song.length],
                [`string(${root}/*/*[local-name()='song'][1]/@title)`, album.song[0].title]]],
            ['search3', { query: tracks[0].artist }, 'ok',
                [[count('song'), tracks.filter((t) => t.artist === tracks[0].artist).length]]],
            ['getAlbum', { id: '987654321' }, 'failed',
                [[`string(${root}/*[local-name()='error']/@code)`, 70]]],
        ];
        for (const [method, params, status, checks] of cases) {
            const url = new URL(`${baseUrl}/rest/${method}.view`);
            for (const [k, v] of Object.entries({ v: '1.16.1', c: 'velmor-test', ...params })) {
                url.searchParams.set(k, v);
            }
            const answer = await fetch(url);
            assert.match(answer.headers.get('content-type'), /xml/, `${method} content type`);
            const xml = await answer.text();
            const what = `${method} ${JSON.stringify(params)}`;
            assert.equal(xpath(xml, `namespace-uri(${root})`), 'http://subsonic.org/restapi', what);
            assert.equal(xpath(xml, `string(${root}/@status)`), status, what);
            assert.match(xpath(xml, `string(${root}/@version)`), /^\d+\.\d+\.\d+$/, what);
            for (const [expr, want] of checks) {
                assert.equal(xpath(xml, expr), String(want), `${what}: ${expr}`);
            }
        }
    });

    test('search3 finds what every word occurs in', async () => {
        // One and two Chinese characters, a longer Chinese word, a Latin word
        // in another case, two words that only match together.
        for (const query of ['爱', '晴川', '雨夜的', 'STARLIGHT', 'tom home']) {
            const words = query.toLowerCase().split(/\s+/);
            const hits = (...fields) => words.every((w) =>
                fields.some((f) => f.toLowerCase().includes(w)));
            const result = await api.search3({ query, songCount: 100, albumCount: 100,
                artistCount: 100 });
            assertOk(result, `search3 ${query}`);
            const found = result.searchResult3;
            assert.deepEqual(sorted((found.song ?? []).map((s) => s.title)),
                sorted(tracks.filter((t) => hits(t.title, t.artist, t.album)).map((t) => t.title)),
                `songs for "${query}"`);
            const artistNames = (found.artist ?? []).map((a) => a.name);
            for (const name of unique(tracks.map((t) => t.artist)).filter((n) => hits(n))) {
                assert.ok(artistNames.includes(name), `artist ${name} for "${query}"`);
            }
        }
    });

    test('streams each file byte for byte, and a range of it', async () => {
        for (const track of tracks) {
            const answer = await api.stream({ id: songOf(track).id });
            assert.equal(answer.status, 200, `stream ${track.path}`);
            assert.match(answer.headers.get('content-type'), /^audio\//);
            assert.ok(fileOf(track).equals(Buffer.from(await answer.arrayBuffer())),
                `the bytes of ${track.path}`);
        }
        const track = tracks[0];
        const ranged = clientFor(baseUrl, { fetch: withHeaders({ Range: 'bytes=100-1123' }) });
        const part = await ranged.stream({ id: songOf(track).id });
        assert.equal(part.status, 206, 'a Range is answered with 206');
        assert.ok(fileOf(track).subarray(100, 1124).equals(Buffer.from(await part.arrayBuffer())),
            'the bytes of the range');
    });

    test('getCoverArt gives the album\'s picture', async () => {
        const withCover = tracks.find((t) => t.cover);
        const coverArt = albumOf(withCover.album).coverArt;
        assert.ok(coverArt, `album ${withCover.album} names its cover art`);
        for (const size of [undefined, 64]) {
            const answer = await api.getCoverArt({ id: coverArt, size });
            assert.equal(answer.status, 200, `getCoverArt size ${size}`);
            const bytes = Buffer.from(await answer.arrayBuffer());
            const jpeg = bytes[0] === 0xff && bytes[1] === 0xd8;
            const png = bytes.subarray(0, 4).equals(Buffer.from([0x89, 0x50, 0x4e, 0x47]));
            assert.ok(jpeg || png, `an image for size ${size}, got ${bytes.subarray(0, 16)}`);
            assert.match(answer.headers.get('content-type'), jpeg ? /image\/jpeg/ : /image\/png/);
        }
    });

    test('getLyricsBySongId gives the sidecar\'s synced lines', async () => {
        for (const track of tracks) {
            const answer = await api.getLyricsBySongId({ id: songOf(track).id });
            assertOk(answer, `getLyricsBySongId ${track.title}`);
            const list = answer.lyricsList?.structuredLyrics ?? [];
            if (!track.lyrics) {
                assert.equal(list.length, 0, `${track.title} has no lyrics`);
                continue;
            }
            assert.equal(list.length, 1, `one lyric for ${track.title}`);
            assert.equal(list[0].synced, true);
            assert.deepEqual(list[0].line.map((l) => ({ start: l.start, value: l.value })),
                track.lyrics);
        }
    });

    test('keeps a playlist through create, update and delete', async () => {
        const [a, b, c] = tracks.map((t) => songOf(t).id);
        const created = await api.createPlaylist({ name: '夜里听的歌', songId: [a, b] });
        assertOk(created, 'createPlaylist');
        const id = created.playlist.id;
        assert.deepEqual(created.playlist.entry.map((e) => e.id), [a, b]);
        assertOk(await api.updatePlaylist({ playlistId: id, name: '清晨 & 夜里',
            songIdToAdd: [c, a], songIndexToRemove: [0] }), 'updatePlaylist');
        const changed = await api.getPlaylist({ id });
        assertOk(changed, 'getPlaylist');
        assert.equal(changed.playlist.name, '清晨 & 夜里');
        assert.deepEqual(changed.playlist.entry.map((e) => e.id), [b, c, a]);
        assert.equal(changed.playlist.songCount, 3);
        const listed = await api.getPlaylists({});
        assert.ok(listed.playlists.playlist.some((p) => p.id === id), 'getPlaylists lists it');
        assertOk(await api.deletePlaylist({ id }), 'deletePlaylist');
        const after = await api.getPlaylists({});
        assert.ok(!(after.playlists.playlist ?? []).some((p) => p.id === id), 'deleted');
        assertError(await api.getPlaylist({ id }), 70, 'getPlaylist of a deleted playlist');
    });

    test('stars and unstars a song, an album and an artist', async () => {
        const song = songOf(tracks[2]);
        const ids = { id: song.id, albumId: song.albumId, artistId: song.artistId };
        const starredIds = async () => {
            const answer = await api.getStarred2({});
            assertOk(answer, 'getStarred2');
            const s = answer.starred2;
            return [(s.song ?? []).map((x) => x.id), (s.album ?? []).map((x) => x.id),
                (s.artist ?? []).map((x) => x.id)];
        };
        assertOk(await api.star(ids), 'star');
        assert.deepEqual(await starredIds(), [[song.id], [song.albumId], [song.artistId]]);
        assert.ok((await api.getSong({ id: song.id })).song.starred, 'the song says starred');
        assertOk(await api.unstar(ids), 'unstar');
        assert.deepEqual(await starredIds(), [[], [], []]);
    });

    test('scrobbles show in play counts and the frequent and recent album lists', async () => {
        const first = songOf(tracks[0]);
        const other = songOf(tracks[3]);
        // Counted from what the service says now: whether a stream counts as
        // a play is the service's choice, a scrobble always does.
        const plays = async (song) => {
            const answer = await api.getSong({ id: song.id });
            assertOk(answer, `getSong ${song.title}`);
            return answer.song.playCount ?? 0;
        };
        const before = [await plays(first), await plays(other)];
        const now = Date.now();
        // The first song twice and the other once, later; "now playing" only
        // (no submission) counts nothing.
        for (const [song, at, submission] of [[first, now - 3000, true], [first, now - 2000, true],
            [other, now - 1000, true], [first, now, false]]) {
            assertOk(await api.scrobble({ id: song.id, submission, time: at }), 'scrobble');
        }
        assert.deepEqual([await plays(first), await plays(other)], [before[0] + 2, before[1] + 1]);
        const list = async (type) => {
            const answer = await api.getAlbumList2({ type, size: 50 });
            assertOk(answer, `getAlbumList2 ${type}`);
            return (answer.albumList2.album ?? []).map((a) => a.id);
        };
        const recent = await list('recent');
        assert.deepEqual(recent.slice(0, 2), [other.albumId, first.albumId], 'recent');
        const frequent = await list('frequent');
        assert.ok(frequent.includes(first.albumId) && frequent.includes(other.albumId), 'frequent');
    });

    test('answers unknown IDs and missing parameters with their error codes', async () => {
        const unknown = '987654321';
        const cases = [
            ['getAlbum unknown', () => api.getAlbum({ id: unknown }), 70],
            ['getAlbum unknown, album form', () => api.getAlbum({ id: `al-${unknown}` }), 70],
            ['getArtist unknown, artist form', () => api.getArtist({ id: `ar-${unknown}` }), 70],
            ['getSong unknown', () => api.getSong({ id: unknown }), 70],
            ['getArtist unknown', () => api.getArtist({ id: unknown }), 70],
            ['getLyricsBySongId unknown', () => api.getLyricsBySongId({ id: unknown }), 70],
            ['stream unknown', async () => (await api.stream({ id: unknown })).json()
                .then((j) => j['subsonic-response']), 70],
            ['getAlbum without id', () => api.getAlbum({}), 10],
            ['getSong without id', () => api.getSong({}), 10],
            ['scrobble without id', () => api.scrobble({}), 10],
        ];
        for (const [what, call, code] of cases) {
            assertError(await call(), code, what);
        }
    });
});

describe('the service with a users file', () => {
    let service;
    let url;
    let apiKeys = [];

    before(async () => {
        const usersFile = path.join(work, 'users');
        for (const user of users) {
            const out = execFileSync(musicd, ['--add-user', user.name, '--users', usersFile], {
                input: `${user.password}\n`, encoding: 'utf8',
            });
            // The API key is the line it prints on stdout.
            apiKeys.push(out.trim());
        }
        service = new Service(['--library', path.join(work, 'music'),
            '--index', path.join(work, 'users.sqlite'), '--users', usersFile]);
        url = await service.ready();
    });

    after(async () => service?.stop());

    test('signs in with token and salt, plain and hex passwords and an API key', async () => {
        const [alice, ming] = users;
        const login = (user, password, extra = {}) =>
            new SubsonicAPI({ url, auth: { username: user, password }, ...extra });
        const cases = [
            ['token and salt', login(alice.name, alice.password)],
            ['plain password', login(alice.name, 'x', { fetch: withPlainPassword(alice.password) })],
            ['hex password', login(alice.name, 'x',
                { fetch: withPlainPassword(alice.password, true) })],
            ['Chinese name, plain', login(ming.name, 'x', { fetch: withPlainPassword(ming.password) })],
            ['Chinese name, hex', login(ming.name, 'x',
                { fetch: withPlainPassword(ming.password, true) })],
        ];
        for (const [what, client] of cases) {
            assertOk(await client.ping(), what);
        }
        assert.ok(apiKeys[0], 'velmor-musicd --add-user printed an API key');
        const keyed = new SubsonicAPI({ url, auth: { apiKey: apiKeys[0] } });
        assertOk(await keyed.ping(), 'API key');
        assertOk(await keyed.getArtists(), 'getArtists with an API key');
    });

    test('refuses a wrong password, a wrong key and no credentials', async () => {
        const [alice] = users;
        const right = new SubsonicAPI({ url, auth: { username: alice.name,
            password: alice.password } });
        const cases = [
            ['wrong token', new SubsonicAPI({ url, auth: { username: alice.name,
                password: 'wrong' } }), 40],
            ['wrong plain password', new SubsonicAPI({ url, auth: { username: alice.name,
                password: 'x' }, fetch: withPlainPassword('wrong') }), 40],
            ['unknown user', new SubsonicAPI({ url, auth: { username: 'mallory',
                password: alice.password } }), 40],
            ['wrong API key', new SubsonicAPI({ url, auth: { apiKey: 'not-a-key-of-ours' } }), 44],
        ];
        for (const [what, client, code] of cases) {
            assertError(await client.ping(), code, what);
            assertError(await client.getArtists(), code, `${what}, getArtists`);
            // Two failures in a row stay below the service's lock-out; a good
            // login clears them for the next case.
            assertOk(await right.ping(), `the right password after: ${what}`);
        }
        const bare = await (await fetch(`${url}/rest/ping.view?f=json&v=1.16.1&c=velmor-test`))
            .json();
        assertError(bare['subsonic-response'], 10, 'no credentials');
    });
});
