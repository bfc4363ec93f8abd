#include "player/PacketQueue.h"

namespace tarnel {

namespace {
uint8_t flushMarkerByte;

AVPacket MakeFlushMarker() {
    AVPacket marker{};
    marker.data = &flushMarkerByte;
    marker.size = 0;
    marker.pts = marker.dts = AV_NOPTS_VALUE;
    marker.stream_index = -1;
    return marker;
}
const AVPacket flushMarker = MakeFlushMarker();
} // namespace

const AVPacket* FlushMarker() {
    return &flushMarker;
}

bool IsFlushMarker(const AVPacket* packet) {
    return packet && packet->data == &flushMarkerByte;
}

int PacketQueue::Put(AVPacket* packet) {
    if (IsFlushMarker(packet))
        return PutFlushMarker();
    PacketPtr owned = MakePacket();
    if (!owned)
        return -1;
    // Queued packets must own their payload: the demuxer may reuse a buffer it did not count.
    if (packet->data && !packet->buf) {
        if (av_packet_ref(owned.get(), packet) < 0)
            return -1;
        av_packet_unref(packet);
    } else {
        av_packet_move_ref(owned.get(), packet);
    }
    const int64_t bytes = owned->size + kNodeSize;
    {
        std::lock_guard lock(mutex_);
        nodes_.push_back(Node{std::move(owned)});
        byteSize_ += bytes;
    }
    changed_.notify_one();
    return 0;
}

int PacketQueue::PutFlushMarker() {
    {
        std::lock_guard lock(mutex_);
        nodes_.push_back(Node{});
        byteSize_ += kNodeSize;
    }
    changed_.notify_one();
    return 0;
}

int PacketQueue::PutEndOfInput(int streamIndex) {
    PacketPtr empty = MakePacket();
    if (!empty)
        return -1;
    empty->stream_index = streamIndex;
    return Put(empty.get());
}

int PacketQueue::Get(AVPacket* packet, bool block) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (aborted_)
            return -1;
        if (!nodes_.empty()) {
            Node node = std::move(nodes_.front());
            nodes_.pop_front();
            byteSize_ -= (node.packet ? node.packet->size : 0) + kNodeSize;
            lock.unlock();
            if (node.packet)
                av_packet_move_ref(packet, node.packet.get());
            else
                *packet = *FlushMarker();
            return 1;
        }
        if (!block)
            return 0;
        changed_.wait(lock);
    }
}

void PacketQueue::Abort() {
    {
        std::lock_guard lock(mutex_);
        aborted_ = true;
    }
    changed_.notify_all();
}

bool PacketQueue::Aborted() const {
    std::lock_guard lock(mutex_);
    return aborted_;
}

void PacketQueue::Flush() {
    std::deque<Node> dropped;
    std::lock_guard lock(mutex_);
    dropped.swap(nodes_);
    byteSize_ = 0;
}

void PacketQueue::Reset() {
    Flush();
    std::lock_guard lock(mutex_);
    aborted_ = false;
}

int PacketQueue::PacketCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(nodes_.size());
}

int64_t PacketQueue::ByteSize() const {
    std::lock_guard lock(mutex_);
    return byteSize_;
}

} // namespace tarnel
