// velmor-musicd: the bundled music service. It serves the search pages, link
// answers, LRC lyrics, singer pages, pictures and audio of either its
// built-in synthetic catalogue or, with --library, the user's own music
// folders, on 127.0.0.1 unless --listen names another address. With
// --announce it is this user's own service: one per user (a lock in the
// runtime folder), its URL written there for the player and velmor-cli, and,
// without --library, the folders chosen in the player's music library
// settings (the music folder by default). The first stdout line is the URL
// it serves; after it, one line per request. Scan progress, summaries and
// folders it cannot read go to stderr. SIGINT and SIGTERM end it. On an
// address other than loopback the player's protocol is served only under a
// secret base path, /k/KEY (--key, or a random key), and the URL line
// carries it.
#include "musicd/LibrarySource.h"
#include "musicd/MusicService.h"
#include "musicd/ScanStatus.h"
#include "musicd/SubsonicApi.h"
#include "musicd/SubsonicSource.h"
#include "musicd/SubsonicUsers.h"
#include "musicd/http/HttpServer.h"
#include "musicd/http/RequestLog.h"
#include "musicd/library/IndexLibrary.h"
#include "musicd/library/LibraryScanner.h"
#include "ownservice/FileIntakeToken.h"
#include "ownservice/LibrarySettings.h"
#include "ownservice/OwnService.h"
#include "ownservice/RuntimeFolder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QString>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <mutex>
#include <pthread.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// A scan busy on a large file must not hold up a stop for long: after this
// grace the process leaves without waiting for it.
constexpr auto kStopGrace = std::chrono::milliseconds(700);
constexpr int kLargeBlockBytes = 256 * 1024;
// How many malloc heaps the threads share (see main).
constexpr int kHeapArenas = 2;

// Log lines waiting for a reader beyond this many are dropped.
constexpr size_t kMaxQueuedLogLines = 20000;
// How long the last log lines may take to leave at the end.
constexpr auto kLogDrainTime = std::chrono::milliseconds(300);

// A key given with --key: 16 characters of base64url are 96 bits.
constexpr int kMinKeyLength = 16;
constexpr int kMaxKeyLength = 128;

// How often a running service looks at its folders again, by default.
constexpr int kDefaultRescanSeconds = 300;

// -1 when the text is not a port number.
int parsePort(const QString &text)
{
    if (text.isEmpty() || text.size() > 5)
        return -1;
    int port = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        port = port * 10 + (c.unicode() - '0');
    }
    return port <= 65535 ? port : -1;
}

int usageError(const QCommandLineParser &parser, const QString &message)
{
    std::fprintf(stderr, "velmor-musicd: %s\n\n%s", qPrintable(message),
                 qPrintable(parser.helpText()));
    return 2;
}

void say(const QString &line)
{
    std::fprintf(stderr, "velmor-musicd: %s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

QString progressLine(const musicd::ScanProgress &p)
{
    const double rate = p.seconds > 0 ? p.checked / p.seconds : 0;
    // The walk goes on while the first files are read: no end to tell yet.
    if (p.walking && p.checked == 0)
        return QStringLiteral("looking for music: %1 files found").arg(p.found);
    if (p.walking)
        return QStringLiteral("scanning: %1 of %2 files found so far, %3 files/s")
            .arg(p.checked)
            .arg(p.found)
            .arg(qint64(rate));
    const qint64 left = rate > 0 ? qint64((p.found - p.checked) / rate + 0.5) : 0;
    return QStringLiteral("scanning: %1 of %2 files, %3 files/s, about %4 s left")
        .arg(p.checked)
        .arg(p.found)
        .arg(qint64(rate))
        .arg(left);
}

void reportSummary(const musicd::ScanSummary &s, bool first)
{
    say(QStringLiteral("%1: %2 tracks (%3 new, %4 changed, %5 removed), %6 unreadable files "
                       "skipped, %7 s")
            .arg(first ? QStringLiteral("library ready") : QStringLiteral("library updated"))
            .arg(s.tracks)
            .arg(s.added)
            .arg(s.changed)
            .arg(s.removed)
            .arg(s.skipped)
            .arg(s.seconds, 0, 'f', 1));
    for (const QString &name : s.skippedNames)
        say(QStringLiteral("skipped (unreadable): %1").arg(name));
    if (!s.writeError.isEmpty())
        say(QStringLiteral(
                "cannot write the library index: %1; some of what this pass found is not "
                "kept")
                .arg(s.writeError));
    if (s.outsideLinks > 0)
        say(QStringLiteral("%1 links leading out of the library not followed").arg(s.outsideLinks));
}

// The scan thread: the first pass at once, then one every rescanSeconds
// (never with 0) until asked to stop.
class ScanLoop
{
public:
    // afterChange: run on this thread after a pass that changed the
    // library (and after the first one), before the pass is reported: the
    // pass itself keeps both cores.
    ScanLoop(musicd::LibraryScanner &scanner, musicd::LibrarySource &source,
             musicd::ScanStatus &status, int rescanSeconds, std::function<void()> afterChange)
        : m_scanner(scanner), m_source(source), m_status(status), m_rescanSeconds(rescanSeconds),
          m_afterChange(std::move(afterChange))
    {
        m_thread = std::thread([this] { run(); });
    }
    ~ScanLoop()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

private:
    void run()
    {
        bool first = true;
        QStringList lastWarnings;
        for (;;) {
            // A folder that cannot be read is said at the start and again
            // whenever that changes, not at every pass.
            const QStringList warnings = m_status.passStarted();
            if (warnings != lastWarnings) {
                for (const QString &warning : warnings)
                    say(warning);
                lastWarnings = warnings;
            }
            QElapsedTimer shown;
            shown.start();
            const musicd::ScanSummary summary = m_scanner.scan(
                [&](const musicd::ScanProgress &p) {
                    // Only a first pass that takes a while is worth watching.
                    if (first && shown.elapsed() >= 1000) {
                        say(progressLine(p));
                        shown.restart();
                    }
                },
                &m_stop);
            m_status.passEnded(summary);
            if (summary.changedAnything())
                m_source.libraryChanged();
            // Said once what the library's answers need is ready too.
            if ((first || summary.changedAnything()) && m_afterChange && !m_stop)
                m_afterChange();
            if (first || summary.changedAnything() || !summary.writeError.isEmpty())
                reportSummary(summary, first);
            first = false;
            // A pass holds every path of the library for a moment; give
            // that back rather than keep it until the next pass.
            malloc_trim(0);
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_rescanSeconds <= 0)
                m_wake.wait(lock, [this] { return m_stop.load(); });
            else
                m_wake.wait_for(lock, std::chrono::seconds(m_rescanSeconds),
                                [this] { return m_stop.load(); });
            if (m_stop)
                return;
        }
    }

    musicd::LibraryScanner &m_scanner;
    musicd::LibrarySource &m_source;
    musicd::ScanStatus &m_status;
    const int m_rescanSeconds;
    const std::function<void()> m_afterChange;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
};

// Whether text is a numeric IPv4 or IPv6 address.
bool isIpAddress(const QString &text)
{
    const QByteArray a = text.toLatin1();
    in6_addr buffer{};
    return inet_pton(AF_INET, a.constData(), &buffer) == 1 ||
           inet_pton(AF_INET6, a.constData(), &buffer) == 1;
}

bool isLoopback(const QString &address)
{
    return address.startsWith(QLatin1String("127.")) || address == QLatin1String("::1");
}

// A key of 128 random bits, URL-safe (22 characters of base64url).
QString randomKey()
{
    QByteArray bits(16, '\0');
    QRandomGenerator::system()->generate(reinterpret_cast<quint32 *>(bits.data()),
                                         reinterpret_cast<quint32 *>(bits.data() + bits.size()));
    return QString::fromLatin1(
        bits.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// Whether a key given on the command line can stand in a URL path as it is
// and is long enough not to be guessed.
bool isUsableKey(const QString &key)
{
    if (key.size() < kMinKeyLength || key.size() > kMaxKeyLength)
        return false;
    for (const QChar c : key) {
        const bool ok = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                        (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                        (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-') ||
                        c == QLatin1Char('_');
        if (!ok)
            return false;
    }
    return true;
}

QString defaultIndexFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/velmor/library.sqlite");
}

} // namespace

int main(int argc, char **argv)
{
    // Needed for the command line, the standard paths and the picture
    // plugins; no event loop runs.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmor-musicd"));
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                                .arg(VELMOR_VERSION_MAJOR)
                                                .arg(VELMOR_VERSION_MINOR)
                                                .arg(VELMOR_VERSION_PATCH));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The bundled music service: your own music folders with --library, or the\n"
        "built-in catalogue without.\n"
        "\n"
        "How the music gets in:\n"
        "  the player starts 'velmor-musicd --announce' itself on the folders chosen\n"
        "    in its 音乐库 (music library) dialog, and stops it when it exits;\n"
        "  'systemctl --user enable --now velmor-musicd' keeps it running on the same\n"
        "    folders (with a user added, 'systemctl --user edit velmor-musicd' and\n"
        "    Environment=\"VELMOR_MUSICD_OPTIONS=--listen 0.0.0.0 --port 18750\"\n"
        "    serve the LAN);\n"
        "  by hand: velmor-musicd --library DIR;\n"
        "  from a Subsonic server: velmor-musicd --subsonic http[s]://HOST[:PORT] --user\n"
        "    NAME --password-file FILE (the password on the file's first line; the file\n"
        "    readable by you alone; a self-signed https server's certificate given\n"
        "    with --subsonic-ca-file); audio then streams from the server itself.\n"
        "GET /status answers the library's state (JSON).\n"
        "\n"
        "Subsonic apps: the Subsonic API (1.16.1, OpenSubsonic) answers at /rest/. Without a\n"
        "users file it answers this computer only, and --listen on another address is\n"
        "refused unless --no-auth is given. The users file keeps each password as it is\n"
        "(the API's token login needs it): protect it like a password store."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Port to listen on; 0 picks a free one (default %1).")
            .arg(VELMOR_DEFAULT_PORT),
        QStringLiteral("N"));
    const QCommandLineOption libraryOption(
        QStringLiteral("library"),
        QStringLiteral("Serve the music under DIR instead of the built-in catalogue (may be "
                       "given more than once)."),
        QStringLiteral("DIR"));
    const QCommandLineOption indexOption(
        QStringLiteral("index"),
        QStringLiteral("The library index file (default %1).").arg(defaultIndexFile()),
        QStringLiteral("FILE"));
    const QCommandLineOption listenOption(
        QStringLiteral("listen"),
        QStringLiteral("Address to listen on (default 127.0.0.1); another address serves the "
                       "network."),
        QStringLiteral("ADDR"));
    const QCommandLineOption rescanOption(
        QStringLiteral("rescan"),
        QStringLiteral("Look at the library again every SECONDS (default %1; 0: never).")
            .arg(kDefaultRescanSeconds),
        QStringLiteral("SECONDS"));
    const QCommandLineOption announceOption(
        QStringLiteral("announce"),
        QStringLiteral("Serve as this user's own service, as the player starts it and the "
                       "systemd user unit runs it: one per user, its address written to "
                       "$XDG_RUNTIME_DIR/velmor for the player and velmor-cli, and without "
                       "--library the folders chosen in the player's music library (%1; "
                       "default the music folder).")
            .arg(LibrarySettingsFile::defaultPath()));
    const QCommandLineOption keyOption(
        QStringLiteral("key"),
        QStringLiteral("On an address other than loopback, serve the player's protocol only "
                       "under /k/KEY (letters, digits, '-' and '_', %1 to %2 of them); without "
                       "it a random key is made. The URL printed carries it.")
            .arg(kMinKeyLength)
            .arg(kMaxKeyLength),
        QStringLiteral("KEY"));
    const QCommandLineOption usersOption(
        QStringLiteral("users"),
        QStringLiteral("The Subsonic API's users file (default %1, used when it exists; mode "
                       "0600, it holds passwords).")
            .arg(musicd::SubsonicUsers::defaultPath()),
        QStringLiteral("FILE"));
    const QCommandLineOption addUserOption(
        QStringLiteral("add-user"),
        QStringLiteral("Add NAME to the users file (or give NAME a new password), asking for "
                       "the password (one line of stdin when it is not a terminal); prints "
                       "the user's API key, then ends."),
        QStringLiteral("NAME"));
    const QCommandLineOption noAuthOption(
        QStringLiteral("no-auth"),
        QStringLiteral("Serve a --listen address off this computer without a users file: "
                       "anyone who reaches it may use every endpoint, /rest/ included."));
    const QCommandLineOption subsonicOption(
        QStringLiteral("subsonic"),
        QStringLiteral("Serve the songs of the Subsonic server at URL (http:// or https://; "
                       "may include a path) instead of a library or the built-in catalogue."),
        QStringLiteral("URL"));
    const QCommandLineOption userOption(QStringLiteral("user"),
                                        QStringLiteral("The user name on the Subsonic server."),
                                        QStringLiteral("NAME"));
    const QCommandLineOption passwordFileOption(
        QStringLiteral("password-file"),
        QStringLiteral("The Subsonic password: the first line of FILE, which only you may read."),
        QStringLiteral("FILE"));
    const QCommandLineOption caFileOption(
        QStringLiteral("subsonic-ca-file"),
        QStringLiteral("Also trust the certificates in FILE (PEM) for an https:// --subsonic "
                       "server, such as a home server's self-signed one; the system's "
                       "certificates stay trusted."),
        QStringLiteral("FILE"));
    parser.addOptions({portOption, libraryOption, indexOption, listenOption, rescanOption,
                       announceOption, keyOption, usersOption, addUserOption, noAuthOption,
                       subsonicOption, userOption, passwordFileOption, caFileOption});
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("velmor-musicd %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(parser, QStringLiteral("unexpected argument: %1")
                                      .arg(parser.positionalArguments().constFirst()));
    const QString usersFile = parser.isSet(usersOption) ? parser.value(usersOption)
                                                        : musicd::SubsonicUsers::defaultPath();
    if (parser.isSet(addUserOption)) {
        QString error;
        const QString password = musicd::SubsonicUsers::readNewPassword(&error);
        const QString apiKey = password.isEmpty()
                                   ? QString()
                                   : musicd::SubsonicUsers::addUser(
                                         usersFile, parser.value(addUserOption), password, &error);
        if (apiKey.isEmpty()) {
            say(error);
            return 1;
        }
        std::printf("%s\n", qPrintable(apiKey));
        say(QStringLiteral("%1 saved in %2; the line above is the user's API key")
                .arg(parser.value(addUserOption), usersFile));
        return 0;
    }
    int port = VELMOR_DEFAULT_PORT;
    if (parser.isSet(portOption)) {
        port = parsePort(parser.values(portOption).constLast());
        if (port < 0)
            return usageError(
                parser,
                QStringLiteral("not a port number: %1").arg(parser.values(portOption).constLast()));
    }
    QString listen = QStringLiteral("127.0.0.1");
    if (parser.isSet(listenOption)) {
        listen = parser.value(listenOption);
        if (!isIpAddress(listen))
            return usageError(parser, QStringLiteral("not an IP address: %1").arg(listen));
    }
    QString key;
    if (parser.isSet(keyOption)) {
        key = parser.value(keyOption);
        if (!isUsableKey(key))
            return usageError(parser, QStringLiteral("not a usable key (%1 to %2 letters, digits, "
                                                     "'-' or '_'): %3")
                                          .arg(kMinKeyLength)
                                          .arg(kMaxKeyLength)
                                          .arg(key));
    }
    // Anyone on the network could otherwise use it; on loopback the key is
    // taken but not needed.
    const bool keyRequired = !isLoopback(listen);
    if (keyRequired && key.isEmpty())
        key = randomKey();
    const QString basePath = key.isEmpty() ? QString() : QStringLiteral("/k/") + key;
    int rescanSeconds = kDefaultRescanSeconds;
    if (parser.isSet(rescanOption)) {
        bool ok = false;
        rescanSeconds = parser.value(rescanOption).toInt(&ok);
        if (!ok || rescanSeconds < 0)
            return usageError(
                parser,
                QStringLiteral("not a number of seconds: %1").arg(parser.value(rescanOption)));
    }
    // The users file is read when named, and when it lies where it would by
    // default; a broken one stops the service rather than leave it open.
    std::optional<musicd::SubsonicUsers> users;
    if (parser.isSet(usersOption) || QFileInfo::exists(usersFile)) {
        QString error;
        users = musicd::SubsonicUsers::load(usersFile, &error);
        if (!users) {
            say(error);
            return 1;
        }
    }
    const bool noAuth = parser.isSet(noAuthOption);
    const bool haveUsers = users.has_value();
    if (!isLoopback(listen) && !haveUsers && !noAuth) {
        say(QStringLiteral("refusing to serve %1 without a users file: add a user with "
                           "'velmor-musicd --add-user NAME', or give --no-auth to serve it "
                           "to anyone")
                .arg(listen));
        return 2;
    }
    const bool announcing = parser.isSet(announceOption);
    const bool bridging = parser.isSet(subsonicOption);
    if (bridging && parser.isSet(libraryOption))
        return usageError(parser, QStringLiteral("--subsonic and --library exclude each other"));
    if (!bridging && (parser.isSet(userOption) || parser.isSet(passwordFileOption) ||
                      parser.isSet(caFileOption)))
        return usageError(parser, QStringLiteral("--user, --password-file and --subsonic-ca-file "
                                                 "go with --subsonic"));
    QStringList libraryDirs = parser.values(libraryOption);
    if (announcing && libraryDirs.isEmpty() && !bridging) {
        const LibrarySettingsFile::ReadResult settings =
            LibrarySettingsFile::read(LibrarySettingsFile::defaultPath());
        if (!settings.warning.isEmpty())
            say(QStringLiteral("%1 is not used (%2): serving the music folder")
                    .arg(LibrarySettingsFile::defaultPath(), settings.warning));
        libraryDirs = LibrarySettingsFile::servedFolders(settings.choice);
    }
    // This user's own service is one per user: the lock is held for the
    // whole life of the process, and a second one leaves at once.
    QString runtimeFolder;
    ownservice::ServiceLock serviceLock;
    if (announcing) {
        QString why;
        runtimeFolder = runtimefolder::path(&why);
        if (runtimeFolder.isEmpty()) {
            say(QStringLiteral("cannot use the runtime folder: %1").arg(why));
            return 1;
        }
        switch (serviceLock.acquire(runtimeFolder, &why)) {
        case ownservice::ServiceLock::Result::Acquired:
            break;
        case ownservice::ServiceLock::Result::Taken: {
            const QString running = ownservice::findRunning();
            say(QStringLiteral("this user's music service already runs%1")
                    .arg(running.isEmpty() ? QString() : QStringLiteral(" at ") + running));
            return ownservice::kExitAlreadyServing;
        }
        case ownservice::ServiceLock::Result::Failed:
            say(QStringLiteral("cannot lock %1: %2").arg(ownservice::lockFile(runtimeFolder), why));
            return 1;
        }
    }

    // Signals are taken by one thread with sigwait, so every other thread
    // (the server's workers included, which inherit this mask) runs on
    // undisturbed and the stop runs in ordinary code, not in a handler.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // Rendered songs are megabytes each and come and go with the cache; a
    // fixed threshold keeps them in their own mappings, which go back to the
    // system when freed instead of fragmenting the workers' heaps.
    mallopt(M_MMAP_THRESHOLD, kLargeBlockBytes);
    // Each worker would otherwise get a heap of its own that keeps what it
    // freed; two shared heaps are plenty on a machine of a few cores, and
    // keep the service's memory near what it holds in use.
    mallopt(M_ARENA_MAX, kHeapArenas);

    // The library: its index opened (or rebuilt) before anything is served,
    // its scan running in the background while requests are answered.
    std::unique_ptr<musicd::LibraryIndex> index;
    std::unique_ptr<musicd::LibraryScanner> scanner;
    musicd::LibrarySource *librarySource = nullptr;
    std::unique_ptr<musicd::MusicSource> source;
    std::unique_ptr<musicd::ScanStatus> scanStatus;
    if (!libraryDirs.isEmpty()) {
        QStringList roots;
        for (const QString &dir : libraryDirs)
            roots.append(QDir(dir).absolutePath());
        index = std::make_unique<musicd::LibraryIndex>();
        const QString indexFile =
            parser.isSet(indexOption) ? parser.value(indexOption) : defaultIndexFile();
        QString note;
        if (!index->open(indexFile, &note)) {
            say(note.isEmpty() ? QStringLiteral("cannot open the library index %1").arg(indexFile)
                               : note);
            return 1;
        }
        if (!note.isEmpty())
            say(note);
        scanner = std::make_unique<musicd::LibraryScanner>(*index, roots);
        auto library = std::make_unique<musicd::LibrarySource>(*index, *scanner);
        librarySource = library.get();
        source = std::move(library);
        scanStatus = std::make_unique<musicd::ScanStatus>(*index, *scanner, roots);
    }
    if (bridging) {
        QString why;
        source = musicd::SubsonicSource::open(
            parser.value(subsonicOption), parser.value(userOption),
            parser.value(passwordFileOption), parser.value(caFileOption), &why);
        if (!source) {
            say(why);
            return 1;
        }
    }
    musicd::MusicService service(std::move(source));
    // The Subsonic face browses the index; without a library it serves
    // the built-in catalogue's audio by ID alone.
    std::unique_ptr<musicd::IndexLibrary> apiLibrary;
    if (index)
        apiLibrary = std::make_unique<musicd::IndexLibrary>(*index, scanner->roots());
    musicd::SubsonicApi subsonic(apiLibrary.get(), service.source(),
                                 std::make_unique<musicd::SubsonicAuth>(std::move(users), noAuth),
                                 QCoreApplication::applicationVersion());
    service.setSubsonic(&subsonic);
    if (scanStatus)
        subsonic.setScanState([&scanStatus] {
            const std::optional<ServiceStatus> now =
                ServiceStatus::fromJson(scanStatus->json(false));
            return now ? std::pair{now->scanning, now->tracks} : std::pair<bool, qint64>();
        });
    if (scanStatus)
        service.setStatusAnswer(
            [&scanStatus](bool withNames) { return scanStatus->json(withNames); });
    // Every open connection is a descriptor; the usual soft limit of 1,024
    // would refuse a burst long before the server's own limit does.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    musicd::HttpServer server;
    service.install(server);
    server.setBasePath(basePath.toStdString(), keyRequired);

    const int bound = server.bindAndListen(listen.toStdString(), port);
    const QString hostInUrl =
        listen.contains(QLatin1Char(':')) ? QLatin1Char('[') + listen + QLatin1Char(']') : listen;
    if (bound <= 0) {
        std::fprintf(stderr, "velmor-musicd: cannot listen on %s:%d\n", qPrintable(hostInUrl),
                     port);
        return 1;
    }
    service.setPort(bound);
    // The URL line goes out before any log line can: nothing is served yet.
    const QString servedPath = keyRequired ? basePath : QString();
    std::printf("http://%s:%d%s\n", qPrintable(hostInUrl), bound, qPrintable(servedPath));
    std::fflush(stdout);
    if (announcing) {
        // The player reaches a service on every address through loopback.
        const bool everywhere = listen == QLatin1String("0.0.0.0") || listen == QLatin1String("::");
        const QString host = !everywhere                     ? hostInUrl
                             : listen == QLatin1String("::") ? QStringLiteral("[::1]")
                                                             : QStringLiteral("127.0.0.1");
        QString why;
        if (!ownservice::announce(
                runtimeFolder,
                {QStringLiteral("http://%1:%2%3").arg(host).arg(bound).arg(servedPath),
                 qint64(::getpid()), bound},
                &why))
            say(QStringLiteral("cannot announce the service: %1").arg(why));
    }
    if (!isLoopback(listen) && !haveUsers)
        say(QStringLiteral("--no-auth: serving the network on %1:%2 without a users file: "
                           "anyone who can reach this address can use the Subsonic API, and "
                           "anyone who has the URL on the first line of stdout can search and "
                           "play this music")
                .arg(hostInUrl)
                .arg(bound));
    else if (!isLoopback(listen))
        say(QStringLiteral("serving the network on %1:%2: the player's protocol under a "
                           "secret path (the URL on the first line of stdout), the Subsonic "
                           "API to the users of %3")
                .arg(hostInUrl)
                .arg(bound)
                .arg(usersFile));
    // This user's player may hand over files to a library service: it
    // proves itself with a secret only this user can read.
    const bool takesFiles = scanner != nullptr;
    if (takesFiles) {
        const QByteArray token = FileIntakeToken::create();
        QString error;
        if (FileIntakeToken::write(bound, token, &error))
            service.setIntakeToken(token.toStdString());
        else
            say(QStringLiteral("cannot write %1 (%2): the player cannot hand over files")
                    .arg(FileIntakeToken::path(bound), error));
    }
    std::unique_ptr<ScanLoop> scanLoop;
    if (scanner)
        scanLoop = std::make_unique<ScanLoop>(*scanner, *librarySource, *scanStatus, rescanSeconds,
                                              [&subsonic] { subsonic.writeAhead(); });
    auto *log = new musicd::RequestLog(STDOUT_FILENO, kMaxQueuedLogLines); // lives until exit
    server.setLogger([log](const musicd::HttpRequest &req, const musicd::HttpAnswer &res) {
        // A request handing over files carries the run's secret and the
        // user's paths: its path alone is logged. The base path (the key)
        // is never in the target; the Subsonic API's credentials are masked.
        const std::string target =
            req.path == "/local/add" ? req.path : musicd::RequestLog::redacted(req.target);
        log->add(req.method + " " + target + " " + std::to_string(res.status));
    });

    std::atomic<bool> finished{false};
    std::thread stopper([&server, &finished, stopSignals, log, runtimeFolder, takesFiles, bound] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        // Gone from the runtime folder first: the process may leave below
        // without returning through main.
        if (!runtimeFolder.isEmpty())
            ownservice::withdraw(runtimeFolder);
        server.stopServing();
        if (takesFiles)
            FileIntakeToken::remove(bound);
        const auto deadline = std::chrono::steady_clock::now() + kStopGrace;
        while (!finished.load() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!finished.load()) {
            log->drain(kLogDrainTime);
            _exit(0);
        }
    });

    const bool ok = server.serve();
    if (takesFiles)
        FileIntakeToken::remove(bound);
    scanLoop.reset(); // stops between two files; everything committed stays
    finished = true;
    // The stopper uses the server and the flag on this stack, so it ends
    // before they do; a signal wakes it if none came (one that did came
    // first and is simply left pending).
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    if (!runtimeFolder.isEmpty())
        ownservice::withdraw(runtimeFolder);
    log->drain(kLogDrainTime);
    return ok ? 0 : 1;
}
