// A FIFO of demuxed packets between the player's reading thread and one consumer, bounded by the
// reader through PacketCount/ByteSize, with abort (every waiting reader returns -1) and flush.
// The flush marker is one process-wide packet recognised by its data pointer; it carries no
// payload and tells the consumer to flush its decoder.
#pragma once

#include "base/LibHandles.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace tarnel {

// The flush marker's data pointer (fixed, unique) and a check for it.
const AVPacket* FlushMarker();
bool IsFlushMarker(const AVPacket* packet);

class PacketQueue {
public:
    // Bytes each queued packet counts beyond its payload (a packet record and the link).
    static constexpr int kNodeSize = 72;

    PacketQueue() = default;
    PacketQueue(const PacketQueue&) = delete;
    PacketQueue& operator=(const PacketQueue&) = delete;
    ~PacketQueue() { Flush(); }

    // Takes the packet's contents (the packet is left blank); payloads that are not reference
    // counted are copied. The flush marker is queued as a marker. 0, or -1 when no memory.
    int Put(AVPacket* packet);
    int PutFlushMarker();
    // Puts a packet with no data and size 0 for `streamIndex`: the end of the input.
    int PutEndOfInput(int streamIndex);
    // -1 when aborted, 1 with a packet moved into `packet` (which must be blank), 0 when empty and
    // not blocking. A flush marker comes out as a packet for which IsFlushMarker is true.
    int Get(AVPacket* packet, bool block);
    void Abort();
    bool Aborted() const;
    // Frees every queued packet.
    void Flush();
    // Back to a fresh queue (not aborted, empty).
    void Reset();

    int PacketCount() const;
    int64_t ByteSize() const;

private:
    struct Node {
        PacketPtr packet; // null for the flush marker
    };

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Node> nodes_; // guarded by mutex_
    int64_t byteSize_ = 0;   // guarded by mutex_
    bool aborted_ = false;   // guarded by mutex_
};

} // namespace tarnel
