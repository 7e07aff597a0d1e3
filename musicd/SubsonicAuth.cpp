#include "musicd/SubsonicAuth.h"

#include <QCryptographicHash>

namespace musicd {
namespace {

// Every refusal is this late: a guess costs the guesser half a second.
constexpr std::chrono::milliseconds kRefusalDelay{500};
// After this many failures in a row an address is turned away unheard for
// a while, doubling with each further failure up to the longest wait.
constexpr int kFreeFailures = 3;
constexpr std::chrono::seconds kFirstWait{2};
constexpr std::chrono::seconds kLongestWait{60};
// An address quiet this long starts afresh.
constexpr std::chrono::minutes kForgetAfter{15};
constexpr qsizetype kMaxAddresses = 4096;

const QLatin1String kEncPrefix("enc:");

std::chrono::milliseconds waitAfter(int failures)
{
    if (failures < kFreeFailures)
        return std::chrono::milliseconds(0);
    const int doublings = std::min(failures - kFreeFailures, 5);
    return std::min<std::chrono::milliseconds>(kFirstWait * (1 << doublings), kLongestWait);
}

} // namespace

const char SubsonicAuth::kLocalUser[] = "velmor";

SubsonicAuth::SubsonicAuth(std::optional<SubsonicUsers> users, bool openToAll)
    : m_users(std::move(users)), m_openToAll(openToAll)
{
}

bool SubsonicAuth::isLoopback(const QString &address)
{
    return address.startsWith(QLatin1String("127.")) || address == QLatin1String("::1") ||
           address.startsWith(QLatin1String("::ffff:127."));
}

std::chrono::milliseconds SubsonicAuth::turnedAwayFor(const QString &address) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_failures.constFind(address);
    return it == m_failures.cend() ? std::chrono::milliseconds(0) : waitAfter(it->count);
}

SubsonicCaller SubsonicAuth::refuse(const QString &address, int code, const QString &message)
{
    SubsonicCaller caller;
    caller.errorCode = code;
    caller.message = message;
    caller.delay = kRefusalDelay;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_failures.contains(address) && m_failures.size() >= kMaxAddresses) {
        auto oldest = m_failures.begin();
        for (auto it = m_failures.begin(); it != m_failures.end(); ++it) {
            if (it->last < oldest->last)
                oldest = it;
        }
        m_failures.erase(oldest);
    }
    Failures &f = m_failures[address];
    ++f.count;
    f.last = std::chrono::steady_clock::now();
    return caller;
}

void SubsonicAuth::forgive(const QString &address)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failures.remove(address);
}

SubsonicCaller SubsonicAuth::check(const SubsonicRequest &request)
{
    const QString &peer = request.peerAddress;
    SubsonicCaller caller;
    if (!m_users) {
        if (!m_openToAll && !isLoopback(peer)) {
            caller.errorCode = 50;
            caller.message =
                QStringLiteral("this service has no users file: it answers this computer only");
            return caller;
        }
        caller.user = QString::fromLatin1(kLocalUser);
        caller.admin = isLoopback(peer);
        return caller;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_failures.find(peer);
        if (it != m_failures.end()) {
            const auto now = std::chrono::steady_clock::now();
            if (now - it->last > kForgetAfter) {
                m_failures.erase(it);
            } else if (now - it->last < waitAfter(it->count)) {
                // Turned away unheard: a guess in this time proves nothing.
                // At once, so a flood of them holds no request thread.
                caller.errorCode = 40;
                caller.message =
                    QStringLiteral("too many wrong credentials from this address; try later");
                return caller;
            }
        }
    }

    const QString name = request.value(QStringLiteral("u"));
    if (request.has(QStringLiteral("apiKey"))) {
        if (request.has(QStringLiteral("u")))
            return refuse(peer, 43,
                          QStringLiteral("Multiple conflicting authentication "
                                         "mechanisms provided: apiKey with u"));
        const std::optional<SubsonicUser> user =
            m_users->byApiKey(request.value(QStringLiteral("apiKey")));
        if (!user)
            return refuse(peer, 44, QStringLiteral("Invalid API key"));
        forgive(peer);
        caller.user = user->name;
        return caller;
    }
    if (name.isEmpty()) {
        caller.errorCode = 10;
        caller.message = QStringLiteral("Required parameter is missing: u (or apiKey)");
        return caller;
    }
    const bool token = request.has(QStringLiteral("t")) && request.has(QStringLiteral("s"));
    if (!token && !request.has(QStringLiteral("p"))) {
        caller.errorCode = 10;
        caller.message = QStringLiteral("Required parameter is missing: p, or t and s");
        return caller;
    }
    const std::optional<SubsonicUser> user = m_users->byName(name);
    // An unknown user is checked against a password of nobody's, so the
    // answer takes the same time either way.
    const QByteArray password = user ? user->password.toUtf8() : QByteArray("\x01");
    bool ok = false;
    if (token) {
        const QByteArray expected =
            QCryptographicHash::hash(password + request.value(QStringLiteral("s")).toUtf8(),
                                     QCryptographicHash::Md5)
                .toHex();
        ok = sameSecret(expected, request.value(QStringLiteral("t")).toLower().toLatin1());
    } else {
        const QString p = request.value(QStringLiteral("p"));
        const QByteArray given = p.startsWith(kEncPrefix)
                                     ? QByteArray::fromHex(p.mid(kEncPrefix.size()).toLatin1())
                                     : p.toUtf8();
        ok = sameSecret(password, given);
    }
    if (!user || !ok)
        return refuse(peer, 40, QStringLiteral("Wrong username or password"));
    forgive(peer);
    caller.user = user->name;
    return caller;
}

} // namespace musicd
