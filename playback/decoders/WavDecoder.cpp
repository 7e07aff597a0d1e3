#include "playback/decoders/WavDecoder.h"

#include "playback/sources/ByteReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// A header whose "data" chunk is not among this many chunks is not one we
// go looking further into.
constexpr int kMaxChunks = 64;
constexpr int kFormatPcm = 1;
constexpr int kFormatFloat = 3;
constexpr int kFormatExtensible = 0xFFFE;
constexpr int kMaxChannels = 32;
constexpr int kMaxRate = 1536000;
// A streamed WAV writer that does not know the length puts this (or 0)
// in the data chunk's size.
constexpr quint32 kUnknownLength = 0xFFFFFFFF;

bool readExactly(ByteReader &input, char *data, qint64 count)
{
    while (count > 0) {
        const qint64 n = input.read(data, count);
        if (n <= 0)
            return false;
        data += n;
        count -= n;
    }
    return true;
}

quint32 le32(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return quint32(u[0]) | quint32(u[1]) << 8 | quint32(u[2]) << 16 | quint32(u[3]) << 24;
}

quint16 le16(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return quint16(u[0] | u[1] << 8);
}

} // namespace

bool WavDecoder::parseHeader(ByteReader &input, Header &header)
{
    char riff[12];
    if (!input.seek(0) || !readExactly(input, riff, 12) || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        return false;
    const qint64 streamSize = input.size();
    qint64 offset = 12;
    bool haveFormat = false;
    for (int chunk = 0; chunk < kMaxChunks; ++chunk) {
        char head[8];
        if (!input.seek(offset) || !readExactly(input, head, 8))
            return false;
        const quint32 size = le32(head + 4);
        offset += 8;
        if (std::memcmp(head, "fmt ", 4) == 0) {
            char fmt[40] = {};
            if (size < 16 || !readExactly(input, fmt, std::min<qint64>(size, sizeof fmt)))
                return false;
            header.format = le16(fmt);
            header.channels = le16(fmt + 2);
            header.rate = int(std::min<quint32>(le32(fmt + 4), kMaxRate + 1));
            header.blockAlign = le16(fmt + 12);
            header.bits = le16(fmt + 14);
            if (header.format == kFormatExtensible) {
                // The sub-format's first two bytes are the plain format tag.
                if (size < 40)
                    return false;
                header.format = le16(fmt + 24);
            }
            haveFormat = true;
        } else if (std::memcmp(head, "data", 4) == 0) {
            if (!haveFormat)
                return false;
            header.dataOffset = offset;
            header.dataBytes = size == kUnknownLength || size == 0 ? -1 : qint64(size);
            // A size past the stream's end (a file cut short, or a huge
            // number): what is there plays.
            if (streamSize >= 0 && (header.dataBytes < 0 || header.dataBytes > streamSize - offset))
                header.dataBytes = std::max<qint64>(0, streamSize - offset);
            break;
        }
        offset += qint64(size) + (size & 1); // chunks are padded to even sizes
        if (streamSize >= 0 && offset > streamSize)
            return false;
    }
    if (header.dataOffset == 0)
        return false;
    const bool pcm = header.format == kFormatPcm && (header.bits == 8 || header.bits == 16 ||
                                                     header.bits == 24 || header.bits == 32);
    const bool floats = header.format == kFormatFloat && header.bits == 32;
    return (pcm || floats) && header.channels > 0 && header.channels <= kMaxChannels &&
           header.rate > 0 && header.rate <= kMaxRate &&
           header.blockAlign == header.channels * header.bits / 8;
}

bool WavDecoder::open(ByteReader &input)
{
    m_header = Header();
    if (!parseHeader(input, m_header) || !input.seek(m_header.dataOffset))
        return false;
    m_input = &input;
    m_frame = 0;
    return true;
}

qint64 WavDecoder::frames() const
{
    return m_header.dataBytes < 0 ? -1 : m_header.dataBytes / m_header.blockAlign;
}

int WavDecoder::read(int16_t *samples, int maxFrames)
{
    if (!m_input || maxFrames <= 0)
        return 0;
    const qint64 total = frames();
    if (total >= 0)
        maxFrames = int(std::min<qint64>(maxFrames, total - m_frame));
    if (maxFrames <= 0)
        return 0;
    const int align = m_header.blockAlign;
    // No more than is there already: a stalled stream must leave the
    // decoder with what came, not wait inside it.
    const qint64 ready = m_input->available() / align;
    if (ready > 0)
        maxFrames = int(std::min<qint64>(maxFrames, ready));
    m_raw.resize(size_t(maxFrames) * align);
    // Whole frames only: a partial one at a cut end is dropped.
    qint64 got = 0;
    while (got < qint64(m_raw.size())) {
        const qint64 n = m_input->read(m_raw.data() + got, qint64(m_raw.size()) - got);
        if (n <= 0)
            break;
        got += n;
    }
    const int count = int(got / align);
    if (got % align != 0)
        m_input->seek(m_header.dataOffset + (m_frame + count) * align);
    const int outChannels = channels();
    const int bytes = m_header.bits / 8;
    for (int f = 0; f < count; ++f) {
        const char *frame = m_raw.data() + qsizetype(f) * align;
        for (int c = 0; c < outChannels; ++c) {
            const auto *p = reinterpret_cast<const unsigned char *>(frame + c * bytes);
            int value = 0;
            if (m_header.format == kFormatFloat) {
                float f32;
                const quint32 bits = le32(frame + c * bytes);
                std::memcpy(&f32, &bits, sizeof f32);
                const float clamped = std::isfinite(f32) ? std::clamp(f32, -1.0f, 1.0f) : 0.0f;
                value = int(std::lround(clamped * 32767.0f));
            } else if (bytes == 1) {
                value = (int(p[0]) - 128) * 256; // 8-bit WAV is unsigned
            } else {
                // The two most significant bytes of a little-endian sample.
                value = int16_t(quint16(p[bytes - 2] | p[bytes - 1] << 8));
            }
            samples[qsizetype(f) * outChannels + c] = int16_t(value);
        }
    }
    m_frame += count;
    return count;
}

bool WavDecoder::seek(qint64 frame)
{
    if (!m_input || frame < 0)
        return false;
    const qint64 total = frames();
    if (total >= 0)
        frame = std::min(frame, total);
    if (!m_input->seek(m_header.dataOffset + frame * m_header.blockAlign))
        return false;
    m_frame = frame;
    return true;
}
