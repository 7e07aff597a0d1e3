// One player per user: a second start hands its command line to the running
// player over a local socket and ends. Both sides are plain sockets watched
// by the event loop, so the player needs no network library to start. The socket lives in the
// user's runtime folder ($XDG_RUNTIME_DIR, else a folder of the user's own, mode 0700, in the
// temporary folder). A folder others can write in, or a listener of another user, is never trusted
// with the command line: the player then starts without the channel.
// A lock on a file beside it orders two starts racing each other, and a socket left behind by a
// player that crashed is noticed (no one answers on it) and replaced.
//
// Use: claim() before any application object exists (it needs neither one
// nor a display); when it says First, listen() once the application object
// is up.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QSocketNotifier;

class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Claim {
        HandedOff,  // a running player took the arguments
        First,      // none runs: this one is the player (call listen())
        Unanswered, // one holds the socket but did not answer in time
        // The socket's folder is not this user's alone, or another user
        // listens on it: nothing was sent, and the player starts without
        // the channel (problem() says why).
        NoChannel,
    };

    // How long a start waits for the running player's answer.
    static constexpr int kAnswerTimeoutMs = 5000;
    // A message longer than this is not a command line; it is dropped.
    static constexpr qint64 kMaxMessageBytes = 64 * 1024;

    explicit SingleInstance(const QString &socketPath = defaultSocketPath(),
                            QObject *parent = nullptr);
    ~SingleInstance() override;

    // $XDG_RUNTIME_DIR/velmor-instance, else <temp>/velmor-<uid>/instance.
    static QString defaultSocketPath();
    QString socketPath() const { return m_path; }
    // Why the last claim() gave NoChannel, in one line.
    QString problem() const { return m_problem; }
    // Creates folder (mode 0700) when missing; then empty when it is a real
    // folder (no symbolic link) of this user that no one else can write in,
    // else the reason it is not.
    static QString folderProblem(const QString &folder);

    // Tries to give args to a running player. First keeps the lock until
    // listen(), so a start racing this one waits for the socket to be up.
    Claim claim(const QStringList &args, int timeoutMs = kAnswerTimeoutMs);

    // Takes the socket over (a stale one is removed) and answers later
    // starts from the event loop. Returns false when it could not listen:
    // the player then runs on its own, as with --new-instance.
    bool listen();
    bool isListening() const;

Q_SIGNALS:
    // A later start's arguments (its program name left out).
    void argumentsReceived(const QStringList &args);

private:
    class Client;

    void onNewConnection();
    bool lock(int timeoutMs);
    void unlock();

    QString m_path;
    QString m_problem;
    int m_lockFd = -1;   // the lock file, held from claim() to listen()
    int m_serverFd = -1; // the listening socket
    QSocketNotifier *m_incoming = nullptr;
};
