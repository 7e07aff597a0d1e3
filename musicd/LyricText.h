// Lyrics from the library as the player reads them: UTF-8 LRC with CR LF
// line ends. A sidecar file may be UTF-8 (with or without a byte-order mark)
// or GBK; embedded lyrics arrive as text already. Lyrics without any time
// tag get tags spread evenly over the song, so the player steps through
// them as it plays instead of showing nothing.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace musicd {

class LyricText
{
public:
    // Sidecar bytes to text: a UTF-8 BOM is dropped, valid UTF-8 is UTF-8,
    // anything else is read as GB18030 (which covers GBK and GB2312).
    static QString decode(const QByteArray &bytes);

    // The lyric the service sends: LRC lines kept as they are (blank lines
    // dropped, line ends made CR LF); plain lines given time tags over
    // durationSeconds (a few seconds each when the length is unknown).
    // Empty when the text has no line worth showing.
    static QByteArray served(const QString &text, int durationSeconds);

    // The text's lines worth showing: control characters blanked, ends
    // trimmed, blank lines dropped, at most a few thousand.
    static QStringList plainLines(const QString &text);

    // Whether the text has at least one [mm:ss] time tag.
    static bool hasTimeTags(const QString &text);

    struct TimedLine
    {
        qint64 startMs = 0;
        QString text;
    };
    // The sung lines of an LRC text in time order: a line with several
    // tags once for each, header tags ([ti:], [ar:], [offset:]) skipped,
    // lines without a time tag left out.
    static QList<TimedLine> timedLines(const QString &lrc);
};

} // namespace musicd
