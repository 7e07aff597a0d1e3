// One plain-http GET on a POSIX socket, for a thread that has no event loop
// (the player's stream reader, the request worker behind HttpClient): the
// request, the status line and headers, then the body by Content-Length,
// chunked or until the close. Every wait is a poll() in short slices that
// ends once the abort flag is set, and nothing at all for the time-out ends
// the connection, so no caller ever waits on a silent server for good.
#pragma once

#include <QByteArray>
#include <QList>
#include <atomic>

class HttpConnection
{
public:
    enum class Failure { None, HostNotFound, Refused, TimedOut, Closed, Malformed, Aborted };

    // Where an http:// URL points.
    struct Target
    {
        QByteArray host;
        QByteArray port = "80";
        QByteArray path = "/";

        // False for another scheme or a URL without a host.
        static bool parse(const QByteArray &url, Target &out);
        // The Host header's value: the port only when it is not 80.
        QByteArray authority() const;
        // A redirect's Location made absolute against this target (any
        // scheme it names is kept, so the caller sees an https:// one).
        QByteArray resolve(const QByteArray &location) const;
    };

    // Status lines and headers longer than this are not an answer we read.
    static constexpr qsizetype kMaxHeadBytes = 64 * 1024;

    HttpConnection(const std::atomic<bool> &abort, int timeoutMs);
    ~HttpConnection();
    HttpConnection(const HttpConnection &) = delete;
    HttpConnection &operator=(const HttpConnection &) = delete;

    // Connects, sends a GET of `target` with `extraHeaders` (whole lines,
    // each ending in CRLF; an Accept-Encoding among them, or the body may
    // come in any coding) and reads the answer's head. False, with
    // failure() saying why, when no well-formed head came.
    bool get(const Target &target, const QByteArray &extraHeaders = {});
    // Reads an answer's head from a connected, non-blocking socket, which
    // the connection then owns (for answers made up in tests and fuzzing).
    bool readAnswerFrom(int socket);
    int status() const { return m_status; }
    QByteArray header(const QByteArray &name) const;
    // The body's announced length; -1 when chunked or ended by the close.
    qint64 bodyLength() const { return m_bodyLength; }

    // The next bytes of the body: > 0 read, 0 at the body's end, -1 when the
    // connection failed first (failure() says how).
    qint64 readBody(char *data, qint64 max);
    // Takes the body as ended (an answer that has none, such as 416).
    void endBody() { m_bodyDone = true; }
    Failure failure() const { return m_failure; }
    void close();

    // "Velmor/x.y.z".
    static QByteArray userAgent();

private:
    // Closes the connection and forgets the answer.
    void startOver();
    bool connectTo(const QByteArray &host, const QByteArray &port);
    bool sendAll(const QByteArray &bytes);
    // Reads some bytes into m_in; false on close, error, time-out or abort.
    bool fill();
    bool readLine(QByteArray &line);
    // The status line and headers; sets up the body's reading.
    bool readHead();
    bool fail(Failure failure);

    const std::atomic<bool> &m_abort;
    const int m_timeoutMs;
    int m_socket = -1;
    QByteArray m_in; // received, not yet taken
    int m_status = 0;
    QList<QByteArray> m_headers;
    qint64 m_bodyLength = -1;
    qint64 m_bodyLeft = -1;
    bool m_chunked = false;
    qint64 m_chunkLeft = 0;
    bool m_bodyDone = false;
    bool m_peerClosed = false;
    Failure m_failure = Failure::None;
};
