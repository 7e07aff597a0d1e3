#include "playback/decoders/Mpg123Decoder.h"

#include "playback/libraries/Mpg123Library.h"
#include "playback/sources/ByteReader.h"

#include <cstdio>

namespace {

ssize_t readInput(void *handle, void *data, size_t bytes)
{
    const qint64 n =
        static_cast<ByteReader *>(handle)->read(static_cast<char *>(data), qint64(bytes));
    return ssize_t(n);
}

off_t seekInput(void *handle, off_t offset, int whence)
{
    auto *input = static_cast<ByteReader *>(handle);
    qint64 target = offset;
    if (whence == SEEK_CUR)
        target += input->tell();
    else if (whence == SEEK_END) {
        if (input->size() < 0)
            return -1;
        target += input->size();
    }
    return input->seek(target) ? off_t(target) : off_t(-1);
}

} // namespace

Mpg123Decoder::~Mpg123Decoder()
{
    if (m_handle) {
        m_api.close(m_handle);
        m_api.destroy(m_handle);
    }
}

bool Mpg123Decoder::open(ByteReader &input)
{
    int error = 0;
    m_handle = m_api.create(nullptr, &error);
    if (!m_handle)
        return false;
    m_input = &input;
    // No look at the end for a tag at open: over the network that would
    // wait for the whole song (or ask for its end), before the first sound.
    // Seeking still works wherever the length is known.
    long flags = MPG123_QUIET | MPG123_GAPLESS | MPG123_NO_PEEK_END;
    if (input.size() > 0)
        flags |= MPG123_FORCE_SEEKABLE;
    m_api.param(m_handle, MPG123_ADD_FLAGS, flags, 0.0);
    // Decoded to 16-bit at the stream's own rate, mono or stereo as it is.
    m_api.format_none(m_handle);
    const long *rates = nullptr;
    size_t count = 0;
    m_api.rates(&rates, &count);
    for (size_t i = 0; i < count; ++i)
        m_api.format(m_handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (m_api.replace_reader_handle(m_handle, &readInput, &seekInput, nullptr) != MPG123_OK ||
        m_api.open_handle(m_handle, &input) != MPG123_OK)
        return false;
    if (input.size() > 0)
        m_api.set_filesize(m_handle, off_t(input.size()));
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (m_api.getformat(m_handle, &rate, &channels, &encoding) != MPG123_OK || rate <= 0 ||
        channels < 1 || channels > 2 || encoding != MPG123_ENC_SIGNED_16)
        return false;
    m_rate = int(rate);
    m_channels = channels;
    const off_t length = m_api.length(m_handle);
    m_frames = length > 0 ? qint64(length) : -1;
    return true;
}

int Mpg123Decoder::read(int16_t *samples, int maxFrames)
{
    const size_t frameBytes = size_t(m_channels) * sizeof(int16_t);
    size_t done = 0;
    // A call may end on a frame that gave nothing (a skipped broken one).
    for (int tries = 0; tries < 16; ++tries) {
        const int result = m_api.read(m_handle, samples, size_t(maxFrames) * frameBytes, &done);
        // A format change mid-stream is not followed: what came out before
        // it plays, the rest is the end.
        if (result == MPG123_NEW_FORMAT && done == 0)
            return 0;
        if (done > 0 || result != MPG123_OK)
            return int(done / frameBytes);
    }
    return 0;
}

bool Mpg123Decoder::seek(qint64 frame)
{
    return m_api.seek(m_handle, off_t(frame), SEEK_SET) >= 0;
}
