// Starts the bundled music service on 127.0.0.1 with a free port for one
// test (or fixture) and stops it again.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

class MusicdServer
{
public:
    MusicdServer() = default;
    ~MusicdServer();
    MusicdServer(const MusicdServer &) = delete;
    MusicdServer &operator=(const MusicdServer &) = delete;

    // Starts velmor-musicd --port 0 and reads the URL from its first line.
    bool start(const QStringList &extraArgs = {});
    void stop();
    QString url() const { return m_url; }
    qint64 processId() const { return m_process.processId(); }
    // Requests the service has logged so far (one line each).
    QStringList logLines();
    // Waits until a logged line contains text and returns every line read
    // by then. The service writes its log from a thread of its own after
    // the answer, so a request just answered may not be logged yet; an
    // empty filter after ms milliseconds (or once the service ended) means
    // it never was.
    QStringList waitForLogLine(const QString &text, int ms);
    // Waits until the service's stderr has shown text (a scan summary, a
    // note); false after ms milliseconds or when the service ended.
    bool waitForStderr(const QString &text, int ms);
    QString stderrText() const { return QString::fromLocal8Bit(m_stderr); }

private:
    QProcess m_process;
    QString m_url;
    QStringList m_log;
    QByteArray m_stderr;
};

#include <gtest/gtest.h>

// A test suite sharing one bundled service: started on a free port before
// the suite's first test, stopped after its last. Base is the fixture the
// suite builds on (::testing::Test or a fixture of its own).
template <typename Base = ::testing::Test> class MusicdSuite : public Base
{
protected:
    static void SetUpTestSuite()
    {
        service = new MusicdServer;
        ASSERT_TRUE(service->start());
    }
    static void TearDownTestSuite()
    {
        delete service;
        service = nullptr;
    }

    static inline MusicdServer *service = nullptr;
};
