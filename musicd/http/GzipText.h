// Text answers (search pages, link answers) gzipped for a client that takes
// it: a search page shrinks to about a sixth.
#pragma once

#include <string>
#include <string_view>

namespace musicd {

// The gzip stream of `text` into `out`; false (out untouched) on a zlib
// error.
bool gzipText(std::string_view text, std::string &out);

} // namespace musicd
