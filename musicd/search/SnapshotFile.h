// Plain arrays to and from a file, with a checksum over all of it: for
// memory that costs seconds to build from the library index and a moment to
// read back (the search memory of a million tracks). Only this program on
// this machine reads what it wrote, so values go as they lie in memory; a
// file cut short, damaged or of another layout reads as unusable, never as
// data.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace musicd {

class SnapshotFile
{
public:
    // Writes to a file beside the path, which takes the path's place only
    // once it is complete.
    class Writer
    {
    public:
        explicit Writer(const std::string &path);
        ~Writer();
        Writer(const Writer &) = delete;
        Writer &operator=(const Writer &) = delete;

        void put(const void *data, size_t bytes);
        template <typename T> void putValue(const T &value) { put(&value, sizeof(T)); }
        template <typename T> void putVector(const std::vector<T> &values)
        {
            putValue(uint64_t(values.size()));
            put(values.data(), values.size() * sizeof(T));
        }
        // Writes the checksum and puts the file in place; false if any
        // write failed (the path is then left as it was).
        bool finish();

    private:
        std::string m_path;
        std::string m_temporary;
        std::FILE *m_file = nullptr;
        uint64_t m_sum;
        bool m_ok = true;
    };

    class Reader
    {
    public:
        explicit Reader(const std::string &path);
        ~Reader();
        Reader(const Reader &) = delete;
        Reader &operator=(const Reader &) = delete;

        bool isOpen() const { return m_file != nullptr; }
        // False when the file has fewer bytes left.
        bool get(void *data, size_t bytes);
        template <typename T> bool getValue(T &value) { return get(&value, sizeof(T)); }
        template <typename T> bool getVector(std::vector<T> &values)
        {
            uint64_t count = 0;
            if (!getValue(count) || count > m_left / sizeof(T))
                return false;
            values.resize(size_t(count));
            return get(values.data(), size_t(count) * sizeof(T));
        }
        // Whether all of the file was read and its checksum matches.
        bool finish();

    private:
        std::FILE *m_file = nullptr;
        uint64_t m_left = 0; // bytes before the checksum
        uint64_t m_sum;
        bool m_ok = true;
    };

private:
    static uint64_t addToSum(uint64_t sum, const void *data, size_t bytes);
};

} // namespace musicd
