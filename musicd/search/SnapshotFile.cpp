#include "musicd/search/SnapshotFile.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace musicd {
namespace {

// FNV-1a's constants, 64 bits: enough to tell a damaged file from a whole one.
constexpr uint64_t kSumStart = 0xcbf29ce484222325ull;
constexpr uint64_t kSumPrime = 0x100000001b3ull;

} // namespace

uint64_t SnapshotFile::addToSum(uint64_t sum, const void *data, size_t bytes)
{
    // Eight bytes a step (a snapshot is tens of megabytes, read before the
    // service answers). The steps depend on how the bytes were split into
    // calls, which the reader repeats exactly as the writer made them.
    const auto *p = static_cast<const unsigned char *>(data);
    size_t i = 0;
    for (; i + sizeof(uint64_t) <= bytes; i += sizeof(uint64_t)) {
        uint64_t word = 0;
        std::memcpy(&word, p + i, sizeof word);
        sum = (sum ^ word) * kSumPrime;
        sum ^= sum >> 31;
    }
    for (; i < bytes; ++i)
        sum = (sum ^ p[i]) * kSumPrime;
    return sum;
}

SnapshotFile::Writer::Writer(const std::string &path)
    : m_path(path), m_temporary(path + ".new"), m_sum(kSumStart)
{
    m_file = std::fopen(m_temporary.c_str(), "wb");
    m_ok = m_file != nullptr;
}

SnapshotFile::Writer::~Writer()
{
    if (m_file) {
        std::fclose(m_file);
        ::unlink(m_temporary.c_str());
    }
}

void SnapshotFile::Writer::put(const void *data, size_t bytes)
{
    if (!m_ok || bytes == 0)
        return;
    m_sum = addToSum(m_sum, data, bytes);
    m_ok = std::fwrite(data, 1, bytes, m_file) == bytes;
}

bool SnapshotFile::Writer::finish()
{
    if (!m_file)
        return false;
    const uint64_t sum = m_sum;
    m_ok = m_ok && std::fwrite(&sum, 1, sizeof sum, m_file) == sizeof sum;
    m_ok = std::fclose(m_file) == 0 && m_ok;
    m_file = nullptr;
    if (m_ok)
        m_ok = std::rename(m_temporary.c_str(), m_path.c_str()) == 0;
    if (!m_ok)
        ::unlink(m_temporary.c_str());
    return m_ok;
}

SnapshotFile::Reader::Reader(const std::string &path) : m_sum(kSumStart)
{
    m_file = std::fopen(path.c_str(), "rb");
    struct stat st
    {
    };
    if (m_file && (::fstat(::fileno(m_file), &st) != 0 || st.st_size < off_t(sizeof(uint64_t)))) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    m_ok = m_file != nullptr;
    if (m_file)
        m_left = uint64_t(st.st_size) - sizeof(uint64_t);
}

SnapshotFile::Reader::~Reader()
{
    if (m_file)
        std::fclose(m_file);
}

bool SnapshotFile::Reader::get(void *data, size_t bytes)
{
    if (!m_ok || bytes > m_left) {
        m_ok = false;
        return false;
    }
    if (bytes == 0)
        return true;
    m_ok = std::fread(data, 1, bytes, m_file) == bytes;
    m_left -= bytes;
    m_sum = addToSum(m_sum, data, bytes);
    return m_ok;
}

bool SnapshotFile::Reader::finish()
{
    uint64_t sum = 0;
    return m_ok && m_left == 0 && std::fread(&sum, 1, sizeof sum, m_file) == sizeof sum &&
           sum == m_sum;
}

} // namespace musicd
