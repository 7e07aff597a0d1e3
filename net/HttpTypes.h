// What a request answers and what it may cost: shared by HttpClient and
// the clients behind it (NetworkBackend), which need no more of each other.
#pragma once

#include <QByteArray>
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
