// TFFPlayer: plays one media file at a time in a window of the host (a native window id) or in a
// window of its own, with sound through SDL. The host's thread calls the operations; the play
// thread runs the SDL event loop that shows pictures; the event thread delivers position and state
// events (through the main thread when TriggerEventInMainThread). At most one player has a file
// open at a time: SDL's video and audio are process-wide.
#pragma once

#include "base/BitmapConverter.h"
#include "base/ManualResetEvent.h"
#include "player/PlayerEventRing.h"
#include "player/PlayerTypes.h"
#include "probe/AVProbe.h"

#include <SDL.h>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tarnel {

struct PlaybackSession;
class PlayerDisplay;

class TCustomPlayer {
public:
    static constexpr const char* Version = "2.3";

    TCustomPlayer();
    virtual ~TCustomPlayer();
    TCustomPlayer(const TCustomPlayer&) = delete;
    TCustomPlayer& operator=(const TCustomPlayer&) = delete;

    std::string About;

    bool LibrariesLoaded() const;
    bool LoadLibraries(const std::string& directory);

    // Opens `fileName` and starts playing it in `window` (a native window id; 0: a window of the
    // player's own). False with LastError set on failure.
    bool Open(const std::string& fileName, uintptr_t window = 0);
    // Ends playback; with `wait`, returns once the play thread has finished and SDL is shut down.
    void Close(bool wait = true);
    void Pause();
    void Resume();
    // Shows the next picture and pauses after it.
    void StepFrame();
    // `position` in microseconds from the start (a byte offset with flag 2); `flags` are the
    // libraries' seek flags (low four bits). With `wait`, returns after the seek was carried out and,
    // for a file with video, the first picture after it was queued.
    void Seek(int64_t position, uint8_t flags = 0, bool wait = false);
    // The picture on screen as a 24-bit bitmap owned by the player (0 x 0 without video); `pts`
    // receives its time in microseconds (-1 without video).
    TBitmap& CurrentFrame();
    TBitmap& CurrentFrame(int64_t& pts);
    bool IsPaused() const;

    float AspectRatio() const { return aspectRatio_; }
    void SetAspectRatio(float value);
    TAudioDriver AudioDriver() const { return audioDriver_; }
    void SetAudioDriver(TAudioDriver value) { audioDriver_ = value; }
    int AudioVolume() const { return audioVolume_; }
    void SetAudioVolume(int value) { audioVolume_ = value < 0 ? 0 : value > 128 ? 128 : value; }
    bool DisableAudio() const { return disableAudio_; }
    void SetDisableAudio(bool value) { disableAudio_ = value; }
    bool DisableVideo() const { return disableVideo_; }
    void SetDisableVideo(bool value) { disableVideo_ = value; }
    bool DisableDisplay() const { return disableDisplay_; }
    void SetDisableDisplay(bool value) { disableDisplay_ = value; }
    bool Mute() const { return mute_; }
    void SetMute(bool value) { mute_ = value; }
    int FrameWidth() const { return frameWidth_; }
    void SetFrameWidth(int value) { frameWidth_ = value; }
    int FrameHeight() const { return frameHeight_; }
    void SetFrameHeight(int value) { frameHeight_ = value; }
    bool Hook() const { return hook_; }
    void SetHook(bool value) { hook_ = value; }
    int ScreenWidth() const { return screenWidth_; }
    void SetScreenWidth(int value) { screenWidth_ = value; }
    int ScreenHeight() const { return screenHeight_; }
    void SetScreenHeight(int value) { screenHeight_ = value; }
    bool TriggerEventInMainThread() const { return triggerInMainThread_; }
    void SetTriggerEventInMainThread(bool value) { triggerInMainThread_ = value; }
    TVideoDriver VideoDriver() const { return videoDriver_; }
    void SetVideoDriver(TVideoDriver value) { videoDriver_ = value; }

    const std::string& FileName() const { return fileName_; }
    const std::string& LastError() const { return lastError_; }
    TAVProbe& Probe() { return probe_; }
    TPlayState LastState() const { return lastState_; }

    // Diagnostics for tests and benchmarks.
    // The pixels the play thread shows, read back from the renderer. False without a display.
    bool CaptureDisplay(TBitmap& bitmap);
    // Video clock minus audio clock in seconds, when the open file has both; else false.
    bool ClockDifference(double& seconds);

    // Used by the playback threads.
    void PostState(TPlayState state);
    void PostPosition(int64_t pts);
    bool StepRequested() const { return step_; }
    ManualResetEvent& SeekDone() { return seekDone_; }
    ManualResetEvent& PictureQueued() { return pictureQueued_; }
    // Runs the hook on a planar picture when Hook is on and OnHook is set.
    void RunHook(AVFrame* picture, int64_t pts);
    // Clears the probe when it still refers to `input`.
    void DetachProbe(AVFormatContext* input);
    // Asks the play thread to run the event of `type` (one of the player's event numbers).
    static void PushPlayerEvent(uint32_t type);
    // Keeps the last position reported (microseconds); INT64_MIN is unknown.
    std::atomic<int64_t> LastReportedPosition{INT64_MIN};
    std::mutex PositionMutex;

protected:
    virtual void DoFileOpen(int64_t duration, int frameWidth, int frameHeight);

    TFileOpenEvent OnFileOpen_;
    THookEvent OnHook_;
    TPositionEvent OnPosition_;
    TPlayStateEvent OnState_;

private:
    std::shared_ptr<PlaybackSession> Session() const;
    bool InitSDL(uintptr_t window);
    bool QueryDisplay();
    void DeliverFileOpen(const PlaybackSession& session);
    void StartThreads();
    void WaitForPlayThread();
    // Waits (pumping main-thread calls) until the play thread has finished, at most `timeout`.
    bool WaitPlayThreadFinished(std::chrono::milliseconds timeout);
    void ResetOpenState();
    void JoinThreads();
    void RunEventThread();
    void RunPlayThread(SDL_Window* hostWindow);
    void RunEventLoop(PlayerDisplay& display);
    // Handles one SDL event for the session; false when the loop must end.
    bool HandleEvent(const SDL_Event& event, PlayerDisplay& display, PlaybackSession& session);
    void CaptureFor(PlayerDisplay& display);
    // Closes the open session; the caller holds playerLock_.
    void CloseSessionLocked();
    void Deliver(const std::function<void()>& call);
    bool Fail(const std::string& message);

    std::atomic<float> aspectRatio_{0};
    TAudioDriver audioDriver_ = adDefault;
    std::atomic<int> audioVolume_{128};
    bool disableAudio_ = false;
    bool disableVideo_ = false;
    bool disableDisplay_ = false;
    std::atomic<bool> mute_{false};
    int frameWidth_ = 0;
    int frameHeight_ = 0;
    std::atomic<bool> hook_{false};
    std::atomic<int> screenWidth_{0};
    std::atomic<int> screenHeight_{0};
    bool triggerInMainThread_ = true;
    TVideoDriver videoDriver_ = vdDefault;

    std::string fileName_;
    std::string lastError_;
    TAVProbe probe_;
    std::mutex probeMutex_;
    AVFormatContext* attachedInput_ = nullptr; // guarded by probeMutex_
    uintptr_t window_ = 0;
    SDL_Window* hostWindow_ = nullptr; // made by Open, handed to the play thread's display
    int fullScreenWidth_ = 0;
    int fullScreenHeight_ = 0;

    // Held by the play thread while it handles an event, and by a forced close.
    std::timed_mutex playerLock_;
    mutable std::mutex sessionMutex_;
    std::shared_ptr<PlaybackSession> session_; // guarded by sessionMutex_
    std::atomic<bool> step_{false};
    std::atomic<TPlayState> lastState_{psStop};

    // The handlers are copied under this lock before each call; the destructor clears them.
    mutable std::mutex handlersMutex_;

    ManualResetEvent seekDone_{true};
    ManualResetEvent pictureQueued_{true};
    ManualResetEvent playThreadFinished_{true};
    PlayerEventRing ring_;
    std::thread playThread_;
    std::thread eventThread_;
    std::atomic<bool> eventThreadDone_{true};

    std::mutex snapshotMutex_;
    BitmapConverter snapshotConverter_;
    std::mutex hookMutex_;
    BitmapConverter hookConverter_;

    std::mutex captureMutex_;
    TBitmap* captureTarget_ = nullptr; // guarded by captureMutex_
    bool captureResult_ = false;       // guarded by captureMutex_
    ManualResetEvent captureDone_{true};
};

// The component as hosts use it: its events are public.
class TFFPlayer : public TCustomPlayer {
public:
    using TCustomPlayer::TCustomPlayer;
    TFileOpenEvent& OnFileOpen = OnFileOpen_;
    THookEvent& OnHook = OnHook_;
    TPositionEvent& OnPosition = OnPosition_;
    TPlayStateEvent& OnState = OnState_;
};

// The SDL event numbers of the player's own events.
struct PlayerEventTypes {
    uint32_t AllocatePicture;
    uint32_t Refresh;
    uint32_t Quit;
    uint32_t ResetDisplay;
    uint32_t Capture;
};
const PlayerEventTypes& PlayerEvents();

} // namespace tarnel
