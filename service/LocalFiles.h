// Songs from files on this computer: the player hands paths (files or
// folders) to this user's own music service, which takes the audio files
// into its index and answers their song rows, as a search would. From then
// on a handed-over file is a song like any other: link, lyric, picture,
// playlist, restart.
//
// The request goes only to a service on this computer, and carries the
// secret that service left for this user (FileIntakeToken); a service
// elsewhere cannot read the user's files, and the answer says so.
#pragma once

#include "service/SearchResult.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace musicservice {

struct LocalFilesAnswer
{
    QList<SearchResult> songs; // in the order given, folders walked
    // What the user is told about paths that gave no song (Chinese), ""
    // when every path gave some.
    QString problem;
};

// The port of a service URL on this computer (http, a loopback host); -1
// for any other.
int loopbackPort(const QString &serviceUrl);

// Asks the service at ServiceConfig::host() to take the files and folders
// (absolute paths), one request each.
LocalFilesAnswer addLocalFiles(const QStringList &paths);

// The message for one path the service did not take: its HTTP status (0
// with the client's error text when no answer came).
QString localFileProblem(const QString &path, int status, const QString &networkError);

} // namespace musicservice
