// The light path's SampleSource: a StreamDecoder reading from a read-ahead
// of the link's bytes.
#pragma once

#include "playback/decoders/SampleSource.h"

#include <QtGlobal>
#include <memory>

class ReadAheadBuffer;
class StreamDecoder;

class DecoderSampleSource : public SampleSource
{
public:
    // Both already open; the decoder reads from `input`.
    DecoderSampleSource(std::unique_ptr<ReadAheadBuffer> input,
                        std::unique_ptr<StreamDecoder> decoder);
    ~DecoderSampleSource() override;

    int rate() const override;
    int channels() const override;
    double duration() const override;
    Step decode(std::vector<int16_t> &samples, double &seconds) override;
    bool inputReady() override;
    bool refilled() override;
    void seek(double seconds) override;
    const char *name() const override;

private:
    // Destroyed before the input it reads from.
    std::unique_ptr<ReadAheadBuffer> m_input;
    std::unique_ptr<StreamDecoder> m_decoder;
    qint64 m_frame = 0; // of the next sample decoded
};
