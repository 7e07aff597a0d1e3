// A plain http:// link read for the player's stream reader: ranges from any
// byte, up to kMaxRedirects redirects, and a new connection with a Range
// from the byte reached when one drops mid-body. The thread reading it needs
// no event loop, and every wait ends soon after the abort flag is set, so
// destroying a playback never waits for the network.
#pragma once

#include "net/HttpConnection.h"
#include "playback/sources/ByteSource.h"

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

    bool open(qint64 offset) override;
    qint64 read(char *data, qint64 max) override;
    qint64 size() const override { return m_size; }

    // After open() failed: the link led somewhere this client does not go
    // (https, another scheme), so another reader should try it.
    bool redirectedAway() const { return m_redirectedAway; }
    // Whether the server answered a Range with the part asked for.
    bool rangesHonoured() const { return m_rangesHonoured; }

private:
    bool connectTo(const QByteArray &url, qint64 offset, int redirects);

    const QByteArray m_url;
    const std::atomic<bool> &m_abort;
    HttpConnection m_connection;
    qint64 m_size = -1;
    qint64 m_position = 0; // of the next byte read()
    bool m_redirectedAway = false;
    bool m_rangesHonoured = false;
};
