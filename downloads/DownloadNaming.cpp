#include "downloads/DownloadNaming.h"

#include <QMimeDatabase>
#include <QMimeType>
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

// Types whose name says nothing about the content.
bool isGenericType(const QMimeType &type)
{
    return !type.isValid() || type.isDefault() || type.name() == QLatin1String("text/plain");
}

// The type a file name's extension names, when it is sound or pictures
// in motion: a script's or a page's name ("play.php") says nothing about
// the song it hands out.
QMimeType mediaTypeOfName(const QString &name)
{
    if (name.isEmpty())
        return {};
    const QMimeType type = QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    if (type.isDefault())
        return {};
    const QString n = type.name();
    if (n.startsWith(u"audio/") || n.startsWith(u"video/"))
        return type;
    return {};
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

QString extensionFor(const QString &contentType, const QByteArray &firstBytes, const QUrl &url)
{
    const QMimeDatabase db;
    // "audio/wav; charset=…": the parameters are not part of the type.
    const QString typeName = contentType.section(QLatin1Char(';'), 0, 0).trimmed().toLower();
    if (!typeName.isEmpty()) {
        const QMimeType type = db.mimeTypeForName(typeName);
        if (!isGenericType(type) && !type.preferredSuffix().isEmpty())
            return type.preferredSuffix();
    }
    if (!firstBytes.isEmpty()) {
        const QMimeType type = db.mimeTypeForData(firstBytes);
        if (!isGenericType(type) && !type.preferredSuffix().isEmpty())
            return type.preferredSuffix();
    }
    return mediaTypeOfName(sanitizeFileName(url.fileName(QUrl::FullyDecoded))).preferredSuffix();
}

QString suggestedFileName(const QUrl &url, const QString &nameHint, const QString &extension)
{
    QString base = sanitizeFileName(capLength(sanitizeFileName(nameHint)));
    const QString segment = sanitizeFileName(url.fileName(QUrl::FullyDecoded));
    const QMimeType segmentType = mediaTypeOfName(segment);
    if (base.isEmpty() && segmentType.isValid()) {
        // The segment without the extension its type was known by.
        QString stem = segment;
        const QString suffix = QMimeDatabase().suffixForFileName(segment);
        if (!suffix.isEmpty())
            stem.chop(suffix.size() + 1);
        base = sanitizeFileName(capLength(stem));
    }
    if (base.isEmpty())
        base = QString::fromUtf16(kFallbackBaseName);
    const QString suffix = extension.isEmpty() ? segmentType.preferredSuffix() : extension;
    return suffix.isEmpty() ? base : base + QLatin1Char('.') + suffix;
}

} // namespace DownloadNaming
