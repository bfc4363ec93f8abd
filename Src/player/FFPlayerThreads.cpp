// The player's own threads: the play thread runs the SDL event loop that shows pictures, the event
// thread delivers position and state events to the host.
#include "base/FFmpegLogger.h"
#include "base/MainThread.h"
#include "player/FFPlayer.h"
#include "player/PlaybackSession.h"
#include "player/PlayerDisplay.h"

namespace tarnel {

void TCustomPlayer::RunPlayThread(SDL_Window* hostWindow) {
    PostState(psPlay);
    {
        PlayerDisplay display(hostWindow);
        try {
            RunEventLoop(display);
        } catch (const std::exception& e) {
            Logger().Log(this, llFatal, std::string("PlayThread Exception: ") + e.what());
            std::lock_guard lock(playerLock_);
            CloseSessionLocked();
        }
    }
    SDL_Quit();
    PostState(psStop);
    playThreadFinished_.Set();
}

// SDL wakes a waiting event loop by a message to its window; a window SDL draws into but did not
// make (the host's panel) gets that message in the host's connection instead, so the loop would
// sleep through pushed events until the wait ends. The refresh thread pushes an event every 5 ms,
// and the wait is as short, so pictures are shown on time in either kind of window.
constexpr int kEventWaitMs = 5;

void TCustomPlayer::RunEventLoop(PlayerDisplay& display) {
    // The renderer is made while the first picture is still being decoded, not when it asks for
    // its overlay: making it takes as long as decoding a large picture.
    if (std::shared_ptr<PlaybackSession> session = Session(); session && session->HasVideo) {
        std::lock_guard lock(playerLock_);
        OpenVideoMode(*session, display, false);
    }
    for (;;) {
        SDL_Event event;
        if (!SDL_WaitEventTimeout(&event, kEventWaitMs)) {
            if (!Session())
                return;
            continue;
        }
        std::lock_guard lock(playerLock_);
        std::shared_ptr<PlaybackSession> session = Session();
        if (!session)
            return;
        if (!HandleEvent(event, display, *session))
            return;
    }
}

bool TCustomPlayer::HandleEvent(const SDL_Event& event, PlayerDisplay& display, PlaybackSession& session) {
    const PlayerEventTypes& types = PlayerEvents();
    if (event.type == SDL_QUIT || event.type == types.Quit) {
        CloseSessionLocked();
        return false;
    }
    if (event.type == types.Refresh) {
        Refresh(session, display, RefreshMode::Timer);
        session.RefreshPending = false;
    } else if (event.type == types.AllocatePicture) {
        AllocatePicture(session, display);
    } else if (event.type == types.ResetDisplay) {
        OpenVideoMode(session, display, true);
        Display(session, display);
    } else if (event.type == types.Capture) {
        CaptureFor(display);
    } else if (event.type == SDL_WINDOWEVENT) {
        if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
            if (display.SetVideoMode(event.window.data1, event.window.data2)) {
                screenWidth_ = event.window.data1;
                screenHeight_ = event.window.data2;
            }
            if (session.Paused)
                Refresh(session, display, RefreshMode::Redraw);
        } else if (event.window.event == SDL_WINDOWEVENT_EXPOSED) {
            if (session.Paused)
                Refresh(session, display, RefreshMode::Redraw);
            else
                Display(session, display);
        }
    }
    return true;
}

void TCustomPlayer::CaptureFor(PlayerDisplay& display) {
    std::lock_guard lock(captureMutex_);
    if (captureTarget_)
        captureResult_ = display.ReadPixels(*captureTarget_);
    captureDone_.Set();
}

void TCustomPlayer::RunEventThread() {
    for (;;) {
        const PlayerEvent event = ring_.Pop();
        if (event.Kind == PlayerEvent::NoEvent) {
            ring_.WaitPending();
            continue;
        }
        if (event.Kind == PlayerEvent::StopEvent)
            break;
        if (event.Kind == PlayerEvent::PositionEvent) {
            TPositionEvent handler;
            {
                std::lock_guard lock(handlersMutex_);
                handler = OnPosition_;
            }
            if (handler)
                Deliver([&] { handler(*this, event.Pts); });
        } else if (event.Kind == PlayerEvent::StateEvent) {
            TPlayStateEvent handler;
            {
                std::lock_guard lock(handlersMutex_);
                handler = OnState_;
            }
            if (handler)
                Deliver([&] { handler(*this, event.State); });
            if (event.State == psStop)
                break;
        }
    }
    eventThreadDone_ = true;
}

} // namespace tarnel
