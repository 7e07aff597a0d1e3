// What a decoder reads its stream through: bytes from a position, with
// seeking. The read-ahead implements it over a link; tests over memory.
#pragma once

#include <QtGlobal>

class ByteReader
{
public:
    virtual ~ByteReader() = default;
    // Up to `max` bytes from the current position; 0 at the end, -1 when
    // reading failed or was aborted. Blocks until at least one byte comes.
    virtual qint64 read(char *data, qint64 max) = 0;
    virtual bool seek(qint64 offset) = 0;
    virtual qint64 tell() const = 0;
    // -1 while unknown.
    virtual qint64 size() const = 0;
    // Bytes that read() gives now without waiting.
    virtual qint64 available() const = 0;
};
