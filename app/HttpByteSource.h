// A plain http:// link read with a small blocking HTTP/1.1 client on a
// POSIX socket, so the thread reading it needs no event loop: ranges from
// any byte, Content-Length or chunked bodies, up to kMaxRedirects
// redirects, the player's own user agent, a read time-out, and a new
// connection with a Range from the byte reached when one drops mid-body.
// Every wait is a poll() in short slices that end once the abort flag is
// set, so destroying a playback never waits for the network.
#pragma once

#include "app/ByteSource.h"

#include <QByteArray>
#include <atomic>

class HttpByteSource : public ByteSource
{
public:
    static constexpr int kMaxRedirects = 5;
    // Nothing at all for this long ends a connection (as the FFmpeg path's
    // read time-out does); a new one is then tried.
    static constexpr int kReadTimeoutMs = 10000;
    // Connections tried in a row without a byte coming before giving up.
    static constexpr int kMaxReconnects = 3;

    HttpByteSource(const QByteArray &url, const std::atomic<bool> &abort);
    ~HttpByteSource() override;

    bool open(qint64 offset) override;
    qint64 read(char *data, qint64 max) override;
    qint64 size() const override { return m_size; }

    // After open() failed: the link led somewhere this client does not go
    // (https, another scheme), so another reader should try it.
    bool redirectedAway() const { return m_redirectedAway; }
    // Whether the server answered a Range with the part asked for.
    bool rangesHonoured() const { return m_rangesHonoured; }

    // "Velmor/x.y.z".
    static QByteArray userAgent();

private:
    bool connectTo(const QByteArray &url, qint64 offset, int redirects);
    bool connectSocket(const QByteArray &host, const QByteArray &port);
    bool sendAll(const QByteArray &bytes);
    // Reads some bytes into m_in; false on close, error, time-out or abort.
    bool fill();
    bool readLine(QByteArray &line);
    qint64 readBody(char *data, qint64 max);
    void closeSocket();

    const QByteArray m_url;
    const std::atomic<bool> &m_abort;
    int m_socket = -1;
    QByteArray m_in; // received, not yet taken
    qint64 m_size = -1;
    qint64 m_position = 0; // of the next byte read()
    // The body being read: how much of it is left (-1 until the close),
    // or chunked.
    qint64 m_bodyLeft = -1;
    bool m_chunked = false;
    qint64 m_chunkLeft = 0;
    bool m_bodyDone = false;
    bool m_redirectedAway = false;
    bool m_rangesHonoured = false;
};
