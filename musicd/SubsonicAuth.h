// Who asks a Subsonic request, from its parameters: u with t (md5 of the
// password and the salt s), u with p (plain or "enc:" and hex), or the
// OpenSubsonic apiKey alone. Without a users file only this computer is
// answered (as "velmor", no credentials needed), unless the service was told
// to serve everyone without them.
//
// Refused credentials are answered half a second late; an address that
// keeps failing is turned away unheard (and at once) for a while, longer
// with each failure, so a guesser gets a handful of tries a minute and a
// flood of wrong requests holds no request thread for long. The table of
// failing addresses is bounded; the oldest entry goes first.
#pragma once

#include "musicd/SubsonicRequest.h"
#include "musicd/SubsonicUsers.h"

#include <QHash>
#include <chrono>
#include <mutex>
#include <optional>

namespace musicd {

struct SubsonicCaller
{
    QString user;
    bool admin = false;
    int errorCode = 0; // 0: accepted; else the API's error code
    QString message;
    std::chrono::milliseconds delay{0};
};

class SubsonicAuth
{
public:
    // The user the service answers as without a users file.
    static const char kLocalUser[];

    // Without users, only loopback peers are answered, unless openToAll.
    SubsonicAuth(std::optional<SubsonicUsers> users, bool openToAll);

    SubsonicCaller check(const SubsonicRequest &request);

    static bool isLoopback(const QString &address);
    // How long an address is turned away after its last failure (0: it is
    // heard); for tests.
    std::chrono::milliseconds turnedAwayFor(const QString &address) const;

private:
    SubsonicCaller refuse(const QString &address, int code, const QString &message);
    void forgive(const QString &address);

    struct Failures
    {
        int count = 0;
        std::chrono::steady_clock::time_point last;
    };

    const std::optional<SubsonicUsers> m_users;
    const bool m_openToAll;
    mutable std::mutex m_mutex;
    QHash<QString, Failures> m_failures;
};

} // namespace musicd
