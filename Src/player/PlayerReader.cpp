// The reading side of a playback session: opening the input and its streams, the reading loop
// with its queue limits, end of input and read errors, the seek and pause protocol, and closing.
#include "base/FFUtils.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "base/MainThread.h"
#include "base/PictureRotation.h"
#include "base/UnicodeProtocol.h"
#include "player/FFPlayer.h"
#include "player/PlaybackSession.h"

#include <chrono>
#include <cstring>
#include <limits>

extern "C" {
#include <libavutil/time.h>
}

namespace tarnel {

namespace {

constexpr int64_t kMaxQueuedBytes = 15 * 1024 * 1024;
constexpr int64_t kMinAudioQueueBytes = 20 * 16 * 1024;
constexpr int kMinFrames = 5;
constexpr auto kStep = std::chrono::milliseconds(10);

void Sleep(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

// Waits for `event` in 100 ms steps, keeping main-thread calls flowing when on the main thread.
void WaitPumping(ManualResetEvent& event) {
    while (!event.WaitFor(std::chrono::milliseconds(100))) {
        if (IsMainThread())
            ProcessMessages();
    }
}

// After a waiting seek, waits for the play thread to put the seek's first picture on screen, so that
// CurrentFrame right after the seek gives that picture. The picture-queued event alone does not say
// so: the reader also sets it when it reaches the end of the input. Bounded, because a picture may
// never come (the seek lands after the last one) or never be shown (no display yet, or closing).
void WaitUntilShown(PlaybackSession& session) {
    int generation;
    {
        std::lock_guard lock(session.SeekMutex);
        generation = session.VideoFlushesQueued;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    for (;;) {
        {
            std::lock_guard lock(session.ShownMutex);
            if (session.ShownGeneration >= generation)
                return;
        }
        if (session.EndOfInput || session.AbortRequest || std::chrono::steady_clock::now() >= deadline)
            return;
        if (IsMainThread())
            ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

int InterruptCallback(void* opaque) {
    return static_cast<PlaybackSession*>(opaque)->AbortRequest.load() ? 1 : 0;
}

void Log(PlaybackSession& session, TLogLevel level, const std::string& text) {
    Logger().Log(&session.Player, level, text);
}

// Fixed decoder settings of the player.
void ApplyDecoderSettings(AVCodecContext* codec) {
    codec->debug = 0;
    codec->workaround_bugs = FF_BUG_AUTODETECT;
    codec->lowres = 0;
    codec->idct_algo = FF_IDCT_AUTO;
    codec->skip_frame = AVDISCARD_DEFAULT;
    codec->skip_idct = AVDISCARD_DEFAULT;
    codec->skip_loop_filter = AVDISCARD_DEFAULT;
    codec->err_recognition = AV_EF_CAREFUL;
    codec->error_concealment = FF_EC_GUESS_MVS | FF_EC_DEBLOCK;
    codec->thread_count = 1;
}

CodecContextPtr OpenDecoder(AVStream* stream) {
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!decoder)
        return nullptr;
    CodecContextPtr codec(avcodec_alloc_context3(decoder));
    if (!codec || avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0)
        return nullptr;
    codec->pkt_timebase = stream->time_base;
    ApplyDecoderSettings(codec.get());
    std::lock_guard lock(CodecLock());
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0)
        return nullptr;
    return codec;
}

void CloseDecoder(CodecContextPtr& codec) {
    std::lock_guard lock(CodecLock());
    codec.reset();
}

// Starts the video queue afresh with a flush marker, counted so that the video thread can tell
// pictures from before it; a waiting Seek waits for a picture from after it.
void PutVideoFlushMarker(PlaybackSession& session) {
    std::lock_guard lock(session.SeekMutex);
    ++session.VideoFlushesQueued;
    session.FlushSeen = false;
    session.VideoQueue.Flush();
    session.VideoQueue.PutFlushMarker();
    session.Player.PictureQueued().Reset();
}

// The quarter turn that shows the stream upright. Other angles are not applied: the picture is
// shown as stored, and the log says so.
int VideoTurnOf(PlaybackSession& session, const AVStream* stream) {
    bool rightAngle = true;
    double angle = 0;
    const int turn = UprightTurn(stream, &rightAngle, &angle);
    if (!rightAngle)
        Log(session, llWarning,
            Format("%s: the video asks to be turned by %.1f degrees, which is not a quarter turn; it is "
                   "shown as stored",
                   session.FileName.c_str(), angle));
    return turn;
}

bool OpenStream(PlaybackSession& session, int index) {
    AVFormatContext* input = session.Input;
    if (index < 0 || index >= static_cast<int>(input->nb_streams))
        return false;
    AVStream* stream = input->streams[index];
    CodecContextPtr codec = OpenDecoder(stream);
    if (!codec) {
        Log(session, llError, "avcodec_open() failed.");
        return false;
    }
    const AVMediaType type = codec->codec_type;
    if (type == AVMEDIA_TYPE_AUDIO) {
        {
            std::lock_guard lock(session.AudioMutex);
            session.AudioCodec = std::move(codec);
            session.AudioStream = stream;
            session.AudioStreamIndex = index;
        }
        if (!OpenAudioDevice(session)) {
            Log(session, llError, std::string("SDL_OpenAudio() failed: ") + SDL_GetError());
            CloseDecoder(session.AudioCodec);
            session.AudioStream = nullptr;
            session.AudioStreamIndex = -1;
            return false;
        }
    }
    stream->discard = AVDISCARD_DEFAULT;
    switch (type) {
    case AVMEDIA_TYPE_AUDIO: {
        std::unique_lock lock(session.AudioMutex);
        session.AudioDuration = StreamTimeToMicroseconds(stream->duration, stream->time_base);
        session.AudioBufferSize = 0;
        session.AudioBufferIndex = 0;
        session.AudioPacketPending = false;
        session.AudioQueue.Reset();
        session.AudioQueue.PutFlushMarker();
        session.HasAudio = true;
        lock.unlock();
        SDL_PauseAudioDevice(session.AudioDevice, 0);
        break;
    }
    case AVMEDIA_TYPE_VIDEO:
        session.VideoCodec = std::move(codec);
        session.VideoStream = stream;
        session.VideoStreamIndex = index;
        session.VideoTurn = VideoTurnOf(session, stream);
        session.VideoQueue.Reset();
        PutVideoFlushMarker(session);
        session.HasVideo = true;
        session.VideoThread = std::thread([&session] { RunVideoThread(session); });
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        session.SubtitleCodec = std::move(codec);
        session.SubtitleStream = stream;
        session.SubtitleStreamIndex = index;
        session.SubtitleQueue.Reset();
        session.SubtitleQueue.PutFlushMarker();
        session.HasSubtitles = true;
        session.SubtitleThread = std::thread([&session] { RunSubtitleThread(session); });
        break;
    default:
        break;
    }
    return true;
}

void CloseAudioStream(PlaybackSession& session) {
    if (session.AudioStreamIndex < 0)
        return;
    session.AudioQueue.Abort();
    CloseAudioDevice(session);
    session.HasAudio = false;
    session.AudioQueue.Flush();
    session.AudioStream->discard = AVDISCARD_ALL;
    CloseDecoder(session.AudioCodec);
    session.AudioStreamIndex = -1;
    session.AudioStream = nullptr;
    session.AudioDuration = -1;
}

void CloseVideoStream(PlaybackSession& session) {
    if (session.VideoStreamIndex < 0)
        return;
    session.VideoQueue.Abort();
    {
        std::lock_guard lock(session.PictureMutex);
        session.PictureCond.notify_all();
    }
    if (session.VideoThread.joinable())
        session.VideoThread.join();
    session.VideoQueue.Flush();
    session.VideoStream->discard = AVDISCARD_ALL;
    CloseDecoder(session.VideoCodec);
    session.VideoStreamIndex = -1;
    session.VideoStream = nullptr;
}

void CloseSubtitleStream(PlaybackSession& session) {
    if (session.SubtitleStreamIndex < 0)
        return;
    session.SubtitleQueue.Abort();
    {
        std::lock_guard lock(session.SubtitleMutex);
        session.SubtitleStreamChanged = true;
        session.SubtitleCond.notify_all();
    }
    if (session.SubtitleThread.joinable())
        session.SubtitleThread.join();
    session.SubtitleQueue.Flush();
    session.SubtitleStream->discard = AVDISCARD_ALL;
    CloseDecoder(session.SubtitleCodec);
    session.SubtitleStreamIndex = -1;
    session.SubtitleStream = nullptr;
}

// Closing is done once, by the reader's end or by a forced close, whichever comes first.
void CloseStreams(PlaybackSession& session) {
    std::lock_guard lock(session.StreamsMutex);
    CloseAudioStream(session);
    CloseVideoStream(session);
    CloseSubtitleStream(session);
}

bool IsNamed(const AVInputFormat* format, const char* name) {
    return format && format->name && std::strcmp(format->name, name) == 0;
}

int ChooseStream(PlaybackSession& session, AVMediaType type) {
    const int index = av_find_best_stream(session.Input, type, -1, -1, nullptr, 0);
    return index >= 0 ? index : -1;
}

// Opens the input and its streams; false with OpenError set.
bool OpenInput(PlaybackSession& session) {
    TCustomPlayer& player = session.Player;
    AVDictionary* options = nullptr;
    if (player.FrameWidth() > 0 && player.FrameHeight() > 0)
        av_dict_set(&options, "video_size",
                    Format("%dx%d", player.FrameWidth(), player.FrameHeight()).c_str(), 0);
    av_dict_set(&options, "framerate", "25", 0);
    const AVIOInterruptCB interrupt{&InterruptCallback, &session};
    AVFormatContext* input = nullptr;
    const int opened = OpenInputContext(&input, session.FileName, nullptr, &options, &interrupt);
    av_dict_free(&options);
    if (opened < 0) {
        session.OpenError = ErrorText(session.FileName, opened);
        return false;
    }
    session.Input = input;
    if (avformat_find_stream_info(input, nullptr) < 0) {
        session.OpenError = Format("%s: could not find codec parameters", session.FileName.c_str());
        return false;
    }
    if (input->pb)
        input->pb->eof_reached = 0;
    session.ImageSequence = IsNamed(input->iformat, "image2");
    session.CaptureDevice = IsNamed(input->iformat, "vfwcap") || IsNamed(input->iformat, "vfwcapture");
    if (input->start_time != AV_NOPTS_VALUE)
        session.StartTime = input->start_time;
    session.Duration = input->duration != AV_NOPTS_VALUE ? input->duration : -1;

    for (unsigned i = 0; i < input->nb_streams; ++i)
        input->streams[i]->discard = AVDISCARD_ALL;
    const int audio = player.DisableAudio() ? -1 : ChooseStream(session, AVMEDIA_TYPE_AUDIO);
    const int video = player.DisableVideo() ? -1 : ChooseStream(session, AVMEDIA_TYPE_VIDEO);
    const int subtitle = player.DisableVideo() ? -1 : ChooseStream(session, AVMEDIA_TYPE_SUBTITLE);
    if (audio >= 0)
        OpenStream(session, audio);
    if (video >= 0)
        OpenStream(session, video);
    if (session.VideoStreamIndex < 0 && !player.DisableDisplay())
        session.ShowAudio = 1;
    if (subtitle >= 0)
        OpenStream(session, subtitle);
    if (session.AudioStreamIndex < 0 && session.VideoStreamIndex < 0) {
        session.OpenError = Format("%s: could not open codecs, no stream to play.", session.FileName.c_str());
        return false;
    }
    return true;
}

void ApplyPauseChange(PlaybackSession& session) {
    const bool paused = session.Paused;
    if (paused == session.LastPaused)
        return;
    session.LastPaused = paused;
    if (paused)
        session.PauseResultShared = av_read_pause(session.Input);
    else
        av_read_play(session.Input);
}

int SeekInput(PlaybackSession& session) {
    const int64_t target = session.SeekTarget;
    const int64_t relative = session.SeekRelative;
    const int flags = session.SeekFlags;
    const int64_t minimum = relative > 0 ? target - relative + 2 : std::numeric_limits<int64_t>::min();
    const int64_t maximum = relative < 0 ? target - relative - 2 : std::numeric_limits<int64_t>::max();
    int result = avformat_seek_file(session.Input, -1, minimum, target, maximum, flags);
    if (result < 0)
        result = av_seek_frame(session.Input, -1, target, flags);
    if (result < 0)
        result = av_seek_frame(session.Input, -1, target, flags ^ AVSEEK_FLAG_BACKWARD);
    return result;
}

void CarryOutSeek(PlaybackSession& session, bool& endOfFile) {
    if (SeekInput(session) < 0) {
        Log(session, llError, Format("%s: error while seeking", session.FileName.c_str()));
        if (session.VideoStreamIndex >= 0)
            session.Player.PictureQueued().Set();
    } else {
        if (session.AudioStreamIndex >= 0) {
            session.AudioQueue.Flush();
            session.AudioQueue.PutFlushMarker();
        }
        if (session.SubtitleStreamIndex >= 0) {
            session.SubtitleQueue.Flush();
            // Queued subtitles from before the seek would hold back the ones after it.
            FreeSubtitles(session);
            session.SubtitleQueue.PutFlushMarker();
        }
        if (session.VideoStreamIndex >= 0)
            PutVideoFlushMarker(session);
    }
    session.PausedAtSeek = session.SeekPaused.load();
    session.ReadErrorReported = false;
    session.EndOfInput = false;
    session.SeekRequest = false;
    session.AfterSeek = true;
    session.Player.SeekDone().Set();
    endOfFile = false;
}

bool QueuesWantData(PlaybackSession& session) {
    const int64_t total =
        session.AudioQueue.ByteSize() + session.VideoQueue.ByteSize() + session.SubtitleQueue.ByteSize();
    if (total > kMaxQueuedBytes)
        return false;
    return (session.AudioStreamIndex >= 0 && session.AudioQueue.ByteSize() <= kMinAudioQueueBytes) ||
           (session.VideoStreamIndex >= 0 && session.VideoQueue.PacketCount() <= kMinFrames) ||
           (session.SubtitleStreamIndex >= 0 && session.SubtitleQueue.PacketCount() <= kMinFrames);
}

void WaitAtEndOfInput(PlaybackSession& session) {
    if (session.VideoStreamIndex >= 0) {
        session.VideoQueue.PutEndOfInput(session.VideoStreamIndex);
        session.Player.PictureQueued().Set();
    }
    Sleep(kStep);
    if (session.AudioQueue.ByteSize() + session.VideoQueue.ByteSize() + session.SubtitleQueue.ByteSize() == 0)
        session.EndOfInput = true;
}

void QueuePacket(PlaybackSession& session, AVPacket* packet) {
    if (packet->stream_index == session.AudioStreamIndex)
        session.AudioQueue.Put(packet);
    else if (packet->stream_index == session.VideoStreamIndex)
        session.VideoQueue.Put(packet);
    else if (packet->stream_index == session.SubtitleStreamIndex)
        session.SubtitleQueue.Put(packet);
    av_packet_unref(packet);
}

// Handles a failed read; false when the input's I/O layer failed and reading must stop.
bool HandleReadError(PlaybackSession& session, int code, bool& endOfFile) {
    if (session.VideoStreamIndex >= 0)
        session.Player.PictureQueued().Set();
    if (!session.ImageSequence && !session.ReadErrorReported) {
        session.ReadErrorReported = true;
        if (code == AVERROR_EOF)
            Log(session, llInfo, Format("reach end of file: %s", session.FileName.c_str()));
        else
            Log(session, llError, Format("error #%d while reading file: %s", code, session.FileName.c_str()));
    }
    if (code == AVERROR_EOF)
        endOfFile = true;
    if (session.Input->pb && session.Input->pb->error)
        return false;
    Sleep(std::chrono::milliseconds(100));
    return true;
}

void ReadLoop(PlaybackSession& session) {
    PacketPtr packet = MakePacket();
    bool endOfFile = false;
    while (!session.AbortRequest) {
        ApplyPauseChange(session);
        if (session.SeekRequest)
            CarryOutSeek(session, endOfFile);
        if (!QueuesWantData(session)) {
            Sleep(kStep);
            continue;
        }
        if (endOfFile || (session.Input->pb && avio_feof(session.Input->pb))) {
            WaitAtEndOfInput(session);
            continue;
        }
        session.ReadingInProgress = true;
        const int result = av_read_frame(session.Input, packet.get());
        session.ReadingInProgress = false;
        if (session.AbortRequest) {
            av_packet_unref(packet.get());
            break;
        }
        if (result == AVERROR(EAGAIN)) {
            Sleep(kStep);
        } else if (result < 0) {
            if (!HandleReadError(session, result, endOfFile))
                break;
        } else {
            QueuePacket(session, packet.get());
        }
    }
    while (!session.AbortRequest)
        Sleep(std::chrono::milliseconds(100));
}

void RunReader(const std::shared_ptr<PlaybackSession>& session) {
    if (OpenInput(*session)) {
        session->OpenState = 1;
        ReadLoop(*session);
    } else {
        session->OpenState = -1;
    }
    CloseStreams(*session);
    {
        std::lock_guard lock(session->DetachMutex);
        if (!session->Detached)
            session->Player.DetachProbe(session->Input);
    }
    if (session->Input)
        avformat_close_input(&session->Input);
    if (session->OpenState == -1)
        session->OpenState = -2;
    session->ReaderFinished.Set();
}

// Waits for the reading thread like a waiting Close does: a reader that hangs inside a read is
// left behind after about a second (two at most); it ends on its own and frees what it opened.
void WaitForReader(PlaybackSession& session) {
    for (int attempt = 1;; ++attempt) {
        if (session.ReaderFinished.WaitFor(std::chrono::milliseconds(100))) {
            session.ReadThread.join();
            return;
        }
        if ((attempt > 10 && session.ReadingInProgress) || attempt > 20) {
            Log(session, llWarning,
                Format("%s: the reader does not return; closing without it", session.FileName.c_str()));
            session.ReadThread.detach();
            return;
        }
    }
}

} // namespace

PlaybackSession::~PlaybackSession() {
    FreeSubtitles(*this);
    if (ReadThread.joinable())
        ReadThread.detach();
}

std::shared_ptr<PlaybackSession> OpenSession(TCustomPlayer& player, const std::string& fileName,
                                             std::string& error) {
    auto session = std::make_shared<PlaybackSession>(player, fileName);
    try {
        session->ReadThread = std::thread([session] { RunReader(session); });
    } catch (const std::system_error&) {
        error = "SDL_CreateThread() failed.";
        return nullptr;
    }
    while (session->OpenState == 0) {
        Sleep(kStep);
        if (IsMainThread())
            ProcessMessages();
    }
    if (session->OpenState > 0) {
        session->RefreshThread = std::thread([s = session.get()] { RunRefreshThread(*s); });
        return session;
    }
    while (session->OpenState == -1) {
        Sleep(kStep);
        if (IsMainThread())
            ProcessMessages();
    }
    session->ReadThread.join();
    error = session->OpenError;
    return nullptr;
}

void CloseSession(const std::shared_ptr<PlaybackSession>& session) {
    session->AbortRequest = true;
    session->AudioQueue.Abort();
    session->VideoQueue.Abort();
    session->SubtitleQueue.Abort();
    if (session->ReadThread.joinable())
        WaitForReader(*session);
    CloseStreams(*session);
    {
        std::lock_guard lock(session->DetachMutex);
        session->Detached = true;
        session->Player.DetachProbe(session->Input);
    }
    if (session->RefreshThread.joinable())
        session->RefreshThread.join();
    std::lock_guard lock(session->PictureMutex);
    for (PictureSlot& slot : session->Pictures) {
        slot.Picture.reset();
        slot.Allocated = false;
    }
}

void RequestSeek(PlaybackSession& session, int64_t target, int64_t relative, int flags, bool wait) {
    if (session.SeekRequest)
        return;
    session.SeekPaused = session.Paused.load();
    session.SeekTarget = target;
    session.SeekRelative = relative;
    session.SeekFlags = flags & 0x0F;
    session.Player.SeekDone().Reset();
    session.SeekRequest = true;
    if (!wait)
        return;
    WaitPumping(session.Player.SeekDone());
    if (session.HasVideo) {
        WaitPumping(session.Player.PictureQueued());
        WaitUntilShown(session);
    }
}

void TogglePause(PlaybackSession& session) {
    ManualResetEvent& seekDone = session.Player.SeekDone();
    if (!seekDone.WaitFor(std::chrono::milliseconds(250)))
        seekDone.Set();
    if (session.Paused) {
        const double now = Now();
        // Before the first picture is shown the video clock is not set yet: the pictures' timer only
        // moves on by the time spent paused.
        if (session.VideoDrift == 0)
            session.FrameTimer = session.FrameTimer + now - session.PausedAt;
        else
            session.FrameTimer = session.FrameTimer + now + session.VideoDrift - session.VideoTime;
        if (session.PauseResultShared != AVERROR(ENOSYS))
            session.VideoTime = session.VideoDrift + now;
        session.VideoDrift = session.VideoTime - now;
        session.Paused = false;
        return;
    }
    if (session.HasVideo) {
        ManualResetEvent& queued = session.Player.PictureQueued();
        if (!queued.WaitFor(std::chrono::milliseconds(250)))
            queued.Set();
    }
    session.PausedAt = Now();
    session.Paused = true;
}

} // namespace tarnel
