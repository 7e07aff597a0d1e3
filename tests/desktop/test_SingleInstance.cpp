// The one-player socket inside one process: a listening instance on the
// main thread, later starts' claims from a thread of their own (a claim
// waits for the answer, which the main thread's event loop gives).
#include "desktop/SingleInstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A user id that is not the test's: the other user of the tests run as root.
constexpr uid_t kNobody = 65534;

class SingleInstanceTest : public ::testing::Test
{
protected:
    QString path() const { return m_dir.filePath(QStringLiteral("instance")); }

    // claim() from another thread while this one runs the event loop;
    // meanwhile, once, after meanwhileAfterMs.
    SingleInstance::Claim claimFromThread(const QStringList &args, int timeoutMs = 5000,
                                          const std::function<void()> &meanwhile = {},
                                          int meanwhileAfterMs = 0)
    {
        SingleInstance::Claim result = SingleInstance::Claim::Unanswered;
        QThread *thread = QThread::create([&] {
            SingleInstance later(path());
            result = later.claim(args, timeoutMs);
        });
        thread->start();
        QElapsedTimer guard;
        guard.start();
        bool meanwhileDone = !meanwhile;
        while (!thread->isFinished() && guard.elapsed() < 30000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            if (!meanwhileDone && guard.elapsed() >= meanwhileAfterMs) {
                meanwhile();
                meanwhileDone = true;
            }
        }
        EXPECT_TRUE(thread->wait(30000));
        delete thread;
        return result;
    }

    // Sends raw bytes as a client would and reports whether the socket
    // answered before it closed.
    QByteArray sendRaw(const QByteArray &bytes)
    {
        QByteArray answer;
        QThread *thread = QThread::create([&] {
            QLocalSocket socket;
            socket.connectToServer(path());
            if (!socket.waitForConnected(5000))
                return;
            socket.write(bytes);
            socket.waitForBytesWritten(5000);
            while (socket.state() == QLocalSocket::ConnectedState && socket.waitForReadyRead(7000))
                answer += socket.readAll();
            answer += socket.readAll();
        });
        thread->start();
        while (!thread->isFinished())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        thread->wait();
        delete thread;
        return answer;
    }

    QTemporaryDir m_dir;
};

TEST_F(SingleInstanceTest, ALaterStartHandsItsArgumentsOver)
{
    SingleInstance first(path());
    EXPECT_EQ(first.claim({QStringLiteral("velmor")}, 1000), SingleInstance::Claim::First);
    ASSERT_TRUE(first.listen());
    QSignalSpy received(&first, &SingleInstance::argumentsReceived);

    const QStringList args{QStringLiteral("velmor"), QStringLiteral("--service"),
                           QStringLiteral("http://127.0.0.1:9/"), QStringLiteral("晴川 \"x\"\n")};
    EXPECT_EQ(claimFromThread(args), SingleInstance::Claim::HandedOff);
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(received.at(0).at(0).toStringList(), args.mid(1));

    EXPECT_EQ(claimFromThread({QStringLiteral("velmor")}), SingleInstance::Claim::HandedOff);
    ASSERT_EQ(received.size(), 2);
    EXPECT_TRUE(received.at(1).at(0).toStringList().isEmpty());
}

// A start racing the first one waits for it to listen rather than taking
// the socket for itself.
TEST_F(SingleInstanceTest, AStartRacingTheFirstWaitsForItsSocket)
{
    SingleInstance first(path());
    ASSERT_EQ(first.claim({QStringLiteral("velmor")}, 1000), SingleInstance::Claim::First);
    QSignalSpy received(&first, &SingleInstance::argumentsReceived);
    // The first is still on its way to the window when the second comes.
    EXPECT_EQ(claimFromThread(
                  {QStringLiteral("velmor")}, 5000, [&] { ASSERT_TRUE(first.listen()); }, 500),
              SingleInstance::Claim::HandedOff);
    EXPECT_EQ(received.size(), 1);
}

TEST_F(SingleInstanceTest, AStaleSocketDoesNotBlockTheStart)
{
    // What a crashed player leaves: a socket file nobody listens on.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(path());
    ASSERT_LT(size_t(native.size()), sizeof(address.sun_path));
    std::memcpy(address.sun_path, native.constData(), size_t(native.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(path()));

    SingleInstance first(path());
    EXPECT_EQ(first.claim({QStringLiteral("velmor")}, 1000), SingleInstance::Claim::First);
    ASSERT_TRUE(first.listen());
    QSignalSpy received(&first, &SingleInstance::argumentsReceived);
    EXPECT_EQ(claimFromThread({QStringLiteral("velmor")}), SingleInstance::Claim::HandedOff);
    EXPECT_EQ(received.size(), 1);
}

TEST_F(SingleInstanceTest, BadMessagesAreDroppedAndTheNextStartIsAnswered)
{
    SingleInstance first(path());
    first.claim({QStringLiteral("velmor")}, 1000);
    ASSERT_TRUE(first.listen());
    QSignalSpy received(&first, &SingleInstance::argumentsReceived);

    const QByteArray bad[] = {
        QByteArrayLiteral("garbage\n"),
        QByteArrayLiteral("{\"a\":1}\n"),
        QByteArrayLiteral("[\"x\", 5]\n"),
        QByteArrayLiteral("[\"x\", [\"y\"]]\n"),
        QByteArray(SingleInstance::kMaxMessageBytes + 10, '['),
    };
    for (const QByteArray &bytes : bad)
        EXPECT_NE(sendRaw(bytes), QByteArrayLiteral("ok\n")) << bytes.left(40).constData();
    EXPECT_EQ(received.size(), 0);

    EXPECT_EQ(claimFromThread({QStringLiteral("velmor"), QStringLiteral("--new")}),
              SingleInstance::Claim::HandedOff);
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(received.at(0).at(0).toStringList(), QStringList{QStringLiteral("--new")});
}

TEST_F(SingleInstanceTest, ASilentHolderIsReportedNotWaitedForeverOn)
{
    // A listener that never answers, as a hung player would be.
    QLocalServer silent;
    ASSERT_TRUE(silent.listen(path()));
    EXPECT_EQ(claimFromThread({QStringLiteral("velmor")}, 500), SingleInstance::Claim::Unanswered);
}

// The socket's folder decides who may put a socket where a later start
// looks: one others can write in, or a link to elsewhere, is not used.
TEST_F(SingleInstanceTest, OnlyAFolderOfTheUserAloneHoldsTheSocket)
{
    const QString folder = m_dir.filePath(QStringLiteral("place"));
    const QByteArray native = QFile::encodeName(folder);
    struct Case
    {
        const char *name;
        std::function<bool()> make;
        bool usable;
    } cases[] = {
        {"missing: made for the user", [] { return true; }, true},
        {"the user's own", [&] { return ::mkdir(native.constData(), 0700) == 0; }, true},
        {"writable by all",
         [&] {
             return ::mkdir(native.constData(), 0700) == 0 &&
                    ::chmod(native.constData(), 0777) == 0;
         },
         false},
        {"writable by the group",
         [&] {
             return ::mkdir(native.constData(), 0700) == 0 &&
                    ::chmod(native.constData(), 0770) == 0;
         },
         false},
        {"a link to the user's own folder",
         [&] {
             return ::symlink(QFile::encodeName(m_dir.path()).constData(), native.constData()) == 0;
         },
         false},
        {"a file", [&] { return QFile(folder).open(QIODevice::WriteOnly); }, false},
        {"another user's (as root only)",
         [&] {
             return ::mkdir(native.constData(), 0700) == 0 &&
                    ::chown(native.constData(), kNobody, kNobody) == 0;
         },
         false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name).find("as root") != std::string::npos && ::getuid() != 0)
            continue;
        ::unlink(native.constData()); // a link or a file
        QDir(folder).removeRecursively();
        ASSERT_TRUE(c.make());
        SingleInstance start(folder + QStringLiteral("/instance"));
        const SingleInstance::Claim claim = start.claim({QStringLiteral("velmor")}, 1000);
        EXPECT_EQ(claim, c.usable ? SingleInstance::Claim::First : SingleInstance::Claim::NoChannel)
            << start.problem().toStdString();
        EXPECT_EQ(start.problem().isEmpty(), c.usable);
        if (c.usable) {
            struct stat status
            {
            };
            ASSERT_EQ(::lstat(native.constData(), &status), 0);
            EXPECT_EQ(status.st_mode & 07777, 0700u);
            EXPECT_TRUE(start.listen());
        }
    }
    // Without a runtime folder, the socket goes in such a folder, not in
    // the shared temporary folder itself.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray temp = qgetenv("TMPDIR");
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
    EXPECT_EQ(SingleInstance::defaultSocketPath(),
              m_dir.filePath(QStringLiteral("velmor-%1/instance").arg(::getuid())));
    qputenv("TMPDIR", temp);
    if (!runtime.isEmpty())
        qputenv("XDG_RUNTIME_DIR", runtime);
}

// Another user listening on the socket is told nothing: a start checks
// whose socket it reached before it sends its command line.
TEST_F(SingleInstanceTest, AListenerOfAnotherUserIsToldNothing)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "needs root to listen as another user";
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(path());
    std::memcpy(address.sun_path, native.constData(), size_t(native.size()));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Bound as root in the test's folder, listening as the other user:
        // the listener's credentials are those of listen().
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 ||
            ::setuid(kNobody) != 0 || ::listen(fd, 4) != 0)
            ::_exit(1);
        if (::write(report[1], "L", 1) != 1)
            ::_exit(1);
        const int client = ::accept(fd, nullptr, nullptr);
        char buffer[4096];
        ssize_t received = 0;
        for (ssize_t n; client >= 0 && (n = ::recv(client, buffer, sizeof buffer, 0)) > 0;) {
            received += n;
            if (std::memchr(buffer, '\n', size_t(n)))
                break;
        }
        if (received > 0)
            ::send(client, "ok\n", 3, MSG_NOSIGNAL);
        const std::string count = std::to_string(received);
        ::_exit(::write(report[1], count.data(), count.size()) == ssize_t(count.size()) ? 0 : 1);
    }
    ::close(report[1]);
    char listening = 0;
    ASSERT_EQ(::read(report[0], &listening, 1), 1);

    SingleInstance start(path());
    EXPECT_EQ(start.claim({QStringLiteral("velmor"), QStringLiteral("--service"),
                           QStringLiteral("http://127.0.0.1:9/secret/")},
                          2000),
              SingleInstance::Claim::NoChannel);
    EXPECT_TRUE(start.problem().contains(QStringLiteral("another user")))
        << start.problem().toStdString();

    std::string received;
    char buffer[32];
    for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;)
        received.append(buffer, size_t(n));
    ::close(report[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(received, "0"); // bytes the other user's listener got
}

} // namespace
