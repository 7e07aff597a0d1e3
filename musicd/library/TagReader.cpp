#include "musicd/library/TagReader.h"

#include "musicd/library/OpenFile.h"

#include <QFile>
#include <QStringDecoder>
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <taglib/attachedpictureframe.h>
#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v2frame.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/synchronizedlyricsframe.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/tfilestream.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>
#include <unistd.h>

namespace musicd {
namespace {

// Longer tag values are cut: no title needs more, and pages stay small.
constexpr int kMaxTagChars = 256;
// Lyrics beyond this are cut as well (a whole opera libretto fits).
constexpr int kMaxLyricChars = 256 * 1024;

// How much TagLib may read of one file. Its searches for a tag, a frame
// sync or an Ogg page step through a file 1 KiB at a time up to its end,
// so a large file that is not what its name says (a disk image named .mp3,
// gigabytes of zeros) held a scan for minutes. Reads of a search step's
// size stop after kSearchBudget bytes, and all reads together after
// kReadBudget, which is more than any real tag with its pictures holds; a
// file that needs more is unreadable. A real file's searches end within a
// few steps of where they start.
constexpr unsigned long kSearchStepBytes = 4096;
constexpr qint64 kSearchBudget = 2 * 1024 * 1024;
constexpr qint64 kReadBudget = 64 * 1024 * 1024;

// TagLib's own file stream reads through stdio a kilobyte or four at a
// time, seeking before most reads: reading a small file's tags took dozens
// of system calls and as many buffers, more than the parsing itself. Reads
// here are served from a few blocks of the file read whole (a small file
// is one read), and a seek is only a number.
constexpr long kBlockBytes = 32 * 1024;
constexpr size_t kBlocksKept = 4;

// A file TagLib reads through a descriptor opened here (see
// OpenFile::openRegular), within the budgets above. Once a budget is spent
// every read is empty, so TagLib's loops that step back through a whole
// file run on without reading it.
class BoundedFileStream : public TagLib::IOStream
{
public:
    // Takes the descriptor.
    BoundedFileStream(int fd, qint64 length) : m_fd(fd), m_length(long(length)) {}
    ~BoundedFileStream() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    BoundedFileStream(const BoundedFileStream &) = delete;
    BoundedFileStream &operator=(const BoundedFileStream &) = delete;

    TagLib::FileName name() const override { return ""; }
    TagLib::ByteVector readBlock(unsigned long length) override
    {
        if (m_spent)
            return TagLib::ByteVector();
        const bool searchStep = length <= kSearchStepBytes;
        const qint64 wanted =
            std::max<qint64>(0, std::min<qint64>(qint64(length), m_length - m_position));
        if (wanted > m_readLeft || (searchStep && wanted > m_searchLeft)) {
            m_spent = true;
            return TagLib::ByteVector();
        }
        TagLib::ByteVector bytes(static_cast<unsigned int>(wanted), '\0');
        const long got = wanted >= kBlockBytes ? readDirect(bytes.data(), long(wanted))
                                               : readCached(bytes.data(), long(wanted));
        if (got < wanted)
            bytes.resize(static_cast<unsigned int>(std::max(0L, got)));
        m_position += long(bytes.size());
        m_readLeft -= bytes.size();
        if (searchStep)
            m_searchLeft -= bytes.size();
        return bytes;
    }
    void writeBlock(const TagLib::ByteVector &) override {}
    void insert(const TagLib::ByteVector &, unsigned long, unsigned long) override {}
    void removeBlock(unsigned long, unsigned long) override {}
    bool readOnly() const override { return true; }
    bool isOpen() const override { return m_fd >= 0; }
    void seek(long offset, Position p = Beginning) override
    {
        const long base = p == Beginning ? 0 : p == Current ? m_position : m_length;
        m_position = std::max(0L, base + offset);
    }
    void clear() override {}
    long tell() const override { return m_position; }
    long length() override { return m_length; }
    void truncate(long) override {}

private:
    struct Block
    {
        long start = -1;
        long size = 0;
        long capacity = 0;
        unsigned long used = 0; // when last read from, to drop the oldest
        std::unique_ptr<char[]> bytes;
    };

    long readDirect(char *to, long count)
    {
        long done = 0;
        while (done < count) {
            const ssize_t n = ::pread(m_fd, to + done, size_t(count - done), m_position + done);
            if (n <= 0)
                break;
            done += long(n);
        }
        return done;
    }
    // The block holding offset, read when it is not kept yet; null at the
    // end of the file or on an error.
    const Block *blockAt(long offset)
    {
        const long start = offset / kBlockBytes * kBlockBytes;
        Block *oldest = &m_blocks[0];
        for (Block &block : m_blocks) {
            if (block.start == start) {
                block.used = ++m_reads;
                return &block;
            }
            if (block.used < oldest->used)
                oldest = &block;
        }
        // No more than the file holds: a small file's block is its size.
        const long want = std::min(kBlockBytes, std::max(0L, m_length - start));
        if (oldest->capacity < want) {
            oldest->bytes.reset(new char[size_t(want)]);
            oldest->capacity = want;
        }
        const ssize_t n = want > 0 ? ::pread(m_fd, oldest->bytes.get(), size_t(want), start) : 0;
        oldest->start = n > 0 ? start : -1;
        oldest->size = n > 0 ? long(n) : 0;
        oldest->used = ++m_reads;
        return n > 0 ? oldest : nullptr;
    }
    long readCached(char *to, long count)
    {
        long done = 0;
        while (done < count) {
            const long at = m_position + done;
            const Block *block = blockAt(at);
            if (!block || at - block->start >= block->size)
                break;
            const long n = std::min(count - done, block->size - (at - block->start));
            std::memcpy(to + done, block->bytes.get() + (at - block->start), size_t(n));
            done += n;
        }
        return done;
    }

    int m_fd;
    const long m_length;
    long m_position = 0;
    qint64 m_searchLeft = kSearchBudget;
    qint64 m_readLeft = kReadBudget;
    bool m_spent = false;
    std::array<Block, kBlocksKept> m_blocks;
    unsigned long m_reads = 0;
};

// A parsed file and the stream it reads from (TagLib does not own it).
struct OpenedFile
{
    std::unique_ptr<TagLib::IOStream> stream;
    std::unique_ptr<TagLib::File> file;
};

OpenedFile openStream(std::unique_ptr<TagLib::IOStream> stream, const QString &suffix)
{
    OpenedFile opened;
    TagLib::IOStream *s = stream.get();
    opened.stream = std::move(stream);
    const auto style = TagLib::AudioProperties::Average;
    if (suffix == QLatin1String("mp3")) {
        opened.file = std::make_unique<TagLib::MPEG::File>(
            s, TagLib::ID3v2::FrameFactory::instance(), true, style);
    } else if (suffix == QLatin1String("flac")) {
        opened.file = std::make_unique<TagLib::FLAC::File>(
            s, TagLib::ID3v2::FrameFactory::instance(), true, style);
    } else if (suffix == QLatin1String("ogg") || suffix == QLatin1String("oga")) {
        opened.file = std::make_unique<TagLib::Ogg::Vorbis::File>(s, true, style);
        if (!opened.file->isValid()) {
            s->seek(0);
            opened.file = std::make_unique<TagLib::Ogg::Opus::File>(s, true, style);
        }
    } else if (suffix == QLatin1String("opus")) {
        opened.file = std::make_unique<TagLib::Ogg::Opus::File>(s, true, style);
    } else if (suffix == QLatin1String("m4a") || suffix == QLatin1String("mp4") ||
               suffix == QLatin1String("m4b")) {
        opened.file = std::make_unique<TagLib::MP4::File>(s, true, style);
    } else if (suffix == QLatin1String("wav")) {
        opened.file = std::make_unique<TagLib::RIFF::WAV::File>(s, true, style);
    }
    if (opened.file && !opened.file->isValid())
        opened.file.reset();
    return opened;
}

OpenedFile openPath(const QString &path)
{
    qint64 size = 0;
    const int fd = OpenFile::openRegular(path, &size);
    if (fd < 0)
        return {};
    auto stream = std::make_unique<BoundedFileStream>(fd, size);
    if (!stream->isOpen())
        return {};
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return openStream(std::move(stream), path.mid(dot + 1).toLower());
}

bool isCjk(char16_t c)
{
    return (c >= 0x3000 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF);
}

// Latin-1 text whose bytes are really GBK: an old tagger wrote the system's
// code page into a field that says Latin-1. Taken as GBK only when every
// byte decodes and the result has Chinese in it, so real Latin-1 names
// ("Café", "Beyoncé") stay as they are.
std::optional<QString> asGbk(const QByteArray &bytes)
{
    bool high = false;
    for (const char c : bytes)
        high = high || static_cast<unsigned char>(c) >= 0x80;
    if (!high)
        return std::nullopt;
    QStringDecoder decoder("GB18030", QStringDecoder::Flag::Stateless);
    if (!decoder.isValid())
        return std::nullopt;
    const QString text = decoder.decode(bytes);
    if (decoder.hasError() || text.contains(QChar::ReplacementCharacter))
        return std::nullopt;
    for (const QChar c : text) {
        if (isCjk(c.unicode()))
            return text;
    }
    return std::nullopt;
}

QString fromTagLib(const TagLib::String &text)
{
    if (text.isEmpty())
        return QString();
    if (text.isLatin1()) {
        const TagLib::ByteVector bytes = text.data(TagLib::String::Latin1);
        if (const auto gbk = asGbk(QByteArray(bytes.data(), bytes.size())))
            return *gbk;
    }
    const TagLib::ByteVector utf8 = text.data(TagLib::String::UTF8);
    return QString::fromUtf8(utf8.data(), utf8.size());
}

// Lyrics keep their line breaks; other control characters go.
QString cleanLyric(const QString &text)
{
    QString out = text.left(kMaxLyricChars);
    for (QChar &c : out) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\n' && u != u'\r' && u != u'\t') || u == 0x7F ||
            (u >= 0x80 && u < 0xA0))
            c = QLatin1Char(' ');
    }
    return out;
}

// "[mm:ss.xx]" for milliseconds.
QString timeTag(unsigned int ms)
{
    const unsigned int cs = ms / 10;
    return QStringLiteral("[%1:%2.%3]")
        .arg(cs / 6000, 2, 10, QLatin1Char('0'))
        .arg(cs / 100 % 60, 2, 10, QLatin1Char('0'))
        .arg(cs % 100, 2, 10, QLatin1Char('0'));
}

// The lyric text of a time-stamped ID3 frame, as LRC lines. Only absolute
// millisecond stamps become time tags; MPEG-frame stamps need the frame
// length, and a plain text is still better than nothing.
QString syltText(const TagLib::ID3v2::SynchronizedLyricsFrame &frame)
{
    QString out;
    const bool ms =
        frame.timestampFormat() == TagLib::ID3v2::SynchronizedLyricsFrame::AbsoluteMilliseconds;
    for (const auto &line : frame.synchedText()) {
        if (ms)
            out += timeTag(line.time);
        out += fromTagLib(line.text).trimmed() + QLatin1Char('\n');
    }
    return out;
}

TagLib::ID3v2::Tag *id3v2Of(TagLib::File *file)
{
    if (auto *mpeg = dynamic_cast<TagLib::MPEG::File *>(file))
        return mpeg->hasID3v2Tag() ? mpeg->ID3v2Tag() : nullptr;
    if (auto *flac = dynamic_cast<TagLib::FLAC::File *>(file))
        return flac->hasID3v2Tag() ? flac->ID3v2Tag() : nullptr;
    if (auto *wav = dynamic_cast<TagLib::RIFF::WAV::File *>(file))
        return wav->hasID3v2Tag() ? wav->ID3v2Tag() : nullptr;
    return nullptr;
}

// properties: the file's, when the caller has them already (making them
// is a good part of reading a file's tags).
QString lyricsOf(TagLib::File *file, const TagLib::PropertyMap *known = nullptr)
{
    if (!file)
        return QString();
    const TagLib::PropertyMap properties = known ? *known : file->properties();
    for (const char *key : {"LYRICS", "UNSYNCEDLYRICS"}) {
        const auto it = properties.find(key);
        if (it != properties.end() && !it->second.isEmpty()) {
            const QString text = fromTagLib(it->second.toString(TagLib::String("\n")));
            if (!text.trimmed().isEmpty())
                return cleanLyric(text);
        }
    }
    if (TagLib::ID3v2::Tag *id3 = id3v2Of(file)) {
        for (TagLib::ID3v2::Frame *frame : id3->frameList("SYLT")) {
            if (auto *sylt = dynamic_cast<TagLib::ID3v2::SynchronizedLyricsFrame *>(frame)) {
                const QString text = syltText(*sylt);
                if (!text.trimmed().isEmpty())
                    return cleanLyric(text);
            }
        }
    }
    return QString();
}

QByteArray toQByteArray(const TagLib::ByteVector &bytes)
{
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

template <typename PictureList> QByteArray frontOf(const PictureList &pictures)
{
    QByteArray first;
    for (const auto *picture : pictures) {
        if (picture->type() == std::remove_pointer_t<decltype(picture)>::FrontCover)
            return toQByteArray(picture->data());
        if (first.isEmpty())
            first = toQByteArray(picture->data());
    }
    return first;
}

QByteArray coverOf(TagLib::File *file)
{
    if (!file)
        return QByteArray();
    if (TagLib::ID3v2::Tag *id3 = id3v2Of(file)) {
        QByteArray first;
        for (TagLib::ID3v2::Frame *frame : id3->frameList("APIC")) {
            auto *apic = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame *>(frame);
            if (!apic)
                continue;
            if (apic->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover)
                return toQByteArray(apic->picture());
            if (first.isEmpty())
                first = toQByteArray(apic->picture());
        }
        if (!first.isEmpty())
            return first;
    }
    if (auto *flac = dynamic_cast<TagLib::FLAC::File *>(file))
        return frontOf(flac->pictureList());
    if (auto *xiph = dynamic_cast<TagLib::Ogg::XiphComment *>(file->tag()))
        return frontOf(xiph->pictureList());
    if (auto *mp4 = dynamic_cast<TagLib::MP4::File *>(file)) {
        if (TagLib::MP4::Tag *tag = mp4->tag(); tag && tag->contains("covr")) {
            const TagLib::MP4::CoverArtList covers = tag->item("covr").toCoverArtList();
            if (!covers.isEmpty())
                return toQByteArray(covers.front().data());
        }
    }
    return QByteArray();
}

// The leading number of "3" or "3/12"; 0 when there is none.
int leadingNumber(const TagLib::String &text)
{
    const QString value = TagReader::cleanText(text);
    qsizetype end = 0;
    while (end < value.size() && end < 4 && value.at(end).isDigit())
        ++end;
    return value.left(end).toInt();
}

// A genre as TagLib gives it; an ID3v1 number ("17", "(17)") that came
// through as it stands becomes its name.
QString genreName(const QString &cleaned)
{
    QString genre = cleaned;
    QString number = genre;
    if (number.startsWith(QLatin1Char('(')) && number.endsWith(QLatin1Char(')')))
        number = number.mid(1, number.size() - 2);
    bool isNumber = false;
    const int n = number.toInt(&isNumber);
    if (isNumber && n >= 0 && n < 256) {
        const QString name = TagReader::cleanText(TagLib::ID3v1::genre(n));
        if (!name.isEmpty())
            genre = name;
    }
    return genre;
}

// What the format-neutral property map adds to the plain tag: the album
// artist (ID3 TPE2, MP4 aART, ALBUMARTIST), each artist of a multi-valued
// tag, the disc, and a genre TagLib keeps as a list.
void readProperties(const TagLib::PropertyMap &properties, TrackTags &tags)
{
    const auto values = [&properties](const char *key) {
        const auto it = properties.find(key);
        return it == properties.end() ? TagLib::StringList() : it->second;
    };
    const auto cleanList = [](const TagLib::StringList &list) {
        QStringList out;
        for (const TagLib::String &value : list) {
            const QString text = TagReader::cleanText(value);
            if (!text.isEmpty() && !out.contains(text))
                out.append(text);
        }
        return out;
    };
    if (const TagLib::StringList albumArtist = values("ALBUMARTIST"); !albumArtist.isEmpty())
        tags.albumArtist = TagReader::cleanText(albumArtist.front());
    const QStringList artist = cleanList(values("ARTIST"));
    const QStringList artists = cleanList(values("ARTISTS"));
    tags.artists = artists.isEmpty() ? artist : artists;
    if (artist.size() > 1)
        tags.artist = artist.join(QStringLiteral(" / "));
    else if (tags.artist.isEmpty() && !artist.isEmpty())
        tags.artist = artist.front();
    if (tags.artist.isEmpty() && !tags.artists.isEmpty())
        tags.artist = tags.artists.join(QStringLiteral(" / "));
    if (const TagLib::StringList disc = values("DISCNUMBER"); !disc.isEmpty())
        tags.disc = leadingNumber(disc.front());
    if (const TagLib::StringList genre = values("GENRE"); !genre.isEmpty())
        tags.genre = genreName(TagReader::cleanText(genre.front()));
    else
        tags.genre = genreName(tags.genre);
}

std::optional<TrackTags> tagsOf(TagLib::File *file)
{
    if (!file)
        return std::nullopt;
    const TagLib::AudioProperties *audio = file->audioProperties();
    if (!audio || audio->lengthInMilliseconds() <= 0)
        return std::nullopt;
    TrackTags tags;
    if (const TagLib::Tag *tag = file->tag()) {
        tags.title = TagReader::cleanText(tag->title());
        tags.artist = TagReader::cleanText(tag->artist());
        tags.album = TagReader::cleanText(tag->album());
        tags.track = static_cast<int>(std::min(tag->track(), 9999u));
        tags.year = static_cast<int>(std::min(tag->year(), 9999u));
        tags.genre = TagReader::cleanText(tag->genre());
    }
    const TagLib::PropertyMap properties = file->properties();
    readProperties(properties, tags);
    // A WAV file's tag() is its ID3 tag only; many writers use the RIFF
    // INFO chunk instead, or as well, so each field missing from one comes
    // from the other.
    if (auto *wav = dynamic_cast<TagLib::RIFF::WAV::File *>(file); wav && wav->hasInfoTag()) {
        const TagLib::RIFF::Info::Tag *info = wav->InfoTag();
        for (auto [field, text] :
             {std::pair{&tags.title, info->title()}, std::pair{&tags.artist, info->artist()},
              std::pair{&tags.album, info->album()}}) {
            if (field->isEmpty())
                *field = TagReader::cleanText(text);
        }
    }
    tags.durationSeconds = (audio->lengthInMilliseconds() + 500) / 1000;
    tags.bitRateKbps = std::max(0, audio->bitrate());
    tags.hasLyrics = !lyricsOf(file, &properties).isEmpty();
    tags.hasCover = !coverOf(file).isEmpty();
    return tags;
}

OpenedFile openBytes(const QByteArray &bytes, const QString &suffix)
{
    // The stream copies the bytes, so they may go once it is made.
    auto stream = std::make_unique<TagLib::ByteVectorStream>(
        TagLib::ByteVector(bytes.constData(), static_cast<unsigned int>(bytes.size())));
    return openStream(std::move(stream), suffix);
}

} // namespace

std::optional<TrackTags> TagReader::read(const QString &path, bool *opened)
{
    const OpenedFile file = openPath(path);
    if (opened)
        *opened = file.stream != nullptr;
    return tagsOf(file.file.get());
}

std::optional<TrackTags> TagReader::readBytes(const QByteArray &bytes, const QString &suffix)
{
    return tagsOf(openBytes(bytes, suffix).file.get());
}

QString TagReader::lyrics(const QString &path)
{
    return lyricsOf(openPath(path).file.get());
}

QString TagReader::lyricsFromBytes(const QByteArray &bytes, const QString &suffix)
{
    return lyricsOf(openBytes(bytes, suffix).file.get());
}

QByteArray TagReader::cover(const QString &path)
{
    return coverOf(openPath(path).file.get());
}

bool TagReader::isAudioSuffix(const QString &suffix)
{
    static const QStringList kSuffixes{
        QStringLiteral("mp3"), QStringLiteral("flac"), QStringLiteral("ogg"),
        QStringLiteral("oga"), QStringLiteral("opus"), QStringLiteral("m4a"),
        QStringLiteral("mp4"), QStringLiteral("m4b"),  QStringLiteral("wav")};
    return kSuffixes.contains(suffix);
}

QString TagReader::cleanText(const TagLib::String &text)
{
    return cleanText(fromTagLib(text));
}

QString TagReader::cleanText(const QString &text)
{
    QString out = text.left(kMaxTagChars);
    for (QChar &c : out) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) || u == 0xFFFD)
            c = QLatin1Char(' ');
    }
    // A lone surrogate (cut in half above or broken in the tag) is dropped.
    if (!out.isEmpty() && out.back().isHighSurrogate())
        out.chop(1);
    return out.simplified();
}

} // namespace musicd
