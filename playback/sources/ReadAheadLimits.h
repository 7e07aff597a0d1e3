// How far a stream is read ahead, the same on both playback paths (the
// light decoders' byte read-ahead and FFmpeg's packet queue).
#pragma once

#include <QtGlobal>

struct ReadAheadLimits
{
    // Read-ahead of the stream, the same on both paths: at most as many
    // bytes as the libmpv engine keeps, and no more than twenty seconds,
    // topped up again once down to three quarters of that. So at least
    // fifteen seconds are always in hand: more than a connection that went
    // silent takes to be replaced (ten, HttpByteSource), while a longer
    // read-ahead buys nothing a user hears and costs megabytes of a
    // lossless or high-rate stream.
    static constexpr qint64 kReadAheadBytes = 16 * 1024 * 1024;
    static constexpr double kReadAheadSeconds = 20.0;
    static constexpr double kReadOnBelow = 0.75; // of the read-ahead
    // After running dry, playing goes on once this much is read ahead again
    // (or the stream has ended).
    static constexpr double kRefillSeconds = 1.0;
    static constexpr qint64 kRefillBytes = 512 * 1024;
};
