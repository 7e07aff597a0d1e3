// Reader for icon files (.ico): lists the images of the directory and draws
// one of them. Both kinds of image an icon file holds are decoded: device
// independent bitmaps (1, 4, 8, 16, 24 and 32 bits per pixel, with the AND
// transparency mask and, at 32 bits, per-pixel alpha) and PNG streams.
//
// Untrusted input: data shorter than the directory it announces, or an entry
// whose image lies outside the data, is rejected by LoadFromData (false, the
// object unchanged) so that no accessor ever reads past the bytes.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

class QPainter;

class ClsIcon
{
public:
    ClsIcon() = default;

    // Takes a whole icon file. A count field of 0 or less (32768 and more
    // read as negative) stores that count and returns false; the entries of an
    // earlier load are kept but out of reach.
    bool LoadFromData(const QByteArray &Data);
    // False when the file does not exist or cannot be read.
    bool LoadFromFile(const QString &FileName);

    qint16 Count() const { return m_count; }
    // Entry fields as stored; a stored width or height of 0 reads as 0.
    // An Index outside 0..Count-1 throws std::out_of_range.
    int Width(int Index) const;
    int Height(int Index) const;
    int ColorCount(int Index) const;
    int BitCount(int Index) const;
    qint32 Length(int Index) const;
    qint32 Offset(int Index) const;
    // The Length bytes of image Index.
    QByteArray Data(int Index) const;

    // Decodes image Index to ARGB at its own pixel size; a null image when the
    // bytes do not form an icon image.
    QImage Image(int Index) const;
    // Draws image Index at (X, Y) at the entry's stored width and height
    // (scaled when they differ from the image's own size); a stored size of 0
    // uses the image's own size. False when the image cannot be decoded or
    // there is nothing to draw on.
    bool Draw(QPainter *hdc, int X, int Y, int Index) const;

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
