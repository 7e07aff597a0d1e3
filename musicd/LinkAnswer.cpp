#include "musicd/LinkAnswer.h"

#include "musicd/QueryText.h"
#include "musicd/Tune.h"

namespace musicd {
namespace {

// Bit rate of the served WAV (22050 Hz × 16 bits) in kbit/s.
constexpr int kWavKbps = 352;

QString escapedUrl(const QString &host, const QString &path)
{
    return jsonEscape(QStringLiteral("http://") + host + path);
}

// An opaque access token in the link, as real services hand out; the audio
// path ignores it.
QString xcode(const Song &song)
{
    const quint64 v = static_cast<quint64>(song.id) * 0x9E3779B97F4A7C15ULL;
    return QString::number(v >> 16, 16);
}

} // namespace

bool linkHasSrcParameter(const Song &song)
{
    return song.index % 3 != 2;
}

bool lyricMemberFirst(const Song &song)
{
    return song.index % 2 == 1;
}

bool lyricExtensionUpperCase(const Song &song)
{
    return song.index % 4 == 2;
}

QString audioPath(const Song &song)
{
    return QStringLiteral("/music/%1.%2")
        .arg(QString::number(song.id),
             song.audioSuffix.isEmpty() ? QStringLiteral("wav") : song.audioSuffix);
}

QString lyricPath(const Song &song)
{
    return QStringLiteral("/lrc/%1.%2")
        .arg(QString::number(song.id),
             lyricExtensionUpperCase(song) ? QStringLiteral("LRC") : QStringLiteral("lrc"));
}

QByteArray linkAnswerJson(const std::optional<Song> &song, const QString &host)
{
    if (!song)
        return QByteArrayLiteral("{\"status\":0,\"msg\":\"song not "
                                 "found\",\"data\":{\"lyric_url\":\"\",\"songId\":\"\"}}");

    const Song &s = *song;
    // Audio kept elsewhere is fetched from there, by the URL as it is.
    QString url = QStringLiteral("\"url\":\"") +
                  (s.audioUrl.isEmpty()
                       ? escapedUrl(host, audioPath(s)) + QStringLiteral("?xcode=") + xcode(s)
                       : jsonEscape(s.audioUrl));
    if (linkHasSrcParameter(s))
        url += QStringLiteral("&src=") + jsonEscape(QStringLiteral("/app/search/searchList.php"));
    url += QStringLiteral("\",");
    const QString lyric = QStringLiteral("\"lyric_url\":\"") +
                          (s.hasLyrics ? escapedUrl(host, lyricPath(s)) : QString()) +
                          QStringLiteral("\",");

    QString format = QStringLiteral("wav");
    int kbps = kWavKbps;
    qint64 bytes = s.audioBytes;
    int seconds = s.durationSeconds;
    if (s.audioSuffix.isEmpty()) {
        const Tune tune(s.id, !s.latin);
        bytes = tune.wavByteCount();
        seconds = static_cast<int>(tune.durationSeconds());
    } else {
        format = s.audioSuffix;
        kbps = seconds > 0 ? static_cast<int>(bytes * 8 / 1000 / seconds) : 0;
    }
    QString json =
        QStringLiteral("{\"status\":1,\"msg\":\"ok\",\"data\":{\"songId\":\"%1\",").arg(s.id);
    json += lyricMemberFirst(s) ? lyric + url : url + lyric;
    json += QStringLiteral("\"format\":\"%1\",\"rate\":%2,\"size\":%3,\"time\":%4,")
                .arg(jsonEscape(format))
                .arg(kbps)
                .arg(bytes)
                .arg(seconds);
    json += QStringLiteral("\"songName\":\"") + jsonEscape(s.title) + QStringLiteral("\",");
    json += QStringLiteral("\"artistName\":\"") + jsonEscape(s.singer) + QStringLiteral("\",");
    json += QStringLiteral("\"albumName\":\"") + jsonEscape(s.album) + QStringLiteral("\"}}");
    return json.toUtf8();
}

} // namespace musicd
