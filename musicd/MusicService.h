// The HTTP face of velmor-musicd: installs the service's routes on its
// HTTP server, one method per route, each taking the request and filling
// the answer. Every absolute URL in an answer is built on the Host the
// client used (falling back to 127.0.0.1:<port>) and the base path the
// request came under (/k/KEY on a network address), so a client that
// addresses the service as localhost sees localhost links, and one that
// came in under the key follows links under it.
//
//   GET /app/search/searchList.php?qword=W[&page=N]   result pages (HTML)
//   GET /app/link/getLinks.php?songId=ID&...           link answer (JSON-like)
//   GET /lrc/ID.lrc (or .LRC)                          LRC lyric (UTF-8)
//   GET /music/ID.EXT                                  audio, Range supported
//   GET /search/artist?key=NAME                        singer page (HTML)
//   GET /ting/pic/item/KEY.jpg                         singer picture (JPEG)
//   GET /status                                        the library's state (JSON,
//                                                      ownservice/ServiceStatus.h)
//   GET /local/add?token=T&path=HEX                    takes the user's files
//                                                      (loopback, per-run token)
//   GET, POST /rest/NAME[.view]                        the Subsonic API (SubsonicApi)
#pragma once

#include "musicd/MusicSource.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

namespace musicd {

class HttpServer;
struct HttpRequest;
struct HttpAnswer;
class SubsonicApi;

class MusicService
{
public:
    // Serves the source given, or the built-in catalogue without one.
    explicit MusicService(std::unique_ptr<MusicSource> source = nullptr);
    ~MusicService();

    // Must be set once the port is known, before requests arrive.
    void setPort(int port);
    // The secret a request to take files must carry; none (the default)
    // refuses every such request.
    void setIntakeToken(const std::string &token) { m_intakeToken = token; }
    void install(HttpServer &server);
    // What GET /status answers for a library, with the folders' and files'
    // names or without them (for a client off this machine); without it the
    // service says it serves no library. Called from request threads.
    using StatusAnswer = std::function<QByteArray(bool withNames)>;
    void setStatusAnswer(StatusAnswer answer) { m_statusAnswer = std::move(answer); }

    // Where /rest/ requests go; none (the default) answers them 404. Must
    // outlive the service.
    void setSubsonic(SubsonicApi *api) { m_subsonic = api; }

    MusicSource &source() const { return *m_source; }

    // Page number from the "page" parameter: missing, garbage, zero or
    // negative all mean page 1; a number too large for any list stays large.
    static qint64 parsePageNumber(const std::string &text);
    // A song ID from text of digits only; 0 otherwise.
    static qint64 parseSongId(const std::string &text);
    // Whether a peer address (numeric, as the server gives it) is this
    // computer's loopback.
    static bool isLoopbackPeer(const std::string &address);

private:
    QString hostOf(const HttpRequest &req) const;
    void search(const HttpRequest &req, HttpAnswer &res) const;
    void link(const HttpRequest &req, HttpAnswer &res) const;
    void lyric(const HttpRequest &req, HttpAnswer &res);
    void audio(const HttpRequest &req, HttpAnswer &res);
    void singerPage(const HttpRequest &req, HttpAnswer &res) const;
    void picture(const HttpRequest &req, HttpAnswer &res);
    void status(const HttpRequest &req, HttpAnswer &res) const;

    void addFiles(const HttpRequest &req, HttpAnswer &res);
    void subsonic(const HttpRequest &req, HttpAnswer &res);

    std::unique_ptr<MusicSource> m_source;
    QString m_fallbackHost;
    StatusAnswer m_statusAnswer;
    std::string m_intakeToken;
    SubsonicApi *m_subsonic = nullptr;
};

} // namespace musicd
