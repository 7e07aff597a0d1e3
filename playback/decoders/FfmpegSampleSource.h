// The FFmpeg path's SampleSource, for what the light path does not play
// (AAC in MP4, https links, other protocols and codecs): a reader thread
// reads the link with libavformat and keeps a read-ahead of compressed
// packets (bounded in bytes and seconds); decode() decodes them with
// libavcodec and converts them with libswresample to 16-bit samples.
#pragma once

#include "playback/decoders/FrameConverter.h"
#include "playback/decoders/PacketQueue.h"
#include "playback/decoders/SampleSource.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class ByteReader;
class FfmpegLibrary;
struct AVCodecContext;
struct AVDictionary;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;

class FfmpegSampleSource : public SampleSource
{
public:
    // `wake` is called from the reader thread when packets came or the
    // input ended.
    FfmpegSampleSource(const FfmpegLibrary &api, const std::atomic<bool> &abort,
                       std::function<void()> wake);
    ~FfmpegSampleSource() override;
    FfmpegSampleSource(const FfmpegSampleSource &) = delete;
    FfmpegSampleSource &operator=(const FfmpegSampleSource &) = delete;

    // Opens the link (blocking, ended early by the abort flag) and starts
    // reading ahead; false with `reason` set when it cannot be played. With
    // `input`, FFmpeg reads the link's bytes from it (already fetched for
    // the light path's look at them) instead of fetching them again.
    bool open(const QByteArray &target, std::unique_ptr<ByteReader> input, QString &reason);

    int rate() const override;
    int channels() const override;
    double duration() const override { return m_duration; }
    Step decode(std::vector<int16_t> &samples, double &seconds) override;
    bool inputReady() override;
    bool refilled() override;
    void seek(double seconds) override;
    const char *name() const override { return "ffmpeg"; }

private:
    // Every file FFmpeg opens for the link (the link itself, or what a
    // playlist in it names) goes through here, to be refused when opening
    // it could block.
    static int openNested(AVFormatContext *format, AVIOContext **io, const char *url, int flags,
                          AVDictionary **options);
    void readLoop();

    const FfmpegLibrary &m_api;
    const std::atomic<bool> &m_abort;
    const std::function<void()> m_wake;
    std::unique_ptr<ByteReader> m_input;
    AVIOContext *m_io = nullptr; // reads m_input
    AVFormatContext *m_format = nullptr;
    AVCodecContext *m_codec = nullptr;
    AVFrame *m_frame = nullptr;
    FrameConverter m_converter;
    // FFmpeg's own opening of the files a playlist or the like names.
    int (*m_defaultOpen)(AVFormatContext *, AVIOContext **, const char *, int,
                         AVDictionary **) = nullptr;
    int m_streamIndex = -1;
    // Seconds per tick of the timestamps of the packet sent last: a chained
    // stream's next part may count in other ticks.
    double m_timeBase = 0.0;
    double m_duration = 0.0;
    int m_outSerial = 0;
    bool m_decoderDrained = false;

    std::mutex m_mutex;
    std::condition_variable m_changed; // packets taken, a seek, stopping
    PacketQueue m_packets;
    bool m_endOfInput = false; // of the stream read since the last seek
    int m_serial = 0;          // the seek the read-ahead belongs to
    int m_seekSerial = 0;      // the seek asked for last
    double m_seekTarget = 0.0;
    bool m_stopping = false;
    std::thread m_reader;
};
