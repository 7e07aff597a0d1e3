#include "playback/decoders/FfmpegSampleSource.h"

#include "net/HttpConnection.h"
#include "playback/decoders/PlayableFormat.h"
#include "playback/libraries/FfmpegLibrary.h"
#include "playback/sources/ByteReader.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sys/stat.h>

namespace {

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
// Only plain network streams: FFmpeg's other protocols (concat:, subfile:,
// data:...) have no business in a song link, and a link from the network
// must never reach the local file system (an HLS playlist or a concat list
// naming file: segments would). A local path may name files.
constexpr const char *kNetworkProtocols =
    "http,https,tcp,tls,crypto,httpproxy,mmsh,mmst,rtsp,rtp,udp";
constexpr const char *kLocalProtocols =
    "file,http,https,tcp,tls,crypto,httpproxy,mmsh,mmst,rtsp,rtp,udp";

QString reasonForOpenError(int error)
{
    if (error == AVERROR_INVALIDDATA || error == AVERROR_DEMUXER_NOT_FOUND ||
        error == AVERROR_DECODER_NOT_FOUND)
        return QStringLiteral("不支持的文件格式");
    return QStringLiteral("无法打开链接");
}

// What FFmpeg reads from our byte reader at a time.
constexpr int kIoBufferBytes = 64 * 1024;

int readInput(void *opaque, uint8_t *data, int size)
{
    const qint64 n = static_cast<ByteReader *>(opaque)->read(reinterpret_cast<char *>(data), size);
    return n > 0 ? int(n) : n == 0 ? AVERROR_EOF : AVERROR(EIO);
}

int64_t seekInput(void *opaque, int64_t offset, int whence)
{
    auto *input = static_cast<ByteReader *>(opaque);
    if (whence & AVSEEK_SIZE)
        return input->size() >= 0 ? input->size() : AVERROR(ENOSYS);
    whence &= ~AVSEEK_FORCE;
    if (whence == SEEK_CUR)
        offset += input->tell();
    else if (whence == SEEK_END) {
        if (input->size() < 0)
            return AVERROR(ENOSYS);
        offset += input->size();
    }
    return input->seek(offset) ? offset : AVERROR(EIO);
}

int interruptRead(void *opaque)
{
    return static_cast<const std::atomic<bool> *>(opaque)->load() ? 1 : 0;
}

// Whether a file FFmpeg is about to open is one whose opening and reading
// cannot block: a FIFO or a device would hold the playback's thread (and
// the player's exit) in open() or read(), where no abort reaches it.
bool openableWithoutBlocking(const char *url)
{
    // "file:/path", "file:///path", "crypto+file:..." or a bare path.
    const char *path = url;
    const char *file = std::strstr(url, "file:");
    if (file && (file == url || file[-1] == '+'))
        path = file + 5;
    else if (url[0] != '/')
        return true; // a network protocol: ended by the interrupt callback
    struct stat info;
    return ::stat(path, &info) == 0 && S_ISREG(info.st_mode);
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

FfmpegSampleSource::FfmpegSampleSource(const FfmpegLibrary &api, const std::atomic<bool> &abort,
                                       std::function<void()> wake)
    : m_api(api), m_abort(abort), m_wake(std::move(wake)), m_converter(api), m_packets(api)
{
}

int FfmpegSampleSource::openNested(AVFormatContext *format, AVIOContext **io, const char *url,
                                   int flags, AVDictionary **options)
{
    auto *self = static_cast<FfmpegSampleSource *>(format->opaque);
    if (!openableWithoutBlocking(url))
        return AVERROR(EPERM);
    return self->m_defaultOpen(format, io, url, flags, options);
}

FfmpegSampleSource::~FfmpegSampleSource()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_reader.joinable())
        m_reader.join();
    m_packets.clear();
    if (m_codec)
        m_api.codec_free_context(&m_codec);
    if (m_format)
        m_api.close_input(&m_format);
    if (m_io) {
        m_api.freep(&m_io->buffer);
        m_api.io_context_free(&m_io);
    }
    m_api.frame_free(&m_frame);
}

// Those of the samples decoded last; until the first, what the stream's
// header said.
int FfmpegSampleSource::rate() const
{
    return m_converter.rate() > 0 ? m_converter.rate() : m_codec->sample_rate;
}

int FfmpegSampleSource::channels() const
{
    // Mono or stereo; more channels are mixed down.
    return m_converter.channels() > 0 ? m_converter.channels()
                                      : std::min(m_codec->ch_layout.nb_channels, 2);
}

bool FfmpegSampleSource::open(const QByteArray &target, std::unique_ptr<ByteReader> input,
                              QString &reason)
{
    const FfmpegLibrary &api = m_api;
    AVFormatContext *format = api.format_alloc_context();
    m_frame = api.frame_alloc();
    if (!format || !m_frame) {
        reason = QStringLiteral("播放出错");
        return false;
    }
    if (input) {
        m_input = std::move(input);
        m_input->seek(0);
        auto *buffer = static_cast<unsigned char *>(api.malloc(kIoBufferBytes));
        m_io = buffer ? api.io_alloc_context(buffer, kIoBufferBytes, 0, m_input.get(), &readInput,
                                             nullptr, &seekInput)
                      : nullptr;
        if (!m_io) {
            api.freep(&buffer);
            api.close_input(&format);
            reason = QStringLiteral("播放出错");
            return false;
        }
        format->pb = m_io;
        format->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    format->interrupt_callback.callback = &interruptRead;
    format->interrupt_callback.opaque = const_cast<std::atomic<bool> *>(&m_abort);
    const bool localTarget = target.startsWith('/');
    m_defaultOpen = format->io_open;
    format->opaque = this;
    format->io_open = &FfmpegSampleSource::openNested;
    AVDictionary *options = nullptr;
    api.dict_set(&options, "user_agent", HttpConnection::userAgent().constData(), 0);
    api.dict_set(&options, "reconnect", "1", 0);
    api.dict_set(&options, "reconnect_streamed", "1", 0);
    api.dict_set(&options, "reconnect_on_network_error", "1", 0);
    api.dict_set(&options, "reconnect_delay_max", kReconnectDelayMaxSeconds, 0);
    api.dict_set(&options, "rw_timeout", kReadTimeoutUs, 0);
    api.dict_set(&options, "protocol_whitelist", localTarget ? kLocalProtocols : kNetworkProtocols,
                 0);
    api.dict_set(&options, "analyzeduration", kAnalyzeDurationUs, 0);
    api.dict_set(&options, "short_seek_size", kShortSeekBytes, 0);
    // A local path could hold a colon that FFmpeg would take for a protocol.
    const QByteArray url = localTarget ? "file:" + target : target;
    const int error = api.open_input(&format, url.constData(), nullptr, &options);
    api.dict_free(&options);
    if (error < 0) {
        reason = reasonForOpenError(error); // open_input freed the context
        return false;
    }
    m_format = format;
    int index = -1;
    if (!headerTellsEnough(api, format) && api.find_stream_info(format, nullptr) < 0) {
        reason = QStringLiteral("不支持的文件格式");
        return false;
    }
    if ((index = api.find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0)) < 0) {
        reason = QStringLiteral("没有可播放的音频");
        return false;
    }
    const AVStream *stream = format->streams[index];
    const AVCodec *decoder = api.find_decoder(stream->codecpar->codec_id);
    m_codec = decoder ? api.codec_alloc_context(decoder) : nullptr;
    if (!m_codec || api.parameters_to_context(m_codec, stream->codecpar) < 0 ||
        api.codec_open(m_codec, decoder, nullptr) < 0) {
        reason = QStringLiteral("不支持的文件格式");
        return false;
    }
    reason = PlayableFormat::refusal(m_codec->sample_rate, m_codec->ch_layout.nb_channels);
    if (!reason.isEmpty())
        return false;
    // Only the audio stream is read ahead: cover art and the like are dropped
    // by the demuxer itself.
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (int(i) != index)
            format->streams[i]->discard = AVDISCARD_ALL;
    }
    m_streamIndex = index;
    m_timeBase = av_q2d(stream->time_base);
    if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
        m_duration = double(format->duration) / AV_TIME_BASE;
    else if (stream->duration != AV_NOPTS_VALUE)
        m_duration = double(stream->duration) * m_timeBase;
    m_reader = std::thread(&FfmpegSampleSource::readLoop, this);
    return true;
}

void FfmpegSampleSource::readLoop()
{
    const FfmpegLibrary &api = m_api;
    AVPacket *packet = api.packet_alloc();
    // Reading stops when the read-ahead is full and starts again only once
    // it is down to half, so the reader sleeps for long stretches instead of
    // waking for every packet played.
    bool filling = true;
    while (packet) {
        int readSerial = 0;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this, &filling] {
                if (m_stopping || m_abort || m_seekSerial != m_serial)
                    return true;
                if (m_endOfInput)
                    return false;
                if (m_packets.full())
                    filling = false;
                else if (m_packets.low())
                    filling = true;
                return filling;
            });
            if (m_stopping || m_abort)
                break;
            if (m_seekSerial != m_serial) {
                const int serial = m_seekSerial;
                const auto target = int64_t(m_seekTarget * AV_TIME_BASE);
                m_packets.clear();
                m_endOfInput = false;
                lock.unlock();
                // On a stream that cannot seek, reading simply goes on.
                api.seek_file(m_format, -1, INT64_MIN, target, target, 0);
                lock.lock();
                m_serial = serial;
                continue;
            }
            readSerial = m_serial;
        }
        const int error = api.read_frame(m_format, packet);
        if (error == AVERROR(EAGAIN)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        {
            std::lock_guard lock(m_mutex);
            if (readSerial != m_seekSerial ||
                (error >= 0 && packet->stream_index != m_streamIndex)) {
                if (error >= 0)
                    api.packet_unref(packet);
                continue;
            }
            if (error < 0) {
                // The end, or a read that failed for good after the
                // reconnects: either way nothing more comes. The player
                // tells a cut stream from the end by the position reached.
                m_endOfInput = true;
            } else {
                // Read here, on the thread that reads the stream: the next
                // part of a chained stream may count in other ticks.
                m_packets.push(packet, readSerial,
                               av_q2d(m_format->streams[m_streamIndex]->time_base));
                packet = api.packet_alloc();
            }
        }
        m_wake();
    }
    if (packet)
        api.packet_free(&packet);
}

bool FfmpegSampleSource::inputReady()
{
    std::lock_guard lock(m_mutex);
    return m_serial == m_outSerial && (!m_packets.empty() || m_endOfInput);
}

bool FfmpegSampleSource::refilled()
{
    std::lock_guard lock(m_mutex);
    return m_serial == m_outSerial && (m_endOfInput || m_packets.refilled());
}

void FfmpegSampleSource::seek(double seconds)
{
    {
        std::lock_guard lock(m_mutex);
        m_outSerial = ++m_seekSerial;
        m_seekTarget = seconds;
    }
    m_changed.notify_all();
    m_api.flush_buffers(m_codec);
    m_decoderDrained = false;
}

SampleSource::Step FfmpegSampleSource::decode(std::vector<int16_t> &samples, double &seconds)
{
    const FfmpegLibrary &api = m_api;
    while (!m_abort) {
        const int received = api.receive_frame(m_codec, m_frame);
        if (received == 0) {
            if (!m_converter.convert(*m_frame, samples))
                continue;
            seconds = m_frame->best_effort_timestamp != AV_NOPTS_VALUE
                          ? double(m_frame->best_effort_timestamp) * m_timeBase
                          : -1.0;
            return Step::Samples;
        }
        if (received == AVERROR_EOF)
            return Step::End;
        // Otherwise the decoder wants input; a broken frame (any other
        // error) is skipped as players do, and reading goes on.
        std::unique_lock lock(m_mutex);
        // Packets read before the last seek are freed on the way.
        AVPacket *packet = m_packets.take(m_outSerial, m_timeBase);
        const bool current = m_serial == m_outSerial;
        if (packet) {
            const bool low = m_packets.low();
            lock.unlock();
            if (low)
                m_changed.notify_all(); // time for the reader to read on
            api.send_packet(m_codec, packet);
            api.packet_free(&packet);
            continue;
        }
        if (current && m_endOfInput) {
            lock.unlock();
            if (m_decoderDrained)
                return Step::End;
            m_decoderDrained = true;
            api.send_packet(m_codec, nullptr);
            continue;
        }
        return Step::Dry;
    }
    return Step::End;
}
