// What a request answers and what it may cost: shared by HttpClient and
// the clients behind it (NetworkBackend), which need no more of each other.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

struct HttpResult
{
    QByteArray body;
    int status = 0;  // HTTP status, 0 when no answer came
    bool ok = false; // an HTTP answer arrived whole (whatever its status)
    QString error;   // short Chinese description when !ok
};

// What one request may cost beyond the client's defaults.
struct HttpLimits
{
    // A larger body is refused as a failure; 0 means maxBodyBytes().
    qint64 maxBodyBytes = 0;
    // Requests of one group can be cut short together (limitGroup); empty
    // for none.
    QString group;
};

// Whether the Content-Length values of one answer (each header's value, as
// sent or as joined with ", ") name one length. Two that differ leave the
// body's end to whichever the reader believes, so such an answer is broken
// as a whole (RFC 9112, 6.3); the same length repeated is allowed.
inline bool contentLengthsAgree(const QList<QByteArray> &values)
{
    QByteArray first;
    for (const QByteArray &value : values) {
        for (const QByteArray &part : value.split(',')) {
            const QByteArray length = part.trimmed();
            if (first.isNull())
                first = length;
            else if (length != first)
                return false;
        }
    }
    return true;
}
