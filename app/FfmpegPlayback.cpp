#include "app/FfmpegPlayback.h"

#include "app/AudioSink.h"
#include "app/FfmpegLibrary.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <deque>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using EventType = FfmpegPlayback::EventType;

// Give up on a server that sends nothing for this long (microseconds), as
// the libmpv engine does; the player's own stall timeout may be shorter.
constexpr const char *kReadTimeoutUs = "10000000";
constexpr const char *kReconnectDelayMaxSeconds = "5";
// How much of the stream is looked at before playing starts (microseconds).
// FFmpeg's 5 s would hold a slow stream's first sound until 5 s of it came;
// an audio stream's parameters are known after a few frames.
constexpr const char *kAnalyzeDurationUs = "500000";
// A forward seek shorter than this reads on instead of asking again. Left
// to FFmpeg it is the socket's whole receive window, so the MP3 reader's look
// at the tags at the end of a short song would wait for the song itself.
constexpr const char *kShortSeekBytes = "16384";
// Only plain network streams and local files: FFmpeg's other protocols
// (concat:, subfile:, data:...) have no business in a song link.
constexpr const char *kProtocols =
    "file,http,https,tcp,tls,crypto,httpproxy,mmsh,mmst,rtsp,rtp,udp";
// How much decoded sound one write hands the output: pausing, seeking and
// stopping are noticed between writes.
constexpr double kChunkSeconds = 0.1;
// An empty read-ahead that stays empty this long is buffering; playing goes
// on once this much is read ahead again (or the stream has ended).
constexpr auto kUnderrunGrace = std::chrono::milliseconds(250);
constexpr double kRefillSeconds = 1.0;
constexpr qint64 kRefillBytes = 512 * 1024;
// Decoded sound already heard is kept for a while, so a pause can put back
// what the output dropped unheard; this much is trimmed at a time.
constexpr double kTrimSeconds = 0.5;

QString reasonForOpenError(int error)
{
    if (error == AVERROR_INVALIDDATA || error == AVERROR_DEMUXER_NOT_FOUND ||
        error == AVERROR_DECODER_NOT_FOUND)
        return QStringLiteral("不支持的文件格式");
    return QStringLiteral("无法打开链接");
}

struct QueuedPacket
{
    AVPacket *packet;
    int serial;
};

} // namespace

struct FfmpegPlayback::Shared
{
    Shared(const FfmpegLibrary &api, std::unique_ptr<AudioSink> sink, QByteArray target,
           Notify notify)
        : api(api), sink(std::move(sink)), target(std::move(target)), notify(std::move(notify))
    {
    }

    const FfmpegLibrary &api;
    const std::unique_ptr<AudioSink> sink;
    const QByteArray target;
    const Notify notify;
    std::atomic<bool> abort{false};
    std::atomic<float> gain{1.0f};

    std::mutex mutex;
    // Told about every change below: packets read, a seek or pause asked
    // for, the link opened or failed, abort.
    std::condition_variable changed;
    enum class Opening { Pending, Ready, Failed } opening = Opening::Pending;
    AVCodecContext *codec = nullptr; // made by the reader, used by the output once Ready
    AVRational timeBase{1, 1};
    double duration = 0.0;
    std::deque<QueuedPacket> packets;
    qint64 queuedBytes = 0;
    double queuedSeconds = 0.0;
    bool endOfInput = false; // of the stream read since the last seek
    int serial = 0;          // the seek the read-ahead belongs to
    int seekSerial = 0;      // the seek asked for last
    double seekTarget = 0.0;
    bool paused = false;

    // The position heard: clockBase at clockStamp, going on in real time by
    // at most clockLimit seconds (what the output holds) while running.
    mutable std::mutex clockMutex;
    bool clockValid = false;
    bool clockRunning = false;
    double clockBase = 0.0;
    double clockLimit = 0.0;
    Clock::time_point clockStamp;

    void setClock(double base, double limit, bool running)
    {
        std::lock_guard lock(clockMutex);
        clockValid = true;
        clockBase = base;
        clockLimit = limit;
        clockRunning = running;
        clockStamp = Clock::now();
    }

    bool readAheadFull() const
    {
        return queuedBytes >= kReadAheadBytes || queuedSeconds >= kReadAheadSeconds;
    }
    bool readAheadLow() const
    {
        return queuedBytes < kReadAheadBytes / 2 && queuedSeconds < kReadAheadSeconds / 2;
    }

    void clearPackets()
    {
        for (QueuedPacket &queued : packets)
            api.packet_free(&queued.packet);
        packets.clear();
        queuedBytes = 0;
        queuedSeconds = 0.0;
    }

    void fail(const QString &reason)
    {
        {
            std::lock_guard lock(mutex);
            opening = Opening::Failed;
        }
        changed.notify_all();
        if (!abort)
            notify({EventType::Failed, 0.0, reason});
    }
};

namespace {

int interruptRead(void *opaque)
{
    return static_cast<std::atomic<bool> *>(opaque)->load() ? 1 : 0;
}

// Whether the container's header already said all that playing needs: the
// audio stream's codec, rate, channels and length. Then the stream is not
// read ahead for analysis, which on a slow link would hold the first sound
// until seconds of audio had come (WAV, FLAC, Ogg and MP3 with a length
// header need none).
bool headerTellsEnough(const FfmpegLibrary &api, AVFormatContext *format)
{
    if (format->ctx_flags & AVFMTCTX_NOHEADER)
        return false;
    const int index = api.find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0)
        return false;
    const AVStream *stream = format->streams[index];
    const AVCodecParameters *params = stream->codecpar;
    return params->codec_id != AV_CODEC_ID_NONE && params->sample_rate > 0 &&
           params->ch_layout.nb_channels > 0 && stream->duration != AV_NOPTS_VALUE &&
           stream->duration > 0;
}

} // namespace

FfmpegPlayback::FfmpegPlayback(const FfmpegLibrary &api, std::unique_ptr<AudioSink> sink,
                               const QByteArray &target, int volume, Notify notify)
    : m_shared(std::make_unique<Shared>(api, std::move(sink), target, std::move(notify)))
{
    setVolume(volume);
    m_reader = std::thread(&FfmpegPlayback::readLoop, std::ref(*m_shared));
    m_output = std::thread(&FfmpegPlayback::outputLoop, std::ref(*m_shared));
}

FfmpegPlayback::~FfmpegPlayback()
{
    m_shared->abort = true;
    {
        std::lock_guard lock(m_shared->mutex);
    }
    m_shared->changed.notify_all();
    m_reader.join();
    m_output.join();
    m_shared->clearPackets();
    if (m_shared->codec)
        m_shared->api.codec_free_context(&m_shared->codec);
}

void FfmpegPlayback::setPaused(bool paused)
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->paused = paused;
    }
    m_shared->changed.notify_all();
}

void FfmpegPlayback::seek(double seconds)
{
    {
        std::lock_guard lock(m_shared->mutex);
        ++m_shared->seekSerial;
        m_shared->seekTarget = seconds;
    }
    m_shared->changed.notify_all();
}

void FfmpegPlayback::setVolume(int volume)
{
    // Loudness follows the cube of the slider, as people's ears expect and
    // as the libmpv engine does.
    const float linear = float(std::clamp(volume, 0, 100)) / 100.0f;
    m_shared->gain = linear * linear * linear;
}

bool FfmpegPlayback::position(double &seconds) const
{
    const Shared &s = *m_shared;
    std::lock_guard lock(s.clockMutex);
    if (!s.clockValid)
        return false;
    seconds = s.clockBase;
    if (s.clockRunning) {
        const double since = std::chrono::duration<double>(Clock::now() - s.clockStamp).count();
        seconds += std::clamp(since, 0.0, s.clockLimit);
    }
    return true;
}

void FfmpegPlayback::readLoop(Shared &s)
{
    const FfmpegLibrary &api = s.api;
    AVFormatContext *format = api.format_alloc_context();
    if (!format)
        return s.fail(QStringLiteral("播放出错"));
    format->interrupt_callback.callback = &interruptRead;
    format->interrupt_callback.opaque = &s.abort;
    AVDictionary *options = nullptr;
    const QByteArray agent = QStringLiteral("Velmor/%1.%2.%3")
                                 .arg(VELMOR_VERSION_MAJOR)
                                 .arg(VELMOR_VERSION_MINOR)
                                 .arg(VELMOR_VERSION_PATCH)
                                 .toLatin1();
    api.dict_set(&options, "user_agent", agent.constData(), 0);
    api.dict_set(&options, "reconnect", "1", 0);
    api.dict_set(&options, "reconnect_streamed", "1", 0);
    api.dict_set(&options, "reconnect_on_network_error", "1", 0);
    api.dict_set(&options, "reconnect_delay_max", kReconnectDelayMaxSeconds, 0);
    api.dict_set(&options, "rw_timeout", kReadTimeoutUs, 0);
    api.dict_set(&options, "protocol_whitelist", kProtocols, 0);
    api.dict_set(&options, "analyzeduration", kAnalyzeDurationUs, 0);
    api.dict_set(&options, "short_seek_size", kShortSeekBytes, 0);
    // A local path could hold a colon that FFmpeg would take for a protocol.
    const QByteArray url = s.target.startsWith('/') ? "file:" + s.target : s.target;
    int error = api.open_input(&format, url.constData(), nullptr, &options);
    api.dict_free(&options);
    if (error < 0)
        return s.fail(reasonForOpenError(error)); // open_input freed the context

    int index = -1;
    AVCodecContext *codec = nullptr;
    QString failure;
    if (!headerTellsEnough(api, format) && api.find_stream_info(format, nullptr) < 0) {
        failure = QStringLiteral("不支持的文件格式");
    } else if ((index = api.find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0)) < 0) {
        failure = QStringLiteral("没有可播放的音频");
    } else {
        const AVStream *stream = format->streams[index];
        const AVCodec *decoder = api.find_decoder(stream->codecpar->codec_id);
        codec = decoder ? api.codec_alloc_context(decoder) : nullptr;
        if (!codec || api.parameters_to_context(codec, stream->codecpar) < 0 ||
            api.codec_open(codec, decoder, nullptr) < 0 || codec->sample_rate <= 0 ||
            codec->ch_layout.nb_channels <= 0)
            failure = QStringLiteral("不支持的文件格式");
    }
    if (!failure.isEmpty()) {
        if (codec)
            api.codec_free_context(&codec);
        api.close_input(&format);
        return s.fail(failure);
    }
    // Only the audio stream is read ahead: cover art and the like are dropped
    // by the demuxer itself.
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (int(i) != index)
            format->streams[i]->discard = AVDISCARD_ALL;
    }
    const AVRational timeBase = format->streams[index]->time_base;
    double duration = 0.0;
    if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
        duration = double(format->duration) / AV_TIME_BASE;
    else if (format->streams[index]->duration != AV_NOPTS_VALUE)
        duration = double(format->streams[index]->duration) * av_q2d(timeBase);
    {
        std::lock_guard lock(s.mutex);
        s.codec = codec;
        s.timeBase = timeBase;
        s.duration = duration;
        s.opening = Shared::Opening::Ready;
    }
    s.changed.notify_all();

    AVPacket *packet = api.packet_alloc();
    // Reading stops when the read-ahead is full and starts again only once
    // it is down to half, so the reader sleeps for long stretches instead of
    // waking for every packet played.
    bool filling = true;
    while (packet) {
        int readSerial = 0;
        {
            std::unique_lock lock(s.mutex);
            s.changed.wait(lock, [&s, &filling] {
                if (s.abort || s.seekSerial != s.serial)
                    return true;
                if (s.endOfInput)
                    return false;
                if (s.readAheadFull())
                    filling = false;
                else if (s.readAheadLow())
                    filling = true;
                return filling;
            });
            if (s.abort)
                break;
            if (s.seekSerial != s.serial) {
                const int serial = s.seekSerial;
                const auto target = int64_t(s.seekTarget * AV_TIME_BASE);
                s.clearPackets();
                s.endOfInput = false;
                lock.unlock();
                // On a stream that cannot seek, reading simply goes on.
                api.seek_file(format, -1, INT64_MIN, target, target, 0);
                lock.lock();
                s.serial = serial;
                lock.unlock();
                s.changed.notify_all();
                continue;
            }
            readSerial = s.serial;
        }
        error = api.read_frame(format, packet);
        if (error == AVERROR(EAGAIN)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        {
            std::lock_guard lock(s.mutex);
            if (readSerial != s.seekSerial || (error >= 0 && packet->stream_index != index)) {
                if (error >= 0)
                    api.packet_unref(packet);
                continue;
            }
            if (error < 0) {
                // The end, or a read that failed for good after the
                // reconnects: either way nothing more comes. The player
                // tells a cut stream from the end by the position reached.
                s.endOfInput = true;
            } else {
                s.queuedBytes += packet->size;
                s.queuedSeconds += double(packet->duration) * av_q2d(timeBase);
                s.packets.push_back({packet, readSerial});
                packet = api.packet_alloc();
            }
        }
        s.changed.notify_all();
    }
    if (packet)
        api.packet_free(&packet);
    api.close_input(&format);
}

void FfmpegPlayback::outputLoop(Shared &s)
{
    const FfmpegLibrary &api = s.api;
    AVCodecContext *codec = nullptr;
    double duration = 0.0;
    {
        std::unique_lock lock(s.mutex);
        s.changed.wait(lock, [&s] { return s.abort || s.opening != Shared::Opening::Pending; });
        if (s.abort || s.opening != Shared::Opening::Ready)
            return;
        codec = s.codec;
        duration = s.duration;
    }
    // Same rate as the source (no resampling, so sample times stay exact);
    // mono or stereo, more channels are mixed down.
    const int rate = codec->sample_rate;
    const int channels = std::min(codec->ch_layout.nb_channels, 2);
    if (!s.sink->open(rate, channels))
        return s.fail(QStringLiteral("音频设备无法打开"));
    AVChannelLayout outLayout;
    api.channel_layout_default(&outLayout, channels);
    SwrContext *resampler = nullptr;
    AVFrame *frame = api.frame_alloc();
    const int chunkFrames = std::max(1, int(kChunkSeconds * rate));

    // Decoded samples from time outPts on; the first `written` frames of them
    // have gone to the output.
    std::vector<int16_t> out;
    std::vector<int16_t> scaled;
    double outPts = 0.0;
    qint64 written = 0;
    const auto outFrames = [&] { return qint64(out.size()) / channels; };
    double dropBefore = -1.0; // after a seek: decoded sound before it is dropped

    int outSerial = 0;
    bool loaded = false;
    bool decoderDrained = false; // the end was handed to the decoder
    bool decoderDone = false;    // and everything it had came out
    bool ended = false;
    bool wasPaused = false;
    bool buffering = false;
    Clock::time_point dryTime{};
    bool dry = false;

    const auto heardPosition = [&] { return outPts + double(written) / rate - s.sink->latency(); };
    const auto append = [&](const AVFrame *decoded) {
        AVChannelLayout inLayout;
        if (decoded->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            api.channel_layout_default(&inLayout, decoded->ch_layout.nb_channels);
        else
            api.channel_layout_copy(&inLayout, &decoded->ch_layout);
        if (!resampler) {
            if (api.swr_alloc_set_opts2(&resampler, &outLayout, AV_SAMPLE_FMT_S16, rate, &inLayout,
                                        AVSampleFormat(decoded->format), decoded->sample_rate, 0,
                                        nullptr) < 0 ||
                api.swr_init(resampler) < 0)
                api.swr_free(&resampler);
        }
        api.channel_layout_uninit(&inLayout);
        if (!resampler)
            return;
        const int room = api.swr_get_out_samples(resampler, decoded->nb_samples);
        if (room <= 0)
            return;
        std::vector<int16_t> converted(size_t(room) * channels);
        uint8_t *target = reinterpret_cast<uint8_t *>(converted.data());
        const int count = api.swr_convert(resampler, &target, room,
                                          const_cast<const uint8_t **>(decoded->extended_data),
                                          decoded->nb_samples);
        if (count <= 0)
            return;
        double pts = outPts + double(outFrames()) / rate;
        if (decoded->best_effort_timestamp != AV_NOPTS_VALUE)
            pts = double(decoded->best_effort_timestamp) * av_q2d(s.timeBase);
        int skip = 0;
        if (dropBefore >= 0) {
            // Decode and drop up to the sought position, to the sample.
            if (pts + double(count) / rate <= dropBefore)
                return;
            if (pts < dropBefore) {
                skip = std::min(count, int(std::lround((dropBefore - pts) * rate)));
                pts = dropBefore;
            }
            dropBefore = -1.0;
        }
        if (out.empty()) {
            outPts = pts;
            written = 0;
        }
        out.insert(out.end(), converted.begin() + qsizetype(skip) * channels,
                   converted.begin() + qsizetype(count) * channels);
    };
    const auto writeChunk = [&] {
        const qint64 frames = std::min<qint64>(outFrames() - written, chunkFrames);
        const int16_t *from = out.data() + written * channels;
        const float gain = s.gain;
        scaled.resize(size_t(frames) * channels);
        for (size_t i = 0; i < scaled.size(); ++i)
            scaled[i] = int16_t(std::lround(from[i] * gain));
        if (!s.sink->write(scaled.data(), int(frames)))
            return false;
        written += frames;
        const double latency = s.sink->latency();
        s.setClock(outPts + double(written) / rate - latency, latency, true);
        // Keep only what may still be unheard.
        const auto heard = qint64((double(written) / rate - latency - kTrimSeconds) * rate);
        if (heard > qint64(kTrimSeconds * rate)) {
            out.erase(out.begin(), out.begin() + heard * channels);
            written -= heard;
            outPts += double(heard) / rate;
        }
        return true;
    };

    s.setClock(0.0, 0.0, false);
    while (true) {
        std::unique_lock lock(s.mutex);
        if (s.abort)
            break;
        if (s.seekSerial != outSerial) {
            outSerial = s.seekSerial;
            const double target = s.seekTarget;
            lock.unlock();
            api.flush_buffers(codec);
            s.sink->flush();
            out.clear();
            written = 0;
            outPts = target;
            dropBefore = target;
            decoderDrained = decoderDone = ended = false;
            s.setClock(target, 0.0, false);
            s.notify({EventType::SeekDone, 0.0, QString()});
            continue;
        }
        if (s.paused && loaded) {
            if (!wasPaused) {
                // The output drops what it holds unheard; it is written
                // again on resume, so a pause loses nothing.
                lock.unlock();
                const double latency = s.sink->latency();
                s.sink->flush();
                written = std::max<qint64>(0, written - qint64(std::lround(latency * rate)));
                s.setClock(outPts + double(written) / rate, 0.0, false);
                wasPaused = true;
                continue;
            }
            s.changed.wait(lock);
            continue;
        }
        if (ended) {
            s.changed.wait(lock);
            continue;
        }
        wasPaused = false;
        const qint64 unwritten = outFrames() - written;
        if (unwritten >= chunkFrames || (decoderDone && unwritten > 0)) {
            lock.unlock();
            if (!writeChunk()) {
                // The sound server went away: no use racing through the rest.
                s.notify({EventType::Failed, 0.0, QStringLiteral("音频设备无法打开")});
                ended = true;
            }
            continue;
        }
        if (decoderDone) {
            lock.unlock();
            if (!loaded) {
                // Opened, but not one sample of sound came out.
                s.notify({EventType::Failed, 0.0, QStringLiteral("没有可播放的音频")});
                ended = true;
                continue;
            }
            s.sink->drain();
            s.setClock(heardPosition(), 0.0, false);
            s.notify({EventType::Ended, 0.0, QString()});
            ended = true;
            continue;
        }
        lock.unlock();
        const int received = api.receive_frame(codec, frame);
        if (received == 0) {
            append(frame);
            if (!loaded && !out.empty()) {
                loaded = true;
                s.notify({EventType::Loaded, duration, QString()});
            }
            continue;
        }
        if (received == AVERROR_EOF) {
            decoderDone = true;
            continue;
        }
        // Otherwise the decoder wants input; a broken frame (any other
        // error) is skipped as players do, and reading goes on.
        lock.lock();
        if (s.abort || s.seekSerial != outSerial || (s.paused && loaded))
            continue;
        while (!s.packets.empty() && s.packets.front().serial != outSerial) {
            s.queuedBytes -= s.packets.front().packet->size;
            api.packet_free(&s.packets.front().packet);
            s.packets.pop_front();
        }
        const bool current = s.serial == outSerial;
        if (buffering) {
            const bool refilled = current && (s.endOfInput || s.queuedSeconds >= kRefillSeconds ||
                                              s.queuedBytes >= kRefillBytes);
            if (!refilled) {
                s.changed.wait(lock);
                continue;
            }
            buffering = false;
            lock.unlock();
            s.notify({EventType::BufferingEnded, 0.0, QString()});
            continue;
        }
        if (current && !s.packets.empty()) {
            QueuedPacket queued = s.packets.front();
            s.packets.pop_front();
            s.queuedBytes -= queued.packet->size;
            s.queuedSeconds = std::max(0.0, s.queuedSeconds - double(queued.packet->duration) *
                                                                  av_q2d(s.timeBase));
            const bool low = s.readAheadLow();
            lock.unlock();
            if (low)
                s.changed.notify_all(); // time for the reader to read on
            dry = false;
            api.send_packet(codec, queued.packet);
            api.packet_free(&queued.packet);
            continue;
        }
        if (current && s.endOfInput) {
            lock.unlock();
            if (!decoderDrained) {
                decoderDrained = true;
                api.send_packet(codec, nullptr);
            } else {
                decoderDone = true;
            }
            continue;
        }
        // The read-ahead ran dry before the end.
        const Clock::time_point now = Clock::now();
        if (!dry) {
            dry = true;
            dryTime = now;
        }
        if (loaded && now - dryTime >= kUnderrunGrace) {
            buffering = true;
            dry = false;
            lock.unlock();
            s.notify({EventType::BufferingStarted, 0.0, QString()});
            continue;
        }
        s.changed.wait_for(lock, kUnderrunGrace);
    }
    api.frame_free(&frame);
    api.swr_free(&resampler);
    api.channel_layout_uninit(&outLayout);
}
