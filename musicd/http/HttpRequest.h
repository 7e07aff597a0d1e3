// One request as velmor-musicd's routes see it, whatever server reads it:
// the method, the path (percent-decoded, the base path taken off), the
// query parameters (decoded, a name may come more than once), the headers
// (names compared ignoring case), the peer's address and the Host the
// client used.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace musicd {

struct HttpRequest
{
    std::string method;
    // Decoded, without the base path (/k/KEY) the request came under.
    std::string path;
    // As the client sent it (path and query, undecoded), for the log; the
    // base path is left out, as it is a secret.
    std::string target;
    // The base path this request came under ("/k/KEY"), or empty; absolute
    // URLs in an answer start with it so the client follows them.
    std::string basePath;
    std::vector<std::pair<std::string, std::string>> params;
    std::vector<std::pair<std::string, std::string>> headers;
    // The numeric address of the client ("127.0.0.1", "::1").
    std::string peer;
    // The Host header, as sent (empty without one).
    std::string host;
    // The route pattern's groups: [0] the whole path, [1] the first group...
    std::vector<std::string> matches;
    std::string body;

    // The first value of a parameter, or empty.
    std::string param(const std::string &name) const;
    bool hasParam(const std::string &name) const;
    // Every value of a parameter, in the order sent.
    std::vector<std::string> paramValues(const std::string &name) const;
    // The first header of that name (ignoring case), or empty.
    std::string header(const std::string &name) const;
    bool hasHeader(const std::string &name) const;
    // How many headers of that name there are.
    size_t headerCount(const std::string &name) const;
};

} // namespace musicd
