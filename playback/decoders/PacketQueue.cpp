#include "playback/decoders/PacketQueue.h"

#include "playback/libraries/FfmpegLibrary.h"
#include "playback/sources/ReadAheadLimits.h"

#include <algorithm>

namespace {

// What the allocator adds to every block: glibc's chunk header, rounding,
// and the room av_malloc's alignment leaves.
constexpr qint64 kBlockOverheadBytes = 64;
// FFmpeg's buffer header (AVBuffer, private): data, size, count, free
// function and its argument, flags.
constexpr qint64 kBufferHeaderBytes = 48;

} // namespace

PacketQueue::PacketQueue(const FfmpegLibrary &api) : m_api(api) {}

PacketQueue::~PacketQueue()
{
    clear();
}

qint64 PacketQueue::costOf(const AVPacket &packet)
{
    qint64 cost = qint64(sizeof(AVPacket) + sizeof(Entry)) + kBlockOverheadBytes;
    if (packet.buf) {
        // The reference, the buffer's header and the buffer itself (with
        // FFmpeg's padding), however little of it the payload uses.
        cost += qint64(sizeof(AVBufferRef) + packet.buf->size) + kBufferHeaderBytes +
                3 * kBlockOverheadBytes;
    } else {
        cost += packet.size;
    }
    if (packet.side_data_elems > 0) {
        cost += qint64(sizeof(AVPacketSideData)) * packet.side_data_elems + kBlockOverheadBytes;
        for (int i = 0; i < packet.side_data_elems; ++i)
            cost += qint64(packet.side_data[i].size) + kBlockOverheadBytes;
    }
    return cost;
}

void PacketQueue::push(AVPacket *packet, int serial, double timeBase)
{
    const Entry entry{packet, serial, timeBase, double(packet->duration) * timeBase,
                      costOf(*packet)};
    m_cost += entry.cost;
    m_seconds += entry.seconds;
    m_packets.push_back(entry);
}

void PacketQueue::drop(Entry &entry)
{
    m_cost -= entry.cost;
    m_seconds = std::max(0.0, m_seconds - entry.seconds);
}

AVPacket *PacketQueue::take(int serial, double &timeBase)
{
    while (!m_packets.empty()) {
        Entry entry = m_packets.front();
        m_packets.pop_front();
        drop(entry);
        if (entry.serial == serial) {
            timeBase = entry.timeBase;
            return entry.packet;
        }
        m_api.packet_free(&entry.packet);
    }
    return nullptr;
}

void PacketQueue::clear()
{
    for (Entry &entry : m_packets)
        m_api.packet_free(&entry.packet);
    m_packets.clear();
    m_cost = 0;
    m_seconds = 0.0;
}

bool PacketQueue::full() const
{
    return m_cost >= ReadAheadLimits::kReadAheadBytes ||
           m_seconds >= ReadAheadLimits::kReadAheadSeconds;
}

bool PacketQueue::low() const
{
    return m_cost < ReadAheadLimits::kReadAheadBytes * ReadAheadLimits::kReadOnBelow &&
           m_seconds < ReadAheadLimits::kReadAheadSeconds * ReadAheadLimits::kReadOnBelow;
}

bool PacketQueue::refilled() const
{
    return m_seconds >= ReadAheadLimits::kRefillSeconds || m_cost >= ReadAheadLimits::kRefillBytes;
}
