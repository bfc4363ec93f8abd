// The subtitle side of a playback session: the thread that decodes subtitle packets into the
// four-slot subtitle queue, the refresh's expiry of shown subtitles and the drawing into pictures.
#include "player/PlaybackSession.h"
#include "player/PlayerSubtitleBlend.h"

#include <chrono>
#include <thread>

namespace tarnel {

namespace {

constexpr auto kPausePoll = std::chrono::milliseconds(10);
// Subtitles of this format are bitmaps; text subtitles are not shown.
constexpr uint16_t kBitmapFormat = 0;

bool Aborted(const PlaybackSession& session) {
    return session.AbortRequest || session.SubtitleQueue.Aborted();
}

// While paused nothing is decoded, except after a seek made while paused.
bool HeldByPause(const PlaybackSession& session) {
    return session.Paused && !Aborted(session) && !session.PausedAtSeek;
}

double StartTime(const SubtitleSlot& slot) {
    return slot.Pts + slot.Subtitle.start_display_time / 1000.0;
}

double EndTime(const SubtitleSlot& slot) {
    return slot.Pts + slot.Subtitle.end_display_time / 1000.0;
}

int NextSlot(int index) {
    return (index + 1) % kSubtitleSlots;
}

void FreeSlotLocked(SubtitleSlot& slot) {
    if (!slot.Valid)
        return;
    avsubtitle_free(&slot.Subtitle);
    slot.Valid = false;
}

void DropFirstLocked(PlaybackSession& session) {
    FreeSlotLocked(session.Subtitles[session.SubtitleRead]);
    session.SubtitleRead = NextSlot(session.SubtitleRead);
    --session.SubtitleCount;
}

void DropAllLocked(PlaybackSession& session) {
    for (SubtitleSlot& slot : session.Subtitles)
        FreeSlotLocked(slot);
    session.SubtitleCount = 0;
    session.SubtitleRead = session.SubtitleWrite;
}

// Subtitles queued before a flush belong to the position before a seek.
void DropAll(PlaybackSession& session) {
    std::lock_guard lock(session.SubtitleMutex);
    DropAllLocked(session);
    session.SubtitleCond.notify_all();
}

// False when the session or the queue was aborted while waiting.
bool WaitForFreeSlot(PlaybackSession& session) {
    std::unique_lock lock(session.SubtitleMutex);
    session.SubtitleCond.wait(lock,
                              [&] { return session.SubtitleCount < kSubtitleSlots || Aborted(session); });
    return !Aborted(session);
}

void QueueSubtitle(PlaybackSession& session, const AVSubtitle& subtitle, double pts) {
    std::lock_guard lock(session.SubtitleMutex);
    SubtitleSlot& slot = session.Subtitles[session.SubtitleWrite];
    FreeSlotLocked(slot);
    slot.Pts = pts;
    slot.Subtitle = subtitle;
    slot.Valid = true;
    session.SubtitleWrite = NextSlot(session.SubtitleWrite);
    ++session.SubtitleCount;
}

void DecodeSubtitle(PlaybackSession& session, AVPacket* packet) {
    const double pts =
        packet->pts != AV_NOPTS_VALUE ? packet->pts * av_q2d(session.SubtitleStream->time_base) : 0;
    AVSubtitle subtitle{};
    int gotSubtitle = 0;
    const int result = avcodec_decode_subtitle2(session.SubtitleCodec.get(), &subtitle, &gotSubtitle, packet);
    if (result < 0 || !gotSubtitle || subtitle.format != kBitmapFormat) {
        avsubtitle_free(&subtitle);
        return;
    }
    for (unsigned i = 0; i < subtitle.num_rects; ++i)
        ConvertPaletteToYuva(*subtitle.rects[i]);
    QueueSubtitle(session, subtitle, pts);
}

} // namespace

void RunSubtitleThread(PlaybackSession& session) {
    PacketPtr packet = MakePacket();
    if (!packet)
        return;
    for (;;) {
        while (HeldByPause(session))
            std::this_thread::sleep_for(kPausePoll);
        if (session.SubtitleQueue.Get(packet.get(), true) <= 0)
            break;
        bool keepRunning = true;
        if (IsFlushMarker(packet.get())) {
            avcodec_flush_buffers(session.SubtitleCodec.get());
            DropAll(session);
        } else if (WaitForFreeSlot(session)) {
            DecodeSubtitle(session, packet.get());
        } else {
            keepRunning = false;
        }
        av_packet_unref(packet.get());
        if (!keepRunning)
            break;
    }
}

void ExpireSubtitles(PlaybackSession& session, double videoTime) {
    std::lock_guard lock(session.SubtitleMutex);
    if (session.SubtitleStreamChanged) {
        DropAllLocked(session);
        session.SubtitleStreamChanged = false;
        session.SubtitleCond.notify_all();
        return;
    }
    if (session.SubtitleCount == 0)
        return;
    const SubtitleSlot& first = session.Subtitles[session.SubtitleRead];
    bool expired = videoTime > EndTime(first);
    if (!expired && session.SubtitleCount > 1)
        expired = videoTime > StartTime(session.Subtitles[NextSlot(session.SubtitleRead)]);
    if (!expired)
        return;
    DropFirstLocked(session);
    session.SubtitleCond.notify_all();
}

bool BlendSubtitles(PlaybackSession& session, AVFrame* picture, double pts) {
    std::lock_guard lock(session.SubtitleMutex);
    if (!picture || session.SubtitleCount == 0)
        return false;
    const SubtitleSlot& first = session.Subtitles[session.SubtitleRead];
    if (!first.Valid || StartTime(first) > pts)
        return false;
    bool drawn = false;
    for (unsigned i = 0; i < first.Subtitle.num_rects; ++i)
        drawn = BlendSubtitleRect(*picture, *first.Subtitle.rects[i]) || drawn;
    return drawn;
}

void FreeSubtitles(PlaybackSession& session) {
    DropAll(session);
}

} // namespace tarnel
