// A Subsonic server inside the test: canned JSON built from a song table,
// token authentication checked as a real server checks it, and modes that
// turn every answer hostile (garbage, failed status, huge, slow, wrong
// types, deep nesting, silence, a trickle). Listens on 127.0.0.1 with a free
// port, over https when given a certificate.
#pragma once

#include "tests/common/TestCertificate.h"
#include "tests/common/TestHttpServer.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <mutex>

class FakeSubsonic
{
public:
    static constexpr char kUser[] = "velmor";
    static constexpr char kPassword[] = "s3cr\xc3\xa9t pass";

    struct FakeSong
    {
        QString id; // the server's string ID
        QString title;
        QString artist;
        QString album;
        int seconds = 200;
        QString synced; // "start-ms|text" lines joined with '\n' (getLyricsBySongId)
        QString plain;  // getLyrics text
        QString coverArt;
    };

    enum class Mode {
        Normal,
        Garbage,
        Failed,
        Huge,
        Slow,    // says nothing for ten seconds
        Trickle, // a byte every 200 ms, for good
        WrongTypes,
        DeepNesting,
        HttpError
    };

    FakeSubsonic();
    explicit FakeSubsonic(const TestCertificate &certificate);
    bool start() { return m_http.start(); }
    QString url() const { return m_http.url(); }
    int port() const { return m_http.port(); }

    QList<FakeSong> &songs() { return m_songs; }
    std::atomic<Mode> mode{Mode::Normal};
    // Calls received per method ("search3"…), counted as they arrive.
    int calls(const QString &method) const;
    // The query of the last stream request that passed authentication.
    QString lastStream() const;

    // Whether the query's u, t and s prove kPassword.
    static bool authenticated(const QString &user, const QString &token, const QString &salt);

private:
    void route();

    TestHttpServer m_http;
    QList<FakeSong> m_songs;
    mutable std::mutex m_mutex;
    QStringList m_calls;
    QString m_lastStream;
};
