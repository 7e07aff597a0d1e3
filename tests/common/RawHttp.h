// A bare-socket HTTP client for attacks no library client mounts: requests
// sent a byte at a time, bodies that never end, requests sent back to back
// on one connection, a thousand connections at once. Loopback only.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace rawhttp {

struct Answer
{
    int status = 0;
    std::string headers;
    std::string body;
};

// A connected TCP socket to 127.0.0.1:port, or -1.
int connectTo(int port);
// False when the peer closed or reset the connection first.
bool sendAll(int fd, std::string_view data);
// Reads up to `count` answers (each delimited by its Content-Length), in
// order, until they are all in, the peer closes, or `timeout` passes.
// `closed` tells whether the peer closed the connection.
std::vector<Answer> readAnswers(int fd, size_t count, std::chrono::milliseconds timeout,
                                bool *closed = nullptr);
// One request on a fresh connection; status 0 when no answer came.
Answer ask(int port, std::string_view request,
           std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Raises this process's open-file limit to what is allowed; false when it
// stays below `wanted`.
bool allowOpenFiles(size_t wanted);

} // namespace rawhttp
