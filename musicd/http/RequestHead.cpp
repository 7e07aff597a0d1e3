#include "musicd/http/RequestHead.h"

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

} // namespace

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
