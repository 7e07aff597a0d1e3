// What velmor-musicd's connection loop needs to know about a request before
// a worker takes it: whether all of it has arrived, how long it is, and
// whether it must be refused without reading on (a body where none is
// taken, a body over the limit, a head that never ends). Also the byte
// ranges of a Range header, read the way HTTP/1.1 asks. Pure functions over
// the bytes received so far, so they are tested and fuzzed without sockets.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace musicd {

struct RequestLimits
{
    // Request line and headers together.
    size_t maxHeadBytes = 16 * 1024;
    // Bodies of methods that take one; methods that take none refuse any.
    size_t maxBodyBytes = 4 * 1024;
};

struct RequestExtent
{
    enum class State {
        Incomplete, // more bytes are needed
        Complete,   // head and body are all in the buffer
        Refused,    // answer `status` and close, reading nothing more
    };
    State state = State::Incomplete;
    size_t headBytes = 0; // through the blank line ending the head
    size_t bodyBytes = 0;
    int status = 0;
};

// Where the first request in `bytes` ends, or why it is refused. The head
// ends at the first line that is only CR LF after the request line, as the
// HTTP library reads it, so both agree on where the body starts.
RequestExtent measureRequest(std::string_view bytes, const RequestLimits &limits);

// The value of the first header `name` (case-insensitive) in a complete
// head, trimmed; `found` tells an empty value from a missing header.
std::string headerValue(std::string_view head, std::string_view name, bool *found = nullptr);

// Removes every `name` header line from the head at the front of `bytes`;
// returns how many bytes were removed.
size_t removeHeader(std::string &bytes, size_t headBytes, std::string_view name);

// first/last as the HTTP library's Range: (-1, N) is the last N bytes,
// (N, -1) runs to the end.
using ByteRange = std::pair<ssize_t, ssize_t>;

// The ranges of a Range header value. A unit other than bytes, or a value
// that does not parse, means "no ranges": the whole content is sent, as
// HTTP/1.1 lets a server ignore a Range it cannot use. Positions too large
// for any file are clamped, not refused: bytes=0-<20 digits> is "to the
// end".
std::vector<ByteRange> parseByteRanges(std::string_view value);

} // namespace musicd
