// The lyric URL is cut from the link answer with the same plain substring
// steps as everything else the service sends: from the marker, quotes and
// backslashes removed (which also unescapes the JSON slashes), up to the
// next comma. Answers whose lyric member is the last one have no comma after
// it; there the URL ends at its closing quote or at the closing brace.
#include "service/LoadLyrics.h"

#include "net/HttpClient.h"
#include "service/FetchPage.h"

namespace musicservice {
namespace {

// Present in every link answer that says anything about lyrics.
const QString kLyricKey = QStringLiteral("lyric_url");
// The lyric member's name, colon and opening quote.
const QString kLyricMarker = QStringLiteral("lyric_url\":\"");
// What is left of the marker once quotes are gone and its first letter
// is dropped.
const QString kLyricLabel = QStringLiteral("yric_url:");
// An LRC file's extension, compared in lower case.
const QString kLrcExtension = QStringLiteral(".lrc");
// Lines of the song-information text are separated by CR LF.
const QString kCrLf = QStringLiteral("\r\n");

// Where the lyric value ends when no comma follows it: its closing quote
// (one not escaped by a backslash) or the answer's closing brace.
qsizetype valueEndWithoutComma(QStringView rest)
{
    qsizetype from = 0;
    if (rest.startsWith(kLyricMarker.mid(1)))
        from = kLyricMarker.size() - 1;
    for (qsizetype i = from; i < rest.size(); ++i) {
        const QChar c = rest.at(i);
        if (c == u'}' || (c == u'"' && (i == 0 || rest.at(i - 1) != u'\\')))
            return i;
    }
    return rest.size();
}

} // namespace

std::optional<QString> cutLyricUrl(const QString &answer)
{
    if (!answer.contains(kLyricKey))
        return std::nullopt;
    // From the second character of the member name: "yric_url" ...
    qsizetype at = answer.indexOf(kLyricMarker);
    if (at < 0)
        at = answer.indexOf(kLyricKey);
    QString u = answer.mid(at + 1);
    if (!u.contains(QLatin1Char(',')))
        u.truncate(valueEndWithoutComma(u));
    u.remove(QLatin1Char('"'));
    u.remove(QLatin1Char('\\'));
    const qsizetype label = u.indexOf(kLyricLabel);
    if (label < 0)
        return QString(); // a key without a value: no lyric file
    u.remove(0, label + kLyricLabel.size());
    const qsizetype comma = u.indexOf(QLatin1Char(','));
    if (comma >= 0)
        u.truncate(comma);
    return u;
}

bool isLrcUrl(const QString &url)
{
    return url.toLower().contains(kLrcExtension);
}

QStringList splitLrc(const QString &text)
{
    QStringList entries;
    const QStringView all(text);
    qsizetype from = 0;
    for (;;) {
        const qsizetype next = all.indexOf(u'[', from);
        QStringView piece = all.mid(from, (next < 0 ? all.size() : next) - from);
        // Only spaces are trimmed: an entry keeps the line break after it.
        while (!piece.isEmpty() && piece.front() == u' ')
            piece = piece.mid(1);
        while (!piece.isEmpty() && piece.back() == u' ')
            piece.chop(1);
        if (!piece.isEmpty())
            entries.append(QLatin1Char('[') + piece.toString());
        if (next < 0)
            break;
        from = next + 1;
    }
    return entries;
}

bool loadLyrics(const QString &answer, LyricsView &view, QString *fetchError)
{
    if (fetchError)
        fetchError->clear();
    const std::optional<QString> url = cutLyricUrl(answer);
    if (!url)
        return true; // this answer says nothing about lyrics: keep the last ones
    view.clearLyricList();
    if (url->isEmpty() || !isLrcUrl(*url)) {
        view.setLyricBoxText(kNoLyrics);
        view.setLyricText(kNoLyrics);
        return true;
    }

    const QString text = fetchPage(*url, QStringLiteral("utf-8"), {kMaxLyricBytes, {}});
    const QString error = HttpClient::lastError();
    view.clearLyricList();
    if (!error.isEmpty()) {
        // The file named by the answer could not be read: this song has no
        // lyric to show, rather than the previous song's text.
        if (fetchError)
            *fetchError = error;
        view.setLyricBoxText(kNoLyrics);
        view.setLyricText(kNoLyrics);
        return false;
    }
    QString whole;
    for (const QString &entry : splitLrc(text)) {
        view.addLyricEntry(entry);
        whole += kCrLf + entry;
    }
    // An empty file leaves the information box as it was.
    if (!whole.isEmpty())
        view.setLyricText(whole);
    return true;
}

} // namespace musicservice
