// The icon reader over arbitrary file bytes: loading, every accessor of
// every entry, decoding, and drawing onto a small image. A load that fails
// must leave the object usable; a load that succeeds must describe only
// bytes that exist; a decoded image never exceeds the reader's size cap.
// QPainter on a QImage needs no application object.
#include "fuzz/FuzzCheck.h"
#include "gfx/ClsIcon.h"

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
    ClsIcon icon;
    const bool loaded = icon.LoadFromData(bytes);
    check(loaded == (icon.Count() > 0));
    if (!loaded)
        return 0;

    QImage canvas(48, 48, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    for (int i = 0; i < icon.Count(); ++i) {
        (void)icon.Width(i);
        (void)icon.Height(i);
        (void)icon.ColorCount(i);
        (void)icon.BitCount(i);
        const QByteArray image = icon.Data(i);
        check(image.size() == qsizetype(quint32(icon.Length(i))));
        const QImage decoded = icon.Image(i);
        // Embedded PNGs may be larger than the DIB cap; Qt's own reader
        // limits those.
        if (!decoded.isNull() && !image.startsWith("\x89PNG"))
            check(decoded.width() <= kMaxSide && decoded.height() <= kMaxSide);
        check(icon.Draw(&painter, (i % 4) * 12 - 4, (i / 4 % 4) * 12 - 4, i) == !decoded.isNull());
    }
    painter.end();

    // A second, broken load keeps the first one's entries.
    const qint16 count = icon.Count();
    check(!icon.LoadFromData(bytes.left(7)) && icon.Count() == count);
    return 0;
}
