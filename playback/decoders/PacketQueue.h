// The FFmpeg path's read-ahead: compressed packets in the order read, each
// tagged with the seek it was read after, bounded by ReadAheadLimits in
// seconds and in what the packets cost in memory. Not thread-safe: its
// owner holds a lock around every call.
#pragma once

#include <QtGlobal>
#include <deque>

class FfmpegLibrary;
struct AVPacket;

class PacketQueue
{
public:
    explicit PacketQueue(const FfmpegLibrary &api);
    ~PacketQueue();
    PacketQueue(const PacketQueue &) = delete;
    PacketQueue &operator=(const PacketQueue &) = delete;

    // Takes the packet over; `timeBase` is seconds per tick of its times.
    void push(AVPacket *packet, int serial, double timeBase);
    // The first packet read after seek `serial` (those of earlier seeks
    // are freed on the way), or null; the caller frees it.
    AVPacket *take(int serial, double &timeBase);
    void clear();

    bool empty() const { return m_packets.empty(); }
    // Reading stops once full and starts again once low.
    bool full() const;
    bool low() const;
    // After running dry: enough to play on.
    bool refilled() const;
    qint64 cost() const { return m_cost; }
    double seconds() const { return m_seconds; }

    // The bytes of memory a queued packet holds, not only its payload: a
    // stream of one-sample packets costs some five hundred bytes a packet
    // for a payload of two.
    static qint64 costOf(const AVPacket &packet);

private:
    struct Entry
    {
        AVPacket *packet;
        int serial;
        double timeBase;
        double seconds;
        qint64 cost;
    };

    void drop(Entry &entry);

    const FfmpegLibrary &m_api;
    std::deque<Entry> m_packets;
    qint64 m_cost = 0;
    double m_seconds = 0.0;
};
