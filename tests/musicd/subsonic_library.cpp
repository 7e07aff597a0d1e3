// Writes a small real music library for the tests that drive velmor-musicd
// through third-party Subsonic clients (tests/musicd/subsonic-client), and
// prints what it holds as JSON on stdout, so the clients' checks compute
// their expectations from the files rather than from numbers of their own.
//
//   subsonic_library DIR
//
// Tones are encoded by Debian's encoders and tagged by TagLib (through
// TestLibrary); titles, artists and albums are Chinese and Latin, one song
// has a UTF-8 .lrc sidecar and its album folder a cover.jpg.
#include "tests/common/TestLibrary.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <taglib/fileref.h>

namespace {

struct Song
{
    const char *path; // under DIR, UTF-8
    const char *title;
    const char *artist;
    const char *album;
    int track;
    double hertz;
};

// Tagged and named as a person's own collection would be: two Chinese
// singers and one Latin name with an ampersand.
constexpr Song kSongs[] = {
    {"晴川/夏天/01 爱的故事.mp3", "爱的故事", "晴川", "夏天", 1, 440},
    {"晴川/夏天/02 晴川之歌.flac", "晴川之歌", "晴川", "夏天", 2, 523},
    {"苏小暖/雨夜/01 雨夜的爱.ogg", "雨夜的爱", "苏小暖", "雨夜", 1, 392},
    {"Tom & Jerry/Roads/01 Starlight Road.mp3", "Starlight Road", "Tom & Jerry", "Roads", 1, 660},
    {"Tom & Jerry/Roads/02 Long Way Home.flac", "Long Way Home", "Tom & Jerry", "Roads", 2, 330},
};

// The sidecar of the first song: [ms, text] per synced line.
const QList<std::pair<int, QString>> kLyricLines = {
    {500, QStringLiteral("第一行爱的故事")},
    {1500, QStringLiteral("第二行晴川")},
};

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

bool setTrackNumber(const QString &file, int track)
{
    TagLib::FileRef ref(QFile::encodeName(file).constData());
    if (ref.isNull() || !ref.tag())
        return false;
    ref.tag()->setTrack(static_cast<unsigned>(track));
    return ref.save();
}

int fail(const QString &why)
{
    std::fprintf(stderr, "subsonic_library: %s\n", why.toLocal8Bit().constData());
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2)
        return fail(QStringLiteral("usage: subsonic_library DIR"));
    const QDir root(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(root.path()))
        return fail(QStringLiteral("cannot create ") + root.path());

    QJsonArray tracks;
    for (const Song &song : kSongs) {
        const QString relative = QString::fromUtf8(song.path);
        const QString file = root.filePath(relative);
        QDir().mkpath(QFileInfo(file).absolutePath());
        QString error;
        if (!TestLibrary::encode(TestLibrary::toneWav(2.5, song.hertz), file, &error))
            return fail(error);
        const QString title = QString::fromUtf8(song.title);
        const QString artist = QString::fromUtf8(song.artist);
        const QString album = QString::fromUtf8(song.album);
        if (!TestLibrary::writeTags(file, title, artist, album) ||
            !setTrackNumber(file, song.track))
            return fail(QStringLiteral("cannot tag ") + file);
        tracks.append(QJsonObject{{QStringLiteral("path"), relative},
                                  {QStringLiteral("title"), title},
                                  {QStringLiteral("artist"), artist},
                                  {QStringLiteral("album"), album},
                                  {QStringLiteral("track"), song.track}});
    }

    // The first song's synced lyric beside it, and its album's picture.
    QJsonObject first = tracks.at(0).toObject();
    QString lrc = QStringLiteral("[ti:%1]\n[ar:%2]\n")
                      .arg(first[u"title"].toString(), first[u"artist"].toString());
    QJsonArray lines;
    for (const auto &[ms, text] : kLyricLines) {
        lrc += QStringLiteral("[%1:%2.%3]%4\n")
                   .arg(ms / 60000, 2, 10, QLatin1Char('0'))
                   .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
                   .arg(ms % 1000 / 10, 2, 10, QLatin1Char('0'))
                   .arg(text);
        lines.append(QJsonObject{{QStringLiteral("start"), ms}, {QStringLiteral("value"), text}});
    }
    const QString firstPath = first[u"path"].toString();
    const QString lrcPath =
        root.filePath(firstPath.left(firstPath.lastIndexOf(u'.')) + QStringLiteral(".lrc"));
    QImage picture(200, 200, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    const QString coverPath =
        QFileInfo(root.filePath(firstPath)).absolutePath() + QStringLiteral("/cover.jpg");
    if (!writeFile(lrcPath, lrc.toUtf8()) || !picture.save(&buffer, "jpg") ||
        !writeFile(coverPath, jpeg))
        return fail(QStringLiteral("cannot write the lyric or the picture"));
    first[QStringLiteral("lyrics")] = lines;
    first[QStringLiteral("cover")] = true;
    tracks[0] = first;

    const QJsonObject manifest{{QStringLiteral("root"), root.absolutePath()},
                               {QStringLiteral("tracks"), tracks}};
    const QByteArray out = QJsonDocument(manifest).toJson(QJsonDocument::Compact);
    std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stdout);
    std::fputc('\n', stdout);
    return 0;
}
