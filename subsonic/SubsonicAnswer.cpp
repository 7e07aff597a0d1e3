#include "subsonic/SubsonicAnswer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <algorithm>
#include <cmath>

namespace subsonic {
namespace {

// The envelope every answer sits in.
const QString kEnvelope = QStringLiteral("subsonic-response");
// Values longer than this are cut, as the library cuts its tags.
constexpr int kMaxTextChars = 256;
// A lyric line longer than this is no lyric line.
constexpr int kMaxLyricLineChars = 1000;
// More lines than this are not a song's.
constexpr int kMaxLyricLines = 5000;
// Nothing lasts longer than a day; larger values are taken as unknown.
constexpr double kMaxSeconds = 24 * 3600;
// Sizes beyond a terabyte are taken as unknown.
constexpr double kMaxBytes = 1e12;

// The members of value as a list: an array, or one object alone.
QJsonArray listOf(const QJsonValue &value)
{
    if (value.isArray())
        return value.toArray();
    if (value.isObject())
        return QJsonArray{value};
    return {};
}

// A number or a numeric string within [0, max]; -1 otherwise.
double boundedNumber(const QJsonValue &value, double max)
{
    double n = -1;
    if (value.isDouble()) {
        n = value.toDouble();
    } else if (value.isString()) {
        bool ok = false;
        n = value.toString().toDouble(&ok);
        if (!ok)
            n = -1;
    }
    return std::isfinite(n) && n >= 0 && n <= max ? n : -1;
}

QString lrcTag(qint64 ms)
{
    const qint64 cs = ms / 10;
    return QStringLiteral("[%1:%2.%3]")
        .arg(cs / 6000, 2, 10, QLatin1Char('0'))
        .arg(cs / 100 % 60, 2, 10, QLatin1Char('0'))
        .arg(cs % 100, 2, 10, QLatin1Char('0'));
}

QString lyricLine(const QJsonValue &value)
{
    QString line = value.toString().left(kMaxLyricLineChars);
    for (QChar &c : line) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char(' ');
    }
    return line.trimmed();
}

} // namespace

QString SubsonicAnswer::text(const QJsonValue &value)
{
    QString out;
    if (value.isString())
        out = value.toString().left(kMaxTextChars);
    else if (value.isDouble() && boundedNumber(value, 1e15) >= 0)
        out = QString::number(static_cast<qint64>(value.toDouble()));
    for (QChar &c : out) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char(' ');
    }
    return out.trimmed();
}

Reply SubsonicAnswer::parse(const QByteArray &json)
{
    Reply reply;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return reply;
    const QJsonValue envelope = doc.object().value(kEnvelope);
    if (!envelope.isObject())
        return reply;
    reply.body = envelope.toObject();
    const QString status = reply.body.value(QStringLiteral("status")).toString();
    if (status == QLatin1String("ok")) {
        reply.status = Reply::Status::Ok;
    } else if (status == QLatin1String("failed")) {
        reply.status = Reply::Status::Failed;
        const QJsonObject error = reply.body.value(QStringLiteral("error")).toObject();
        const double code = boundedNumber(error.value(QStringLiteral("code")), 1e6);
        reply.errorCode = code >= 0 ? static_cast<int>(code) : 0;
        reply.message = text(error.value(QStringLiteral("message")));
    }
    return reply;
}

QList<SongFacts> SubsonicAnswer::songs(const QJsonObject &container, const QString &member)
{
    QList<SongFacts> out;
    for (const QJsonValue &item : listOf(container.value(member))) {
        if (out.size() >= kMaxItems)
            break;
        const QJsonObject o = item.toObject();
        SongFacts s;
        s.id = text(o.value(QStringLiteral("id")));
        // A directory among a folder's songs is not one.
        if (s.id.isEmpty() || o.value(QStringLiteral("isDir")).toBool())
            continue;
        s.title = text(o.value(QStringLiteral("title")));
        s.artist = text(o.value(QStringLiteral("artist")));
        s.album = text(o.value(QStringLiteral("album")));
        s.suffix = text(o.value(QStringLiteral("suffix"))).toLower();
        s.coverArt = text(o.value(QStringLiteral("coverArt")));
        s.artistId = text(o.value(QStringLiteral("artistId")));
        const double seconds = boundedNumber(o.value(QStringLiteral("duration")), kMaxSeconds);
        s.durationSeconds = seconds >= 0 ? static_cast<int>(seconds) : -1;
        const double bytes = boundedNumber(o.value(QStringLiteral("size")), kMaxBytes);
        s.size = bytes >= 0 ? static_cast<qint64>(bytes) : -1;
        if (s.title.isEmpty())
            s.title = s.id;
        out.append(s);
    }
    return out;
}

QList<ArtistFacts> SubsonicAnswer::artists(const QJsonObject &container, const QString &member)
{
    QList<ArtistFacts> out;
    for (const QJsonValue &item : listOf(container.value(member))) {
        if (out.size() >= kMaxItems)
            break;
        const QJsonObject o = item.toObject();
        ArtistFacts a{text(o.value(QStringLiteral("id"))), text(o.value(QStringLiteral("name"))),
                      text(o.value(QStringLiteral("coverArt")))};
        if (!a.name.isEmpty())
            out.append(a);
    }
    return out;
}

QString SubsonicAnswer::structuredLyrics(const QJsonObject &body)
{
    const QJsonArray entries = listOf(body.value(QStringLiteral("lyricsList"))
                                          .toObject()
                                          .value(QStringLiteral("structuredLyrics")));
    // Synced lines first: the player steps through them as the song plays.
    for (const bool synced : {true, false}) {
        for (const QJsonValue &entry : entries) {
            const QJsonObject e = entry.toObject();
            if (e.value(QStringLiteral("synced")).toBool() != synced)
                continue;
            const double offset = e.value(QStringLiteral("offset")).toDouble();
            QStringList lines;
            for (const QJsonValue &line : listOf(e.value(QStringLiteral("line")))) {
                if (lines.size() >= kMaxLyricLines)
                    break;
                const QJsonObject l = line.toObject();
                const QString value = lyricLine(l.value(QStringLiteral("value")));
                if (value.isEmpty())
                    continue;
                if (!synced) {
                    lines.append(value);
                    continue;
                }
                const double start =
                    boundedNumber(l.value(QStringLiteral("start")), kMaxSeconds * 1000);
                if (start < 0)
                    continue;
                // A positive offset shows the lines earlier (OpenSubsonic).
                const double shifted = std::isfinite(offset) ? start - offset : start;
                lines.append(
                    lrcTag(static_cast<qint64>(std::clamp(shifted, 0.0, kMaxSeconds * 1000))) +
                    value);
            }
            if (!lines.isEmpty())
                return lines.join(QLatin1Char('\n'));
        }
    }
    return QString();
}

QString SubsonicAnswer::plainLyrics(const QJsonObject &body)
{
    const QJsonValue value =
        body.value(QStringLiteral("lyrics")).toObject().value(QStringLiteral("value"));
    return value.isString() ? value.toString().left(kMaxLyricLines * 100) : QString();
}

} // namespace subsonic
