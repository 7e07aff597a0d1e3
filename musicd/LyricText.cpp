#include "musicd/LyricText.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringList>

namespace musicd {
namespace {

// Seconds a plain line gets when the song's length is not known.
constexpr int kSecondsPerPlainLine = 4;
// Lines beyond this are dropped: no song has that many.
constexpr int kMaxLines = 5000;

const QRegularExpression &timeTagPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("\\[\\d{1,3}:\\d{1,2}([.:]\\d{1,3})?\\]"));
    return pattern;
}

QString tagFor(qint64 centiseconds)
{
    return QStringLiteral("[%1:%2.%3]")
        .arg(centiseconds / 6000, 2, 10, QLatin1Char('0'))
        .arg(centiseconds / 100 % 60, 2, 10, QLatin1Char('0'))
        .arg(centiseconds % 100, 2, 10, QLatin1Char('0'));
}

} // namespace

QString LyricText::decode(const QByteArray &bytes)
{
    QByteArray body = bytes;
    if (body.startsWith("\xEF\xBB\xBF"))
        body.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(body);
    if (!utf8.hasError())
        return text;
    QStringDecoder gb("GB18030", QStringDecoder::Flag::Stateless);
    if (!gb.isValid())
        return text;
    return gb.decode(body);
}

bool LyricText::hasTimeTags(const QString &text)
{
    return timeTagPattern().match(text).hasMatch();
}

QStringList LyricText::plainLines(const QString &text)
{
    QStringList lines;
    for (QString line : text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")))) {
        // Control characters would only garble the lyric line.
        for (QChar &c : line) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                c = QLatin1Char(' ');
        }
        line = line.trimmed();
        if (!line.isEmpty())
            lines.append(line);
        if (lines.size() >= kMaxLines)
            break;
    }
    return lines;
}

QByteArray LyricText::served(const QString &text, int durationSeconds)
{
    const QStringList lines = plainLines(text);
    if (lines.isEmpty())
        return QByteArray();

    QString out;
    if (hasTimeTags(text)) {
        out = lines.join(QStringLiteral("\r\n"));
    } else {
        const qsizetype n = lines.size();
        const qint64 span = durationSeconds > 0 ? qint64(durationSeconds) * 100
                                                : qint64(n) * kSecondsPerPlainLine * 100;
        for (qsizetype i = 0; i < n; ++i)
            out += tagFor(span * i / n) + lines.at(i) + QStringLiteral("\r\n");
        out.chop(2);
    }
    return (out + QStringLiteral("\r\n")).toUtf8();
}

QList<LyricText::TimedLine> LyricText::timedLines(const QString &lrc)
{
    static const QRegularExpression leadingTag(
        QStringLiteral("^\\[(\\d{1,3}):(\\d{1,2})(?:[.:](\\d{1,3}))?\\]"));
    QList<TimedLine> lines;
    for (const QString &raw : lrc.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")))) {
        QString rest = raw.trimmed();
        QList<qint64> starts;
        for (QRegularExpressionMatch m = leadingTag.match(rest); m.hasMatch();
             m = leadingTag.match(rest)) {
            const QString fraction = m.captured(3);
            // ".5" is half a second, ".05" five hundredths, ".005" 5 ms.
            const qint64 ms = fraction.isEmpty()
                                  ? 0
                                  : fraction.toLongLong() * (fraction.size() == 1   ? 100
                                                             : fraction.size() == 2 ? 10
                                                                                    : 1);
            starts.append(m.captured(1).toLongLong() * 60000 + m.captured(2).toLongLong() * 1000 +
                          ms);
            rest = rest.mid(m.capturedLength());
        }
        rest = rest.trimmed();
        for (const qint64 start : starts)
            lines.append({start, rest});
        if (lines.size() >= kMaxLines)
            break;
    }
    // Stable: lines sung at the same moment keep the file's order.
    std::stable_sort(lines.begin(), lines.end(),
                     [](const TimedLine &a, const TimedLine &b) { return a.startMs < b.startMs; });
    return lines;
}

} // namespace musicd
