#include "musicd/library/ScanPipeline.h"

#include <QFile>
#include <algorithm>
#include <chrono>

namespace musicd {

ScanPipeline::ScanPipeline(size_t capacity, int readers) : m_capacity(std::max<size_t>(capacity, 1))
{
    for (int i = 0; i < std::max(readers, 1); ++i)
        m_readers.emplace_back([this] { readLoop(); });
}

ScanPipeline::~ScanPipeline()
{
    cancel();
    for (std::thread &reader : m_readers)
        reader.join();
}

size_t ScanPipeline::lowWater() const
{
    return m_capacity - std::max<size_t>(1, m_capacity / 4);
}

bool ScanPipeline::push(PendingFile file)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    // A full pipeline takes the walk back once a quarter of it has gone,
    // not at each file: woken for every file the writer took, the walk and
    // the writer took turns on the cores a file at a time.
    if (m_files.size() >= m_capacity)
        m_space.wait(lock, [this] { return m_cancelled || m_files.size() <= lowWater(); });
    if (m_cancelled)
        return false;
    m_files.push_back(std::move(file));
    m_work.notify_one();
    return true;
}

void ScanPipeline::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
    m_work.notify_all();
    m_ready.notify_all();
}

void ScanPipeline::cancel()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cancelled = true;
    m_closed = true;
    m_space.notify_all();
    m_work.notify_all();
    m_ready.notify_all();
}

void ScanPipeline::readLoop()
{
    for (;;) {
        PendingFile *file = nullptr;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_work.wait(lock,
                        [this] { return m_cancelled || m_claimed < m_files.size() || m_closed; });
            if (m_cancelled || m_claimed == m_files.size())
                return; // cancelled, or closed with nothing left to read
            file = &m_files[m_claimed++];
        }
        // An empty file is no track; anything else is TagLib's to judge.
        if (file->size > 0)
            file->tags = TagReader::read(QFile::decodeName(QByteArray::fromStdString(file->path)),
                                         &file->opened);
        std::lock_guard<std::mutex> lock(m_mutex);
        file->read = true;
        if (file == &m_files.front())
            m_ready.notify_one();
    }
}

ScanPipeline::PendingFile *ScanPipeline::front(int waitMilliseconds)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto ready = [this] {
        return m_cancelled || (!m_files.empty() && m_files.front().read) ||
               (m_closed && m_files.empty());
    };
    if (!m_ready.wait_for(lock, std::chrono::milliseconds(waitMilliseconds), ready) ||
        m_cancelled || m_files.empty())
        return nullptr;
    return &m_files.front();
}

bool ScanPipeline::done() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cancelled || (m_closed && m_files.empty());
}

void ScanPipeline::pop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_files.pop_front();
    --m_claimed;
    if (m_files.size() == lowWater())
        m_space.notify_one();
}

} // namespace musicd
