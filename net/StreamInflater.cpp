#include "net/StreamInflater.h"

#include <zlib.h>

namespace {

constexpr int kOutChunk = 64 * 1024;
// zlib's window bits: 15, plus 16 for a gzip wrapper; plain "deflate" is a
// zlib stream by the letter of HTTP, but some servers send raw deflate, so
// a body without the zlib header is retried as raw (-15).
constexpr int kGzipBits = 15 + 16;
constexpr int kZlibBits = 15;
constexpr int kRawBits = -15;

} // namespace

struct StreamInflater::State
{
    z_stream z{};
    bool open = false;
    bool sawInput = false;
    Format format;
};

StreamInflater::StreamInflater(Format format) : m_state(std::make_unique<State>())
{
    m_state->format = format;
    m_state->open =
        inflateInit2(&m_state->z, format == Format::Gzip ? kGzipBits : kZlibBits) == Z_OK;
    m_broken = !m_state->open;
}

StreamInflater::~StreamInflater()
{
    if (m_state->open)
        inflateEnd(&m_state->z);
}

bool StreamInflater::formatOf(const QByteArray &contentEncoding, Format &format)
{
    const QByteArray coding = contentEncoding.trimmed().toLower();
    if (coding == "gzip" || coding == "x-gzip") {
        format = Format::Gzip;
        return true;
    }
    if (coding == "deflate") {
        format = Format::Deflate;
        return true;
    }
    return false;
}

bool StreamInflater::feed(const QByteArray &compressed, QByteArray &out)
{
    if (m_broken)
        return false;
    if (compressed.isEmpty())
        return true;
    if (m_ended)
        return !(m_broken = true); // bytes after the end: not this format
    z_stream &z = m_state->z;
    // A deflate body whose first byte is no zlib header is raw deflate.
    if (m_state->format == Format::Deflate && !m_state->sawInput &&
        (static_cast<unsigned char>(compressed.at(0)) & 0x0F) != Z_DEFLATED) {
        inflateEnd(&z);
        z = z_stream{};
        m_state->open = inflateInit2(&z, kRawBits) == Z_OK;
        if (!m_state->open)
            return !(m_broken = true);
    }
    m_state->sawInput = true;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(compressed.constData()));
    z.avail_in = static_cast<uInt>(compressed.size());
    while (z.avail_in > 0 && !m_ended) {
        const qsizetype before = out.size();
        out.resize(before + kOutChunk);
        z.next_out = reinterpret_cast<Bytef *>(out.data() + before);
        z.avail_out = kOutChunk;
        const int r = inflate(&z, Z_NO_FLUSH);
        out.resize(before + (kOutChunk - qsizetype(z.avail_out)));
        if (r == Z_STREAM_END)
            m_ended = true;
        else if (r == Z_BUF_ERROR)
            break; // no progress possible until more input comes
        else if (r != Z_OK)
            return !(m_broken = true);
    }
    if (m_ended && z.avail_in > 0)
        return !(m_broken = true);
    return true;
}
