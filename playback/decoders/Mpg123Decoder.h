// MPEG audio (MP3) through libmpg123, reading through the ByteReader with
// its reader callbacks. Gapless and sample-exact: the encoder's delay and
// padding are cut, and a seek lands on the sample asked for.
#pragma once

#include "playback/decoders/StreamDecoder.h"

#include <vector>

class Mpg123Library;
struct mpg123_handle_struct;

class Mpg123Decoder : public StreamDecoder
{
public:
    explicit Mpg123Decoder(const Mpg123Library &api) : m_api(api) {}
    ~Mpg123Decoder() override;

    bool open(ByteReader &input) override;
    int rate() const override { return m_rate; }
    int channels() const override { return m_channels; }
    qint64 frames() const override { return m_frames; }
    int read(int16_t *samples, int maxFrames) override;
    bool seek(qint64 frame) override;
    // The longest MPEG audio frame (layer II/III at 384 kb/s, 32 kHz, padded).
    qint64 bytesPerStep() const override { return 1732; }
    const char *name() const override { return "mpg123"; }

private:
    const Mpg123Library &m_api;
    mpg123_handle_struct *m_handle = nullptr;
    ByteReader *m_input = nullptr;
    int m_rate = 0;
    int m_channels = 0;
    qint64 m_frames = -1;
};
