#include "tests/common/TestLibrary.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStringEncoder>
#include <QtEndian>
#include <cmath>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tpropertymap.h>
#include <taglib/unsynchronizedlyricsframe.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>

namespace {

TagLib::String tl(const QString &text)
{
    return TagLib::String(text.toUtf8().constData(), TagLib::String::UTF8);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray jpegOf(const QColor &colour, int w, int h, const char *format)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

} // namespace

QStringList TestLibrary::gbkSidecarLines()
{
    return {QStringLiteral("第一行爱的故事"), QStringLiteral("第二行晴川")};
}

QStringList TestLibrary::plainEmbeddedLines()
{
    return {QStringLiteral("没有时间的歌词"), QStringLiteral("第二句"), QStringLiteral("第三句")};
}

QStringList TestLibrary::timedLines(const QString &suffix)
{
    if (suffix == QLatin1String("m4a"))
        return {QStringLiteral("海边的第一句"), QStringLiteral("海边的第二句")};
    if (suffix == QLatin1String("wav"))
        return {QStringLiteral("Quiet water line one"), QStringLiteral("Quiet water line two")};
    return gbkSidecarLines();
}

QString TestLibrary::timedLyric(const QString &suffix)
{
    const QStringList lines = timedLines(suffix);
    return QStringLiteral("[00:00.50]%1\n[00:01.50]%2\n").arg(lines.at(0), lines.at(1));
}

QByteArray TestLibrary::toneWav(double seconds, double hertz, int rate, int channels)
{
    const auto frames = static_cast<qsizetype>(seconds * rate);
    QByteArray data(frames * channels * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < frames; ++i) {
        const qint16 v = static_cast<qint16>(9000 * std::sin(2 * M_PI * hertz * double(i) / rate));
        for (int c = 0; c < channels; ++c)
            qToLittleEndian(v, data.data() + 2 * (i * channels + c));
    }
    QByteArray wav("RIFF");
    const auto u32 = [](quint32 v) {
        QByteArray b(4, '\0');
        qToLittleEndian(v, b.data());
        return b;
    };
    const auto u16 = [](quint16 v) {
        QByteArray b(2, '\0');
        qToLittleEndian(v, b.data());
        return b;
    };
    wav += u32(36 + data.size()) + "WAVEfmt " + u32(16) + u16(1) + u16(channels) + u32(rate) +
           u32(quint32(rate) * channels * 2) + u16(channels * 2) + u16(16) + "data" +
           u32(data.size()) + data;
    return wav;
}

bool TestLibrary::encode(const QByteArray &wav, const QString &target, QString *error)
{
    QDir().mkpath(QFileInfo(target).absolutePath());
    const QString suffix = QFileInfo(target).suffix().toLower();
    if (suffix == QLatin1String("wav"))
        return writeFile(target, wav);
    const QString source = target + QStringLiteral(".src.wav");
    if (!writeFile(source, wav))
        return false;
    QString program;
    QStringList args;
    if (suffix == QLatin1String("mp3")) {
        program = QStringLiteral("lame");
        args = {QStringLiteral("--quiet"), QStringLiteral("-b"), QStringLiteral("64"), source,
                target};
    } else if (suffix == QLatin1String("flac")) {
        program = QStringLiteral("flac");
        args = {QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("-o"), target, source};
    } else if (suffix == QLatin1String("ogg")) {
        program = QStringLiteral("oggenc");
        args = {QStringLiteral("-Q"), QStringLiteral("-o"), target, source};
    } else if (suffix == QLatin1String("opus")) {
        program = QStringLiteral("opusenc");
        args = {QStringLiteral("--quiet"), source, target};
    } else if (suffix == QLatin1String("m4a")) {
        // FFmpeg's own AAC encoder: Debian has no other.
        program = QStringLiteral("ffmpeg");
        args = {QStringLiteral("-nostdin"),
                QStringLiteral("-loglevel"),
                QStringLiteral("error"),
                QStringLiteral("-y"),
                QStringLiteral("-i"),
                source,
                QStringLiteral("-c:a"),
                QStringLiteral("aac"),
                QStringLiteral("-b:a"),
                QStringLiteral("64k"),
                target};
    }
    QProcess p;
    p.start(program, args);
    const bool ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit &&
                    p.exitCode() == 0 && QFileInfo(target).size() > 0;
    QFile::remove(source);
    if (!ok && error)
        *error = QStringLiteral("%1 failed for %2: %3")
                     .arg(program, target, QString::fromLocal8Bit(p.readAllStandardError()));
    return ok;
}

bool TestLibrary::encodeChainedOgg(double partSeconds, const QString &target, QString *error)
{
    QByteArray chained("ID3\x04\0\0\0\0\0\0", 10);
    for (const auto &[rate, channels] : {std::pair{44100, 2}, std::pair{22050, 1}}) {
        const QString part = target + QStringLiteral(".part.ogg");
        if (!encode(toneWav(partSeconds, 440, rate, channels), part, error))
            return false;
        QFile file(part);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        chained += file.readAll();
        file.remove();
    }
    return writeFile(target, chained);
}

bool TestLibrary::writeTags(const QString &file, const QString &title, const QString &artist,
                            const QString &album)
{
    TagLib::FileRef ref(QFile::encodeName(file).constData());
    if (ref.isNull() || !ref.tag())
        return false;
    ref.tag()->setTitle(tl(title));
    ref.tag()->setArtist(tl(artist));
    ref.tag()->setAlbum(tl(album));
    return ref.save();
}

bool TestLibrary::add(const Track &track, double hertz)
{
    const QString file = path(track.relativePath);
    if (!encode(toneWav(2.5, hertz), file, &m_error))
        return false;
    if (!track.title.isEmpty() && !writeTags(file, track.title, track.artist, track.album)) {
        m_error = QStringLiteral("cannot tag ") + file;
        return false;
    }
    m_tracks.append(track);
    return true;
}

bool TestLibrary::build()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    const QString kQingchuan = QStringLiteral("晴川");
    // MP3 with ID3v2 tags and a GBK sidecar LRC; the artist folder has a PNG
    // picture, which the service serves converted to JPEG.
    if (!add({QStringLiteral("晴川/夏天/01 爱的故事.mp3"), QStringLiteral("爱的故事"), kQingchuan,
              QStringLiteral("夏天"), true, true},
             440))
        return false;
    const QString lrc = QStringLiteral("[ti:爱的故事]\n") + timedLyric(QStringLiteral("mp3"));
    QStringEncoder gbk("GBK");
    writeFile(path(QStringLiteral("晴川/夏天/01 爱的故事.lrc")), gbk.encode(lrc));
    writeFile(path(QStringLiteral("晴川/artist.png")), jpegOf(Qt::red, 640, 480, "png"));

    // FLAC with plain embedded lyrics (no time tags).
    if (!add({QStringLiteral("晴川/夏天/02 晴川之歌.flac"), QStringLiteral("晴川之歌"), kQingchuan,
              QStringLiteral("夏天"), true, true},
             523))
        return false;
    {
        TagLib::FLAC::File flac(
            QFile::encodeName(path(QStringLiteral("晴川/夏天/02 晴川之歌.flac"))).constData());
        flac.xiphComment(true)->addField("LYRICS", tl(plainEmbeddedLines().join(u'\n')));
        flac.save();
    }

    // Ogg Vorbis with an embedded JPEG cover and a sidecar in UTF-8 with BOM.
    if (!add({QStringLiteral("Tom & Jerry/Roads/03 Starlight Road.ogg"),
              QStringLiteral("Starlight Road"), QStringLiteral("Tom & Jerry"),
              QStringLiteral("Roads"), true, true},
             660))
        return false;
    {
        const QString ogg = path(QStringLiteral("Tom & Jerry/Roads/03 Starlight Road.ogg"));
        TagLib::Ogg::Vorbis::File vorbis(QFile::encodeName(ogg).constData());
        auto *picture = new TagLib::FLAC::Picture;
        picture->setType(TagLib::FLAC::Picture::FrontCover);
        picture->setMimeType("image/jpeg");
        const QByteArray jpeg = jpegOf(Qt::blue, 200, 200, "jpg");
        picture->setData(TagLib::ByteVector(jpeg.constData(), static_cast<unsigned>(jpeg.size())));
        vorbis.tag()->addPicture(picture);
        vorbis.save();
        writeFile(
            path(QStringLiteral("Tom & Jerry/Roads/03 Starlight Road.lrc")),
            QByteArray("\xEF\xBB\xBF") +
                QStringLiteral("[00:00.40]Starlight line one\r\n[00:01.20]Starlight line two\r\n")
                    .toUtf8());
    }

    // MP3 without tags at the root: title and artist from "Artist - Title".
    if (!add({QStringLiteral("Eli Brooks - Paper Roads.mp3"), QString(), QString(), QString()},
             330))
        return false;
    m_tracks.last().title = QStringLiteral("Paper Roads");
    m_tracks.last().artist = QStringLiteral("Eli Brooks");

    // MP3 whose Latin-1 title frame holds GBK bytes, with an embedded USLT
    // lyric and a control character in the album.
    if (!add({QStringLiteral("Legacy/旧歌.mp3"), QStringLiteral("x"), QStringLiteral("苏小暖"),
              QStringLiteral("旧\x01专辑"), true, false},
             392))
        return false;
    {
        const QString mp3 = path(QStringLiteral("Legacy/旧歌.mp3"));
        TagLib::MPEG::File file(QFile::encodeName(mp3).constData());
        TagLib::ID3v2::Tag *tag = file.ID3v2Tag(true);
        tag->removeFrames("TIT2");
        auto *title = new TagLib::ID3v2::TextIdentificationFrame("TIT2", TagLib::String::Latin1);
        const QByteArray gbkTitle = QStringEncoder("GBK").encode(QStringLiteral("旧时光"));
        title->setText(TagLib::String(std::string(gbkTitle.constData(), gbkTitle.size()),
                                      TagLib::String::Latin1));
        tag->addFrame(title);
        auto *uslt = new TagLib::ID3v2::UnsynchronizedLyricsFrame(TagLib::String::UTF8);
        uslt->setText(tl(QStringLiteral("[00:00.30]旧时光的歌词")));
        tag->addFrame(uslt);
        file.save(TagLib::MPEG::File::ID3v2);
        m_tracks.last().title = QStringLiteral("旧时光");
        m_tracks.last().album = QStringLiteral("旧 专辑");
    }

    // Opus, no lyrics, no picture.
    if (!add({QStringLiteral("Misc/Night Opus.opus"), QStringLiteral("Night Opus"),
              QStringLiteral("Rock'n'Roll Band"), QStringLiteral("Misc Songs")},
             294))
        return false;

    // M4A (AAC) with MP4 atoms: timed lyrics in ©lyr and a JPEG cover.
    if (!add({QStringLiteral("Lin Harbor/Coast/04 海边晚风.m4a"), QStringLiteral("海边晚风"),
              QStringLiteral("Lin Harbor"), QStringLiteral("Coast"), true, true},
             587))
        return false;
    {
        const QString m4a = path(QStringLiteral("Lin Harbor/Coast/04 海边晚风.m4a"));
        TagLib::MP4::File mp4(QFile::encodeName(m4a).constData());
        TagLib::MP4::Tag *tag = mp4.tag();
        if (!tag) {
            m_error = QStringLiteral("no MP4 tag in ") + m4a;
            return false;
        }
        tag->setItem("\251lyr", TagLib::StringList(tl(timedLyric(QStringLiteral("m4a")))));
        const QByteArray jpeg = jpegOf(Qt::green, 120, 120, "jpg");
        tag->setItem(
            "covr", TagLib::MP4::CoverArtList().append(TagLib::MP4::CoverArt(
                        TagLib::MP4::CoverArt::JPEG,
                        TagLib::ByteVector(jpeg.constData(), static_cast<unsigned>(jpeg.size())))));
        if (!mp4.save()) {
            m_error = QStringLiteral("cannot tag ") + m4a;
            return false;
        }
    }

    // WAV: title, artist and album in the RIFF INFO chunk, the timed lyric
    // in an ID3 USLT frame beside it, a cover.jpg in the album folder.
    if (!add({QStringLiteral("Mira Sand/Still/Quiet Water.wav"), QString(), QString(), QString(),
              true, true},
             349))
        return false;
    {
        const QString file = path(QStringLiteral("Mira Sand/Still/Quiet Water.wav"));
        TagLib::RIFF::WAV::File wav(QFile::encodeName(file).constData());
        wav.InfoTag()->setTitle("Quiet Water");
        wav.InfoTag()->setArtist("Mira Sand");
        wav.InfoTag()->setAlbum("Still");
        auto *uslt = new TagLib::ID3v2::UnsynchronizedLyricsFrame(TagLib::String::UTF8);
        uslt->setText(tl(timedLyric(QStringLiteral("wav"))));
        wav.ID3v2Tag()->addFrame(uslt);
        if (!wav.save()) {
            m_error = QStringLiteral("cannot tag ") + file;
            return false;
        }
        m_tracks.last().title = QStringLiteral("Quiet Water");
        m_tracks.last().artist = QStringLiteral("Mira Sand");
        m_tracks.last().album = QStringLiteral("Still");
        writeFile(path(QStringLiteral("Mira Sand/Still/cover.jpg")),
                  jpegOf(Qt::yellow, 300, 300, "jpg"));
    }

    // The hostile parts.
    writeFile(path(QStringLiteral("Broken/garbage.mp3")), QByteArray(4096, '\x5a'));
    writeFile(path(QStringLiteral("Broken/empty.flac")), QByteArray());
    m_broken = {QStringLiteral("Broken/garbage.mp3"), QStringLiteral("Broken/empty.flac")};
    QFile::link(QStringLiteral(".."), path(QStringLiteral("Misc/loop")));
    if (!encode(toneWav(1.0, 200), outsideFile(), &m_error) ||
        !writeTags(outsideFile(), QStringLiteral("Secret Song"), QStringLiteral("Outsider"),
                   QStringLiteral("Elsewhere")))
        return false;
    QFile::link(outsideFile(), path(QStringLiteral("Misc/secret.mp3")));
    QFile::link(m_dir.filePath(QStringLiteral("outside")), path(QStringLiteral("Elsewhere")));
    return true;
}
