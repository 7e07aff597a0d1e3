// The byte ranges of a request's Range header, read the way HTTP/1.1 asks
// (the HTTP server library leaves Range to us). A pure function, tested
// and fuzzed without sockets.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace musicd {

// first/last: (-1, N) is the last N bytes,
// (N, -1) runs to the end.
using ByteRange = std::pair<ssize_t, ssize_t>;

// The ranges of a Range header value. A unit other than bytes, or a value
// that does not parse, means "no ranges": the whole content is sent, as
// HTTP/1.1 lets a server ignore a Range it cannot use. Positions too large
// for any file are clamped, not refused: bytes=0-<20 digits> is "to the
// end".
std::vector<ByteRange> parseByteRanges(std::string_view value);

} // namespace musicd
