// The video side of a playback session: the decoding thread with its time stamps and decode-side
// dropping, the upright turn of rotated videos, the two-slot picture queue, the hook, and the target
// time of each picture.
#include "base/FFUtils.h"
#include "base/FFmpegLogger.h"
#include "base/PictureRotation.h"
#include "player/FFPlayer.h"
#include "player/PlaybackSession.h"

#include <algorithm>
#include <cmath>
#include <memory>

extern "C" {
#include <libavutil/time.h>
}

namespace tarnel {

double Now() {
    return av_gettime_relative() / 1000000.0;
}

double VideoClock(const PlaybackSession& session) {
    if (session.Paused)
        return session.VideoTime;
    const double drift = session.VideoDrift;
    if (drift != 0)
        return drift + Now();
    return session.StartTime / 1000000.0;
}

double MasterClock(const PlaybackSession& session) {
    return session.HasAudio ? AudioClock(session) : VideoClock(session);
}

namespace {

bool IsEndOfInputPacket(const AVPacket* packet) {
    return !packet->data && packet->size == 0;
}

// Decodes the video queue into pictures ready for the picture queue.
class VideoDecoder {
public:
    explicit VideoDecoder(PlaybackSession& session)
        : session_(session)
        , codec_(session.VideoCodec.get()) {
        if (session.VideoTurn != 0)
            rotator_ = std::make_unique<TPictureRotator>(session.VideoTurn);
    }

    bool Ready() const { return frame_ && picture_ && packet_; }

    // Runs the thread's loop until the queue is aborted or a step fails.
    void Run() {
        while (!session_.VideoQueue.Aborted()) {
            if (session_.Paused && !session_.PausedAtSeek) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            int64_t timestamp = 0;
            const int got = NextPicture(timestamp);
            if (got < 0)
                return;
            if (got == 0)
                continue;
            if (session_.AfterSeek && session_.FlushSeen) {
                session_.AfterSeek = false;
                session_.PausedAtSeek = false;
            }
            const double pts = timestamp * av_q2d(session_.VideoStream->time_base);
            if (!OutputPicture(pts))
                return;
            {
                // Under SeekMutex: a seek queued meanwhile resets the event, and this picture is
                // not the one it waits for.
                std::lock_guard lock(session_.SeekMutex);
                if (session_.FlushSeen)
                    session_.Player.PictureQueued().Set();
            }
            session_.EndReported = false;
            if (session_.Player.StepRequested())
                TogglePause(session_);
        }
    }

private:
    // 1 with a picture in frame_ and its time stamp, 0 for none yet, -1 when the queue was aborted.
    int NextPicture(int64_t& timestamp) {
        for (;;) {
            const int received = avcodec_receive_frame(codec_, frame_.get());
            if (received == 0) {
                timestamp = ChooseTimestamp();
                if (KeepAfterDropping())
                    return 1;
                av_frame_unref(frame_.get());
                continue;
            }
            if (received == AVERROR_EOF && drained_) {
                drained_ = false;
                if (!session_.EndReported)
                    UpdatePosition(session_);
            }
            if (session_.VideoQueue.Get(packet_.get(), true) < 0)
                return -1;
            if (IsFlushMarker(packet_.get())) {
                av_packet_unref(packet_.get());
                Flush();
                return 0;
            }
            const bool endOfInput = IsEndOfInputPacket(packet_.get());
            const int sent = avcodec_send_packet(codec_, endOfInput ? nullptr : packet_.get());
            av_packet_unref(packet_.get());
            if (endOfInput)
                drained_ = true;
            else if (sent < 0 && sent != AVERROR(EAGAIN))
                continue;
        }
    }

    // The reordered time stamp unless it has proved less reliable than the decoding time stamps.
    int64_t ChooseTimestamp() {
        const int64_t dts = frame_->pkt_dts;
        const int64_t pts = frame_->pts;
        if (dts != AV_NOPTS_VALUE) {
            session_.FaultyDts += dts <= session_.LastDts;
            session_.LastDts = dts;
        }
        if (pts != AV_NOPTS_VALUE) {
            session_.FaultyPts += pts <= session_.LastPts;
            session_.LastPts = pts;
        }
        // On a tie the reordered value wins: decoding time stamps run a reorder delay behind the
        // pictures of streams with B-frames.
        if (pts != AV_NOPTS_VALUE && (session_.FaultyPts <= session_.FaultyDts || dts == AV_NOPTS_VALUE))
            return pts;
        if (dts != AV_NOPTS_VALUE)
            return dts;
        return 0;
    }

    bool KeepAfterDropping() {
        session_.SkipIndex += 1;
        const float skipFrames = session_.SkipFrames;
        if (session_.SkipIndex >= skipFrames) {
            session_.SkipIndex -= std::max(skipFrames, 1.0f);
            return true;
        }
        return false;
    }

    void Flush() {
        avcodec_flush_buffers(codec_);
        drained_ = false;
        {
            std::unique_lock lock(session_.PictureMutex);
            for (PictureSlot& slot : session_.Pictures)
                slot.TargetTime = 0;
            session_.PictureCond.wait(
                lock, [this] { return session_.PictureCount == 0 || session_.VideoQueue.Aborted(); });
        }
        session_.VideoPosition = -1;
        session_.FaultyPts = session_.FaultyDts = 0;
        session_.LastPts = session_.LastDts = INT64_MIN;
        session_.LastFramePts = static_cast<double>(AV_NOPTS_VALUE);
        session_.LastFrameDelay = 0;
        session_.FrameTimer = Now();
        // A picture stamped 0 takes the predicted clock; after a seek that prediction belongs to
        // the pictures before it, so a seek back to the start would show the old time.
        session_.VideoClockPredicted = 0;
        session_.SkipFrames = 1;
        session_.SkipIndex = 0;
        std::lock_guard lock(session_.SeekMutex);
        ++session_.VideoFlushesSeen;
        session_.FlushSeen = session_.VideoFlushesSeen == session_.VideoFlushesQueued;
    }

    double FrameDelay() const {
        AVRational rate = codec_->framerate;
        if (rate.num <= 0 || rate.den <= 0)
            rate = session_.VideoStream->avg_frame_rate;
        if (rate.num <= 0 || rate.den <= 0)
            rate = session_.VideoStream->r_frame_rate;
        return rate.num > 0 && rate.den > 0 ? av_q2d(av_inv_q(rate)) : 1.0 / 25;
    }

    bool OutputPicture(double pts) {
        if (pts != 0)
            session_.VideoClockPredicted = pts;
        else
            pts = session_.VideoClockPredicted;
        const double delay = FrameDelay();
        session_.VideoClockPredicted =
            session_.VideoClockPredicted + delay + frame_->repeat_pict * delay * 0.5;
        const bool queued = QueuePicture(pts);
        av_frame_unref(frame_.get());
        return queued;
    }

    // Waits for a free slot with an overlay of the picture's size; false when aborted.
    bool WaitForSlot(int width, int height) {
        std::unique_lock lock(session_.PictureMutex);
        if (session_.PictureCount >= kPictureSlots && !session_.RefreshPending)
            session_.SkipFrames = std::max(0.95f, session_.SkipFrames * 0.95f);
        session_.PictureCond.wait(
            lock, [this] { return session_.PictureCount < kPictureSlots || session_.VideoQueue.Aborted(); });
        if (session_.VideoQueue.Aborted())
            return false;
        PictureSlot& slot = session_.Pictures[session_.PictureWrite];
        if (slot.Allocated && slot.Width == width && slot.Height == height)
            return true;
        slot.Allocated = false;
        session_.PictureWidth = width;
        session_.PictureHeight = height;
        TCustomPlayer::PushPlayerEvent(PlayerEvents().AllocatePicture);
        session_.PictureCond.wait(lock, [&] { return slot.Allocated || session_.VideoQueue.Aborted(); });
        return !session_.VideoQueue.Aborted();
    }

    // The decoded picture as planar 4:2:0 of even size (a new reference, or a converted copy).
    bool ConvertPicture(AVFrame* target, int width, int height) {
        av_frame_unref(target);
        const auto format = static_cast<AVPixelFormat>(frame_->format);
        if (format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P) {
            if (av_frame_ref(target, frame_.get()) < 0)
                return false;
            target->width = width;
            target->height = height;
            return true;
        }
        scaler_.reset(sws_getCachedContext(scaler_.release(), frame_->width, frame_->height, format, width,
                                           height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr,
                                           nullptr));
        if (!scaler_)
            return false;
        target->format = AV_PIX_FMT_YUV420P;
        target->width = width;
        target->height = height;
        if (av_frame_get_buffer(target, 0) < 0)
            return false;
        av_frame_copy_props(target, frame_.get());
        sws_scale(scaler_.get(), frame_->data, frame_->linesize, 0, frame_->height, target->data,
                  target->linesize);
        return true;
    }

    double TargetTime(double pts) {
        double delay = pts - session_.LastFramePts;
        if (delay <= 0 || delay >= 10)
            delay = session_.LastFrameDelay;
        else
            session_.LastFrameDelay = delay;
        session_.LastFramePts = pts;
        // Before playback starts the audio clock stands still; the first picture is made due
        // when it is shown.
        if (session_.HasAudio && session_.Started) {
            const double diff = VideoClock(session_) - MasterClock(session_);
            const double threshold = std::max(0.01, delay);
            if (std::fabs(diff) < 10) {
                if (diff <= -threshold)
                    delay = 0;
                else if (diff >= threshold)
                    delay = 2 * delay;
            }
        }
        session_.FrameTimer = session_.FrameTimer + delay;
        return session_.FrameTimer;
    }

    // Turns the decoded picture upright when the stream asks for it, so that the queue, the hook,
    // snapshots and the display all see the upright picture. The sample aspect is guessed before,
    // on the picture as stored; a quarter turn inverts it. When the turn fails the picture is kept
    // as decoded, and the failure is logged once.
    void TurnUpright() {
        frame_->sample_aspect_ratio =
            av_guess_sample_aspect_ratio(session_.Input, session_.VideoStream, frame_.get());
        if (!rotator_)
            return;
        int error = 0;
        FramePtr turned = rotator_->Turn(frame_.get(), &error);
        if (!turned) {
            if (!turnFailed_)
                Logger().Log(&session_.Player, llError,
                             Format("%s: cannot turn the video upright: %s", session_.FileName.c_str(),
                                    LibraryErrorText(error).c_str()));
            turnFailed_ = true;
            return;
        }
        av_frame_unref(frame_.get());
        av_frame_move_ref(frame_.get(), turned.get());
    }

    bool QueuePicture(double pts) {
        TurnUpright();
        const int width = frame_->width & ~1;
        const int height = frame_->height & ~1;
        if (width <= 0 || height <= 0)
            return true;
        if (!WaitForSlot(width, height))
            return false;
        PictureSlot& slot = session_.Pictures[session_.PictureWrite];
        if (!ConvertPicture(picture_.get(), width, height))
            return true;
        const int64_t startTime = session_.StartTime;
        session_.Player.RunHook(picture_.get(), std::llround(pts * 1000000.0) - startTime);
        const int64_t position = frame_->pkt_pos;
        std::lock_guard lock(session_.PictureMutex);
        slot.Picture.reset(av_frame_clone(picture_.get()));
        av_frame_unref(picture_.get());
        slot.Pts = pts;
        slot.Position = position;
        slot.Fresh = true;
        slot.Generation = session_.VideoFlushesSeen; // written by this thread only
        session_.PictureWrite = (session_.PictureWrite + 1) % kPictureSlots;
        slot.TargetTime = TargetTime(pts);
        ++session_.PictureCount;
        return true;
    }

    PlaybackSession& session_;
    AVCodecContext* codec_;
    FramePtr frame_ = MakeFrame();
    FramePtr picture_ = MakeFrame();
    PacketPtr packet_ = MakePacket();
    SwsContextPtr scaler_;
    std::unique_ptr<TPictureRotator> rotator_; // only for a video that must be turned
    bool turnFailed_ = false;
    bool drained_ = false;
};

} // namespace

void RunVideoThread(PlaybackSession& session) {
    VideoDecoder decoder(session);
    if (decoder.Ready())
        decoder.Run();
}

} // namespace tarnel
