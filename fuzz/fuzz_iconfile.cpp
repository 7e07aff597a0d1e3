// The icon reader over arbitrary file bytes: loading, every accessor of
// every entry, decoding, and drawing onto a small image. A load that fails
// must leave the object usable; a load that succeeds must describe only
// bytes that exist; a decoded image never exceeds the reader's size cap.
// QPainter on a QImage needs no application object.
#include "fuzz/FuzzCheck.h"
#include "gfx/IconFileReader.h"

#include <QImage>
#include <QPainter>

#include <cstdint>

namespace {

// The side the reader refuses to go beyond for its own bitmaps.
constexpr int kMaxSide = 1024;

} // namespace

using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    IconFileReader icon;
    const bool loaded = icon.loadFromData(bytes);
    check(loaded == (icon.count() > 0));
    if (!loaded)
        return 0;

    QImage canvas(48, 48, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    for (int i = 0; i < icon.count(); ++i) {
        (void)icon.width(i);
        (void)icon.height(i);
        (void)icon.colorCount(i);
        (void)icon.bitCount(i);
        const QByteArray image = icon.data(i);
        check(image.size() == qsizetype(quint32(icon.length(i))));
        const QImage decoded = icon.image(i);
        // Embedded PNGs may be larger than the DIB cap; Qt's own reader
        // limits those.
        if (!decoded.isNull() && !image.startsWith("\x89PNG"))
            check(decoded.width() <= kMaxSide && decoded.height() <= kMaxSide);
        check(icon.draw(&painter, (i % 4) * 12 - 4, (i / 4 % 4) * 12 - 4, i) == !decoded.isNull());
    }
    painter.end();

    // A second, broken load keeps the first one's entries.
    const qint16 count = icon.count();
    check(!icon.loadFromData(bytes.left(7)) && icon.count() == count);
    return 0;
}
