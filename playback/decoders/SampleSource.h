// What a playback's output loop plays from: decoded 16-bit samples with
// the time they start at, and what the read-ahead behind them holds. Two
// kinds exist: the light path (a StreamDecoder over a read-ahead of bytes)
// and FFmpeg's (packets read ahead by libavformat, decoded by libavcodec);
// both read ahead by ReadAheadLimits.
// All calls but abort() come from the output thread.
#pragma once

#include "playback/sources/ReadAheadLimits.h"

#include <QtGlobal>
#include <cstdint>
#include <vector>

class SampleSource
{
public:
    enum class Step {
        Samples, // `samples` holds some
        Dry,     // the read-ahead holds too little to decode on yet
        End      // nothing more comes
    };

    virtual ~SampleSource() = default;
    virtual int rate() const = 0;
    virtual int channels() const = 0; // 1 or 2
    // Seconds, 0 when unknown.
    virtual double duration() const = 0;
    // Replaces `samples` with the next decoded ones; `seconds` is where they
    // start, or negative when they simply follow the previous ones.
    virtual Step decode(std::vector<int16_t> &samples, double &seconds) = 0;
    // Whether decode() would not be Dry now.
    virtual bool inputReady() = 0;
    // After running dry: enough is read ahead again to play on.
    virtual bool refilled() = 0;
    // Decoding goes on from `seconds`; samples before it may still come and
    // are dropped by the output loop.
    virtual void seek(double seconds) = 0;
    // The path's name for logs and tests ("wav", "mpg123", "sndfile",
    // "ffmpeg").
    virtual const char *name() const = 0;
};
