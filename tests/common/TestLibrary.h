// A small real music library made at test time in a temporary folder:
// tones encoded by Debian's own encoders (lame, flac, oggenc, opusenc, and
// ffmpeg for AAC in M4A; WAV written here), tags written by TagLib (ID3,
// Vorbis comments, MP4 atoms, RIFF INFO), Chinese and Latin names, sidecar
// lyrics (UTF-8 with a byte-order mark, GBK), embedded lyrics (USLT, LYRICS,
// ©lyr), an artist picture, a cover.jpg and embedded covers, legacy GBK bytes in a Latin-1 tag, a
// control character in a tag, and the hostile parts: garbage named .mp3, an empty file, a symlink
// loop, and a link to a good file outside the root.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class TestLibrary
{
public:
    // One track the library holds, with what the index should say of it.
    struct Track
    {
        QString relativePath; // under root()
        QString title;
        QString artist;
        QString album;
        bool lyrics = false;  // sidecar or embedded
        bool picture = false; // the singer shows a picture through this one
    };

    // Builds the library; false (with error() saying why) when an encoder
    // is missing or fails.
    bool build();
    QString error() const { return m_error; }

    QString root() const { return m_dir.filePath(QStringLiteral("music")); }
    QString outsideFile() const { return m_dir.filePath(QStringLiteral("outside/secret.mp3")); }
    QString indexFile() const { return m_dir.filePath(QStringLiteral("index.sqlite")); }
    QString path(const QString &relative) const { return root() + QLatin1Char('/') + relative; }

    const QList<Track> &tracks() const { return m_tracks; }
    // Unreadable files the scan must skip (relative paths).
    const QStringList &broken() const { return m_broken; }

    // The lyric lines the sidecar of 爱的故事 holds (GBK on disk), and the
    // plain embedded lyric of 晴川之歌.
    static QStringList gbkSidecarLines();
    static QStringList plainEmbeddedLines();
    // The two lines of the timed lyric of the track with that suffix ("mp3":
    // the GBK sidecar; "m4a": ©lyr; "wav": USLT), tagged [00:00.50] and
    // [00:01.50]; and the lyric itself.
    static QStringList timedLines(const QString &suffix);
    static QString timedLyric(const QString &suffix);

    // A 16-bit WAV tone of the given length and pitch (every channel the
    // same).
    static QByteArray toneWav(double seconds, double hertz, int rate = 22050, int channels = 1);
    // Encodes wav bytes to target with lame/flac/oggenc/opusenc/ffmpeg by
    // suffix (a .wav target gets the bytes as they are).
    static bool encode(const QByteArray &wav, const QString &target, QString *error);
    // A chained Ogg Vorbis stream, as radio stations send: a part of stereo
    // at 44.1 kHz, then one of mono at 22.05 kHz (`partSeconds` each),
    // behind a 10-byte ID3 header that keeps the light decoders off it.
    static bool encodeChainedOgg(double partSeconds, const QString &target, QString *error);
    // Writes title/artist/album through TagLib.
    static bool writeTags(const QString &file, const QString &title, const QString &artist,
                          const QString &album);

private:
    bool add(const Track &track, double hertz);

    QTemporaryDir m_dir;
    QList<Track> m_tracks;
    QStringList m_broken;
    QString m_error;
};
