// RIFF/WAVE with PCM samples of 8, 16, 24 or 32 bits or 32-bit floats,
// parsed here. The parser reads a bounded number of chunks and checks every
// size against the others and the stream's length, so a malformed header
// is refused rather than trusted.
#pragma once

#include "playback/decoders/StreamDecoder.h"

#include <vector>

class WavDecoder : public StreamDecoder
{
public:
    // The header fields the decoder plays from.
    struct Header
    {
        int format = 0; // 1 PCM, 3 float
        int channels = 0;
        int rate = 0;
        int bits = 0;
        int blockAlign = 0;
        qint64 dataOffset = 0;
        qint64 dataBytes = -1; // -1: to the end of the stream
    };
    // False when the bytes are not a WAVE header this decoder plays.
    static bool parseHeader(ByteReader &input, Header &header);

    bool open(ByteReader &input) override;
    int rate() const override { return m_header.rate; }
    int channels() const override { return std::min(m_header.channels, 2); }
    qint64 frames() const override;
    int read(int16_t *samples, int maxFrames) override;
    bool seek(qint64 frame) override;
    qint64 bytesPerStep() const override { return m_header.blockAlign; }
    const char *name() const override { return "wav"; }

private:
    ByteReader *m_input = nullptr;
    Header m_header;
    qint64 m_frame = 0;
    std::vector<char> m_raw;
};
