#include "musicd/MusicService.h"

#include "musicd/LinkAnswer.h"
#include "musicd/LyricFile.h"
#include "musicd/QueryText.h"
#include "musicd/RequestHead.h"
#include "musicd/SearchPageHtml.h"
#include "musicd/SingerPage.h"
#include "musicd/SubsonicApi.h"
#include "musicd/SyntheticSource.h"
#include "ownservice/ServiceStatus.h"

#include <httplib.h>
#include <thread>

namespace musicd {
namespace {

// More digits than any page or ID the service knows: treated as "far away".
constexpr size_t kMaxNumberDigits = 12;

const char kHtml[] = "text/html; charset=utf-8";
const char kJson[] = "application/json; charset=utf-8";

void notFound(httplib::Response &res)
{
    res.status = 404;
    res.set_content("<html><body><h1>404 Not Found</h1></body></html>\r\n", kHtml);
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

// Sends a payload (cached bytes or an open file), answering a single Range
// itself. The HTTP library's own range handling neither clamps a range that
// runs past the end (it announces bytes it never sends) nor refuses one that
// starts past it (it announces a length near 2^64), so the Range header is
// read here and the library is left no ranges of its own. Several ranges at
// once get the whole file, which HTTP allows; so does a Range in another
// unit.
void sendPayload(const httplib::Request &req, httplib::Response &res, const Payload &payload)
{
    const size_t size = static_cast<size_t>(payload.size());
    const std::string &type = payload.contentType;
    // The request object belongs to the server and is not itself const.
    httplib::Ranges &ranges = const_cast<httplib::Request &>(req).ranges;
    ranges.clear();
    const std::vector<ByteRange> asked = parseByteRanges(req.get_header_value("Range"));
    size_t first = 0;
    size_t last = size == 0 ? 0 : size - 1;
    if (asked.size() == 1) {
        if (!resolveRange(asked.front(), size, first, last)) {
            res.status = 416;
            res.set_header("Content-Range", "bytes */" + std::to_string(size));
            return;
        }
        res.status = 206;
        res.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                            std::to_string(last) + "/" + std::to_string(size));
    }
    if (size == 0) {
        res.set_content("", type);
        return;
    }
    if (payload.bytes) {
        // The provider keeps the bytes alive while they are sent.
        const ByteCache::Value value = payload.bytes;
        res.set_content_provider(
            last - first + 1, type,
            [value, first, last](size_t offset, size_t length, httplib::DataSink &sink) {
                const size_t begin = first + offset;
                if (begin > last)
                    return false;
                return sink.write(value->constData() + begin, std::min(length, last - begin + 1));
            });
        return;
    }
    // A file read as it goes; one that shrank under us ends the response
    // early (the client sees a short body) rather than sending garbage.
    const std::shared_ptr<const OpenFile> file = payload.file;
    res.set_content_provider(
        last - first + 1, type,
        [file, first, last](size_t offset, size_t length, httplib::DataSink &sink) {
            const size_t begin = first + offset;
            if (begin > last)
                return false;
            std::string chunk(std::min({length, last - begin + 1, kFileChunkBytes}), '\0');
            const qint64 n = file->read(static_cast<qint64>(begin), chunk.data(),
                                        static_cast<qint64>(chunk.size()));
            if (n <= 0)
                return false;
            return sink.write(chunk.data(), static_cast<size_t>(n));
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

namespace {

// The HTTP library compresses with brotli at its top quality whenever a
// client offers it, which costs around a hundred milliseconds for one search
// page here, many times what building the page costs. gzip compresses just
// as usefully and fast, so brotli is taken out of what the client offers.
void dropBrotli(const httplib::Request &req)
{
    // The request object belongs to the server and is not itself const.
    httplib::Headers &headers = const_cast<httplib::Request &>(req).headers;
    const auto it = headers.find("Accept-Encoding");
    if (it == headers.end() || it->second.find("br") == std::string::npos)
        return;
    std::string kept;
    size_t from = 0;
    while (from <= it->second.size()) {
        size_t comma = it->second.find(',', from);
        if (comma == std::string::npos)
            comma = it->second.size();
        std::string token = it->second.substr(from, comma - from);
        token.erase(0, token.find_first_not_of(' '));
        token.erase(token.find_last_not_of(' ') + 1);
        if (!token.empty() && token != "br" && token.rfind("br;", 0) != 0)
            kept += (kept.empty() ? "" : ", ") + token;
        from = comma + 1;
    }
    it->second = kept.empty() ? std::string("identity") : kept;
}

} // namespace

QString MusicService::hostOf(const httplib::Request &req) const
{
    return sanitisedHost(req.get_header_value("Host"), m_fallbackHost);
}

void MusicService::install(httplib::Server &server)
{
    server.set_pre_routing_handler([](const httplib::Request &req, httplib::Response &) {
        dropBrotli(req);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.Get("/app/search/searchList.php",
               [this](const httplib::Request &req, httplib::Response &res) { search(req, res); });
    server.Get("/app/link/getLinks.php",
               [this](const httplib::Request &req, httplib::Response &res) { link(req, res); });
    server.Get(R"(/lrc/([0-9]{1,12})\.[lL][rR][cC])",
               [this](const httplib::Request &req, httplib::Response &res) { lyric(req, res); });
    server.Get(R"(/music/([0-9]{1,12})\.([a-z0-9]{1,5}))",
               [this](const httplib::Request &req, httplib::Response &res) { audio(req, res); });
    server.Get("/search/artist", [this](const httplib::Request &req, httplib::Response &res) {
        singerPage(req, res);
    });
    server.Get(R"(/ting/pic/item/([0-9a-f]{1,32})\.jpg)",
               [this](const httplib::Request &req, httplib::Response &res) { picture(req, res); });
    server.Get("/status",
               [this](const httplib::Request &req, httplib::Response &res) { status(req, res); });
    server.Get("/local/add",
               [this](const httplib::Request &req, httplib::Response &res) { addFiles(req, res); });
    const auto rest = [this](const httplib::Request &req, httplib::Response &res) {
        subsonic(req, res);
    };
    server.Get(R"(/rest/([A-Za-z0-9]{1,64}(?:\.view)?))", rest);
    server.Post(R"(/rest/([A-Za-z0-9]{1,64}(?:\.view)?))", rest);
    server.set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (res.status == 404 && res.body.empty())
            notFound(res);
    });
}

void MusicService::search(const httplib::Request &req, httplib::Response &res) const
{
    const QString query = decodePlayerQuery(req.get_param_value("qword"));
    const qint64 pageNo = parsePageNumber(req.get_param_value("page"));
    const SearchPage page = m_source->search(query, pageNo, kRowsPerPage);
    const QByteArray html =
        page.total == 0 ? noMatchPageHtml(query) : resultPageHtml(query, pageNo, page);
    res.set_content(html.constData(), static_cast<size_t>(html.size()), kHtml);
}

void MusicService::link(const httplib::Request &req, httplib::Response &res) const
{
    // Only the ID picks the song; artist and title are informational.
    const std::optional<Song> song = m_source->songById(parseSongId(req.get_param_value("songId")));
    const QByteArray json = linkAnswerJson(song, hostOf(req));
    res.set_content(json.constData(), static_cast<size_t>(json.size()), kJson);
}

void MusicService::lyric(const httplib::Request &req, httplib::Response &res)
{
    const std::optional<Payload> payload = m_source->lyric(parseSongId(req.matches[1]));
    if (!payload)
        return notFound(res);
    sendPayload(req, res, *payload);
}

void MusicService::audio(const httplib::Request &req, httplib::Response &res)
{
    const std::optional<Payload> payload =
        m_source->audio(parseSongId(req.matches[1]), QString::fromStdString(req.matches[2].str()));
    if (!payload)
        return notFound(res);
    sendPayload(req, res, *payload);
}

void MusicService::singerPage(const httplib::Request &req, httplib::Response &res) const
{
    const QString name = decodePlayerQuery(req.get_param_value("key"));
    const std::optional<SingerEntry> singer = m_source->singerByName(name);
    const QByteArray html =
        singerPageHtml(singer ? &*singer : nullptr, name.trimmed(), hostOf(req));
    res.set_content(html.constData(), static_cast<size_t>(html.size()), kHtml);
}

void MusicService::picture(const httplib::Request &req, httplib::Response &res)
{
    const std::optional<Payload> payload =
        m_source->picture(QString::fromStdString(req.matches[1].str()));
    if (!payload)
        return notFound(res);
    sendPayload(req, res, *payload);
}

void MusicService::status(const httplib::Request &req, httplib::Response &res) const
{
    // A service serving the LAN shows its counts there, but where the
    // music lies on this machine only to this machine.
    const bool local = isLoopbackPeer(req.remote_addr);
    QByteArray json;
    if (m_statusAnswer) {
        json = m_statusAnswer(local);
    } else {
        ServiceStatus none;
        json = none.toJson();
    }
    // Read by the player every second during a scan: never kept.
    res.set_header("Cache-Control", "no-store");
    res.set_content(json.constData(), static_cast<size_t>(json.size()), kJson);
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

void plainAnswer(httplib::Response &res, int status, const char *text)
{
    res.status = status;
    res.set_content(text, "text/plain; charset=utf-8");
}

} // namespace

// The path travels as the hex of its bytes: a file name is any bytes but
// '/' and NUL, which no query encoding of ours carries both ways unchanged.
void MusicService::addFiles(const httplib::Request &req, httplib::Response &res)
{
    if (m_intakeToken.empty())
        return plainAnswer(res, 501, "this service takes no files\n");
    if (!isLoopbackPeer(req.remote_addr) ||
        !sameSecret(req.get_param_value("token"), m_intakeToken))
        return plainAnswer(res, 403, "refused\n");
    const std::string hex = req.get_param_value("path");
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
    res.set_content(html.constData(), static_cast<size_t>(html.size()), kHtml);
}

// The HTTP side of the Subsonic API: everything but carrying the request
// and the answer (and holding a refusal back) is SubsonicApi's.
void MusicService::subsonic(const httplib::Request &req, httplib::Response &res)
{
    if (!m_subsonic)
        return notFound(res);
    SubsonicRequest request;
    request.endpoint = QString::fromStdString(req.matches[1].str());
    // Query and form-body parameters alike; a repeated name keeps its order.
    for (const auto &[name, value] : req.params)
        request.params.append({QString::fromStdString(name), QString::fromUtf8(value)});
    request.peerAddress = QString::fromStdString(req.remote_addr);
    request.host = hostOf(req);
    const SubsonicAnswer answer = m_subsonic->answer(request);
    // The answer to refused credentials waits here; SubsonicAuth keeps this
    // to half a second, and turns a repeating address away unheard.
    if (answer.delay.count() > 0)
        std::this_thread::sleep_for(answer.delay);
    res.status = answer.httpStatus;
    if (answer.payload)
        return sendPayload(req, res, *answer.payload);
    res.set_content(answer.body.constData(), static_cast<size_t>(answer.body.size()),
                    answer.contentType.c_str());
}

} // namespace musicd
