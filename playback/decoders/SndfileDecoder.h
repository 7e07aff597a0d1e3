// FLAC, Ogg Vorbis and Ogg Opus through libsndfile's virtual I/O on the
// ByteReader. libsndfile wants the whole length and seeks freely, so only
// a stream of known length is opened here; others go to FFmpeg.
#pragma once

#include "playback/decoders/StreamDecoder.h"

#include <sndfile.h>
#include <vector>

class SndfileLibrary;

class SndfileDecoder : public StreamDecoder
{
public:
    explicit SndfileDecoder(const SndfileLibrary &api) : m_api(api) {}
    ~SndfileDecoder() override;

    bool open(ByteReader &input) override;
    int rate() const override { return m_info.samplerate; }
    int channels() const override { return std::min(m_info.channels, 2); }
    qint64 frames() const override { return m_info.frames > 0 ? m_info.frames : -1; }
    int read(int16_t *samples, int maxFrames) override;
    bool seek(qint64 frame) override;
    // libFLAC reads its stream in blocks of this size.
    qint64 bytesPerStep() const override { return 64 * 1024; }
    const char *name() const override { return "sndfile"; }

private:
    bool openFile();

    const SndfileLibrary &m_api;
    ByteReader *m_input = nullptr;
    SF_VIRTUAL_IO m_io{};
    SF_INFO m_info{};
    SNDFILE *m_file = nullptr;
    std::vector<int16_t> m_all; // every channel, before the cut to two
};
