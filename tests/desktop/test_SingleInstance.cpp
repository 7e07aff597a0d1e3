// The one-player socket inside one process: a listening instance on the
// main thread, later starts' claims from a thread of their own (a claim
// waits for the answer, which the main thread's event loop gives).
#include "desktop/SingleInstance.h"

#include <QCoreApplication>
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
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

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

} // namespace
