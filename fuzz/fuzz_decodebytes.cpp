// decodeBytes with arbitrary bytes in a charset picked by the first byte,
// including names nobody knows: it must never crash or hang.
#include "service/FetchPage.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const char *const kCharsets[] = {
        "utf-8",     "Utf-8",  "gb2312",   "gbk",  "GB18030", "big5",           "iso-8859-1",
        "shift_jis", "utf-16", "utf-16le", "auto", "",        "no-such-charset"};
    if (size == 0)
        return 0;
    const QString charset = QString::fromLatin1(kCharsets[data[0] % std::size(kCharsets)]);
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const QString text = musicservice::decodeBytes(bytes, charset);
    (void)musicservice::decodeSystemAnsi(bytes);
    if (bytes.isEmpty() && !text.isEmpty())
        __builtin_trap();
    return 0;
}
