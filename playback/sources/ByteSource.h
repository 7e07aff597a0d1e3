// Where the light decoding path reads a link's bytes from: a local file or
// a plain HTTP stream. Read on one thread (the read-ahead's); a blocking
// read returns soon after the abort flag given at construction is set.
#pragma once

#include <QtGlobal>

class ByteSource
{
public:
    virtual ~ByteSource() = default;
    // Starts reading at `offset` (again, after a seek or a dropped
    // connection); false when the source cannot be read there.
    virtual bool open(qint64 offset) = 0;
    // Up to `max` bytes: how many came, 0 at the end, -1 when reading failed
    // for good.
    virtual qint64 read(char *data, qint64 max) = 0;
    // The whole length in bytes, -1 while unknown.
    virtual qint64 size() const = 0;
};
