// A small real music library made at test time in a temporary folder:
// tones encoded by Debian's own encoders (lame, flac, oggenc, opusenc), tags
// written by TagLib, Chinese and Latin names, sidecar lyrics (UTF-8, UTF-8
// with a byte-order mark, GBK), embedded lyrics, a folder picture and an
// embedded cover, legacy GBK bytes in a Latin-1 tag, a control character in
// a tag, and the hostile parts: garbage named .mp3, an empty file, a
// symlink loop, and a link to a good file outside the root.
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

    // A WAV tone (mono, 22050 Hz, 16 bit) of the given length and pitch.
    static QByteArray toneWav(double seconds, double hertz);
    // Encodes wav bytes to target with lame/flac/oggenc/opusenc by suffix.
    static bool encode(const QByteArray &wav, const QString &target, QString *error);
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
