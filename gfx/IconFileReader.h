// Reader for icon files (.ico): lists the images of the directory and draws
// one of them. Both kinds of image an icon file holds are decoded: device
// independent bitmaps (1, 4, 8, 16, 24 and 32 bits per pixel, with the AND
// transparency mask and, at 32 bits, per-pixel alpha) and PNG streams.
//
// Untrusted input: data shorter than the directory it announces, or an entry
// whose image lies outside the data, is rejected by loadFromData (false, the
// object unchanged) so that no accessor ever reads past the bytes.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

class QPainter;

class IconFileReader
{
public:
    IconFileReader() = default;

    // Takes a whole icon file. A count field of 0 or less (32768 and more
    // read as negative) stores that count and returns false; the entries of an
    // earlier load are kept but out of reach.
    bool loadFromData(const QByteArray &data);
    // False when the file does not exist or cannot be read.
    bool loadFromFile(const QString &fileName);

    qint16 count() const { return m_count; }
    // Entry fields as stored; a stored width or height of 0 reads as 0.
    // An index outside 0..count-1 throws std::out_of_range.
    int width(int index) const;
    int height(int index) const;
    int colorCount(int index) const;
    int bitCount(int index) const;
    qint32 length(int index) const;
    qint32 offset(int index) const;
    // The length bytes of image index.
    QByteArray data(int index) const;

    // Decodes image index to ARGB at its own pixel size; a null image when the
    // bytes do not form an icon image.
    QImage image(int index) const;
    // Draws image index at (x, y) at the entry's stored width and height
    // (scaled when they differ from the image's own size); a stored size of 0
    // uses the image's own size. False when the image cannot be decoded or
    // there is nothing to draw on.
    bool draw(QPainter *painter, int x, int y, int index) const;

private:
    struct Entry
    {
        quint8 width = 0;
        quint8 height = 0;
        quint8 colorCount = 0;
        quint8 reserved = 0;
        quint16 planes = 0;
        quint16 bitCount = 0;
        quint32 bytesInRes = 0;
        quint32 imageOffset = 0;
    };
    const Entry &entry(int index) const;

    QByteArray m_data;
    qint16 m_count = 0;
    QList<Entry> m_entries;
};
