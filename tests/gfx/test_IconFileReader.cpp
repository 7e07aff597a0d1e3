// The icon reader on our own playing mark and on icon files built here in
// every image kind a real .ico holds; decoding is checked on drawn pixels.
#include "gfx/IconFileReader.h"

#include <QBuffer>
#include <QPainter>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

constexpr QRgb kBackground = 0xFF336699;
constexpr int kPicW = 5; // odd, so DIB rows need padding
constexpr int kPicH = 3;
const QRgb kColours[] = {qRgb(220, 40, 40), qRgb(40, 200, 60), qRgb(30, 60, 230),
                         qRgb(250, 250, 250), qRgb(0, 0, 0)};

bool isTransparentAt(int x, int y)
{
    return (x + 3 * y) % 4 == 1;
}
QRgb colourAt(int x, int y, int colourCount)
{
    return kColours[(x + 2 * y) % colourCount];
}

void put16(QByteArray &b, int v)
{
    char c[2];
    qToLittleEndian<quint16>(quint16(v), c);
    b.append(c, 2);
}
void put32(QByteArray &b, qint64 v)
{
    char c[4];
    qToLittleEndian<quint32>(quint32(v), c);
    b.append(c, 4);
}

QByteArray iconFile(const QList<QByteArray> &images, int storedW, int storedH, int bpp)
{
    QByteArray file;
    put16(file, 0);
    put16(file, 1);
    put16(file, int(images.size()));
    qint64 offset = 6 + 16 * images.size();
    for (const QByteArray &image : images) {
        file.append(char(storedW));
        file.append(char(storedH));
        file.append(char(bpp < 8 ? 1 << bpp : 0));
        file.append(char(0));
        put16(file, 1);
        put16(file, bpp);
        put32(file, image.size());
        put32(file, offset);
        offset += image.size();
    }
    for (const QByteArray &image : images)
        file.append(image);
    return file;
}

enum class Kind { Dib1, Dib4, Dib4FullPalette, Dib8, Dib24, Dib32Alpha, Dib32AndMask, Png };

struct Format
{
    Kind kind;
    int bpp;
    int colourCount;
    const char *name;
};

void PrintTo(const Format &f, std::ostream *os)
{
    *os << f.name;
}

// A DIB image: header with doubled height, palette, XOR rows, AND rows.
QByteArray dibImage(const Format &f)
{
    const bool palette = f.bpp <= 8;
    const int paletteSize = f.kind == Kind::Dib4FullPalette ? 16 : f.colourCount;
    QByteArray b;
    put32(b, 40);
    put32(b, kPicW);
    put32(b, 2 * kPicH);
    put16(b, 1);
    put16(b, f.bpp);
    put32(b, 0);
    put32(b, 0);
    put32(b, 0);
    put32(b, 0);
    put32(b, palette && f.kind != Kind::Dib4FullPalette ? paletteSize : 0);
    put32(b, 0);
    if (palette) {
        for (int i = 0; i < paletteSize; ++i) {
            const QRgb c = i < f.colourCount ? kColours[i] : qRgb(1, 1, 1);
            b.append(char(qBlue(c)));
            b.append(char(qGreen(c)));
            b.append(char(qRed(c)));
            b.append(char(0));
        }
    }
    const int xorStride = ((kPicW * f.bpp + 31) / 32) * 4;
    for (int y = kPicH - 1; y >= 0; --y) {
        QByteArray row(xorStride, '\0');
        for (int x = 0; x < kPicW; ++x) {
            const int index = (x + 2 * y) % f.colourCount;
            const QRgb c = kColours[index];
            switch (f.bpp) {
            case 1:
            case 4:
            case 8: {
                const int perByte = 8 / f.bpp;
                const int shift = 8 - f.bpp * (x % perByte + 1);
                row[x / perByte] = char(uchar(row[x / perByte]) | (index << shift));
                break;
            }
            case 24:
                row[3 * x] = char(qBlue(c));
                row[3 * x + 1] = char(qGreen(c));
                row[3 * x + 2] = char(qRed(c));
                break;
            case 32: {
                const bool alpha = f.kind == Kind::Dib32Alpha;
                row[4 * x] = char(qBlue(c));
                row[4 * x + 1] = char(qGreen(c));
                row[4 * x + 2] = char(qRed(c));
                row[4 * x + 3] = char(alpha ? (isTransparentAt(x, y) ? 0 : 255) : 0);
                break;
            }
            }
        }
        b.append(row);
    }
    for (int y = kPicH - 1; y >= 0; --y) {
        QByteArray row(4, '\0');
        for (int x = 0; x < kPicW; ++x) {
            // With alpha the mask is deliberately wrong: alpha must win.
            const bool bit = f.kind == Kind::Dib32Alpha ? false : isTransparentAt(x, y);
            if (bit)
                row[x / 8] = char(uchar(row[x / 8]) | (0x80 >> (x % 8)));
        }
        b.append(row);
    }
    return b;
}

QByteArray pngImage(const Format &f)
{
    QImage image(kPicW, kPicH, QImage::Format_ARGB32);
    for (int y = 0; y < kPicH; ++y)
        for (int x = 0; x < kPicW; ++x)
            image.setPixel(x, y, isTransparentAt(x, y) ? 0u : colourAt(x, y, f.colourCount));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QByteArray iconFor(const Format &f, int storedW = kPicW, int storedH = kPicH)
{
    const QByteArray image = f.kind == Kind::Png ? pngImage(f) : dibImage(f);
    return iconFile({image}, storedW, storedH, f.bpp);
}

QImage drawIcon(const IconFileReader &icon, bool *ok, int x = 2, int y = 1)
{
    QImage out(20, 12, QImage::Format_ARGB32);
    out.fill(kBackground);
    QPainter painter(&out);
    *ok = icon.draw(&painter, x, y, 0);
    return out;
}

class IconFileReaderFormats : public ::testing::TestWithParam<Format>
{
};

TEST_P(IconFileReaderFormats, DrawsEveryPixelWithItsTransparency)
{
    const Format f = GetParam();
    IconFileReader icon;
    ASSERT_TRUE(icon.loadFromData(iconFor(f)));
    EXPECT_EQ(icon.count(), 1);
    EXPECT_EQ(icon.bitCount(0), f.bpp);

    bool ok = false;
    const QImage out = drawIcon(icon, &ok);
    ASSERT_TRUE(ok);
    for (int y = 0; y < kPicH; ++y) {
        for (int x = 0; x < kPicW; ++x) {
            const QRgb expected =
                isTransparentAt(x, y) ? kBackground : colourAt(x, y, f.colourCount);
            EXPECT_EQ(out.pixel(2 + x, 1 + y), expected) << f.name << " at " << x << "," << y;
        }
    }
    EXPECT_EQ(out.pixel(2 + kPicW, 1), kBackground);
    EXPECT_EQ(out.pixel(2, 1 + kPicH), kBackground);
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, IconFileReaderFormats,
    ::testing::Values(Format{Kind::Dib1, 1, 2, "1-bit"}, Format{Kind::Dib4, 4, 5, "4-bit"},
                      Format{Kind::Dib4FullPalette, 4, 5, "4-bit, implicit palette size"},
                      Format{Kind::Dib8, 8, 5, "8-bit"}, Format{Kind::Dib24, 24, 5, "24-bit"},
                      Format{Kind::Dib32Alpha, 32, 5, "32-bit alpha"},
                      Format{Kind::Dib32AndMask, 32, 5, "32-bit without alpha"},
                      Format{Kind::Png, 32, 5, "PNG"}),
    [](const auto &info) { return std::to_string(info.index); });

TEST(IconFileReader, PlayingMarkResource)
{
    QFile file(QStringLiteral(":/skin/PLAYICON.ico"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_EQ(bytes.size(), 686);

    IconFileReader icon;
    ASSERT_TRUE(icon.loadFromData(bytes));
    EXPECT_EQ(icon.count(), 1);
    EXPECT_EQ(icon.width(0), 12);
    EXPECT_EQ(icon.height(0), 12);
    EXPECT_EQ(icon.bitCount(0), 32);
    EXPECT_EQ(icon.length(0), 664);
    EXPECT_EQ(icon.offset(0), 22);
    EXPECT_EQ(icon.data(0), bytes.mid(22, 664));

    const QImage image = icon.image(0);
    ASSERT_EQ(image.size(), QSize(12, 12));
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);   // corner clear
    EXPECT_EQ(qAlpha(image.pixel(5, 6)), 255); // body of the mark solid
    int partial = 0;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x)
            partial += qAlpha(image.pixel(x, y)) > 0 && qAlpha(image.pixel(x, y)) < 255;
    EXPECT_GT(partial, 0) << "edges are smoothed with alpha";
}

TEST(IconFileReader, StoredZeroSizeReadsZeroAndDrawsAtOwnSize)
{
    const Format f{Kind::Dib24, 24, 5, "24"};
    IconFileReader icon;
    ASSERT_TRUE(icon.loadFromData(iconFor(f, 0, 0)));
    EXPECT_EQ(icon.width(0), 0);
    EXPECT_EQ(icon.height(0), 0);
    bool ok = false;
    const QImage out = drawIcon(icon, &ok, 0, 0);
    ASSERT_TRUE(ok);
    EXPECT_EQ(out.pixel(kPicW - 1, kPicH - 1), colourAt(kPicW - 1, kPicH - 1, 5));
    EXPECT_EQ(out.pixel(kPicW, kPicH - 1), kBackground);

    // A stored size other than the image's scales the image to it.
    ASSERT_TRUE(icon.loadFromData(iconFor(f, 2 * kPicW, 2 * kPicH)));
    const QImage scaled = drawIcon(icon, &ok, 0, 0);
    ASSERT_TRUE(ok);
    EXPECT_EQ(scaled.pixel(2 * kPicW - 1, 2 * kPicH - 1), colourAt(kPicW - 1, kPicH - 1, 5));
}

TEST(IconFileReader, CountOfZeroOrLessIsRejected)
{
    const QByteArray good = iconFor(Format{Kind::Dib24, 24, 5, "24"});
    for (const quint16 count : {quint16(0), quint16(0x8000), quint16(0xFFFF)}) {
        IconFileReader icon;
        ASSERT_TRUE(icon.loadFromData(good));
        QByteArray bad = good;
        qToLittleEndian<quint16>(count, bad.data() + 4);
        EXPECT_FALSE(icon.loadFromData(bad)) << count;
        EXPECT_EQ(icon.count(), qint16(count));
        EXPECT_THROW(icon.width(0), std::out_of_range);
    }
}

TEST(IconFileReader, MalformedDataIsRejectedAndNothingChanges)
{
    const QByteArray good = iconFor(Format{Kind::Dib24, 24, 5, "24"});
    QByteArray directoryTooLong = good.left(6 + 16);
    qToLittleEndian<quint16>(3, directoryTooLong.data() + 4); // announces 3 entries
    QByteArray offsetOutside = good;
    qToLittleEndian<quint32>(0xFFFFFFFFu, offsetOutside.data() + 6 + 12);
    QByteArray sizeOutside = good;
    qToLittleEndian<quint32>(quint32(good.size()), sizeOutside.data() + 6 + 8);

    const std::pair<const char *, QByteArray> cases[] = {
        {"empty", QByteArray()},
        {"header cut", good.left(5)},
        {"directory longer than the data", directoryTooLong},
        {"image cut short", good.left(good.size() - 1)},
        {"offset beyond the data", offsetOutside},
        {"size beyond the data", sizeOutside},
    };
    for (const auto &[name, bytes] : cases) {
        IconFileReader icon;
        ASSERT_TRUE(icon.loadFromData(good));
        EXPECT_FALSE(icon.loadFromData(bytes)) << name;
        EXPECT_EQ(icon.count(), 1) << name;
        EXPECT_EQ(icon.data(0), good.mid(22)) << name;
    }
}

TEST(IconFileReader, UndecodableImagesDrawNothing)
{
    QByteArray notAnImage(40, '\x11');
    QByteArray hugeDib = dibImage(Format{Kind::Dib24, 24, 5, "24"});
    qToLittleEndian<quint32>(100000, hugeDib.data() + 4); // claims a vast width
    QByteArray oddDepth = dibImage(Format{Kind::Dib24, 24, 5, "24"});
    qToLittleEndian<quint16>(7, oddDepth.data() + 14);
    QByteArray brokenPng = pngImage(Format{Kind::Png, 32, 5, "png"}).left(30);

    for (const QByteArray &image : {notAnImage, hugeDib, oddDepth, brokenPng}) {
        IconFileReader icon;
        ASSERT_TRUE(icon.loadFromData(iconFile({image}, kPicW, kPicH, 24)));
        bool ok = true;
        const QImage out = drawIcon(icon, &ok);
        EXPECT_FALSE(ok);
        EXPECT_EQ(out.pixel(2, 1), kBackground);
    }
}

TEST(IconFileReader, IndexOutsideTheDirectoryThrows)
{
    const QByteArray image = dibImage(Format{Kind::Dib8, 8, 5, "8"});
    IconFileReader icon;
    ASSERT_TRUE(icon.loadFromData(iconFile({image, image}, kPicW, kPicH, 8)));
    EXPECT_EQ(icon.count(), 2);
    EXPECT_EQ(icon.length(1), image.size());
    QImage out(4, 4, QImage::Format_ARGB32);
    QPainter painter(&out);
    for (const int index : {-1, 2}) {
        EXPECT_THROW(icon.width(index), std::out_of_range);
        EXPECT_THROW(icon.data(index), std::out_of_range);
        EXPECT_THROW(icon.draw(&painter, 0, 0, index), std::out_of_range);
    }
    EXPECT_THROW(IconFileReader().length(0), std::out_of_range);
}

TEST(IconFileReader, loadFromFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("mark.ico"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(iconFor(Format{Kind::Png, 32, 5, "png"}));
    file.close();

    IconFileReader icon;
    EXPECT_FALSE(icon.loadFromFile(dir.filePath(QStringLiteral("missing.ico"))));
    EXPECT_FALSE(icon.loadFromFile(dir.path())); // a folder is not an icon file
    EXPECT_FALSE(icon.loadFromFile(QString()));
    EXPECT_TRUE(icon.loadFromFile(path));
    EXPECT_EQ(icon.count(), 1);
}

} // namespace
