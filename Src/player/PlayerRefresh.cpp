// Showing pictures at their time: the refresh thread's pacing, the play thread's refresh with
// late-picture dropping, the display of a picture with its aspect rules, and the position and end
// events.
#include "player/FFPlayer.h"
#include "player/PlaybackSession.h"
#include "player/PlayerDisplay.h"

#include <cmath>
#include <cstdlib>

namespace tarnel {

namespace {

void ReleaseReadSlot(PlaybackSession& session) {
    session.PictureRead = (session.PictureRead + 1) % kPictureSlots;
    std::lock_guard lock(session.PictureMutex);
    --session.PictureCount;
    session.PictureCond.notify_all();
}

int QueuedPictures(PlaybackSession& session) {
    std::lock_guard lock(session.PictureMutex);
    return session.PictureCount;
}

// Uploads a newly queued picture (with its subtitles) to the slot's overlay and keeps it as the
// picture on screen.
void UploadIfFresh(PlaybackSession& session, PlayerDisplay& display, int index) {
    PictureSlot& slot = session.Pictures[index];
    int generation;
    {
        std::lock_guard lock(session.PictureMutex);
        if (!slot.Fresh || !slot.Picture)
            return;
        slot.Fresh = false;
        generation = slot.Generation;
    }
    if (session.HasSubtitles && av_frame_make_writable(slot.Picture.get()) >= 0)
        BlendSubtitles(session, slot.Picture.get(), slot.Pts);
    display.UploadOverlay(index, slot.Picture.get());
    std::lock_guard lock(session.ShownMutex);
    session.ShownPicture.reset(av_frame_clone(slot.Picture.get()));
    session.ShownPts = slot.Pts;
    session.ShownGeneration = generation;
}

// How long playback waits for the first picture before the sound starts without it: a video stream
// that gives no picture must not keep the file silent.
constexpr double kFirstPictureWaitSeconds = 1.0;

void WaitForFirstPicture(PlaybackSession& session, double now) {
    if (session.FirstPictureWaitBegin == 0)
        session.FirstPictureWaitBegin = now;
    else if (now - session.FirstPictureWaitBegin >= kFirstPictureWaitSeconds || session.EndOfInput)
        session.Started = true;
}

// Makes the first picture due now, and the queued ones after it by their own spacing. Their target
// times count from when the video thread began, which can be long before the play thread shows
// anything; counted from there they would all be late and dropped.
void DueNow(PlaybackSession& session, double now) {
    std::lock_guard lock(session.PictureMutex);
    const double shift = now - session.Pictures[session.PictureRead].TargetTime;
    for (PictureSlot& slot : session.Pictures)
        slot.TargetTime += shift;
    session.FrameTimer = session.FrameTimer + shift;
}

void DisplayPicture(PlaybackSession& session, PlayerDisplay& display) {
    int index = session.PictureRead;
    if (QueuedPictures(session) == 0) {
        if (session.LastShown < 0)
            return;
        index = session.LastShown;
    }
    if (!display.HasOverlay(index))
        return;
    UploadIfFresh(session, display, index);
    session.LastShown = index;
    const PictureSlot& slot = session.Pictures[index];
    AVRational sampleAspect{0, 1};
    {
        std::lock_guard lock(session.ShownMutex);
        if (session.ShownPicture)
            sampleAspect = session.ShownPicture->sample_aspect_ratio;
    }
    const double aspect = DisplayAspect(session.Player.AspectRatio(), display.AreaWidth(),
                                        display.AreaHeight(), sampleAspect, slot.Width, slot.Height);
    display.ShowOverlay(index, PictureRect(display.AreaWidth(), display.AreaHeight(), aspect));
}

} // namespace

double DisplayAspect(float playerAspect, int areaWidth, int areaHeight, AVRational sampleAspect, int width,
                     int height) {
    if (playerAspect > 0)
        return playerAspect;
    if (playerAspect < 0 && areaWidth > 0 && areaHeight > 0)
        return static_cast<double>(areaWidth) / areaHeight;
    double sample = sampleAspect.num > 0 && sampleAspect.den > 0 ? av_q2d(sampleAspect) : 1.0;
    if (sample <= 0)
        sample = 1.0;
    return height > 0 ? sample * width / height : 1.0;
}

DisplayRect PictureRect(int areaWidth, int areaHeight, double aspect) {
    DisplayRect rect;
    rect.Height = areaHeight;
    rect.Width = static_cast<int>(std::lround(rect.Height * aspect)) & ~1;
    if (rect.Width > areaWidth) {
        rect.Width = areaWidth;
        rect.Height = static_cast<int>(std::lround(rect.Width / aspect)) & ~1;
    }
    rect.X = (areaWidth - rect.Width) / 2;
    rect.Y = (areaHeight - rect.Height) / 2;
    return rect;
}

void RunRefreshThread(PlaybackSession& session) {
    while (!session.AbortRequest) {
        if (!session.RefreshPending.exchange(true))
            TCustomPlayer::PushPlayerEvent(PlayerEvents().Refresh);
        const bool waveform = session.HasAudio && session.ShowAudio;
        std::this_thread::sleep_for(std::chrono::milliseconds(waveform ? 20 : 5));
    }
}

void OpenVideoMode(PlaybackSession& session, PlayerDisplay& display, bool force) {
    int width = 640, height = 480;
    if (session.Player.ScreenWidth() > 0) {
        width = session.Player.ScreenWidth();
        height = session.Player.ScreenHeight();
    } else if (session.PictureWidth > 0) {
        width = session.PictureWidth;
        height = session.PictureHeight;
    }
    if (!force && display.HasSurface() && display.AreaWidth() == width && display.AreaHeight() == height)
        return;
    display.SetVideoMode(width, height);
}

void AllocatePicture(PlaybackSession& session, PlayerDisplay& display) {
    OpenVideoMode(session, display, false);
    int index;
    {
        std::lock_guard lock(session.PictureMutex);
        index = session.PictureWrite;
    }
    const int width = session.PictureWidth;
    const int height = session.PictureHeight;
    display.FreeOverlay(index);
    display.AllocateOverlay(index, width, height);
    if (session.LastShown == index)
        session.LastShown = -1;
    std::lock_guard lock(session.PictureMutex);
    PictureSlot& slot = session.Pictures[index];
    slot.Picture.reset();
    slot.Width = width;
    slot.Height = height;
    slot.Allocated = true;
    session.PictureCond.notify_all();
}

void Display(PlaybackSession& session, PlayerDisplay& display) {
    if (!display.HasSurface())
        OpenVideoMode(session, display, false);
    if (!display.HasSurface())
        return;
    if (session.ShowAudio == 1 && session.HasAudio)
        DrawWaveform(session, display);
    else if (session.HasVideo)
        DisplayPicture(session, display);
}

void Refresh(PlaybackSession& session, PlayerDisplay& display, RefreshMode mode) {
    bool dropped = false;
    if (session.HasVideo) {
        for (;;) {
            const int queued = QueuedPictures(session);
            const double now = Now();
            if (queued == 0) {
                if (!session.Started)
                    WaitForFirstPicture(session, now);
                if (mode == RefreshMode::Redraw)
                    Display(session, display);
                break;
            }
            if (!session.Started)
                DueNow(session, now);
            PictureSlot& slot = session.Pictures[session.PictureRead];
            double target, otherTarget;
            {
                std::lock_guard lock(session.PictureMutex);
                target = slot.TargetTime;
                otherTarget = session.Pictures[(session.PictureRead + 1) % kPictureSlots].TargetTime;
            }
            const bool afterSeek = session.AfterSeek;
            if (!afterSeek && now < target)
                return;
            session.VideoTime = slot.Pts;
            session.VideoDrift = slot.Pts - now;
            session.VideoPosition = slot.Position;
            const double next = queued > 1 ? otherTarget : target + session.VideoClockPredicted - slot.Pts;
            if ((now > next && !session.CaptureDevice) || afterSeek) {
                session.SkipFrames = session.SkipFrames * 1.05f;
                if (queued > 1 || now > next + 0.5 || afterSeek) {
                    ReleaseReadSlot(session);
                    dropped = true;
                    continue;
                }
            }
            if (session.HasSubtitles)
                ExpireSubtitles(session, session.VideoTime);
            const bool first = !session.Started;
            Display(session, display);
            // The first draw can take long (a renderer's first picture); the pictures after it
            // are timed from when it is on the screen, or they would be late and dropped.
            if (first) {
                const double shown = Now();
                DueNow(session, shown);
                session.VideoDrift = slot.Pts - shown;
            }
            session.Started = true;
            if (mode == RefreshMode::Timer)
                ReleaseReadSlot(session);
            break;
        }
    } else if (session.HasAudio) {
        session.Started = true;
        Display(session, display);
    } else {
        return;
    }
    if (!dropped)
        UpdatePosition(session);
}

void UpdatePosition(PlaybackSession& session) {
    if (session.ImageSequence)
        return;
    double clock;
    if (session.HasVideo)
        clock = VideoClock(session);
    else if (session.HasAudio)
        clock = AudioClock(session);
    else
        return;
    TCustomPlayer& player = session.Player;
    int64_t position = std::llround(clock * 1000000.0) - session.StartTime;
    if (!session.HasVideo && session.AudioDuration > 0 && position >= session.AudioDuration &&
        position < session.Duration)
        position = session.Duration;
    std::lock_guard lock(player.PositionMutex);
    if (session.Duration > 0 && position >= session.Duration) {
        position = session.Duration;
        if (position != player.LastReportedPosition)
            player.LastReportedPosition = 0;
    }
    const int64_t last = player.LastReportedPosition;
    if (last == INT64_MIN || std::llabs(last - position) > 10000) {
        player.LastReportedPosition = position;
        player.PostPosition(position);
    }
    if (!session.CaptureDevice && !session.EndReported && session.EndOfInput) {
        if (session.HasVideo)
            session.EndReported = true;
        player.PostState(psEnd);
    }
}

} // namespace tarnel
