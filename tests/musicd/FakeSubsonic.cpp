#include "tests/musicd/FakeSubsonic.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <httplib.h>
#include <thread>

namespace {

QByteArray envelope(QJsonObject body, bool ok = true)
{
    body.insert(QStringLiteral("status"), ok ? QStringLiteral("ok") : QStringLiteral("failed"));
    body.insert(QStringLiteral("version"), QStringLiteral("1.16.1"));
    return QJsonDocument(QJsonObject{{QStringLiteral("subsonic-response"), body}}).toJson();
}

QByteArray failure(int code, const QString &message)
{
    return envelope({{QStringLiteral("error"), QJsonObject{{QStringLiteral("code"), code},
                                                           {QStringLiteral("message"), message}}}},
                    false);
}

QString param(const httplib::Request &req, const char *name)
{
    return QString::fromStdString(req.get_param_value(name));
}

void answer(httplib::Response &res, const QByteArray &json)
{
    res.set_content(json.toStdString(), "application/json");
}

QByteArray coverPng()
{
    QImage image(600, 400, QImage::Format_RGB32);
    image.fill(QColor(200, 40, 40));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

bool FakeSubsonic::authenticated(const QString &user, const QString &token, const QString &salt)
{
    const QString expected =
        QString::fromLatin1(QCryptographicHash::hash((QString::fromUtf8(kPassword) + salt).toUtf8(),
                                                     QCryptographicHash::Md5)
                                .toHex());
    return user == QLatin1String(kUser) && salt.size() >= 6 && token == expected;
}

int FakeSubsonic::calls(const QString &method) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_calls.count(method));
}

QString FakeSubsonic::lastStream() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastStream;
}

FakeSubsonic::FakeSubsonic()
{
    route();
}

FakeSubsonic::FakeSubsonic(const TestCertificate &certificate)
    : m_http(certificate.certificateFile(), certificate.keyFile())
{
    route();
}

void FakeSubsonic::route()
{
    m_http.http().Get(R"(/rest/(\w+)(\.view)?)", [this](const httplib::Request &req,
                                                        httplib::Response &res) {
        const QString method = QString::fromStdString(req.matches[1].str());
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_calls.append(method);
        }
        if (!authenticated(param(req, "u"), param(req, "t"), param(req, "s")))
            return answer(res, failure(40, QStringLiteral("Wrong username or password")));
        switch (mode.load()) {
        case Mode::Normal:
            break;
        case Mode::Garbage:
            return answer(res, "{\"subsonic-response\": [1, 2, {\"status\": ");
        case Mode::Failed:
            return answer(res, failure(0, QStringLiteral("Something broke")));
        case Mode::Huge:
            return answer(res, QByteArray(6 * 1024 * 1024, ' ') + envelope({}));
        case Mode::Slow:
            for (int i = 0; i < 200 && !m_http.stopping(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return answer(res, envelope({}));
        case Mode::Trickle:
            return res.set_chunked_content_provider(
                "application/json", [this](size_t, httplib::DataSink &sink) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                    return !m_http.stopping() && sink.write(" ", 1);
                });
        case Mode::WrongTypes:
            return answer(res, "{\"subsonic-response\":{\"status\":\"ok\",\"searchResult3\":"
                               "{\"song\":[{\"id\":{},\"title\":[1]},{\"id\":\"x\",\"duration\":"
                               "1e308,\"size\":-5,\"title\":7,\"artist\":null}]},"
                               "\"lyricsList\":{\"structuredLyrics\":[{\"synced\":true,\"line\":"
                               "[{\"start\":-1e300,\"value\":\"a\"},{\"start\":\"x\"}]}]},"
                               "\"lyrics\":{\"value\":42}}}");
        case Mode::DeepNesting:
            return answer(res, "{\"subsonic-response\":" + QByteArray(100000, '[') +
                                   QByteArray(100000, ']') + "}");
        case Mode::HttpError:
            res.status = 500;
            return res.set_content("oops", "text/plain");
        }
        if (method == QLatin1String("ping"))
            return answer(res, envelope({}));
        if (method == QLatin1String("search3")) {
            const QStringList words =
                param(req, "query").toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
            const int count = param(req, "songCount").toInt();
            const int offset = param(req, "songOffset").toInt();
            QJsonArray songs;
            QJsonArray artists;
            QStringList seenArtists;
            int matched = 0;
            for (const FakeSong &s : m_songs) {
                const QString hay = (s.title + QLatin1Char(' ') + s.artist).toLower();
                bool all = !words.isEmpty();
                for (const QString &w : words)
                    all = all && hay.contains(w);
                if (!all)
                    continue;
                if (!seenArtists.contains(s.artist)) {
                    seenArtists.append(s.artist);
                    artists.append(
                        QJsonObject{{QStringLiteral("id"), QStringLiteral("ar-") + s.artist},
                                    {QStringLiteral("name"), s.artist},
                                    {QStringLiteral("coverArt"), s.coverArt}});
                }
                if (matched++ >= offset && songs.size() < count)
                    songs.append(QJsonObject{{QStringLiteral("id"), s.id},
                                             {QStringLiteral("title"), s.title},
                                             {QStringLiteral("artist"), s.artist},
                                             {QStringLiteral("album"), s.album},
                                             {QStringLiteral("duration"), s.seconds},
                                             {QStringLiteral("suffix"), QStringLiteral("mp3")},
                                             {QStringLiteral("size"), s.seconds * 16000},
                                             {QStringLiteral("coverArt"), s.coverArt}});
            }
            QJsonObject result{{QStringLiteral("song"), songs}};
            if (param(req, "artistCount").toInt() > 0)
                result.insert(QStringLiteral("artist"), artists);
            return answer(res, envelope({{QStringLiteral("searchResult3"), result}}));
        }
        const FakeSong *song = nullptr;
        for (const FakeSong &s : m_songs) {
            if (s.id == param(req, "id") ||
                (method == QLatin1String("getLyrics") && s.title == param(req, "title") &&
                 s.artist == param(req, "artist")))
                song = &s;
        }
        if (method == QLatin1String("getLyricsBySongId")) {
            QJsonArray entries;
            if (song && !song->synced.isEmpty()) {
                QJsonArray lines;
                for (const QString &line : song->synced.split(QLatin1Char('\n'))) {
                    const QStringList parts = line.split(QLatin1Char('|'));
                    lines.append(QJsonObject{{QStringLiteral("start"), parts.at(0).toInt()},
                                             {QStringLiteral("value"), parts.at(1)}});
                }
                entries.append(QJsonObject{{QStringLiteral("synced"), true},
                                           {QStringLiteral("lang"), QStringLiteral("xxx")},
                                           {QStringLiteral("line"), lines}});
            }
            return answer(res,
                          envelope({{QStringLiteral("lyricsList"),
                                     QJsonObject{{QStringLiteral("structuredLyrics"), entries}}}}));
        }
        if (method == QLatin1String("getLyrics"))
            return answer(res, envelope({{QStringLiteral("lyrics"),
                                          QJsonObject{{QStringLiteral("value"),
                                                       song ? song->plain : QString()}}}}));
        if (method == QLatin1String("getCoverArt")) {
            static const QByteArray png = coverPng();
            return res.set_content(png.toStdString(), "image/png");
        }
        if (method == QLatin1String("stream") && song) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lastStream = QString::fromStdString(req.target);
            return res.set_content(std::string(4096, 'A'), "audio/mpeg");
        }
        answer(res, failure(70, QStringLiteral("Not found")));
    });
}
