// The answer a route builds: a status, headers, a content type and either
// the body's bytes or a body read a piece at a time as the client's socket
// drains (an audio file, a cached tune), so a client that reads slowly
// costs one piece of memory at most.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace musicd {

struct HttpAnswer
{
    // A body produced as it is sent: `length` bytes, read by `read` at an
    // offset into a buffer (bytes given, 0 or less when it cannot: the
    // connection is then closed, the body cut short). `finished` (may be
    // empty) hears at the end whether all of it went out.
    struct Stream
    {
        uint64_t length = 0;
        std::function<ssize_t(uint64_t offset, char *buffer, size_t max)> read;
        std::function<void(bool complete)> finished;
    };

    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string contentType;
    std::string body;
    // Set: the body comes from here and `body` is not sent.
    std::shared_ptr<Stream> stream;
    // Bytes held elsewhere (a cache), sent as they are without a copy;
    // `owner` keeps them until the answer is sent.
    struct Shared
    {
        std::shared_ptr<const void> owner;
        const char *data = nullptr;
        size_t size = 0;
    };
    std::shared_ptr<Shared> shared;

    void setHeader(const std::string &name, const std::string &value)
    {
        headers.emplace_back(name, value);
    }
    void setContent(std::string bytes, std::string type)
    {
        body = std::move(bytes);
        contentType = std::move(type);
        stream.reset();
        shared.reset();
    }
    void setShared(std::shared_ptr<const void> owner, const char *data, size_t size,
                   std::string type)
    {
        shared = std::make_shared<Shared>(Shared{std::move(owner), data, size});
        contentType = std::move(type);
        body.clear();
        stream.reset();
    }
    void setStream(uint64_t length, std::string type,
                   std::function<ssize_t(uint64_t, char *, size_t)> read,
                   std::function<void(bool)> finished = nullptr)
    {
        stream = std::make_shared<Stream>(Stream{length, std::move(read), std::move(finished)});
        contentType = std::move(type);
        body.clear();
        shared.reset();
    }
};

} // namespace musicd
