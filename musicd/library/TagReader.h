// Reads what the library index keeps about an audio file through TagLib:
// title, artist(s), album, album artist, track and disc numbers, year,
// genre, length, bit rate, and whether lyrics or a front cover are embedded; and, on request, the
// embedded lyrics and cover themselves. Everything coming out is cleaned text: legacy GBK/GB2312
// bytes that an old tagger stored as Latin-1 are decoded as such, control characters become spaces
// and overlong values are cut, so a hostile tag cannot reach a page.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace TagLib {
class IOStream;
class String;
} // namespace TagLib

namespace musicd {

struct TrackTags
{
    QString title; // empty when the file has no such tag
    QString artist;
    QString album;
    QString albumArtist;
    // Each artist as its own value, when the tag holds several (ID3v2.4's
    // list, repeated Vorbis ARTIST or ARTISTS fields); never split here.
    QStringList artists;
    QString genre; // the first
    int track = 0; // 0 when untagged
    int disc = 0;
    int year = 0;
    int bitRateKbps = 0;
    int durationSeconds = 0;
    bool hasLyrics = false; // embedded lyrics of any kind
    bool hasCover = false;  // an embedded picture
};

class TagReader
{
public:
    // The file's tags; none when TagLib cannot make an audio file of it
    // (garbage, truncated beyond use, an unknown suffix). opened, when
    // given, says whether the file could be opened at all: one that could
    // not (a permission, a FIFO) may be fine the next time without changing.
    static std::optional<TrackTags> read(const QString &path, bool *opened = nullptr);
    // The same over bytes in memory, the format picked by the suffix
    // ("mp3", "flac"...): what the fuzz target drives.
    static std::optional<TrackTags> readBytes(const QByteArray &bytes, const QString &suffix);

    // Embedded lyrics as LRC or plain text; empty when there are none.
    static QString lyrics(const QString &path);
    static QString lyricsFromBytes(const QByteArray &bytes, const QString &suffix);
    // The embedded front cover (or the first picture) as stored; empty if none.
    static QByteArray cover(const QString &path);

    // Whether the suffix (lower case, no dot) names a format the library takes.
    static bool isAudioSuffix(const QString &suffix);

    // Tag text made safe to show: see the file comment.
    static QString cleanText(const TagLib::String &text);
    static QString cleanText(const QString &text);
};

} // namespace musicd
