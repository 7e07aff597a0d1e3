#include "gfx/IconFileReader.h"

#include <QFile>
#include <QFileInfo>
#include <QPainter>

#include <stdexcept>

namespace {

constexpr int kHeaderSize = 6;      // reserved, type, count
constexpr int kEntrySize = 16;      // one directory entry
constexpr int kInfoHeaderSize = 40; // BITMAPINFOHEADER, the smallest DIB header in icons
constexpr quint32 kBiRgb = 0;       // uncompressed DIB
constexpr quint32 kBiBitfields = 3; // uncompressed with colour masks (16/32 bits)
// A DIB wider or taller than this is not an icon image; keeps a hostile
// header from asking for a huge allocation.
constexpr qint32 kMaxDibSide = 1024;
const QByteArray kPngSignature("\x89PNG\r\n\x1a\n", 8);

quint16 readU16(const uchar *p)
{
    return quint16(p[0] | (p[1] << 8));
}
quint32 readU32(const uchar *p)
{
    return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}

qint64 rowStride(qint64 width, int bitsPerPixel)
{
    return ((width * bitsPerPixel + 31) / 32) * 4;
}

// Decodes a BITMAPINFOHEADER image of an icon: colour (XOR) rows followed by
// the 1-bit AND mask rows, both bottom-up, the header's height counting both.
QImage decodeDib(const QByteArray &bytes)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    const qint64 size = bytes.size();
    if (size < kInfoHeaderSize)
        return {};
    const quint32 headerSize = readU32(p);
    const qint32 width = qint32(readU32(p + 4));
    const qint32 doubleHeight = qint32(readU32(p + 8));
    const int bitCount = readU16(p + 14);
    const quint32 compression = readU32(p + 16);
    quint32 colorsUsed = readU32(p + 32);
    if (headerSize < kInfoHeaderSize || headerSize > size)
        return {};
    if (width <= 0 || width > kMaxDibSide || doubleHeight <= 0 || doubleHeight > 2 * kMaxDibSide)
        return {};
    const int height = doubleHeight / 2;
    if (height <= 0)
        return {};
    if (compression != kBiRgb &&
        !(compression == kBiBitfields && (bitCount == 16 || bitCount == 32)))
        return {};

    qint64 offset = headerSize;
    // BI_BITFIELDS with the small header keeps its three masks after it.
    quint32 masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (bitCount == 32)
        masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
    if (compression == kBiBitfields) {
        if (headerSize == kInfoHeaderSize) {
            if (offset + 12 > size)
                return {};
            for (int i = 0; i < 3; ++i)
                masks[i] = readU32(p + offset + 4 * i);
            offset += 12;
        } else if (headerSize >= 52) {
            for (int i = 0; i < 3; ++i)
                masks[i] = readU32(p + kInfoHeaderSize + 4 * i);
        }
    }

    QList<QRgb> palette;
    if (bitCount == 1 || bitCount == 4 || bitCount == 8) {
        const quint32 maxColours = 1u << bitCount;
        if (colorsUsed == 0 || colorsUsed > maxColours)
            colorsUsed = maxColours;
        if (offset + qint64(colorsUsed) * 4 > size)
            return {};
        for (quint32 i = 0; i < colorsUsed; ++i) {
            const uchar *c = p + offset + 4 * i;
            palette.append(qRgb(c[2], c[1], c[0]));
        }
        offset += qint64(colorsUsed) * 4;
    } else if (bitCount != 16 && bitCount != 24 && bitCount != 32) {
        return {};
    }

    const qint64 xorStride = rowStride(width, bitCount);
    const qint64 andStride = rowStride(width, 1);
    if (offset + xorStride * height > size)
        return {};
    const uchar *xorBits = p + offset;
    // Icons with alpha sometimes leave the AND mask out; without it every
    // pixel counts as opaque.
    const bool hasAndMask = offset + xorStride * height + andStride * height <= size;
    const uchar *andBits = xorBits + xorStride * height;

    auto maskChannel = [](quint32 value, quint32 mask) -> int {
        if (mask == 0)
            return 0;
        int shift = 0;
        while (!((mask >> shift) & 1))
            ++shift;
        const quint32 max = mask >> shift;
        return int(((value & mask) >> shift) * 255 / max);
    };

    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull())
        return {};
    bool anyAlpha = false;
    for (int row = 0; row < height; ++row) {
        const uchar *src = xorBits + xorStride * (height - 1 - row);
        auto *dst = reinterpret_cast<QRgb *>(image.scanLine(row));
        for (int x = 0; x < width; ++x) {
            QRgb colour = 0;
            switch (bitCount) {
            case 1:
            case 4:
            case 8: {
                const int perByte = 8 / bitCount;
                const int shift = 8 - bitCount * (x % perByte + 1);
                const int index = (src[x / perByte] >> shift) & ((1 << bitCount) - 1);
                colour = index < palette.size() ? palette[index] : qRgb(0, 0, 0);
                break;
            }
            case 16: {
                const quint32 v = readU16(src + 2 * x);
                colour = qRgb(maskChannel(v, masks[0]), maskChannel(v, masks[1]),
                              maskChannel(v, masks[2]));
                break;
            }
            case 24:
                colour = qRgb(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
                break;
            case 32: {
                const quint32 v = readU32(src + 4 * x);
                const int alpha = int(v >> 24);
                anyAlpha = anyAlpha || alpha != 0;
                colour = qRgba(maskChannel(v, masks[0]), maskChannel(v, masks[1]),
                               maskChannel(v, masks[2]), alpha);
                break;
            }
            }
            if (bitCount != 32)
                colour |= 0xFF000000;
            dst[x] = colour;
        }
    }

    // A 32-bit image carries its own alpha; when every alpha byte is 0 it is
    // an old-style icon and the AND mask decides, as for the other depths.
    const bool useAndMask = !(bitCount == 32 && anyAlpha);
    for (int row = 0; row < height; ++row) {
        const uchar *mask = hasAndMask ? andBits + andStride * (height - 1 - row) : nullptr;
        auto *dst = reinterpret_cast<QRgb *>(image.scanLine(row));
        for (int x = 0; x < width; ++x) {
            if (!useAndMask)
                continue;
            const bool transparent = mask && ((mask[x / 8] >> (7 - x % 8)) & 1);
            dst[x] = transparent ? 0u : (dst[x] | 0xFF000000);
        }
    }
    return image;
}

} // namespace

bool IconFileReader::loadFromData(const QByteArray &data)
{
    if (data.size() < kHeaderSize)
        return false;
    const auto *p = reinterpret_cast<const uchar *>(data.constData());
    const qint16 count = qint16(readU16(p + 4));
    if (count <= 0) {
        m_data = data;
        m_count = count;
        return false;
    }
    // Check the whole directory before taking anything, so that a broken
    // file leaves the object as it was.
    const qint64 size = data.size();
    if (kHeaderSize + qint64(count) * kEntrySize > size)
        return false;
    QList<Entry> entries;
    entries.reserve(count);
    for (int i = 0; i < count; ++i) {
        const uchar *e = p + kHeaderSize + kEntrySize * i;
        Entry entry;
        entry.width = e[0];
        entry.height = e[1];
        entry.colorCount = e[2];
        entry.reserved = e[3];
        entry.planes = readU16(e + 4);
        entry.bitCount = readU16(e + 6);
        entry.bytesInRes = readU32(e + 8);
        entry.imageOffset = readU32(e + 12);
        if (qint64(entry.imageOffset) + qint64(entry.bytesInRes) > size)
            return false;
        entries.append(entry);
    }
    m_data = data;
    m_count = count;
    m_entries = std::move(entries);
    return true;
}

bool IconFileReader::loadFromFile(const QString &fileName)
{
    if (fileName.isEmpty() || !QFileInfo(fileName).isFile())
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    return loadFromData(bytes);
}

const IconFileReader::Entry &IconFileReader::entry(int index) const
{
    if (index < 0 || index >= m_count || index >= m_entries.size())
        throw std::out_of_range("subscript out of range");
    return m_entries[index];
}

int IconFileReader::width(int index) const
{
    return entry(index).width;
}

int IconFileReader::height(int index) const
{
    return entry(index).height;
}

int IconFileReader::colorCount(int index) const
{
    return entry(index).colorCount;
}

int IconFileReader::bitCount(int index) const
{
    return entry(index).bitCount;
}

qint32 IconFileReader::length(int index) const
{
    return qint32(entry(index).bytesInRes);
}

qint32 IconFileReader::offset(int index) const
{
    return qint32(entry(index).imageOffset);
}

QByteArray IconFileReader::data(int index) const
{
    const Entry &e = entry(index);
    // loadFromData made sure the image lies inside the data.
    return m_data.mid(qsizetype(e.imageOffset), qsizetype(e.bytesInRes));
}

QImage IconFileReader::image(int index) const
{
    const QByteArray bytes = data(index);
    if (bytes.startsWith(kPngSignature)) {
        QImage png;
        if (!png.loadFromData(bytes, "PNG"))
            return {};
        return png.convertToFormat(QImage::Format_ARGB32);
    }
    return decodeDib(bytes);
}

bool IconFileReader::draw(QPainter *painter, int x, int y, int index) const
{
    const Entry &e = entry(index);
    const QImage picture = image(index);
    if (picture.isNull() || !painter || !painter->isActive())
        return false;
    // A stored size of 0 asks for the image's own size.
    const int width = e.width ? e.width : picture.width();
    const int height = e.height ? e.height : picture.height();
    painter->save();
    painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter->drawImage(QRect(x, y, width, height), picture);
    painter->restore();
    return true;
}
