#include "app/DownloadNaming.h"

#include <QStringList>

namespace DownloadNaming {

namespace {

// Long enough for any real title, short enough for every file system's
// 255-byte name limit once UTF-8 encoded.
constexpr int kMaxBaseChars = 80;

bool forbidden(QChar c)
{
    if (c.unicode() < 0x20 || c.unicode() == 0x7F)
        return true;
    if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
        return true;
    static const QString kReserved = QStringLiteral("/\\:*?\"<>|");
    return kReserved.contains(c);
}

bool knownAudioExtension(const QString &suffix)
{
    static const QStringList kKnown = {
        QStringLiteral("mp3"),  QStringLiteral("m4a"), QStringLiteral("aac"),
        QStringLiteral("flac"), QStringLiteral("ogg"), QStringLiteral("oga"),
        QStringLiteral("opus"), QStringLiteral("wav"), QStringLiteral("wma"),
        QStringLiteral("ape"),  QStringLiteral("mp4"), QStringLiteral("webm"),
    };
    return kKnown.contains(suffix.toLower());
}

QString capLength(QString base)
{
    if (base.size() <= kMaxBaseChars)
        return base;
    int cut = kMaxBaseChars;
    if (base.at(cut - 1).isHighSurrogate())
        --cut;
    return base.left(cut);
}

} // namespace

bool isDownloadableUrl(const QUrl &url)
{
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

QString sanitizeFileName(const QString &name)
{
    QString out;
    out.reserve(name.size());
    for (const QChar c : name)
        out.append(forbidden(c) ? QLatin1Char('_') : c);
    // Leading dots would hide the file or make it "." / ".."; trailing dots
    // and blanks are dropped by Windows and confuse other tools.
    while (!out.isEmpty() && (out.front() == QLatin1Char('.') || out.front().isSpace()))
        out.remove(0, 1);
    while (!out.isEmpty() && (out.back() == QLatin1Char('.') || out.back().isSpace()))
        out.chop(1);
    // A name of only replacement characters says nothing.
    bool onlyUnderscores = true;
    for (const QChar c : out)
        onlyUnderscores = onlyUnderscores && c == QLatin1Char('_');
    return onlyUnderscores ? QString() : out;
}

QString suggestedFileName(const QUrl &url, const QString &fallbackBase)
{
    const QString segment = sanitizeFileName(url.fileName(QUrl::FullyDecoded));
    const int dot = segment.lastIndexOf(QLatin1Char('.'));
    if (dot > 0 && knownAudioExtension(segment.mid(dot + 1))) {
        const QString base = sanitizeFileName(capLength(segment.left(dot)));
        if (!base.isEmpty())
            return base + QLatin1Char('.') + segment.mid(dot + 1).toLower();
    }
    // A segment such as "play.php" names the script, not the song: the
    // caller's name (title and singer) says more.
    QString base = sanitizeFileName(capLength(sanitizeFileName(fallbackBase)));
    if (base.isEmpty())
        base = sanitizeFileName(capLength(segment));
    if (base.isEmpty())
        base = QString::fromUtf16(kFallbackBaseName);
    return base + QLatin1Char('.') + QString::fromUtf16(kFallbackExtension);
}

} // namespace DownloadNaming
