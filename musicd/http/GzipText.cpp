#include "musicd/http/GzipText.h"

#include <zlib.h>

namespace musicd {

bool gzipText(std::string_view text, std::string &out)
{
    z_stream z{};
    // 15 bits of window, +16 for the gzip wrapper; level 6 is zlib's own
    // balance of time and size.
    if (deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    std::string packed(deflateBound(&z, static_cast<uLong>(text.size())), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef *>(packed.data());
    z.avail_out = static_cast<uInt>(packed.size());
    const int result = deflate(&z, Z_FINISH);
    const size_t size = z.total_out;
    deflateEnd(&z);
    if (result != Z_STREAM_END)
        return false;
    packed.resize(size);
    out = std::move(packed);
    return true;
}

} // namespace musicd
