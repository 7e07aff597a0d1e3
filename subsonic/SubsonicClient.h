// velmor-musicd's client of a Subsonic server (the REST API asked for
// JSON, token authentication): every request goes through call() or
// picture(), which sign it, bound it (a time-out for any wait, a deadline
// for the whole exchange, a cap on the answer's size), keep good answers a
// short while, and turn every failure into a Reply the caller checks.
//
// http requests go over the project's own plain http client
// (net/HttpConnection), which needs no event loop and so runs on the
// service's request threads; https ones go through HttpsTransport, which
// runs Qt's network library on a thread of its own, with the same bounds.
#pragma once

#include "subsonic/AnswerCache.h"
#include "subsonic/SubsonicAnswer.h"

#include <QList>
#include <QPair>
#include <QString>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

namespace subsonic {

using Params = QList<QPair<QString, QString>>;

struct Fetched;
class HttpsTransport;

class SubsonicClient
{
public:
    using Clock = std::chrono::steady_clock;

    // The API version we speak and the client name the server sees.
    static constexpr char kApiVersion[] = "1.16.1";
    static constexpr char kClientName[] = "velmor";

    struct Settings
    {
        QString baseUrl; // http[s]://host[:port][/path]
        // PEM certificates trusted for https beside the system's store.
        QByteArray trustedCertificates;
        QString user;
        QString password;
        int waitMs = 3000;  // no byte for this long ends a request
        int totalMs = 6000; // a request's whole exchange, redirects included
        qint64 maxAnswerBytes = 4 * 1024 * 1024;
        qint64 maxPictureBytes = 16 * 1024 * 1024;
        std::chrono::milliseconds cacheLifetime{45000};
    };

    explicit SubsonicClient(Settings settings);
    ~SubsonicClient();
    SubsonicClient(const SubsonicClient &) = delete;
    SubsonicClient &operator=(const SubsonicClient &) = delete;

    // Empty when url can be served; otherwise why not, for the user.
    static QString checkBaseUrl(const QString &url);

    // method ("search3") with params; an earlier ok answer to the same
    // question is reused for the cache's lifetime. A deadline earlier than
    // the request's own bounds the request further.
    Reply call(const QString &method, const Params &params,
               std::optional<Clock::time_point> deadline = std::nullopt);
    // A picture's bytes (getCoverArt); nullopt when none came.
    std::optional<QByteArray> picture(const QString &coverArtId, int size);
    // The server's absolute URL for method with params, signed with a salt
    // of its own (the player fetches audio with it, from the server itself).
    QString signedUrl(const QString &method, const Params &params) const;

    // The first line of a password file, which no one but its owner may
    // read; nullopt with the reason in error otherwise.
    static std::optional<QString> readPasswordFile(const QString &path, QString *error);
    // A file of PEM certificates to trust; nullopt with the reason in
    // error when it cannot be read or holds none.
    static std::optional<QByteArray> readCertificateFile(const QString &path, QString *error);

    // md5(password + salt) in lower-case hex, the API's token.
    static QString token(const QString &password, const QString &salt);

private:
    Fetched fetch(const QByteArray &url, qint64 maxBytes, Clock::time_point deadline);
    static std::string cacheKey(const QString &method, const Params &params);

    class Watchdog;
    const Settings m_settings;
    AnswerCache m_answers;
    AnswerCache m_pictures;
    std::unique_ptr<Watchdog> m_watchdog;
    std::unique_ptr<HttpsTransport> m_https; // idle until the first https request
    std::mutex m_logMutex;
    QString m_lastLogged; // the last certificate refusal told on stderr
};

} // namespace subsonic
