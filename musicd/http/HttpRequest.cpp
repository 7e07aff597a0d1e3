#include "musicd/http/HttpRequest.h"

#include <strings.h>

namespace musicd {

std::string HttpRequest::param(const std::string &name) const
{
    for (const auto &[key, value] : params) {
        if (key == name)
            return value;
    }
    return std::string();
}

bool HttpRequest::hasParam(const std::string &name) const
{
    for (const auto &entry : params) {
        if (entry.first == name)
            return true;
    }
    return false;
}

std::vector<std::string> HttpRequest::paramValues(const std::string &name) const
{
    std::vector<std::string> values;
    for (const auto &[key, value] : params) {
        if (key == name)
            values.push_back(value);
    }
    return values;
}

std::string HttpRequest::header(const std::string &name) const
{
    for (const auto &[key, value] : headers) {
        if (strcasecmp(key.c_str(), name.c_str()) == 0)
            return value;
    }
    return std::string();
}

bool HttpRequest::hasHeader(const std::string &name) const
{
    return headerCount(name) > 0;
}

size_t HttpRequest::headerCount(const std::string &name) const
{
    size_t n = 0;
    for (const auto &entry : headers)
        n += strcasecmp(entry.first.c_str(), name.c_str()) == 0;
    return n;
}

} // namespace musicd
