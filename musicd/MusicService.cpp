#include "musicd/MusicService.h"

#include "musicd/LinkAnswer.h"
#include "musicd/LyricFile.h"
#include "musicd/QueryText.h"
#include "musicd/SearchPageHtml.h"
#include "musicd/SingerPage.h"
#include "musicd/SubsonicApi.h"
#include "musicd/SyntheticSource.h"
#include "musicd/http/HttpAnswer.h"
#include "musicd/http/HttpRequest.h"
#include "musicd/http/HttpServer.h"
#include "musicd/http/RequestHead.h"
#include "ownservice/ServiceStatus.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace musicd {
namespace {

// More digits than any page or ID the service knows: treated as "far away".
constexpr size_t kMaxNumberDigits = 12;

const char kHtml[] = "text/html; charset=utf-8";
const char kJson[] = "application/json; charset=utf-8";

void notFound(HttpAnswer &res)
{
    res.status = 404;
    res.setContent("<html><body><h1>404 Not Found</h1></body></html>\r\n", kHtml);
}

// A single byte range clamped to the content, per RFC 7233; false when it
// cannot be satisfied.
bool resolveRange(const ByteRange &range, size_t size, size_t &first, size_t &last)
{
    if (size == 0)
        return false;
    if (range.first < 0) { // "-N": the last N bytes
        if (range.second <= 0)
            return false;
        first = size - std::min(static_cast<size_t>(range.second), size);
        last = size - 1;
        return true;
    }
    if (static_cast<size_t>(range.first) >= size)
        return false;
    first = static_cast<size_t>(range.first);
    last = range.second < 0 || static_cast<size_t>(range.second) >= size
               ? size - 1
               : static_cast<size_t>(range.second);
    return last >= first;
}

// The largest piece read from a file for one write to the client.
constexpr size_t kFileChunkBytes = 64 * 1024;

// Sends a payload (cached bytes or an open file) a piece at a time as the
// client takes it, answering a single Range itself. Several ranges at once
// get the whole file, which HTTP allows; so does a Range in another unit.
void sendPayload(const HttpRequest &req, HttpAnswer &res, const Payload &payload)
{
    const size_t size = static_cast<size_t>(payload.size());
    const std::string &type = payload.contentType;
    const std::vector<ByteRange> asked = parseByteRanges(req.header("Range"));
    size_t first = 0;
    size_t last = size == 0 ? 0 : size - 1;
    res.setHeader("Accept-Ranges", "bytes");
    if (asked.size() == 1) {
        if (!resolveRange(asked.front(), size, first, last)) {
            res.status = 416;
            res.setHeader("Content-Range", "bytes */" + std::to_string(size));
            return;
        }
        res.status = 206;
        res.setHeader("Content-Range", "bytes " + std::to_string(first) + "-" +
                                           std::to_string(last) + "/" + std::to_string(size));
    }
    if (size == 0) {
        res.setContent("", type);
        return;
    }
    if (payload.bytes && asked.size() != 1) {
        // The whole of bytes in memory: handed to the server as they are.
        res.setShared(payload.bytes, payload.bytes->constData(), size, type);
        return;
    }
    if (payload.bytes) {
        // The reader keeps the bytes alive while they are sent.
        const ByteCache::Value value = payload.bytes;
        res.setStream(last - first + 1, type,
                      [value, first, last](uint64_t offset, char *buffer, size_t max) -> ssize_t {
                          const size_t begin = first + static_cast<size_t>(offset);
                          if (begin > last)
                              return 0;
                          const size_t n = std::min(max, last - begin + 1);
                          std::memcpy(buffer, value->constData() + begin, n);
                          return static_cast<ssize_t>(n);
                      });
        return;
    }
    // A file read as it goes; one that shrank under us ends the answer
    // early (the client sees a short body) rather than sending garbage.
    const std::shared_ptr<const OpenFile> file = payload.file;
    res.setStream(last - first + 1, type,
                  [file, first, last](uint64_t offset, char *buffer, size_t max) -> ssize_t {
                      const size_t begin = first + static_cast<size_t>(offset);
                      if (begin > last)
                          return 0;
                      const qint64 n = file->read(
                          static_cast<qint64>(begin), buffer,
                          static_cast<qint64>(std::min({max, last - begin + 1, kFileChunkBytes})));
                      return n > 0 ? static_cast<ssize_t>(n) : 0;
                  });
}

} // namespace

MusicService::MusicService(std::unique_ptr<MusicSource> source)
    : m_source(source ? std::move(source) : std::make_unique<SyntheticSource>()),
      m_fallbackHost(QStringLiteral("127.0.0.1"))
{
}

MusicService::~MusicService() = default;

void MusicService::setPort(int port)
{
    m_fallbackHost = QStringLiteral("127.0.0.1:%1").arg(port);
}

qint64 MusicService::parsePageNumber(const std::string &text)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return 1;
    if (text.size() > kMaxNumberDigits)
        return Q_INT64_C(999999999999);
    const qint64 n = std::stoll(text);
    return n < 1 ? 1 : n;
}

qint64 MusicService::parseSongId(const std::string &text)
{
    if (text.empty() || text.size() > kMaxNumberDigits ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::stoll(text);
}

QString MusicService::hostOf(const HttpRequest &req) const
{
    return sanitisedHost(req.host, m_fallbackHost) + QString::fromStdString(req.basePath);
}

void MusicService::install(HttpServer &server)
{
    // Each route: a path pattern and the method that answers it.
    const auto route = [this](auto method) {
        return
            [this, method](const HttpRequest &req, HttpAnswer &res) { (this->*method)(req, res); };
    };
    server.get("/app/search/searchList.php", route(&MusicService::search));
    server.get("/app/link/getLinks.php", route(&MusicService::link));
    server.get(R"(/lrc/([0-9]{1,12})\.[lL][rR][cC])", route(&MusicService::lyric));
    server.get(R"(/music/([0-9]{1,12})\.([a-z0-9]{1,5}))", route(&MusicService::audio));
    server.get("/search/artist", route(&MusicService::singerPage));
    server.get(R"(/ting/pic/item/([0-9a-f]{1,32})\.jpg)", route(&MusicService::picture));
    server.get("/status", route(&MusicService::status));
    server.get("/local/add", route(&MusicService::addFiles));
    // The Subsonic API checks its own credentials, so it is served under
    // the network key and without it.
    const char kRestPath[] = R"(/rest/([A-Za-z0-9]{1,64}(?:\.view)?))";
    server.get(kRestPath, route(&MusicService::subsonic), HttpServer::Scope::Anywhere);
    server.post(kRestPath, route(&MusicService::subsonic), HttpServer::Scope::Anywhere);
    server.setFallback([](const HttpRequest &, HttpAnswer &res) { notFound(res); });
}

void MusicService::search(const HttpRequest &req, HttpAnswer &res) const
{
    const QString query = decodePlayerQuery(req.param("qword"));
    const qint64 pageNo = parsePageNumber(req.param("page"));
    const SearchPage page = m_source->search(query, pageNo, kRowsPerPage);
    const QByteArray html =
        page.total == 0 ? noMatchPageHtml(query) : resultPageHtml(query, pageNo, page);
    res.setContent(html.toStdString(), kHtml);
}

void MusicService::link(const HttpRequest &req, HttpAnswer &res) const
{
    // Only the ID picks the song; artist and title are informational.
    const std::optional<Song> song = m_source->songById(parseSongId(req.param("songId")));
    const QByteArray json = linkAnswerJson(song, hostOf(req));
    res.setContent(json.toStdString(), kJson);
}

void MusicService::lyric(const HttpRequest &req, HttpAnswer &res)
{
    const std::optional<Payload> payload = m_source->lyric(parseSongId(req.matches.at(1)));
    if (!payload)
        return notFound(res);
    sendPayload(req, res, *payload);
}

void MusicService::audio(const HttpRequest &req, HttpAnswer &res)
{
    const std::optional<Payload> payload =
        m_source->audio(parseSongId(req.matches.at(1)), QString::fromStdString(req.matches[2]));
    if (!payload)
        return notFound(res);
    sendPayload(req, res, *payload);
}

void MusicService::singerPage(const HttpRequest &req, HttpAnswer &res) const
{
    const QString name = decodePlayerQuery(req.param("key"));
    const std::optional<SingerEntry> singer = m_source->singerByName(name);
    const QByteArray html =
        singerPageHtml(singer ? &*singer : nullptr, name.trimmed(), hostOf(req));
    res.setContent(html.toStdString(), kHtml);
}

void MusicService::picture(const HttpRequest &req, HttpAnswer &res)
{
    const std::optional<Payload> payload =
        m_source->picture(QString::fromStdString(req.matches[1]));
    if (!payload)
        return notFound(res);
    sendPayload(req, res, *payload);
}

void MusicService::status(const HttpRequest &req, HttpAnswer &res) const
{
    // A service serving the LAN shows its counts there, but where the
    // music lies on this machine only to this machine.
    const bool local = isLoopbackPeer(req.peer);
    QByteArray json;
    if (m_statusAnswer) {
        json = m_statusAnswer(local);
    } else {
        ServiceStatus none;
        json = none.toJson();
    }
    // Read by the player every second during a scan: never kept.
    res.setHeader("Cache-Control", "no-store");
    res.setContent(json.toStdString(), kJson);
}

bool MusicService::isLoopbackPeer(const std::string &address)
{
    return address.rfind("127.", 0) == 0 || address == "::1" ||
           address.rfind("::ffff:127.", 0) == 0;
}

namespace {

// Compares every byte whatever the first difference, so the time taken
// tells nothing of how much of a guess was right.
bool sameSecret(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

void plainAnswer(HttpAnswer &res, int status, const char *text)
{
    res.status = status;
    res.setContent(text, "text/plain; charset=utf-8");
}

} // namespace

// The path travels as the hex of its bytes: a file name is any bytes but
// '/' and NUL, which no query encoding of ours carries both ways unchanged.
void MusicService::addFiles(const HttpRequest &req, HttpAnswer &res)
{
    if (m_intakeToken.empty())
        return plainAnswer(res, 501, "this service takes no files\n");
    if (!isLoopbackPeer(req.peer) || !sameSecret(req.param("token"), m_intakeToken))
        return plainAnswer(res, 403, "refused\n");
    const std::string hex = req.param("path");
    const QByteArray path = QByteArray::fromHex(QByteArray::fromStdString(hex));
    if (hex.empty() || hex.size() % 2 != 0 ||
        hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos ||
        !path.startsWith('/') || path.contains('\0'))
        return plainAnswer(res, 400, "not an absolute path\n");
    const std::optional<QList<Song>> songs = m_source->addFiles(path.toStdString());
    if (!songs)
        return plainAnswer(res, 501, "this service takes no files\n");
    if (songs->isEmpty())
        return plainAnswer(res, 404, "no audio file there\n");
    SearchPage page;
    page.total = songs->size();
    page.rows = *songs;
    const QByteArray html = resultPageHtml(QString(), 1, page);
    res.setContent(html.toStdString(), kHtml);
}

// The HTTP side of the Subsonic API: everything but carrying the request
// and the answer (and holding a refusal back) is SubsonicApi's.
void MusicService::subsonic(const HttpRequest &req, HttpAnswer &res)
{
    if (!m_subsonic)
        return notFound(res);
    SubsonicRequest request;
    request.endpoint = QString::fromStdString(req.matches.at(1));
    // Query and form-body parameters alike; a repeated name keeps its order.
    for (const auto &param : req.params)
        request.params.append(
            {QString::fromStdString(param.first), QString::fromUtf8(param.second)});
    request.peerAddress = QString::fromStdString(req.peer);
    request.host = hostOf(req);
    const SubsonicAnswer answer = m_subsonic->answer(request);
    // The answer to refused credentials waits here; SubsonicAuth keeps this
    // to half a second, and turns a repeating address away unheard.
    if (answer.delay.count() > 0)
        std::this_thread::sleep_for(answer.delay);
    res.status = answer.httpStatus;
    if (answer.payload)
        return sendPayload(req, res, *answer.payload);
    res.setContent(answer.body.toStdString(), answer.contentType);
}

} // namespace musicd
