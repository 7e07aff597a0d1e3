// A decoder of the light path: reads its stream through a ByteReader and
// gives signed 16-bit interleaved samples at the stream's own rate, mono or
// stereo (more channels are cut to the first two), with seeking to the
// sample.
#pragma once

#include <QtGlobal>
#include <cstdint>

class ByteReader;

class StreamDecoder
{
public:
    virtual ~StreamDecoder() = default;
    // Reads the header; false when the stream is not one this decoder
    // plays (another decoder, or FFmpeg, may).
    virtual bool open(ByteReader &input) = 0;
    virtual int rate() const = 0;
    virtual int channels() const = 0;
    // Frames in the whole stream, -1 when unknown.
    virtual qint64 frames() const = 0;
    // Up to `maxFrames` frames into `samples`; 0 at the end (or when the
    // rest cannot be decoded).
    virtual int read(int16_t *samples, int maxFrames) = 0;
    // The next read() starts at this frame.
    virtual bool seek(qint64 frame) = 0;
    // Bytes read ahead that decoding on surely needs no more than (a frame
    // of the format), so it does not wait in the middle of one.
    virtual qint64 bytesPerStep() const = 0;
    // A short name for logs and tests.
    virtual const char *name() const = 0;
};
