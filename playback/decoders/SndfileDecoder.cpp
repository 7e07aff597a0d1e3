#include "playback/decoders/SndfileDecoder.h"

#include "playback/libraries/SndfileLibrary.h"
#include "playback/sources/ByteReader.h"

#include <algorithm>
#include <cstdio>

namespace {

// libsndfile's own limit on channels.
constexpr int kMaxChannels = 1024;

ByteReader &inputOf(void *user)
{
    return *static_cast<ByteReader *>(user);
}

sf_count_t inputLength(void *user)
{
    return inputOf(user).size();
}

sf_count_t seekInput(sf_count_t offset, int whence, void *user)
{
    ByteReader &input = inputOf(user);
    if (whence == SEEK_CUR)
        offset += input.tell();
    else if (whence == SEEK_END)
        offset += input.size();
    return input.seek(offset) ? offset : -1;
}

sf_count_t readInput(void *data, sf_count_t count, void *user)
{
    // libsndfile takes a short count for the end: read on until it is
    // whole or the stream ends.
    auto *to = static_cast<char *>(data);
    sf_count_t done = 0;
    while (done < count) {
        const qint64 n = inputOf(user).read(to + done, count - done);
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

sf_count_t writeNothing(const void *, sf_count_t, void *)
{
    return 0;
}

sf_count_t tellInput(void *user)
{
    return inputOf(user).tell();
}

} // namespace

SndfileDecoder::~SndfileDecoder()
{
    if (m_file)
        m_api.close(m_file);
}

bool SndfileDecoder::open(ByteReader &input)
{
    if (input.size() <= 0)
        return false;
    m_input = &input;
    m_io = {&inputLength, &seekInput, &readInput, &writeNothing, &tellInput};
    if (!openFile())
        return false;
    const int major = m_info.format & SF_FORMAT_TYPEMASK;
    return (major == SF_FORMAT_FLAC || major == SF_FORMAT_OGG) && m_info.samplerate > 0 &&
           m_info.channels > 0 && m_info.channels <= kMaxChannels;
}

bool SndfileDecoder::openFile()
{
    if (m_file)
        m_api.close(m_file);
    m_info = SF_INFO{};
    m_file = m_input->seek(0) ? m_api.open_virtual(&m_io, SFM_READ, &m_info, m_input) : nullptr;
    if (!m_file)
        return false;
    // Floating-point sources scaled to the full 16-bit range, not clipped.
    m_api.command(m_file, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
    return true;
}

int SndfileDecoder::read(int16_t *samples, int maxFrames)
{
    if (!m_file)
        return 0;
    if (m_info.channels <= 2) {
        const sf_count_t n = m_api.readf_short(m_file, samples, maxFrames);
        return n > 0 ? int(n) : 0;
    }
    m_all.resize(size_t(maxFrames) * size_t(m_info.channels));
    const sf_count_t n = m_api.readf_short(m_file, m_all.data(), maxFrames);
    for (sf_count_t f = 0; f < n; ++f) {
        samples[f * 2] = m_all[size_t(f) * m_info.channels];
        samples[f * 2 + 1] = m_all[size_t(f) * m_info.channels + 1];
    }
    return n > 0 ? int(n) : 0;
}

bool SndfileDecoder::seek(qint64 frame)
{
    if (!m_file)
        return false;
    if (m_api.seek(m_file, sf_count_t(frame), SEEK_SET) >= 0)
        return true;
    // libsndfile cannot seek in every stream it reads (Ogg Opus): read it
    // again from the start and decode up to the frame.
    if (!openFile())
        return false;
    std::vector<int16_t> skipped(size_t(4096) * size_t(m_info.channels));
    while (frame > 0) {
        const sf_count_t n =
            m_api.readf_short(m_file, skipped.data(), std::min<sf_count_t>(frame, 4096));
        if (n <= 0)
            return false;
        frame -= n;
    }
    return true;
}
