// A Subsonic API request and its answer as velmor-musicd's HTTP layer hands
// them over: no HTTP library's types, so SubsonicApi is tested without
// sockets and any server can carry it.
#pragma once

#include "musicd/MusicSource.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>
#include <string>
#include <utility>

namespace musicd {

struct SubsonicRequest
{
    // The path after /rest/, with or without ".view" ("ping", "ping.view").
    QString endpoint;
    // Query and form-body parameters, decoded as UTF-8, in order; a name
    // may repeat (id, songIdToAdd).
    QList<std::pair<QString, QString>> params;
    // The peer's address as text ("127.0.0.1", "::1", "192.168.1.20").
    QString peerAddress;
    // host[:port] the client addressed, already checked to be plain, for
    // the absolute URLs of an answer.
    QString host;

    QString value(const QString &name) const;
    QStringList values(const QString &name) const;
    bool has(const QString &name) const;
};

struct SubsonicAnswer
{
    int httpStatus = 200;
    std::string contentType;
    QByteArray body;
    // Bytes to stream instead of body; the HTTP layer applies a Range to it.
    std::optional<Payload> payload;
    // How long the HTTP layer holds the answer back (refused credentials).
    std::chrono::milliseconds delay{0};
};

} // namespace musicd
