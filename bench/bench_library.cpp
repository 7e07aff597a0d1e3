// The music library's figures against their goals (whole-process figures
// where a velmor-musicd process is measured):
//   first scan, warm page cache, 10,000 generated tagged files  >= 2,000 files/s
//   rescan of the unchanged 10,000-file library                 <  1 s
//   one search page from a 100,000-track index, server side:
//     median < 2 ms, 99th percentile < 10 ms, for 1-, 2- and 3+-character words
//   the Subsonic face's queries on a 100,000-track index, in process
//     (VELMOR_BENCH_API_TRACKS=1000000 for the same at a million):
//     search (1-, 2-, 3+-character words) and each album list:
//     median < 2 ms, p99 < 10 ms; all artists < 50 ms
//   velmor-musicd resident memory with a 100,000-track index    <  60 MiB
//   200 concurrent clients searching and streaming on loopback:  no error, no stall over 1 s
//     (on the 100,000-track index; and again with files longer than a
//     socket's buffers take at once while 40 more clients stop reading)
// Usage: bench_library [WORK_DIR]   (default: a temporary folder, removed after)
// VELMOR_BENCH_PARTS picks some of "scan", "search", "api", "process", "stream";
// VELMOR_BENCH_MUSICD runs another velmor-musicd binary (an older build, to
// compare).
// The libraries are generated here: tones encoded once by lame/flac/oggenc,
// then copied and tagged through TagLib (10,000 files); the 100,000-track
// library is hard links of one untagged file under "Artist - Title" names.
#include "musicd/SearchPageHtml.h"
#include "musicd/library/IndexLibrary.h"
#include "musicd/library/LibraryIndex.h"
#include "musicd/library/LibraryScanner.h"
#include "tests/common/MusicdServer.h"
#include "tests/common/TestLibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <httplib.h>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <thread>
#include <time.h>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace musicd;

namespace {

const QStringList kChinese{
    QStringLiteral("爱"),   QStringLiteral("晴川"),   QStringLiteral("夏天"),
    QStringLiteral("月光"), QStringLiteral("远方"),   QStringLiteral("故事"),
    QStringLiteral("海边"), QStringLiteral("旧时光"), QStringLiteral("雨季"),
    QStringLiteral("微光"), QStringLiteral("晚风"),   QStringLiteral("候鸟")};
const QStringList kLatin{
    QStringLiteral("Golden"), QStringLiteral("Silent"), QStringLiteral("Road"),
    QStringLiteral("Hearts"), QStringLiteral("Rain"),   QStringLiteral("Dreams"),
    QStringLiteral("Velvet"), QStringLiteral("Neon"),   QStringLiteral("Tides"),
    QStringLiteral("Echoes"), QStringLiteral("Summer"), QStringLiteral("Fire")};

QString words(QRandomGenerator &rng, int n)
{
    QStringList out;
    for (int i = 0; i < n; ++i) {
        const QStringList &pool = rng.bounded(2) ? kChinese : kLatin;
        out.append(pool.at(rng.bounded(pool.size())));
    }
    return out.join(rng.bounded(2) ? QStringLiteral(" ") : QString());
}

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.at(std::min(v.size() - 1, size_t(p * (v.size() - 1) + 0.5)));
}

void line(const char *what, const QString &figure, const char *goal)
{
    std::printf("%-58s %-26s goal: %s\n", what, qPrintable(figure), goal);
    std::fflush(stdout);
}

// 10,000 tagged files: 100 artists x 10 albums x 10 tracks, MP3/FLAC/Ogg.
bool makeTaggedLibrary(const QString &root, int count)
{
    const QByteArray wav = TestLibrary::toneWav(0.3, 440);
    QString error;
    const QStringList suffixes{QStringLiteral("mp3"), QStringLiteral("flac"),
                               QStringLiteral("ogg")};
    QList<QByteArray> templates;
    for (const QString &suffix : suffixes) {
        const QString file = root + QStringLiteral("/template.") + suffix;
        if (!TestLibrary::encode(wav, file, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return false;
        }
        QFile f(file);
        f.open(QIODevice::ReadOnly);
        templates.append(f.readAll());
        f.close();
        QFile::remove(file);
    }
    QRandomGenerator rng(11);
    for (int i = 0; i < count; ++i) {
        const int artist = i / 100;
        const int album = i / 10 % 10;
        const QString dir =
            QStringLiteral("%1/Artist %2/Album %3").arg(root).arg(artist).arg(album);
        QDir().mkpath(dir);
        const int kind = i % 3;
        const QString file =
            QStringLiteral("%1/%2 Track.%3").arg(dir).arg(i % 10).arg(suffixes.at(kind));
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) ||
            f.write(templates.at(kind)) != templates.at(kind).size())
            return false;
        f.close();
        if (!TestLibrary::writeTags(file, words(rng, 2) + QString::number(i),
                                    words(rng, 1) + QStringLiteral(" %1").arg(artist),
                                    words(rng, 2)))
            return false;
    }
    return true;
}

// Reads every file once, so the scan runs on a warm page cache.
void warm(const QString &root)
{
    QElapsedTimer t;
    t.start();
    std::vector<char> buffer(1 << 16);
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly)) {
            while (f.read(buffer.data(), qint64(buffer.size())) > 0) {
            }
        }
    }
}

void scanFigures(const QString &work)
{
    const QString root = work + QStringLiteral("/tagged");
    const int count = 10000;
    QElapsedTimer t;
    t.start();
    if (!QDir(root).exists() && !makeTaggedLibrary(root, count)) {
        std::fprintf(stderr, "could not make the library\n");
        return;
    }
    std::fprintf(stderr, "tagged library ready (%.1f s)\n", t.elapsed() / 1000.0);
    warm(root);
    const QString indexFile = work + QStringLiteral("/tagged.sqlite");
    QFile::remove(indexFile);
    QFile::remove(indexFile + QStringLiteral("-wal"));
    QFile::remove(indexFile + QStringLiteral("-shm"));
    LibraryIndex index;
    index.open(indexFile);
    LibraryScanner scanner(index, {root});
    const ScanSummary first = scanner.scan();
    line("first scan, 10,000 tagged files, warm cache",
         QStringLiteral("%1 files/s (%2 tracks, %3 s)")
             .arg(qint64(first.added / first.seconds))
             .arg(first.tracks)
             .arg(first.seconds, 0, 'f', 2),
         ">= 2,000 files/s");
    const ScanSummary again = scanner.scan();
    line("rescan, unchanged 10,000-file library",
         QStringLiteral("%1 s (%2 unchanged)").arg(again.seconds, 0, 'f', 3).arg(again.unchanged),
         "< 1 s");
}

void searchFigures(const QString &work)
{
    const QString indexFile = work + QStringLiteral("/search100k.sqlite");
    QFile::remove(indexFile);
    QFile::remove(indexFile + QStringLiteral("-wal"));
    QFile::remove(indexFile + QStringLiteral("-shm"));
    LibraryIndex index;
    index.open(indexFile);
    QRandomGenerator rng(5);
    const int count = qEnvironmentVariableIsSet("VELMOR_BENCH_TRACKS")
                          ? qEnvironmentVariableIntValue("VELMOR_BENCH_TRACKS")
                          : 100000;
    index.begin();
    for (int i = 0; i < count; ++i) {
        IndexedTrack t;
        t.path = "/nowhere/" + std::to_string(i) + ".mp3";
        t.title = words(rng, 1 + rng.bounded(3)) + QString::number(i % 977);
        t.artist = words(rng, 1) + QString::number(i % 2000);
        t.album = words(rng, 2);
        t.durationSeconds = 200;
        index.insert(t);
        if (i % 5000 == 4999) {
            index.commit();
            index.begin();
        }
    }
    index.commit();
    index.reloadShortIndex();

    struct Class
    {
        const char *name;
        QStringList queries;
    };
    const QList<Class> classes{
        {"1-character words",
         {QStringLiteral("爱"), QStringLiteral("光"), QStringLiteral("e"), QStringLiteral("r"),
          QStringLiteral("7"), QStringLiteral("雨")}},
        {"2-character words",
         {QStringLiteral("晴川"), QStringLiteral("夏天"), QStringLiteral("ea"),
          QStringLiteral("ne"), QStringLiteral("故事"), QStringLiteral("12")}},
        {"3+-character words",
         {QStringLiteral("旧时光"), QStringLiteral("golden"), QStringLiteral("rain"),
          QStringLiteral("velvet tides"), QStringLiteral("echo"), QStringLiteral("候鸟 fire")}},
    };
    for (const Class &c : classes) {
        // Cold: a word never searched before (remembered results dropped).
        // Paging: the pages after the first, as the player fetches them.
        // Beside the wall-clock times, the thread's own CPU time: on a
        // machine shared with builds the wall clock also counts the time
        // the thread waited for a core, the CPU time does not.
        std::vector<double> cold;
        std::vector<double> paging;
        std::vector<double> coldCpu;
        std::vector<double> pagingCpu;
        const auto page = [&](const QString &q, qint64 n, std::vector<double> &wall,
                              std::vector<double> &cpu) {
            QElapsedTimer t;
            const double cpuStart = threadCpuMs();
            t.start();
            const SearchPage result = index.search(q, n, kRowsPerPage);
            const QByteArray html =
                result.total == 0 ? noMatchPageHtml(q) : resultPageHtml(q, n, result);
            wall.push_back(t.nsecsElapsed() / 1e6);
            cpu.push_back(threadCpuMs() - cpuStart);
        };
        for (int i = 0; i < 600; ++i) {
            const QString &q = c.queries.at(i % c.queries.size());
            index.forgetResults();
            page(q, 1, cold, coldCpu);
            for (qint64 n = 2; n <= 4; ++n)
                page(q, n, paging, pagingCpu);
        }
        for (const auto &[label, ms, cpu] : {std::tuple{"first page", &cold, &coldCpu},
                                             std::tuple{"next pages", &paging, &pagingCpu}}) {
            const QString name = QStringLiteral("search, %1 tracks, %2, %3")
                                     .arg(count)
                                     .arg(QLatin1String(c.name), QLatin1String(label));
            line(qPrintable(name),
                 QStringLiteral("median %1 ms, p99 %2 ms (CPU: median %3, p99 %4)")
                     .arg(percentile(*ms, 0.5), 0, 'f', 3)
                     .arg(percentile(*ms, 0.99), 0, 'f', 3)
                     .arg(percentile(*cpu, 0.5), 0, 'f', 3)
                     .arg(percentile(*cpu, 0.99), 0, 'f', 3),
                 "median < 2 ms, p99 < 10 ms");
        }
    }
}

qint64 statusKiB(qint64 pid, const char *field);

// The Subsonic face's queries over 100,000 tracks (VELMOR_BENCH_API_TRACKS
// for another size): an artist for every 50 tracks, albums of ten tracks, a
// genre and a year each, some of them starred and played by the asking user.
void apiFigures(const QString &work)
{
    const QString indexFile = work + QStringLiteral("/api100k.sqlite");
    for (const char *suffix : {"", "-wal", "-shm"})
        QFile::remove(indexFile + QLatin1String(suffix));
    LibraryIndex index;
    index.open(indexFile);
    QRandomGenerator rng(9);
    const int tracks = qEnvironmentVariableIsSet("VELMOR_BENCH_API_TRACKS")
                           ? std::max(1000, qEnvironmentVariableIntValue("VELMOR_BENCH_API_TRACKS"))
                           : 100000;
    const int albums = tracks / 10;
    const int artists = tracks / 50;
    const QString size = QLocale(QLocale::English).toString(tracks);
    const QStringList genres{QStringLiteral("Rock"),      QStringLiteral("Pop"),
                             QStringLiteral("Jazz"),      QStringLiteral("Folk"),
                             QStringLiteral("Classical"), QStringLiteral("流行")};
    QElapsedTimer fill;
    fill.start();
    index.begin();
    QList<QString> albumNames;
    for (int a = 0; a < albums; ++a)
        albumNames.append(words(rng, 2) + QString::number(a % 97));
    QList<QString> artistNames;
    for (int a = 0; a < artists; ++a)
        artistNames.append(words(rng, 1) + QString::number(a));
    for (int i = 0; i < tracks; ++i) {
        const int album = i / 10;
        IndexedTrack t;
        t.path = "/nowhere/" + std::to_string(i) + ".mp3";
        t.title = words(rng, 1 + rng.bounded(3)) + QString::number(i % 977);
        t.artist = artistNames.at(album % artistNames.size());
        t.album = albumNames.at(album);
        t.track = i % 10 + 1;
        t.year = 1960 + album % 60;
        t.genre = genres.at(album % genres.size());
        t.durationSeconds = 200;
        t.bitRateKbps = 320;
        index.insert(t);
        if (i % 5000 == 4999) {
            index.commit();
            index.begin();
        }
    }
    index.commit();
    index.reloadShortIndex();
    line(
        qPrintable(
            QStringLiteral("API index: %1 tracks written with their albums and artists").arg(size)),
        QStringLiteral("%1 tracks/s").arg(qint64(tracks / (fill.elapsed() / 1000.0))),
        "(for scale)");
    IndexLibrary library(index);
    const QString user = QStringLiteral("bench");
    for (int i = 0; i < 2000; ++i) {
        const qint64 song = 1 + rng.bounded(tracks);
        library.scrobble(user, song, 1000 + i);
        if (i % 4 == 0)
            library.setStarred(user, ApiLibrary::Kind::Album, 1 + rng.bounded(albums), true);
    }

    const auto timed = [](int rounds, const std::function<void(int)> &run) {
        std::vector<double> ms;
        for (int i = 0; i < rounds; ++i) {
            QElapsedTimer t;
            t.start();
            run(i);
            ms.push_back(t.nsecsElapsed() / 1e6);
        }
        return ms;
    };
    const auto report = [](const QString &what, const std::vector<double> &ms, const char *goal) {
        line(qPrintable(what),
             QStringLiteral("median %1 ms, p99 %2 ms")
                 .arg(percentile(ms, 0.5), 0, 'f', 3)
                 .arg(percentile(ms, 0.99), 0, 'f', 3),
             goal);
    };
    const QList<std::pair<const char *, QStringList>> searches{
        {"1-character words",
         QStringList{QStringLiteral("爱"), QStringLiteral("光"), QStringLiteral("e"),
                     QStringLiteral("r"), QStringLiteral("7"), QStringLiteral("雨")}},
        {"2-character words",
         QStringList{QStringLiteral("晴川"), QStringLiteral("夏天"), QStringLiteral("ea"),
                     QStringLiteral("ne"), QStringLiteral("故事"), QStringLiteral("12")}},
        {"3+-character words", QStringList{QStringLiteral("旧时光"), QStringLiteral("golden"),
                                           QStringLiteral("rain"), QStringLiteral("velvet tides"),
                                           QStringLiteral("echo"), QStringLiteral("候鸟 fire")}},
    };
    for (const auto &[name, queries] : searches) {
        const std::vector<double> ms = timed(300, [&](int i) {
            index.forgetResults();
            ApiSearch s;
            s.query = queries.at(i % queries.size());
            library.search(s, user);
        });
        report(QStringLiteral("API search3, %1 tracks, %2 (20 of each)")
                   .arg(size, QLatin1String(name)),
               ms, "median < 2 ms, p99 < 10 ms");
    }
    const QList<std::pair<const char *, AlbumOrder>> orders{
        {"newest", AlbumOrder::Newest},
        {"alphabeticalByName", AlbumOrder::AlphabeticalByName},
        {"alphabeticalByArtist", AlbumOrder::AlphabeticalByArtist},
        {"random", AlbumOrder::Random},
        {"byYear", AlbumOrder::ByYear},
        {"byGenre", AlbumOrder::ByGenre},
        {"frequent", AlbumOrder::Frequent},
        {"recent", AlbumOrder::Recent},
        {"starred", AlbumOrder::Starred}};
    for (const auto &[name, order] : orders) {
        const std::vector<double> ms = timed(300, [&](int i) {
            AlbumQuery q;
            q.order = order;
            q.size = 20;
            q.offset = (i * 20) % 2000;
            q.fromYear = i % 2 ? 1990 : 2010;
            q.toYear = i % 2 ? 2010 : 1990;
            q.genre = genres.at(i % genres.size());
            library.albumList(q, user);
        });
        report(QStringLiteral("API getAlbumList2 %1, 20 albums").arg(QLatin1String(name)), ms,
               "median < 2 ms, p99 < 10 ms");
    }
    report(QStringLiteral("API getArtists, all artists"),
           timed(30, [&](int) { library.artists(user); }), "< 50 ms");
    report(QStringLiteral("API getAlbum: one album and its songs"),
           timed(300,
                 [&](int i) {
                     const qint64 id = 1 + (i * 37) % albums;
                     library.album(id, user);
                     library.songsOfAlbum(id, user);
                 }),
           "median < 2 ms, p99 < 10 ms");
    report(QStringLiteral("API getArtist: one artist and its albums"),
           timed(300,
                 [&](int i) {
                     const qint64 id = 1 + (i * 13) % artists;
                     library.artist(id, user);
                     library.albumsOfArtist(id, user);
                 }),
           "median < 2 ms, p99 < 10 ms");
    line("bench process resident memory after the API figures",
         QStringLiteral("%1 MiB").arg(statusKiB(::getpid(), "VmRSS:") / 1024.0, 0, 'f', 1),
         "(for scale; the service's own is measured below)");
}

qint64 statusKiB(qint64 pid, const char *field)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &l : f.readAll().split('\n')) {
        if (l.startsWith(field))
            return l.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// 100,000 hard links of a few untagged files, named "Artist - Title.mp3"
// (a file system caps the links of one file, at 65,000 on ext4).
bool makeLinkedLibrary(const QString &root, int count)
{
    constexpr int kLinksPerFile = 50000;
    QDir().mkpath(root);
    QString error;
    QString source;
    QRandomGenerator rng(3);
    for (int i = 0; i < count; ++i) {
        if (i % kLinksPerFile == 0) {
            source = QStringLiteral("%1/.template%2.mp3").arg(root).arg(i / kLinksPerFile);
            if (!QFile::exists(source) &&
                !TestLibrary::encode(TestLibrary::toneWav(0.3, 300), source, &error))
                return false;
        }
        const QString dir = QStringLiteral("%1/Album %2").arg(root).arg(i / 20);
        if (i % 20 == 0)
            QDir().mkpath(dir);
        const QString name = QStringLiteral("%1/%2 %3 - %4 %5.mp3")
                                 .arg(dir, words(rng, 1))
                                 .arg(i % 3000)
                                 .arg(words(rng, 2))
                                 .arg(i);
        if (::link(QFile::encodeName(source).constData(), QFile::encodeName(name).constData()) != 0)
            return false;
    }
    return true;
}

// The seconds of the pass a summary line reports ("..., 1.2 s").
double passSeconds(const QString &stderrText, const QString &what)
{
    return stderrText.section(what, 1)
        .section(u'\n', 0, 0)
        .section(u',', -1)
        .trimmed()
        .section(u' ', 0, 0)
        .toDouble();
}

// A restart on the unchanged library (time to the first answer, to the
// index being current), then one with 1,000 files changed since: their
// stamps are aged in the index, so the library folder is never written.
void restartFigures(const QStringList &args, const QString &indexFile)
{
    for (const int changed : {0, 1000}) {
        if (changed > 0) {
            sqlite3 *db = nullptr;
            sqlite3_open(QFile::encodeName(indexFile).constData(), &db);
            const QByteArray sql = QByteArrayLiteral("UPDATE tracks SET mtime=mtime-1 WHERE id IN "
                                                     "(SELECT id FROM tracks ORDER BY id LIMIT ") +
                                   QByteArray::number(changed) + " OFFSET 500)";
            sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr);
            sqlite3_close(db);
        }
        QElapsedTimer t;
        t.start();
        MusicdServer server;
        if (!server.start(args)) {
            std::fprintf(stderr, "velmor-musicd did not restart\n");
            return;
        }
        const QUrl url(server.url());
        httplib::Client c(url.host().toStdString(), url.port());
        const auto res = c.Get("/app/search/searchList.php?qword=golden");
        const double answered = t.nsecsElapsed() / 1e6;
        if (!res || res->status != 200 ||
            !server.waitForStderr(QStringLiteral("library ready"), 600000)) {
            std::fprintf(stderr, "no answer or summary after the restart\n");
            return;
        }
        const double current = t.nsecsElapsed() / 1e9;
        const QString text = server.stderrText();
        const QString what = changed == 0 ? QStringLiteral("restart, nothing changed")
                                          : QStringLiteral("restart, 1,000 files changed");
        line(qPrintable(what),
             QStringLiteral("first answer %1 ms, index current %2 s (pass %3 s), peak %4 MiB")
                 .arg(answered, 0, 'f', 0)
                 .arg(current, 0, 'f', 2)
                 .arg(passSeconds(text, QStringLiteral("library ready")), 0, 'f', 2)
                 .arg(statusKiB(server.processId(), "VmHWM:") / 1024.0, 0, 'f', 1),
             changed == 0 ? "answers at once, current < 5 s" : "pass < 2 s");
        if (changed > 0 && !text.contains(QStringLiteral("%1 changed").arg(changed)))
            std::fprintf(stderr, "the pass did not find the %d changed files: %s\n", changed,
                         qPrintable(text));
    }
}

// VELMOR_BENCH_TRACKS sizes the generated library (100,000 by default);
// VELMOR_BENCH_LIBRARY names a library folder to scan instead, only read.
// 200 Subsonic apps at once, each browsing (search3, an album list, an
// album, getArtists now and then) and streaming a song of what it found, as
// an app does when it opens and starts to play.
void subsonicClientFigures(const QUrl &url, qint64 pid, const char *memoryGoal)
{
    constexpr int kClients = 200;
    constexpr int kRounds = 5;
    const std::string auth = "&u=velmor&v=1.16.1&c=bench&f=json";
    const char *words[] = {"%E7%88%B1", "ea", "golden", "%E6%9C%88%E5%85%89", "rain", "7"};
    const char *lists[] = {"newest",   "random", "alphabeticalByName", "alphabeticalByArtist",
                           "frequent", "recent"};
    std::atomic<int> errors{0};
    std::atomic<int> stalls{0};
    std::atomic<int> requests{0};
    std::vector<double> worst(kClients, 0);
    // Which endpoints stalled, to tell a slow list from a slow stream.
    std::mutex stalledMutex;
    std::map<std::string, int> stalled;
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([&, i] {
            httplib::Client c(url.host().toStdString(), url.port());
            c.set_read_timeout(30, 0);
            c.set_connection_timeout(30, 0);
            const auto ask = [&](const std::string &path, bool stream = false) {
                QElapsedTimer t;
                t.start();
                const auto res = stream ? c.Get(path, {{"Range", "bytes=0-"}}) : c.Get(path);
                const double ms = t.nsecsElapsed() / 1e6;
                worst[i] = std::max(worst[i], ms);
                ++requests;
                if (ms > 1000) {
                    ++stalls;
                    std::lock_guard<std::mutex> lock(stalledMutex);
                    ++stalled[path.substr(6, path.find('?') - 6)];
                }
                const bool ok =
                    res && (res->status == 200 || res->status == 206) &&
                    (stream || res->body.find("\"status\":\"ok\"") != std::string::npos);
                if (!ok)
                    ++errors;
                return ok ? res->body : std::string();
            };
            const auto firstId = [](const std::string &body, const char *after) {
                const size_t at = body.find(after);
                const size_t id = at == std::string::npos ? at : body.find("\"id\":\"", at);
                if (id == std::string::npos)
                    return std::string();
                const size_t from = id + 6;
                return body.substr(from, body.find('"', from) - from);
            };
            for (int r = 0; r < kRounds; ++r) {
                const std::string found =
                    ask(std::string("/rest/search3?query=") + words[(i + r) % 6] +
                        "&songCount=20&albumCount=5&artistCount=5" + auth);
                const std::string albums =
                    ask(std::string("/rest/getAlbumList2?type=") + lists[(i + r) % 6] +
                        "&size=20&offset=" + std::to_string((i * 7 + r) % 50) + auth);
                const std::string album = firstId(albums, "\"album\"");
                if (!album.empty())
                    ask("/rest/getAlbum?id=" + album + auth);
                if ((i + r) % 20 == 0)
                    ask("/rest/getArtists?" + auth.substr(1));
                const std::string song = firstId(found, "\"song\"");
                if (!song.empty())
                    ask("/rest/stream?id=" + song + auth, true);
            }
        });
    }
    for (std::thread &th : threads)
        th.join();
    QString which;
    for (const auto &[endpoint, count] : stalled)
        which += QStringLiteral(" %1 %2,").arg(QString::fromStdString(endpoint)).arg(count);
    line("200 concurrent Subsonic clients, browse + stream, loopback",
         QStringLiteral("%1 requests, %2 errors, %3 over 1 s (%4 ), worst %5 ms")
             .arg(requests.load())
             .arg(errors.load())
             .arg(stalls.load())
             .arg(which.isEmpty() ? QStringLiteral(" none") : which.chopped(1))
             .arg(*std::max_element(worst.begin(), worst.end()), 0, 'f', 0),
         "no error, no stall over 1 s");
    line("velmor-musicd resident memory with the Subsonic API in use",
         QStringLiteral("%1 MiB (peak %2 MiB)")
             .arg(statusKiB(pid, "VmRSS:") / 1024.0, 0, 'f', 1)
             .arg(statusKiB(pid, "VmHWM:") / 1024.0, 0, 'f', 1),
         memoryGoal);
}

void processFigures(const QString &work)
{
    const int count = qEnvironmentVariableIsSet("VELMOR_BENCH_TRACKS")
                          ? qEnvironmentVariableIntValue("VELMOR_BENCH_TRACKS")
                          : 100000;
    const QString given = qEnvironmentVariable("VELMOR_BENCH_LIBRARY");
    const QString root = !given.isEmpty()  ? given
                         : count == 100000 ? work + QStringLiteral("/linked")
                                           : work + QStringLiteral("/linked%1").arg(count);
    if (given.isEmpty() && !QDir(root).exists() && !makeLinkedLibrary(root, count)) {
        std::fprintf(stderr, "could not make the %d-file library\n", count);
        return;
    }
    const QString indexFile = work + QStringLiteral("/%1.sqlite").arg(QFileInfo(root).fileName());
    for (const QString &part : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(indexFile + part);
    warm(root);
    const QStringList args{QStringLiteral("--library"), root,
                           QStringLiteral("--index"),   indexFile,
                           QStringLiteral("--rescan"),  QStringLiteral("0")};
    MusicdServer server;
    if (!server.start(args)) {
        std::fprintf(stderr, "velmor-musicd did not start\n");
        return;
    }
    if (!server.waitForStderr(QStringLiteral("library ready"), 3600000)) {
        std::fprintf(stderr, "no scan summary: %s\n", qPrintable(server.stderrText()));
        return;
    }
    const QString summary =
        server.stderrText().section(QStringLiteral("library ready"), 1).section(u'\n', 0, 0);
    const QString tracks = summary.section(u' ', 1, 1);
    const double scanSeconds = summary.section(u',', -1).trimmed().section(u' ', 0, 0).toDouble();
    line("first scan, warm cache (whole process)",
         QStringLiteral("%1 files/s (%2 tracks, %3 s), peak %4 MiB")
             .arg(qint64(tracks.toDouble() / std::max(scanSeconds, 0.001)))
             .arg(tracks)
             .arg(scanSeconds, 0, 'f', 1)
             .arg(statusKiB(server.processId(), "VmHWM:") / 1024.0, 0, 'f', 1),
         ">= 10,000 files/s, peak < 200 MiB");
    line("index file bytes per track",
         QStringLiteral("%1").arg(
             (QFileInfo(indexFile).size() + QFileInfo(indexFile + QStringLiteral("-wal")).size()) /
                 std::max(tracks.toDouble(), 1.0),
             0, 'f', 0),
         "(smaller is better)");
    const QUrl url(server.url());
    const qint64 pid = server.processId();
    // Some searches first, so the memory is that of a service in use.
    {
        httplib::Client c(url.host().toStdString(), url.port());
        for (const char *q :
             {"%E7%88%B1", "a", "ea", "golden", "rain%20fire", "%E6%99%B4%E5%B7%9D"})
            for (int page = 1; page <= 3; ++page)
                c.Get(std::string("/app/search/searchList.php?qword=") + q +
                      "&page=" + std::to_string(page));
    }
    // A million tracks may take 150 MiB, a hundred thousand 60.
    const char *memoryGoal = tracks.toLongLong() >= 1000000 ? "< 150 MiB" : "< 60 MiB";
    line(qPrintable(QStringLiteral("velmor-musicd resident memory, %1-track index")
                        .arg(QLocale(QLocale::English).toString(tracks.toLongLong()))),
         QStringLiteral("%1 MiB (peak %2 MiB)")
             .arg(statusKiB(pid, "VmRSS:") / 1024.0, 0, 'f', 1)
             .arg(statusKiB(pid, "VmHWM:") / 1024.0, 0, 'f', 1),
         memoryGoal);

    // Each song is streamed as the player's link names it, by its own
    // file's suffix (a generated library mixes MP3, FLAC, Ogg and M4A).
    std::vector<std::string> suffixes(100001, "mp3");
    {
        sqlite3 *db = nullptr;
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_open_v2(QFile::encodeName(indexFile).constData(), &db, SQLITE_OPEN_READONLY,
                            nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db, "SELECT id, path FROM tracks WHERE id<=100000", -1, &stmt,
                               nullptr) == SQLITE_OK) {
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                const std::string path =
                    reinterpret_cast<const char *>(sqlite3_column_text(stmt, 1));
                const size_t dot = path.rfind('.');
                if (dot != std::string::npos)
                    suffixes[size_t(sqlite3_column_int64(stmt, 0))] = path.substr(dot + 1);
            }
        }
        sqlite3_finalize(stmt);
        sqlite3_close(db);
    }

    // 200 clients at once, each searching and streaming in turns.
    constexpr int kClients = 200;
    constexpr int kRounds = 10;
    std::atomic<int> errors{0};
    std::atomic<int> stalls{0};
    std::atomic<int> requests{0};
    std::vector<double> worst(kClients, 0);
    std::vector<std::thread> threads;
    const char *queries[] = {"%E7%88%B1", "ea", "golden", "%E6%9C%88%E5%85%89", "rain", "7"};
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([&, i] {
            httplib::Client c(url.host().toStdString(), url.port());
            c.set_read_timeout(30, 0);
            c.set_connection_timeout(30, 0);
            for (int r = 0; r < kRounds; ++r) {
                QElapsedTimer t;
                t.start();
                auto res = c.Get(std::string("/app/search/searchList.php?qword=") +
                                 queries[(i + r) % 6] + "&page=" + std::to_string(1 + r % 3));
                double ms = t.nsecsElapsed() / 1e6;
                worst[i] = std::max(worst[i], ms);
                if (!res || res->status != 200)
                    ++errors;
                if (ms > 1000)
                    ++stalls;
                t.start();
                const int n = 1 + (i * 499 + r * 7919) % 100000;
                res = c.Get("/music/" + std::to_string(n) + "." + suffixes[size_t(n)],
                            {{"Range", "bytes=0-"}});
                ms = t.nsecsElapsed() / 1e6;
                worst[i] = std::max(worst[i], ms);
                if (!res || (res->status != 206 && res->status != 200) || res->body.empty())
                    ++errors;
                if (ms > 1000)
                    ++stalls;
                requests += 2;
            }
        });
    }
    for (std::thread &th : threads)
        th.join();
    line("200 concurrent clients, search + stream, loopback",
         QStringLiteral("%1 requests, %2 errors, %3 over 1 s, worst %4 ms")
             .arg(requests.load())
             .arg(errors.load())
             .arg(stalls.load())
             .arg(*std::max_element(worst.begin(), worst.end()), 0, 'f', 0),
         "no error, no stall over 1 s");
    line("velmor-musicd resident memory after the clients",
         QStringLiteral("%1 MiB").arg(statusKiB(pid, "VmRSS:") / 1024.0, 0, 'f', 1), memoryGoal);
    subsonicClientFigures(url, pid, memoryGoal);
    server.stop();
    restartFigures(args, indexFile);
}

// Time to the answer's headers, then the whole body; an error when the
// status is wrong or fewer bytes arrive than announced.
struct Fetch
{
    bool ok = false;
    double waitMs = 0;
};

Fetch timedGet(httplib::Client &c, const std::string &path)
{
    QElapsedTimer t;
    t.start();
    Fetch f;
    size_t expected = 0;
    size_t got = 0;
    int status = 0;
    const auto res = c.Get(
        path,
        [&](const httplib::Response &r) {
            f.waitMs = t.nsecsElapsed() / 1e6;
            status = r.status;
            expected = r.get_header_value<uint64_t>("Content-Length");
            return true;
        },
        [&](const char *, size_t n) {
            got += n;
            return true;
        });
    f.ok = res && (status == 200 || status == 206) && got == expected && got > 0;
    return f;
}

// 200 clients search and stream whole files of 6.6 MB, more than a loopback
// socket takes into its buffers at once, while 40 others ask for a file and
// read none of it. Before answers were written from the connection loop,
// each of those held a worker until the write time-out.
void streamFigures(const QString &work)
{
    constexpr int kFiles = 8;
    const QString root = work + QStringLiteral("/long");
    if (!QDir(root + QStringLiteral("/Singer")).exists()) {
        QDir().mkpath(root + QStringLiteral("/Singer"));
        for (int i = 0; i < kFiles; ++i) {
            QFile f(QStringLiteral("%1/Singer/Singer - Long Song %2.wav").arg(root).arg(i));
            if (!f.open(QIODevice::WriteOnly) ||
                f.write(TestLibrary::toneWav(150, 220 + 40 * i)) <= 0) {
                std::fprintf(stderr, "could not write %s\n", qPrintable(f.fileName()));
                return;
            }
        }
    }
    MusicdServer server;
    if (!server.start({QStringLiteral("--library"), root, QStringLiteral("--index"),
                       work + QStringLiteral("/long.sqlite")}) ||
        !server.waitForStderr(QStringLiteral("library ready"), 60000)) {
        std::fprintf(stderr, "velmor-musicd did not start on the long files\n");
        return;
    }
    const QUrl url(server.url());
    std::vector<std::string> paths;
    {
        httplib::Client c(url.host().toStdString(), url.port());
        const auto res = c.Get("/app/search/searchList.php?qword=Long%20Song");
        const QRegularExpression id(QStringLiteral("value=\"([0-9]+)\""));
        auto it = id.globalMatch(QString::fromStdString(res ? res->body : std::string()));
        while (it.hasNext())
            paths.push_back("/music/" + it.next().captured(1).toStdString() + ".wav");
    }
    if (paths.size() != size_t(kFiles)) {
        std::fprintf(stderr, "found %zu of the long files\n", paths.size());
        return;
    }

    constexpr int kStalled = 40;
    std::vector<int> stalled;
    for (int i = 0; i < kStalled; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int small = 4096;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(uint16_t(url.port()));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const std::string request = "GET " + paths[i % kFiles] + " HTTP/1.1\r\n\r\n";
        if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0) [[maybe_unused]]
            const ssize_t n = ::send(fd, request.data(), request.size(), 0);
        stalled.push_back(fd);
    }

    constexpr int kClients = 200;
    constexpr int kRounds = 2;
    const char *queries[] = {"Long", "%E7%88%B1", "Song%203", "Singer", "x"};
    std::atomic<int> errors{0};
    std::atomic<int> stalls{0};
    std::atomic<int> requests{0};
    std::vector<double> worstSearch(kClients, 0);
    std::vector<double> worstStream(kClients, 0);
    std::vector<std::thread> threads;
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([&, i] {
            httplib::Client c(url.host().toStdString(), url.port());
            c.set_read_timeout(30, 0);
            c.set_connection_timeout(30, 0);
            for (int r = 0; r < kRounds; ++r) {
                const Fetch search = timedGet(c, std::string("/app/search/searchList.php?qword=") +
                                                     queries[(i + r) % 5]);
                const Fetch stream = timedGet(c, paths[(i + r) % kFiles]);
                worstSearch[i] = std::max(worstSearch[i], search.waitMs);
                worstStream[i] = std::max(worstStream[i], stream.waitMs);
                errors += !search.ok + !stream.ok;
                stalls += (search.waitMs > 1000) + (stream.waitMs > 1000);
                requests += 2;
            }
        });
    }
    for (std::thread &th : threads)
        th.join();
    const double seconds = wall.nsecsElapsed() / 1e9;
    line("200 clients, search + whole 6.6 MB files, 40 stalled",
         QStringLiteral("%1 requests, %2 errors, %3 over 1 s, worst wait: search %4 ms, "
                        "first byte %5 ms; %6 s, %7 MB/s")
             .arg(requests.load())
             .arg(errors.load())
             .arg(stalls.load())
             .arg(*std::max_element(worstSearch.begin(), worstSearch.end()), 0, 'f', 0)
             .arg(*std::max_element(worstStream.begin(), worstStream.end()), 0, 'f', 0)
             .arg(seconds, 0, 'f', 1)
             .arg(kClients * kRounds / 2.0 * 6.615 / seconds, 0, 'f', 0),
         "no error, no stall over 1 s");
    line("velmor-musicd resident memory after the long-file clients",
         QStringLiteral("%1 MiB").arg(statusKiB(server.processId(), "VmRSS:") / 1024.0, 0, 'f', 1),
         "(per-connection state small and freed)");
    for (int fd : stalled)
        ::close(fd);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp;
    const QString work = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    QDir().mkpath(work);
    const QByteArray parts = qgetenv("VELMOR_BENCH_PARTS");
    if (parts.isEmpty() || parts.contains("scan"))
        scanFigures(work);
    if (parts.isEmpty() || parts.contains("search"))
        searchFigures(work);
    if (parts.isEmpty() || parts.contains("api"))
        apiFigures(work);
    if (parts.isEmpty() || parts.contains("process"))
        processFigures(work);
    if (parts.isEmpty() || parts.contains("stream"))
        streamFigures(work);
    return 0;
}
