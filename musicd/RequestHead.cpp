#include "musicd/RequestHead.h"

#include <algorithm>
#include <limits>

namespace musicd {
namespace {

// More ranges than any player asks for are treated as none at all, so one
// request cannot make the answer a thousand parts.
constexpr size_t kMaxRanges = 16;

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) {
                   return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

std::string_view trimmed(std::string_view s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Methods whose requests carry no body in HTTP/1.1 use; a body sent with
// one is refused rather than read.
bool takesNoBody(std::string_view method)
{
    for (const char *m : {"GET", "HEAD", "DELETE", "OPTIONS", "TRACE", "CONNECT"}) {
        if (method == m)
            return true;
    }
    return false;
}

// Digits only; saturates instead of overflowing. False for anything else.
bool parseCount(std::string_view text, ssize_t &value)
{
    if (text.empty())
        return false;
    constexpr ssize_t kMax = std::numeric_limits<ssize_t>::max();
    ssize_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const int digit = c - '0';
        n = n > (kMax - digit) / 10 ? kMax : n * 10 + digit;
    }
    value = n;
    return true;
}

// Calls f(nameOfHeader, valueOfHeader, lineBegin, lineEnd) for each header
// line of the head, the request line skipped.
template <typename F> void forEachHeader(std::string_view head, F f)
{
    size_t pos = head.find('\n');
    while (pos != std::string_view::npos && pos + 1 < head.size()) {
        const size_t begin = pos + 1;
        const size_t end = head.find('\n', begin);
        const size_t lineEnd = end == std::string_view::npos ? head.size() : end + 1;
        const std::string_view line = head.substr(begin, lineEnd - begin);
        const size_t colon = line.find(':');
        if (colon != std::string_view::npos)
            f(line.substr(0, colon), trimmed(line.substr(colon + 1)), begin, lineEnd);
        pos = end;
    }
}

RequestExtent refused(int status)
{
    RequestExtent extent;
    extent.state = RequestExtent::State::Refused;
    extent.status = status;
    return extent;
}

} // namespace

RequestExtent measureRequest(std::string_view bytes, const RequestLimits &limits)
{
    const size_t requestLineEnd = bytes.find('\n');
    if (requestLineEnd == std::string_view::npos)
        return bytes.size() > limits.maxHeadBytes ? refused(414) : RequestExtent{};
    size_t headEnd = 0;
    for (size_t pos = requestLineEnd + 1; pos < bytes.size();) {
        const size_t end = bytes.find('\n', pos);
        if (end == std::string_view::npos)
            break;
        if (end == pos + 1 && bytes[pos] == '\r') {
            headEnd = end + 1;
            break;
        }
        pos = end + 1;
    }
    if (headEnd == 0)
        return bytes.size() > limits.maxHeadBytes ? refused(431) : RequestExtent{};
    if (headEnd > limits.maxHeadBytes)
        return refused(431);

    const std::string_view head = bytes.substr(0, headEnd);
    const std::string_view method = head.substr(0, head.find(' '));
    bool chunked = false;
    bool lengthSeen = false;
    bool lengthBad = false;
    ssize_t length = 0;
    forEachHeader(head, [&](std::string_view name, std::string_view value, size_t, size_t) {
        if (equalsNoCase(name, "Transfer-Encoding")) {
            chunked = true;
        } else if (equalsNoCase(name, "Content-Length")) {
            ssize_t n = 0;
            // Two different lengths would let a proxy and this server
            // disagree on where the next request starts.
            if (!parseCount(value, n) || (lengthSeen && n != length))
                lengthBad = true;
            length = n;
            lengthSeen = true;
        }
    });
    if (lengthBad || (chunked && lengthSeen))
        return refused(400);
    if (takesNoBody(method) && (chunked || length > 0))
        return refused(413);
    if (chunked)
        return refused(411); // a body must announce its length
    if (static_cast<size_t>(length) > limits.maxBodyBytes)
        return refused(413);

    RequestExtent extent;
    extent.headBytes = headEnd;
    extent.bodyBytes = static_cast<size_t>(length);
    if (bytes.size() >= headEnd + extent.bodyBytes)
        extent.state = RequestExtent::State::Complete;
    return extent;
}

std::string headerValue(std::string_view head, std::string_view name, bool *found)
{
    std::string result;
    bool seen = false;
    forEachHeader(head, [&](std::string_view n, std::string_view value, size_t, size_t) {
        if (!seen && equalsNoCase(n, name)) {
            seen = true;
            result.assign(value);
        }
    });
    if (found)
        *found = seen;
    return result;
}

size_t removeHeader(std::string &bytes, size_t headBytes, std::string_view name)
{
    std::vector<std::pair<size_t, size_t>> lines;
    forEachHeader(std::string_view(bytes).substr(0, headBytes),
                  [&](std::string_view n, std::string_view, size_t begin, size_t end) {
                      if (equalsNoCase(n, name))
                          lines.emplace_back(begin, end);
                  });
    size_t removed = 0;
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        bytes.erase(it->first, it->second - it->first);
        removed += it->second - it->first;
    }
    return removed;
}

std::vector<ByteRange> parseByteRanges(std::string_view value)
{
    value = trimmed(value);
    const size_t equals = value.find('=');
    if (equals == std::string_view::npos ||
        !equalsNoCase(trimmed(value.substr(0, equals)), "bytes"))
        return {};
    std::vector<ByteRange> ranges;
    std::string_view rest = value.substr(equals + 1);
    while (true) {
        const size_t comma = rest.find(',');
        const std::string_view oneRange = trimmed(rest.substr(0, comma));
        const size_t dash = oneRange.find('-');
        if (dash == std::string_view::npos || ranges.size() == kMaxRanges)
            return {};
        const std::string_view from = trimmed(oneRange.substr(0, dash));
        const std::string_view to = trimmed(oneRange.substr(dash + 1));
        ssize_t first = -1;
        ssize_t last = -1;
        if (from.empty()) { // the last `to` bytes
            if (!parseCount(to, last))
                return {};
        } else {
            if (!parseCount(from, first) || (!to.empty() && !parseCount(to, last)))
                return {};
            if (last >= 0 && last < first)
                return {}; // invalid: the whole header is ignored
        }
        ranges.emplace_back(first, last);
        if (comma == std::string_view::npos)
            break;
        rest.remove_prefix(comma + 1);
    }
    return ranges;
}

} // namespace musicd
