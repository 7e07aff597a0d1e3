// The WAV parser and decoder over arbitrary bytes, read back in pieces of
// a size the input picks: a header it accepts describes a stream it can
// decode to the end; decoding never gives more frames than the bytes
// could hold or than the header announced; seeking anywhere and reading
// on stays within the same bounds.
#include "fuzz/FuzzCheck.h"
#include "playback/decoders/WavDecoder.h"
#include "playback/sources/ByteReader.h"

#include <algorithm>
#include <cstdint>
#include <vector>

using fuzz::check;

namespace {

class PieceReader : public ByteReader
{
public:
    PieceReader(const uint8_t *data, size_t size, qint64 piece)
        : m_data(reinterpret_cast<const char *>(data)), m_size(qint64(size)), m_piece(piece)
    {
    }
    qint64 read(char *data, qint64 max) override
    {
        const qint64 n = std::min({max, m_piece, m_size - m_position});
        if (n <= 0)
            return 0;
        std::copy_n(m_data + m_position, n, data);
        m_position += n;
        return n;
    }
    bool seek(qint64 offset) override
    {
        if (offset < 0 || offset > m_size)
            return false;
        m_position = offset;
        return true;
    }
    qint64 tell() const override { return m_position; }
    qint64 size() const override { return m_size; }
    qint64 available() const override { return m_size - m_position; }

private:
    const char *m_data;
    qint64 m_size;
    qint64 m_piece;
    qint64 m_position = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks how short the reads come back.
    PieceReader input(data + 1, size - 1, 1 + data[0] % 64);
    WavDecoder decoder;
    if (!decoder.open(input))
        return 0;
    check(decoder.rate() > 0 && decoder.channels() >= 1 && decoder.channels() <= 2);
    const qint64 announced = decoder.frames();
    check(announced >= -1 && announced <= qint64(size));
    std::vector<int16_t> samples(256 * 2);
    qint64 total = 0;
    for (int n; (n = decoder.read(samples.data(), 256)) > 0;) {
        check(n <= 256);
        total += n;
    }
    check(total <= qint64(size));
    if (announced >= 0)
        check(total <= announced);
    if (total > 0) {
        const qint64 target = qint64(data[0]) * 7919 % total;
        check(decoder.seek(target));
        const int n = decoder.read(samples.data(), 256);
        check(n >= 0 && target + n <= total);
    }
    return 0;
}
