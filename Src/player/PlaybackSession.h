// One playback session: the file a player has open, its reading, decoding and refresh threads,
// packet queues, picture and subtitle queues, clocks and audio state. Created by the player's Open
// and freed after CloseSession. Fields say which thread writes them and what guards them; the
// flags and clocks that several threads read are atomics.
#pragma once

#include "base/LibHandles.h"
#include "base/ManualResetEvent.h"
#include "player/PacketQueue.h"

#include <SDL.h>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarnel {

class TCustomPlayer;
class PlayerDisplay;

// One decoded picture waiting to be shown: a planar 4:2:0 picture of even size.
struct PictureSlot {
    double Pts = 0;        // seconds
    double TargetTime = 0; // wall clock (seconds) when it is due; guarded by PictureMutex
    int64_t Position = -1; // byte position of its packet
    FramePtr Picture;      // the picture reference; written by the video thread while not queued
    int Width = 0;         // the overlay's size (even); set when the overlay is allocated
    int Height = 0;
    bool Allocated = false; // guarded by PictureMutex; set by the play thread
    bool Fresh = false;     // a new picture not yet uploaded to the overlay; guarded by PictureMutex
    int Generation = 0;     // flush markers taken by the video thread before it; guarded by PictureMutex
};

// One decoded bitmap subtitle, its palette already in YUVA.
struct SubtitleSlot {
    double Pts = 0; // seconds
    AVSubtitle Subtitle{};
    bool Valid = false;
};

constexpr int kPictureSlots = 2;
constexpr int kSubtitleSlots = 4;
constexpr int kSampleRingSize = 131072;
constexpr int kAudioBufferSize = 288000;

struct PlaybackSession {
    explicit PlaybackSession(TCustomPlayer& owner, std::string name)
        : Player(owner)
        , FileName(std::move(name)) {}
    PlaybackSession(const PlaybackSession&) = delete;
    PlaybackSession& operator=(const PlaybackSession&) = delete;
    ~PlaybackSession();

    TCustomPlayer& Player;
    const std::string FileName;

    std::thread ReadThread;
    std::thread RefreshThread;
    std::thread VideoThread;
    std::thread SubtitleThread;
    ManualResetEvent ReaderFinished{false};

    std::atomic<bool> AbortRequest{false};
    std::atomic<bool> Paused{false};
    bool LastPaused = false;               // reading thread only
    std::atomic<int> PauseResultShared{0}; // the demuxer's answer to the last pause

    // A pending seek: the fields are written before SeekRequest is set and read after it is seen.
    std::atomic<bool> SeekRequest{false};
    std::atomic<int> SeekFlags{0};
    std::atomic<int64_t> SeekTarget{0};
    std::atomic<int64_t> SeekRelative{0};

    // Opened and closed by the reading thread; other threads use it only between OpenState 1 and
    // the reader's end.
    AVFormatContext* Input = nullptr;
    std::mutex StreamsMutex; // serialises closing the streams (reader's end or a forced close)
    // Set once the player no longer waits for the reader; the reader then leaves the player alone.
    std::mutex DetachMutex;
    bool Detached = false; // guarded by DetachMutex

    int AudioStreamIndex = -1;
    int VideoStreamIndex = -1;
    int SubtitleStreamIndex = -1;
    AVStream* AudioStream = nullptr;
    AVStream* VideoStream = nullptr;
    AVStream* SubtitleStream = nullptr;
    // The clockwise quarter turn (0, 90, 180, 270) that shows the video upright, from its display
    // matrix; set by the reader before the video thread starts.
    int VideoTurn = 0;
    CodecContextPtr AudioCodec;
    CodecContextPtr VideoCodec;
    CodecContextPtr SubtitleCodec;
    std::atomic<bool> HasAudio{false};
    std::atomic<bool> HasVideo{false};
    std::atomic<bool> HasSubtitles{false};

    PacketQueue AudioQueue;
    PacketQueue VideoQueue;
    PacketQueue SubtitleQueue;

    int64_t StartTime = 0;      // microseconds
    int64_t Duration = -1;      // microseconds
    int64_t AudioDuration = -1; // microseconds
    bool ImageSequence = false;
    bool CaptureDevice = false;
    bool ReadErrorReported = false; // reading thread

    std::atomic<bool> EndOfInput{false};
    std::atomic<bool> ReadingInProgress{false};
    // Set by the reader when it carries out a seek requested while paused (SeekPaused): the video
    // thread then decodes the one picture after the seek.
    std::atomic<bool> PausedAtSeek{false};
    std::atomic<bool> SeekPaused{false};
    // Flush markers put into the video queue by the reader, and taken out by the video thread.
    // Pictures decoded while they differ come from before the latest seek: they neither end the
    // seek nor tell a waiting Seek that its picture is there.
    std::mutex SeekMutex;
    int VideoFlushesQueued = 0; // guarded by SeekMutex
    int VideoFlushesSeen = 0;   // guarded by SeekMutex
    std::atomic<bool> AfterSeek{false};
    // Whether the video thread has taken the latest flush marker (both counts equal); written
    // under SeekMutex together with the counts.
    std::atomic<bool> FlushSeen{false};
    std::atomic<bool> EndReported{false};
    std::atomic<int> OpenState{0};
    std::string OpenError; // the reader's failure text, written before OpenState becomes -1

    // Playback starts when the play thread shows the first picture (or, without video, at its first
    // refresh): until then the audio callback plays silence and leaves the audio queue alone, so the
    // master clock does not run on while the host finishes opening and the renderer is made.
    // Written by the play thread.
    std::atomic<bool> Started{false};
    double FirstPictureWaitBegin = 0; // play thread: when it began to wait for the first picture

    // Video timing (seconds).
    std::atomic<double> FrameTimer{0};
    double LastFramePts = 0;   // video thread
    double LastFrameDelay = 0; // video thread
    std::atomic<double> VideoClockPredicted{0};
    std::atomic<double> VideoTime{0};
    std::atomic<double> VideoDrift{0}; // 0 until the first picture is shown
    std::atomic<double> PausedAt{0};   // when the session was last paused
    std::atomic<int64_t> VideoPosition{-1};
    std::atomic<float> SkipFrames{1};
    float SkipIndex = 0;                                                            // video thread
    int64_t FaultyPts = 0, FaultyDts = 0, LastPts = INT64_MIN, LastDts = INT64_MIN; // video thread
    std::atomic<bool> RefreshPending{false};
    // The size of the pictures the video thread delivers (even), 0 before the first one.
    std::atomic<int> PictureWidth{0};
    std::atomic<int> PictureHeight{0};

    // Picture queue. The video thread writes the slot at WriteIndex while it is not queued; the
    // play thread shows the slot at ReadIndex.
    std::mutex PictureMutex;
    std::condition_variable PictureCond;
    std::array<PictureSlot, kPictureSlots> Pictures;
    int PictureCount = 0; // guarded by PictureMutex
    int PictureRead = 0;  // play thread
    int PictureWrite = 0; // video thread
    int LastShown = -1;   // play thread: the slot whose picture is on screen
    // The picture on screen and its pts, kept for snapshots.
    std::mutex ShownMutex;
    FramePtr ShownPicture;   // guarded by ShownMutex
    double ShownPts = 0;     // guarded by ShownMutex
    int ShownGeneration = 0; // guarded by ShownMutex

    // Subtitle queue, guarded by SubtitleMutex.
    std::mutex SubtitleMutex;
    std::condition_variable SubtitleCond;
    std::array<SubtitleSlot, kSubtitleSlots> Subtitles;
    int SubtitleCount = 0;
    int SubtitleRead = 0;
    int SubtitleWrite = 0;
    bool SubtitleStreamChanged = false;

    // 1: the waveform of the sound is shown instead of pictures.
    std::atomic<int> ShowAudio{0};

    // Audio (the audio callback's thread writes; the play thread reads the clock and the ring).
    // AudioMutex guards the decoding state below; the callback holds it for each block, so the
    // hand-over from the reading thread is visible to thread checkers too.
    std::mutex AudioMutex;
    SDL_AudioDeviceID AudioDevice = 0;
    std::atomic<int> AudioSampleRate{0};
    std::atomic<int> AudioChannels{0};
    std::vector<uint8_t> AudioBuffer; // converted 16-bit samples of the chunk being played
    std::atomic<int> AudioBufferSize{0};
    std::atomic<int> AudioBufferIndex{0};
    std::atomic<double> AudioClock{0};
    std::atomic<int64_t> CallbackTime{0}; // microseconds; 0 before the first callback
    PacketPtr AudioPacket;                // the packet being decoded
    bool AudioPacketPending = false;
    FramePtr AudioFrame;
    SwrContextPtr AudioConverter;
    int ConverterFormat = -1;
    int ConverterRate = 0;
    AVChannelLayout ConverterLayout{};

    std::mutex SampleRingMutex;
    std::vector<int16_t> SampleRing = std::vector<int16_t>(kSampleRingSize); // guarded by SampleRingMutex
    int SampleWriteIndex = 0;                                                // guarded by SampleRingMutex
    int LastWaveStart = 0;                                                   // play thread
};

// The reading side (PlayerReader.cpp).
// Starts the reading thread and waits until the input is open or failed (pumping main-thread calls
// on the main thread). On failure returns null with the reason in `error`.
std::shared_ptr<PlaybackSession> OpenSession(TCustomPlayer& player, const std::string& fileName,
                                             std::string& error);
// Stops the session's threads and frees its pictures; the reading thread is left to finish on its
// own when it hangs inside a read.
void CloseSession(const std::shared_ptr<PlaybackSession>& session);
void RequestSeek(PlaybackSession& session, int64_t target, int64_t relative, int flags, bool wait);
void TogglePause(PlaybackSession& session);

// The video side (PlayerVideo.cpp).
void RunVideoThread(PlaybackSession& session);
// Video clock (seconds) as shown: the last shown picture's pts advanced by the wall clock.
double VideoClock(const PlaybackSession& session);
double MasterClock(const PlaybackSession& session);
// The wall clock in seconds.
double Now();

// The audio side (PlayerAudio.cpp).
bool OpenAudioDevice(PlaybackSession& session);
void CloseAudioDevice(PlaybackSession& session);
// Audio clock (seconds): the time of the sample being played.
double AudioClock(const PlaybackSession& session);
// Fills `stream` with `length` bytes of mixed output (the SDL audio callback's body).
void FillAudioBlock(PlaybackSession& session, uint8_t* stream, int length);

// The subtitle side (PlayerSubtitles.cpp).
void RunSubtitleThread(PlaybackSession& session);
// Drops subtitles that have ended at video time `videoTime` (or all of them after a stream change).
void ExpireSubtitles(PlaybackSession& session, double videoTime);
// Blends the first queued subtitle into `picture` (planar 4:2:0, writable) when it has started by
// `pts`. True when something was drawn.
bool BlendSubtitles(PlaybackSession& session, AVFrame* picture, double pts);
void FreeSubtitles(PlaybackSession& session);

// The refresh side (PlayerRefresh.cpp), run by the play thread and the refresh thread.
void RunRefreshThread(PlaybackSession& session);
enum class RefreshMode { Timer, Redraw };
void Refresh(PlaybackSession& session, PlayerDisplay& display, RefreshMode mode);
void Display(PlaybackSession& session, PlayerDisplay& display);
// Sets the video mode when there is none or, with `force`, always.
void OpenVideoMode(PlaybackSession& session, PlayerDisplay& display, bool force);
// Draws the waveform of the sound played last (PlayerWaveform.cpp).
void DrawWaveform(PlaybackSession& session, PlayerDisplay& display);
// Allocates the overlay of the slot at the write index (the play thread's answer to the video
// thread's request).
void AllocatePicture(PlaybackSession& session, PlayerDisplay& display);
// Posts the position and the end of the media to the player.
void UpdatePosition(PlaybackSession& session);

} // namespace tarnel
