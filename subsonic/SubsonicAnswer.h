// What a Subsonic server answers (asked with f=json), read into plain
// values: a pure function from bytes to data, apart from the fetching, so
// hostile answers (garbage, wrong types, huge numbers, missing members,
// deep nesting) are tested without a network. Nothing here throws or
// trusts a member's type; what does not fit is left out.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

namespace subsonic {

// One answer's envelope: "subsonic-response" with its status.
struct Reply
{
    enum class Status {
        Ok,          // status "ok": body holds the answer's members
        Failed,      // status "failed": errorCode and message say why
        Unreachable, // no answer came (refused, timed out, too large…)
        Untrusted,   // TLS refused the server's certificate (message says why)
        Garbage,     // an answer came, but not a Subsonic one
    };
    Status status = Status::Garbage;
    int errorCode = 0;
    QString message;
    QJsonObject body;

    bool ok() const { return status == Status::Ok; }
};

// The error code a server gives for a wrong user name or password.
inline constexpr int kWrongCredentials = 40;

struct SongFacts
{
    QString id;
    QString title;
    QString artist;
    QString album;
    QString suffix; // the file's own, lower case; may be empty
    QString coverArt;
    QString artistId;
    int durationSeconds = -1;
    qint64 size = -1;
};

struct ArtistFacts
{
    QString id;
    QString name;
    QString coverArt;
};

class SubsonicAnswer
{
public:
    // Songs and artists in one answer beyond these are not read.
    static constexpr int kMaxItems = 1000;

    static Reply parse(const QByteArray &json);

    // The songs under container[member] (an array, or a single object as
    // some servers write a one-element list).
    static QList<SongFacts> songs(const QJsonObject &container, const QString &member);
    static QList<ArtistFacts> artists(const QJsonObject &container, const QString &member);

    // getLyricsBySongId's body as LRC text: the first synced entry's lines
    // with their times ([mm:ss.xx], the entry's offset applied), else the
    // first unsynced entry's lines as plain text. Empty when there is none.
    static QString structuredLyrics(const QJsonObject &body);
    // getLyrics's body: the lyric text, empty when there is none.
    static QString plainLyrics(const QJsonObject &body);

    // A text value cleaned as the library cleans tags: control characters
    // become spaces, cut at 256 characters, trimmed; non-strings (numbers
    // as IDs excepted) are empty.
    static QString text(const QJsonValue &value);
};

} // namespace subsonic
