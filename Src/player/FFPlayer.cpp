// TFFPlayer's operations on the host's thread: loading, opening and closing, pause, step, seek,
// snapshots, and posting events into the ring.
#include "player/FFPlayer.h"

#include "base/FFUtils.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "base/MainThread.h"
#include "base/PictureRotation.h"
#include "player/PlaybackSession.h"

#include <cmath>
#include <cstdlib>
#include <tuple>
#include <utility>

namespace tarnel {

namespace {

// The size of the video's pictures as the player shows them: upright, so a quarter turn swaps the
// coded sides.
std::pair<int, int> UprightVideoSize(const PlaybackSession& session) {
    const int width = session.VideoCodec->width;
    const int height = session.VideoCodec->height;
    if (TurnSwapsSides(session.VideoTurn))
        return {height, width};
    return {width, height};
}

} // namespace

const PlayerEventTypes& PlayerEvents() {
    static const PlayerEventTypes types = [] {
        const uint32_t first = SDL_RegisterEvents(5);
        return PlayerEventTypes{first, first + 1, first + 2, first + 3, first + 4};
    }();
    return types;
}

void TCustomPlayer::PushPlayerEvent(uint32_t type) {
    SDL_Event event{};
    event.type = type;
    SDL_PushEvent(&event);
}

TCustomPlayer::TCustomPlayer() {
    PlayerEvents();
}

TCustomPlayer::~TCustomPlayer() {
    {
        std::lock_guard lock(handlersMutex_);
        OnPosition_ = nullptr;
        OnState_ = nullptr;
        OnHook_ = nullptr;
    }
    Close(true);
    JoinThreads();
    DetachProbe(attachedInput_);
}

std::shared_ptr<PlaybackSession> TCustomPlayer::Session() const {
    std::lock_guard lock(sessionMutex_);
    return session_;
}

bool TCustomPlayer::Fail(const std::string& message) {
    lastError_ = message;
    Logger().Log(this, llError, message);
    return false;
}

bool TCustomPlayer::LibrariesLoaded() const {
    return Loader().AllLoaded(kPlayerLibraries);
}

bool TCustomPlayer::LoadLibraries(const std::string& directory) {
    Loader().SetLibraryPath(directory);
    if (Loader().LoadSet(kPlayerLibraries))
        return true;
    lastError_ = Loader().LastLoadError();
    return false;
}

bool TCustomPlayer::InitSDL(uintptr_t window) {
    // The host owns the process's signals; SDL must not turn Ctrl-C into its own quit event.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    const auto fail = [&] {
        return Fail(Format("Could not initialize SDL with ScreenHandle(%u): %s",
                           static_cast<unsigned>(window), SDL_GetError()));
    };
    if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_AUDIO | SDL_INIT_VIDEO) != 0)
        return fail();
    if (!window)
        return true;
    hostWindow_ = SDL_CreateWindowFrom(reinterpret_cast<const void*>(window));
    if (!hostWindow_) {
        const bool result = fail();
        SDL_Quit();
        return result;
    }
    const char* audio = SDL_GetCurrentAudioDriver();
    const char* video = SDL_GetCurrentVideoDriver();
    Logger().LogFmt(this, llInfo, "using audio driver: %s", audio ? audio : "");
    Logger().LogFmt(this, llInfo, "using video driver: %s", video ? video : "");
    return true;
}

bool TCustomPlayer::QueryDisplay() {
    SDL_DisplayMode mode{};
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0 || mode.w <= 0 || mode.h <= 0)
        return false;
    fullScreenWidth_ = mode.w;
    fullScreenHeight_ = mode.h;
    return true;
}

void TCustomPlayer::ResetOpenState() {
    step_ = false;
    LastReportedPosition = INT64_MIN;
    seekDone_.Set();
}

bool TCustomPlayer::Open(const std::string& fileName, uintptr_t window) {
    if (!LibrariesLoaded())
        return Fail("libav or libsdl not loaded.");
    Close(true);
    JoinThreads();
    if (*AudioDriverName(audioDriver_))
        setenv("SDL_AUDIODRIVER", AudioDriverName(audioDriver_), 1);
    if (*VideoDriverName(videoDriver_))
        setenv("SDL_VIDEODRIVER", VideoDriverName(videoDriver_), 1);
    if (!InitSDL(window))
        return false;
    const auto shutDown = [this] {
        if (hostWindow_)
            SDL_DestroyWindow(hostWindow_);
        hostWindow_ = nullptr;
        SDL_Quit();
    };
    if (disableDisplay_) {
        disableVideo_ = true;
    } else if (!QueryDisplay()) {
        shutDown();
        return Fail("SDL_GetVideoInfo() failed");
    }
    SDL_EventState(SDL_MOUSEMOTION, SDL_IGNORE);
    SDL_EventState(SDL_SYSWMEVENT, SDL_IGNORE);
    ResetOpenState();
    ring_.Clear();

    std::string error;
    std::shared_ptr<PlaybackSession> session = OpenSession(*this, fileName, error);
    if (!session) {
        shutDown();
        ResetOpenState();
        return Fail(error);
    }
    {
        std::lock_guard lock(sessionMutex_);
        session_ = session;
    }
    fileName_ = fileName;
    window_ = window;
    {
        std::lock_guard lock(probeMutex_);
        probe_.Attach(session->Input);
        attachedInput_ = session->Input;
    }
    DeliverFileOpen(*session);
    StartThreads();
    return true;
}

void TCustomPlayer::DeliverFileOpen(const PlaybackSession& session) {
    {
        std::lock_guard snapshot(snapshotMutex_);
        snapshotConverter_.Reset();
    }
    {
        std::lock_guard hook(hookMutex_);
        hookConverter_.Reset();
    }
    const int64_t duration = session.ImageSequence   ? 0
                             : session.Duration >= 0 ? session.Duration
                                                     : AV_NOPTS_VALUE;
    int frameWidth = -1, frameHeight = -1;
    if (session.VideoCodec && session.VideoCodec->width > 0)
        std::tie(frameWidth, frameHeight) = UprightVideoSize(session);
    Deliver([&] { DoFileOpen(duration, frameWidth, frameHeight); });
    if (window_ && hostWindow_ && (screenWidth_ == 0 || screenHeight_ == 0)) {
        int width = 0, height = 0;
        SDL_GetWindowSize(hostWindow_, &width, &height);
        screenWidth_ = width;
        screenHeight_ = height;
    }
}

void TCustomPlayer::DoFileOpen(int64_t duration, int frameWidth, int frameHeight) {
    if (!OnFileOpen_)
        return;
    int screenWidth = screenWidth_, screenHeight = screenHeight_;
    OnFileOpen_(*this, duration, frameWidth, frameHeight, screenWidth, screenHeight);
    screenWidth_ = screenWidth;
    screenHeight_ = screenHeight;
}

void TCustomPlayer::Deliver(const std::function<void()>& call) {
    if (triggerInMainThread_)
        CallInMainThread(call);
    else
        call();
}

void TCustomPlayer::StartThreads() {
    eventThreadDone_ = false;
    eventThread_ = std::thread([this] { RunEventThread(); });
    playThreadFinished_.Reset();
    SDL_Window* hostWindow = hostWindow_;
    hostWindow_ = nullptr;
    playThread_ = std::thread([this, hostWindow] { RunPlayThread(hostWindow); });
}

void TCustomPlayer::JoinThreads() {
    WaitPlayThreadFinished(std::chrono::hours(24));
    if (playThread_.joinable())
        playThread_.join();
    while (!eventThreadDone_) {
        if (IsMainThread())
            ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (eventThread_.joinable())
        eventThread_.join();
}

bool TCustomPlayer::WaitPlayThreadFinished(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!playThreadFinished_.WaitFor(std::chrono::milliseconds(100))) {
        if (IsMainThread())
            ProcessMessages();
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
    }
    return true;
}

void TCustomPlayer::Close(bool wait) {
    if (std::shared_ptr<PlaybackSession> session = Session()) {
        if (session->Paused) {
            TogglePause(*session);
            step_ = false;
        }
        PushPlayerEvent(PlayerEvents().Quit);
        if (wait)
            WaitForPlayThread();
    }
    if (wait) {
        // The play thread shuts SDL down itself; it must be gone before SDL is shut down here.
        WaitPlayThreadFinished(std::chrono::hours(24));
        if (playThread_.joinable())
            playThread_.join();
        SDL_Quit();
    }
}

void TCustomPlayer::WaitForPlayThread() {
    for (int count = 1;;) {
        if (playThreadFinished_.WaitFor(std::chrono::milliseconds(100)))
            return;
        if (IsMainThread())
            ProcessMessages();
        if (!Session())
            return;
        if (!playerLock_.try_lock_for(std::chrono::milliseconds(100)))
            continue;
        ++count;
        std::shared_ptr<PlaybackSession> session = Session();
        if ((count > 10 && session && session->ReadingInProgress) || count > 20) {
            CloseSessionLocked();
            playerLock_.unlock();
            return;
        }
        PushPlayerEvent(PlayerEvents().Quit);
        playerLock_.unlock();
    }
}

void TCustomPlayer::CloseSessionLocked() {
    std::shared_ptr<PlaybackSession> session;
    {
        std::lock_guard lock(sessionMutex_);
        session.swap(session_);
    }
    if (!session)
        return;
    CloseSession(session);
    ResetOpenState();
}

void TCustomPlayer::DetachProbe(AVFormatContext* input) {
    std::lock_guard lock(probeMutex_);
    if (!input || attachedInput_ != input)
        return;
    probe_.Attach(nullptr);
    attachedInput_ = nullptr;
}

void TCustomPlayer::Pause() {
    std::shared_ptr<PlaybackSession> session = Session();
    if (!session || session->Paused)
        return;
    TogglePause(*session);
    step_ = false;
    PostState(psPause);
}

void TCustomPlayer::Resume() {
    std::shared_ptr<PlaybackSession> session = Session();
    if (!session || !session->Paused)
        return;
    TogglePause(*session);
    step_ = false;
    PostState(psResume);
}

void TCustomPlayer::StepFrame() {
    std::shared_ptr<PlaybackSession> session = Session();
    if (!session)
        return;
    if (session->Paused)
        TogglePause(*session);
    if (!step_.exchange(true))
        PostState(psStep);
}

void TCustomPlayer::Seek(int64_t position, uint8_t flags, bool wait) {
    std::shared_ptr<PlaybackSession> session = Session();
    if (!session)
        return;
    flags &= 0x0F;
    if (flags & AVSEEK_FLAG_BYTE) {
        RequestSeek(*session, position, 0, flags, wait);
        return;
    }
    int64_t target = session->Duration >= 0 && session->Duration < position ? session->Duration : position;
    target += session->StartTime;
    RequestSeek(*session, target, position <= 0 ? 1 : 0, flags, wait);
}

TBitmap& TCustomPlayer::CurrentFrame() {
    int64_t pts;
    return CurrentFrame(pts);
}

TBitmap& TCustomPlayer::CurrentFrame(int64_t& pts) {
    std::lock_guard lock(snapshotMutex_);
    TBitmap& bitmap = snapshotConverter_.Bitmap();
    pts = -1;
    std::shared_ptr<PlaybackSession> session = Session();
    if (!session || !session->HasVideo) {
        bitmap.SetSize(0, 0);
        return bitmap;
    }
    FramePtr picture;
    double shownPts;
    {
        std::lock_guard shown(session->ShownMutex);
        if (session->ShownPicture)
            picture.reset(av_frame_clone(session->ShownPicture.get()));
        shownPts = session->ShownPts;
    }
    const auto [width, height] = UprightVideoSize(*session);
    bitmap.SetSize(width, height);
    bitmap.Clear();
    pts = std::llround(shownPts * 1000000.0) - session->StartTime;
    if (picture && !snapshotConverter_.ToBitmap(picture.get()))
        bitmap.SetSize(0, 0);
    return bitmap;
}

bool TCustomPlayer::IsPaused() const {
    std::shared_ptr<PlaybackSession> session = Session();
    return !session || session->Paused;
}

void TCustomPlayer::SetAspectRatio(float value) {
    if (aspectRatio_ == value)
        return;
    aspectRatio_ = value;
    if (Session())
        PushPlayerEvent(PlayerEvents().ResetDisplay);
}

bool TCustomPlayer::CaptureDisplay(TBitmap& bitmap) {
    if (!Session())
        return false;
    {
        std::lock_guard lock(captureMutex_);
        captureTarget_ = &bitmap;
        captureResult_ = false;
        captureDone_.Reset();
    }
    PushPlayerEvent(PlayerEvents().Capture);
    const bool done = captureDone_.WaitFor(std::chrono::seconds(5));
    std::lock_guard lock(captureMutex_);
    captureTarget_ = nullptr;
    return done && captureResult_;
}

bool TCustomPlayer::ClockDifference(double& seconds) {
    std::shared_ptr<PlaybackSession> session = Session();
    if (!session || !session->HasAudio || !session->HasVideo)
        return false;
    seconds = VideoClock(*session) - AudioClock(*session);
    return true;
}

void TCustomPlayer::PostState(TPlayState state) {
    lastState_ = state;
    bool handled;
    {
        std::lock_guard lock(handlersMutex_);
        handled = static_cast<bool>(OnState_);
    }
    if (handled)
        ring_.Push({PlayerEvent::StateEvent, state, 0});
    else if (state == psStop)
        ring_.Push({PlayerEvent::StopEvent, state, 0});
}

void TCustomPlayer::PostPosition(int64_t pts) {
    bool handled;
    {
        std::lock_guard lock(handlersMutex_);
        handled = static_cast<bool>(OnPosition_);
    }
    if (handled)
        ring_.Push({PlayerEvent::PositionEvent, psPlay, pts});
}

void TCustomPlayer::RunHook(AVFrame* picture, int64_t pts) {
    if (!hook_)
        return;
    THookEvent handler;
    {
        std::lock_guard lock(handlersMutex_);
        handler = OnHook_;
    }
    if (!handler)
        return;
    std::lock_guard lock(hookMutex_);
    if (av_frame_make_writable(picture) < 0)
        return;
    if (!hookConverter_.ToBitmap(picture)) {
        Logger().Log(this, llError, "Cannot initialize the toRGB conversion context");
        return;
    }
    TBitmap& bitmap = hookConverter_.Bitmap();
    try {
        std::lock_guard canvas(bitmap.CanvasLock());
        handler(*this, bitmap, pts);
    } catch (const std::exception& e) {
        Logger().Log(this, llError, std::string("Error occurs OnHook: ") + e.what());
        return;
    }
    if (!hookConverter_.FromBitmap(bitmap, picture))
        Logger().Log(this, llError, "Cannot initialize the fromRGB conversion context");
}

} // namespace tarnel
