#include "playback/engines/TrackPlayback.h"

#include "playback/decoders/DecoderSampleSource.h"
#include "playback/decoders/FfmpegSampleSource.h"
#include "playback/decoders/Mpg123Decoder.h"
#include "playback/decoders/PlayableFormat.h"
#include "playback/decoders/SndfileDecoder.h"
#include "playback/decoders/StreamSniffer.h"
#include "playback/decoders/WavDecoder.h"
#include "playback/libraries/FfmpegLibrary.h"
#include "playback/libraries/Mpg123Library.h"
#include "playback/libraries/SndfileLibrary.h"
#include "playback/output/AudioSink.h"
#include "playback/sources/FileByteSource.h"
#include "playback/sources/HttpByteSource.h"
#include "playback/sources/ReadAheadBuffer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using EventType = TrackPlayback::EventType;

// How much decoded sound one write hands the output: pausing, seeking and
// stopping are noticed between writes.
constexpr double kChunkSeconds = 0.1;
// An empty read-ahead that stays empty this long is buffering.
constexpr auto kUnderrunGrace = std::chrono::milliseconds(250);
// Decoded sound already heard is kept for a while, so a pause can put back
// what the output dropped unheard; this much is trimmed at a time.
constexpr double kTrimSeconds = 0.5;

} // namespace

struct TrackPlayback::Shared
{
    Shared(std::unique_ptr<AudioSink> sink, QByteArray target, Notify notify)
        : sink(std::move(sink)), target(std::move(target)), notify(std::move(notify))
    {
    }

    const std::unique_ptr<AudioSink> sink;
    const QByteArray target;
    const Notify notify;
    std::atomic<bool> abort{false};
    std::atomic<float> gain{1.0f};

    std::mutex mutex;
    // Told about every change below, and when the source read more.
    std::condition_variable changed;
    int seekSerial = 0; // the seek asked for last
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

    void wake()
    {
        {
            std::lock_guard lock(mutex);
        }
        changed.notify_all();
    }

    void fail(const QString &reason)
    {
        if (!abort)
            notify({EventType::Failed, 0.0, reason});
    }

    std::unique_ptr<SampleSource> openSource(QString &reason);
    void play(SampleSource &source);
};

namespace {

// The light decoders that may play a stream of this kind, most likely first.
std::vector<std::unique_ptr<StreamDecoder>> decodersFor(StreamSniffer::Kind kind)
{
    std::vector<std::unique_ptr<StreamDecoder>> decoders;
    if (kind == StreamSniffer::Kind::Wav)
        decoders.push_back(std::make_unique<WavDecoder>());
    if (kind == StreamSniffer::Kind::Mpeg) {
        if (const Mpg123Library *api = Mpg123Library::instance())
            decoders.push_back(std::make_unique<Mpg123Decoder>(*api));
    }
    if (kind == StreamSniffer::Kind::Sndfile) {
        if (const SndfileLibrary *api = SndfileLibrary::instance())
            decoders.push_back(std::make_unique<SndfileDecoder>(*api));
    }
    return decoders;
}

} // namespace

std::unique_ptr<SampleSource> TrackPlayback::Shared::openSource(QString &reason)
{
    const auto wakeOutput = [this] { wake(); };
    std::unique_ptr<ByteSource> bytes;
    std::unique_ptr<ReadAheadBuffer> fetched; // for FFmpeg, when no light decoder fits
    HttpByteSource *http = nullptr;
    if (target.startsWith('/')) {
        bytes = std::make_unique<FileByteSource>(target);
    } else if (target.startsWith("http://")) {
        auto source = std::make_unique<HttpByteSource>(target, abort);
        http = source.get();
        bytes = std::move(source);
    }
    // https and every other scheme go to FFmpeg as they are.
    if (bytes && !bytes->open(0)) {
        if (!http || !http->redirectedAway()) {
            reason = QStringLiteral("无法打开链接");
            return nullptr;
        }
    } else if (bytes) {
        auto input = std::make_unique<ReadAheadBuffer>(std::move(bytes), abort, wakeOutput);
        QByteArray head(StreamSniffer::kHeadBytes, '\0');
        qint64 got = 0;
        while (got < head.size()) {
            const qint64 n = input->read(head.data() + got, head.size() - got);
            if (n <= 0)
                break;
            got += n;
        }
        if (abort)
            return nullptr;
        if (got == 0) {
            reason = QStringLiteral("不支持的文件格式");
            return nullptr;
        }
        head.truncate(got);
        for (std::unique_ptr<StreamDecoder> &decoder : decodersFor(StreamSniffer::kindOf(head))) {
            if (input->seek(0) && decoder->open(*input))
                return std::make_unique<DecoderSampleSource>(std::move(input), std::move(decoder));
            if (abort)
                return nullptr;
        }
        // Nothing here plays it: FFmpeg reads on from what was fetched.
        fetched = std::move(input);
    }
    const FfmpegLibrary *api = FfmpegLibrary::instance();
    if (!api) {
        reason = QStringLiteral("不支持的文件格式");
        return nullptr;
    }
    auto ffmpeg = std::make_unique<FfmpegSampleSource>(*api, abort, wakeOutput);
    if (!ffmpeg->open(target, std::move(fetched), reason))
        return nullptr;
    return ffmpeg;
}

TrackPlayback::TrackPlayback(std::unique_ptr<AudioSink> sink, const QByteArray &target, int volume,
                             Notify notify)
    : m_shared(std::make_unique<Shared>(std::move(sink), target, std::move(notify)))
{
    setVolume(volume);
    m_thread = std::thread(&TrackPlayback::run, std::ref(*m_shared));
}

TrackPlayback::~TrackPlayback()
{
    m_shared->abort = true;
    m_shared->wake();
    m_thread.join();
}

void TrackPlayback::setPaused(bool paused)
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->paused = paused;
    }
    m_shared->changed.notify_all();
}

void TrackPlayback::seek(double seconds)
{
    {
        std::lock_guard lock(m_shared->mutex);
        ++m_shared->seekSerial;
        m_shared->seekTarget = seconds;
    }
    m_shared->changed.notify_all();
}

void TrackPlayback::setVolume(int volume)
{
    // Loudness follows the cube of the slider, as people's ears expect and
    // as the libmpv engine does.
    const float linear = float(std::clamp(volume, 0, 100)) / 100.0f;
    m_shared->gain = linear * linear * linear;
}

bool TrackPlayback::position(double &seconds) const
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

void TrackPlayback::run(Shared &s)
{
    QString reason;
    std::unique_ptr<SampleSource> source = s.openSource(reason);
    if (!source)
        return s.fail(reason.isEmpty() ? QStringLiteral("播放出错") : reason);
    s.play(*source);
}

void TrackPlayback::Shared::play(SampleSource &source)
{
    // The output's format: the stream's, followed when it changes.
    int rate = source.rate();
    int channels = source.channels();
    int chunkFrames = 0;
    // False, with the failure told, when the output cannot take the format.
    const auto openOutput = [&](int newRate, int newChannels) {
        const QString refusal = PlayableFormat::refusal(newRate, newChannels);
        if (!refusal.isEmpty() || !sink->open(newRate, newChannels)) {
            fail(refusal.isEmpty() ? QStringLiteral("音频设备无法打开") : refusal);
            return false;
        }
        rate = newRate;
        channels = newChannels;
        chunkFrames = std::max(1, int(kChunkSeconds * rate));
        return true;
    };
    if (!openOutput(rate, channels))
        return;
    const double duration = source.duration();

    // Decoded samples from time outPts on; the first `written` frames of them
    // have gone to the output.
    std::vector<int16_t> out;
    std::vector<int16_t> decoded;
    std::vector<int16_t> scaled;
    // Decoded in a format other than the output's (the next part of a
    // chained stream): held until what came before has played out.
    std::vector<int16_t> nextFormat;
    double nextFormatPts = -1.0;
    double outPts = 0.0;
    qint64 written = 0;
    const auto outFrames = [&] { return qint64(out.size()) / channels; };
    double dropBefore = -1.0; // after a seek: decoded sound before it is dropped

    int outSerial = 0;
    bool loaded = false;
    bool decoderDone = false; // everything the source had came out
    bool ended = false;
    bool wasPaused = false;
    bool buffering = false;
    Clock::time_point dryTime{};
    bool dry = false;

    const auto heardPosition = [&] { return outPts + double(written) / rate - sink->latency(); };
    const auto append = [&](double pts) {
        const int count = int(decoded.size()) / channels;
        if (pts < 0)
            pts = outPts + double(outFrames()) / rate;
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
        out.insert(out.end(), decoded.begin() + qsizetype(skip) * channels,
                   decoded.begin() + qsizetype(count) * channels);
    };
    const auto writeChunk = [&] {
        const qint64 frames = std::min<qint64>(outFrames() - written, chunkFrames);
        const int16_t *from = out.data() + written * channels;
        const float volume = gain;
        scaled.resize(size_t(frames) * channels);
        for (size_t i = 0; i < scaled.size(); ++i)
            scaled[i] = int16_t(std::lround(from[i] * volume));
        if (!sink->write(scaled.data(), int(frames)))
            return false;
        written += frames;
        const double latency = sink->latency();
        setClock(outPts + double(written) / rate - latency, latency, true);
        // Keep only what may still be unheard.
        const auto heard = qint64((double(written) / rate - latency - kTrimSeconds) * rate);
        if (heard > qint64(kTrimSeconds * rate)) {
            out.erase(out.begin(), out.begin() + heard * channels);
            written -= heard;
            outPts += double(heard) / rate;
        }
        return true;
    };

    setClock(0.0, 0.0, false);
    while (true) {
        std::unique_lock lock(mutex);
        if (abort)
            break;
        if (seekSerial != outSerial) {
            outSerial = seekSerial;
            const double target = seekTarget;
            lock.unlock();
            source.seek(target);
            sink->flush();
            out.clear();
            nextFormat.clear();
            written = 0;
            outPts = target;
            dropBefore = target;
            decoderDone = ended = false;
            setClock(target, 0.0, false);
            notify({EventType::SeekDone, 0.0, QString()});
            continue;
        }
        if (paused && loaded) {
            if (!wasPaused) {
                // The output drops what it holds unheard; it is written
                // again on resume, so a pause loses nothing.
                lock.unlock();
                const double latency = sink->latency();
                sink->flush();
                written = std::max<qint64>(0, written - qint64(std::lround(latency * rate)));
                setClock(outPts + double(written) / rate, 0.0, false);
                wasPaused = true;
                continue;
            }
            changed.wait(lock);
            continue;
        }
        if (ended) {
            changed.wait(lock);
            continue;
        }
        wasPaused = false;
        const qint64 unwritten = outFrames() - written;
        const bool changing = !nextFormat.empty();
        if (unwritten >= chunkFrames || ((decoderDone || changing) && unwritten > 0)) {
            lock.unlock();
            if (!writeChunk()) {
                // The sound server went away: no use racing through the rest.
                notify({EventType::Failed, 0.0, QStringLiteral("音频设备无法打开")});
                ended = true;
            }
            continue;
        }
        if (changing) {
            lock.unlock();
            // The output is opened again for the new format once it has
            // played all of the old; the position goes on from there.
            const double followOn = outPts + double(outFrames()) / rate;
            sink->drain();
            if (!openOutput(source.rate(), source.channels())) {
                ended = true;
                continue;
            }
            out.clear();
            written = 0;
            outPts = followOn;
            setClock(followOn, 0.0, false);
            decoded.swap(nextFormat);
            nextFormat.clear();
            append(dropBefore >= 0 ? nextFormatPts : followOn);
            continue;
        }
        if (decoderDone) {
            lock.unlock();
            if (!loaded) {
                // Opened, but not one sample of sound came out.
                notify({EventType::Failed, 0.0, QStringLiteral("没有可播放的音频")});
                ended = true;
                continue;
            }
            sink->drain();
            setClock(heardPosition(), 0.0, false);
            notify({EventType::Ended, 0.0, QString()});
            ended = true;
            continue;
        }
        if (buffering) {
            if (!source.refilled()) {
                changed.wait_for(lock, kUnderrunGrace);
                continue;
            }
            buffering = false;
            lock.unlock();
            notify({EventType::BufferingEnded, 0.0, QString()});
            continue;
        }
        lock.unlock();
        double pts = -1.0;
        const SampleSource::Step step = source.decode(decoded, pts);
        if (step == SampleSource::Step::Samples) {
            dry = false;
            if (source.rate() != rate || source.channels() != channels) {
                nextFormat.swap(decoded);
                nextFormatPts = pts;
                continue;
            }
            append(pts);
            if (!loaded && !out.empty()) {
                loaded = true;
                notify({EventType::Loaded, duration, QString::fromLatin1(source.name())});
            }
            continue;
        }
        if (step == SampleSource::Step::End) {
            decoderDone = true;
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
            notify({EventType::BufferingStarted, 0.0, QString()});
            continue;
        }
        lock.lock();
        changed.wait_for(lock, kUnderrunGrace, [&] {
            return abort || seekSerial != outSerial || (paused && loaded) || source.inputReady();
        });
    }
}
