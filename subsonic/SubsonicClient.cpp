#include "subsonic/SubsonicClient.h"

#include "net/HttpConnection.h"
#include "subsonic/HttpsTransport.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QUrl>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <list>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace subsonic {
namespace {

// Redirects followed before a server is taken as unreachable.
constexpr int kMaxRedirects = 3;
// The salt's length in hex digits (the API asks for at least six).
constexpr int kSaltBytes = 8;
// Answers and pictures kept at most.
constexpr size_t kCachedAnswers = 512;
constexpr qint64 kCachedAnswerBytes = 16 * 1024 * 1024;
constexpr size_t kCachedPictures = 64;
constexpr qint64 kCachedPictureBytes = 16 * 1024 * 1024;

QString encoded(const QString &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

QString query(const Params &params)
{
    QString out;
    for (const auto &[name, value] : params)
        out += (out.isEmpty() ? QString() : QStringLiteral("&")) + encoded(name) +
               QLatin1Char('=') + encoded(value);
    return out;
}

QString failureText(HttpConnection::Failure failure)
{
    switch (failure) {
    case HttpConnection::Failure::HostNotFound:
        return QStringLiteral("host not found");
    case HttpConnection::Failure::Refused:
        return QStringLiteral("connection refused");
    case HttpConnection::Failure::TimedOut:
    case HttpConnection::Failure::Aborted:
        return QStringLiteral("no answer in time");
    case HttpConnection::Failure::Closed:
        return QStringLiteral("connection closed");
    case HttpConnection::Failure::Malformed:
    case HttpConnection::Failure::None:
        break;
    }
    return QStringLiteral("not an HTTP answer");
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace

// Sets a request's abort flag once its deadline has passed: the connection
// looks at the flag between short waits, so even a server that trickles a
// byte at a time cannot hold a request past its deadline.
class SubsonicClient::Watchdog
{
public:
    Watchdog()
    {
        m_thread = std::thread([this] { run(); });
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

    struct Watch
    {
        Clock::time_point deadline;
        std::atomic<bool> *flag;
    };
    std::list<Watch>::iterator watch(Clock::time_point deadline, std::atomic<bool> *flag)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_watches.insert(m_watches.end(), Watch{deadline, flag});
        m_wake.notify_all();
        return it;
    }
    void unwatch(std::list<Watch>::iterator it)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_watches.erase(it);
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_stop) {
            Clock::time_point next = Clock::now() + std::chrono::seconds(10);
            for (const Watch &w : m_watches) {
                if (w.deadline <= Clock::now())
                    w.flag->store(true);
                else
                    next = std::min(next, w.deadline);
            }
            m_wake.wait_until(lock, next);
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::list<Watch> m_watches;
    bool m_stop = false;
    std::thread m_thread;
};

SubsonicClient::SubsonicClient(Settings settings)
    : m_settings(std::move(settings)),
      m_answers(m_settings.cacheLifetime, kCachedAnswers, kCachedAnswerBytes),
      m_pictures(m_settings.cacheLifetime, kCachedPictures, kCachedPictureBytes),
      m_watchdog(std::make_unique<Watchdog>()),
      m_https(std::make_unique<HttpsTransport>(m_settings.trustedCertificates))
{
}

SubsonicClient::~SubsonicClient() = default;

QString SubsonicClient::checkBaseUrl(const QString &url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        parsed.host().isEmpty() || parsed.hasQuery() || parsed.hasFragment())
        return QStringLiteral("not an http:// or https:// address of a server: %1").arg(url);
    return QString();
}

std::optional<QString> SubsonicClient::readPasswordFile(const QString &path, QString *error)
{
    // A password file is a line; anything much larger is not one.
    constexpr qint64 kMaxBytes = 4096;
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat st
    {
    };
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        *error = QStringLiteral("cannot read the password file %1: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return std::nullopt;
    }
    QByteArray bytes(kMaxBytes, Qt::Uninitialized);
    const ssize_t n = S_ISREG(st.st_mode) ? ::read(fd, bytes.data(), kMaxBytes) : -1;
    ::close(fd);
    if (!S_ISREG(st.st_mode) || n < 0) {
        *error = QStringLiteral("the password file %1 is not a readable file").arg(path);
        return std::nullopt;
    }
    if ((st.st_mode & (S_IRGRP | S_IROTH)) != 0) {
        *error = QStringLiteral("the password file %1 can be read by other users (mode %2); make "
                                "it yours alone: chmod 600 %1")
                     .arg(path)
                     .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
        return std::nullopt;
    }
    bytes.truncate(n);
    const qsizetype end = bytes.indexOf('\n');
    QString password = QString::fromUtf8(end < 0 ? bytes : bytes.left(end));
    if (password.endsWith(QLatin1Char('\r')))
        password.chop(1);
    if (password.isEmpty()) {
        *error =
            QStringLiteral("the password file %1 holds no password on its first line").arg(path);
        return std::nullopt;
    }
    return password;
}

std::optional<QByteArray> SubsonicClient::readCertificateFile(const QString &path, QString *error)
{
    // A bundle of every public authority is about 200 KiB.
    constexpr qint64 kMaxBytes = 4 * 1024 * 1024;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() > kMaxBytes) {
        *error = QStringLiteral("cannot read the certificate file %1: %2")
                     .arg(path, f.error() != QFile::NoError ? f.errorString()
                                                            : QStringLiteral("too large"));
        return std::nullopt;
    }
    const QByteArray pem = f.read(kMaxBytes);
    if (!pem.contains("-----BEGIN CERTIFICATE-----")) {
        *error = QStringLiteral("the certificate file %1 holds no PEM certificate (-----BEGIN "
                                "CERTIFICATE-----)")
                     .arg(path);
        return std::nullopt;
    }
    return pem;
}

QString SubsonicClient::token(const QString &password, const QString &salt)
{
    return QString::fromLatin1(
        QCryptographicHash::hash((password + salt).toUtf8(), QCryptographicHash::Md5).toHex());
}

QString SubsonicClient::signedUrl(const QString &method, const Params &params) const
{
    QByteArray saltBytes(kSaltBytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(saltBytes.data()),
                                          kSaltBytes / 4);
    const QString salt = QString::fromLatin1(saltBytes.toHex());
    Params all = params;
    all += Params{{QStringLiteral("u"), m_settings.user},
                  {QStringLiteral("t"), token(m_settings.password, salt)},
                  {QStringLiteral("s"), salt},
                  {QStringLiteral("v"), QLatin1String(kApiVersion)},
                  {QStringLiteral("c"), QLatin1String(kClientName)}};
    // Percent-encoded: the player cuts the link out of its answer as ASCII.
    QString base = QString::fromLatin1(QUrl(m_settings.baseUrl).toEncoded());
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    // ".view": the original server answers only these paths; every later one
    // takes both.
    return base + QStringLiteral("/rest/") + method + QStringLiteral(".view?") + query(all);
}

std::string SubsonicClient::cacheKey(const QString &method, const Params &params)
{
    return (method + QLatin1Char('?') + query(params)).toStdString();
}

Fetched SubsonicClient::fetch(const QByteArray &firstUrl, qint64 maxBytes,
                              Clock::time_point deadline)
{
    Fetched out;
    std::atomic<bool> abort{false};
    const auto watch = m_watchdog->watch(deadline, &abort);
    HttpConnection connection(abort, m_settings.waitMs);
    QByteArray url = firstUrl;
    for (int redirects = 0;; ++redirects) {
        HttpConnection::Target target;
        if (url.startsWith("https://")) {
            // https goes through the network module: from the start, or when
            // an http address moves there (a proxy's usual answer) within
            // what is left of the deadline.
            m_watchdog->unwatch(watch);
            return m_https->get(QUrl::fromEncoded(url), maxBytes, m_settings.waitMs, deadline);
        }
        if (!HttpConnection::Target::parse(url, target)) {
            out.error = QStringLiteral("moved to an address the bridge does not read");
            break;
        }
        // The answer uncompressed: a picture is compressed already and
        // JSON answers are small.
        if (!connection.get(target, "Accept-Encoding: identity\r\n")) {
            out.error = failureText(connection.failure());
            break;
        }
        const QByteArray location = connection.header("Location");
        if (isRedirect(connection.status()) && !location.isEmpty()) {
            if (redirects >= kMaxRedirects) {
                out.error = QStringLiteral("too many redirects");
                break;
            }
            url = target.resolve(location);
            continue;
        }
        const QByteArray coding = connection.header("Content-Encoding");
        if (!coding.isEmpty() && coding.compare("identity", Qt::CaseInsensitive) != 0) {
            out.error = QStringLiteral("an answer in a coding nobody asked for");
            break;
        }
        if (connection.bodyLength() > maxBytes) {
            out.error = QStringLiteral("answer too large");
            break;
        }
        QByteArray body;
        QByteArray chunk(64 * 1024, Qt::Uninitialized);
        qint64 n = 0;
        while ((n = connection.readBody(chunk.data(), chunk.size())) > 0 &&
               body.size() + n <= maxBytes)
            body.append(chunk.constData(), n);
        if (n > 0) {
            out.error = QStringLiteral("answer too large");
        } else if (n < 0) {
            out.error = failureText(connection.failure());
        } else {
            out.ok = true;
            out.status = connection.status();
            out.body = std::move(body);
        }
        break;
    }
    m_watchdog->unwatch(watch);
    return out;
}

Reply SubsonicClient::call(const QString &method, const Params &params,
                           std::optional<Clock::time_point> deadline)
{
    const std::string key = cacheKey(method, params);
    if (const std::optional<QByteArray> cached = m_answers.find(key))
        return SubsonicAnswer::parse(*cached);
    Params all = params;
    all.append({QStringLiteral("f"), QStringLiteral("json")});
    Clock::time_point until = Clock::now() + std::chrono::milliseconds(m_settings.totalMs);
    if (deadline)
        until = std::min(until, *deadline);
    const Fetched fetched =
        fetch(signedUrl(method, all).toUtf8(), m_settings.maxAnswerBytes, until);
    if (!fetched.ok) {
        Reply reply;
        reply.status = fetched.untrusted ? Reply::Status::Untrusted : Reply::Status::Unreachable;
        reply.message = fetched.error;
        if (fetched.untrusted) {
            // Every request fails alike until the certificate changes: told
            // once, not once a request.
            std::lock_guard<std::mutex> lock(m_logMutex);
            if (m_lastLogged != fetched.error)
                std::fprintf(stderr, "velmor-musicd: %s\n", qPrintable(fetched.error));
            m_lastLogged = fetched.error;
        }
        return reply;
    }
    Reply reply = SubsonicAnswer::parse(fetched.body);
    if (reply.ok() && fetched.status == 200)
        m_answers.insert(key, fetched.body);
    else if (reply.status == Reply::Status::Garbage)
        reply.message = fetched.status == 200
                            ? QStringLiteral("not a Subsonic answer")
                            : QStringLiteral("HTTP status %1").arg(fetched.status);
    return reply;
}

std::optional<QByteArray> SubsonicClient::picture(const QString &coverArtId, int size)
{
    const Params params{{QStringLiteral("id"), coverArtId},
                        {QStringLiteral("size"), QString::number(size)}};
    const std::string key = cacheKey(QStringLiteral("getCoverArt"), params);
    if (std::optional<QByteArray> cached = m_pictures.find(key))
        return cached;
    const Fetched fetched =
        fetch(signedUrl(QStringLiteral("getCoverArt"), params).toUtf8(), m_settings.maxPictureBytes,
              Clock::now() + std::chrono::milliseconds(m_settings.totalMs));
    if (!fetched.ok || fetched.status != 200 || fetched.body.isEmpty())
        return std::nullopt;
    m_pictures.insert(key, fetched.body);
    return fetched.body;
}

} // namespace subsonic
