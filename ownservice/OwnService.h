// This user's own music service: how velmor-musicd announces itself in the
// user's runtime folder, how the player and velmor-cli find it, and the lock
// that keeps it one per user.
//
// A service started with --announce takes the lock (flock on
// "musicd.lock" in the runtime folder) for its whole life, then binds, then
// writes "service.json" ({"url", "pid", "port"}, 0600) and removes it when it
// ends. A second service started meanwhile finds the lock taken and ends
// with kExitAlreadyServing, so two players starting at once start one.
//
// Finding it trusts only what is this user's: the announcement must pass
// the runtime folder's checks, its process must live, and the socket
// listening on its port must belong to this user (read from the kernel's
// socket table), since any user may bind a free loopback port. A service
// this user started by hand on the default port is used as before; another
// user's is not.
#pragma once

#include <QString>
#include <optional>

namespace ownservice {

// velmor-musicd's exit status when another service of this user holds the
// lock.
inline constexpr int kExitAlreadyServing = 3;

struct Announcement
{
    QString url;
    qint64 pid = 0;
    int port = 0;
    bool operator==(const Announcement &) const = default;
};

QString announcementFile(const QString &runtimeFolder);
QString lockFile(const QString &runtimeFolder);

QByteArray serialise(const Announcement &announcement);
// Nothing for anything but a well-formed announcement of a loopback URL.
std::optional<Announcement> parseAnnouncement(const QByteArray &bytes);

// The service's lock: held from acquire() until destroyed.
class ServiceLock
{
public:
    ServiceLock() = default;
    ~ServiceLock();
    ServiceLock(const ServiceLock &) = delete;
    ServiceLock &operator=(const ServiceLock &) = delete;

    enum class Result { Acquired, Taken, Failed };
    // Never waits: Taken when another process holds it.
    Result acquire(const QString &runtimeFolder, QString *error = nullptr);

private:
    int m_fd = -1;
};

// Writes the announcement for this process; removes it again (only if it
// still names this process).
bool announce(const QString &runtimeFolder, const Announcement &announcement,
              QString *error = nullptr);
void withdraw(const QString &runtimeFolder);

// The user ID owning the TCP socket listening on port (any local address),
// -1 when nothing listens there or the table cannot be read.
qint64 listenerOwner(int port);

// This user's announced service, when its process lives and the socket on
// its port is this user's.
std::optional<Announcement> findAnnounced();

// The URL of this user's own running service: the announced one, else one
// this user runs on the default port; "" when there is none.
QString findRunning();

// velmor-musicd in besideFolder (the player's own folder), else on PATH;
// "" when there is neither.
QString findProgram(const QString &besideFolder);

} // namespace ownservice
