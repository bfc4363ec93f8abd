// The engine's option state: what one command line of options describes for the next input file,
// output file or output stream. Each member's initializer is its default.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/rational.h>
}

namespace tarnel {

constexpr int kMaxFiles = 20;
constexpr int kMaxStreams = 20;
constexpr int64_t kUnlimitedTime = INT64_MAX;

// Media types indexing per-type tables (video, audio, data, subtitle).
constexpr int kMediaTypeCount = 4;

using TBsfChain = std::vector<std::string>; // bitstream-filter specifications, applied in order
using TMatrix = std::array<uint16_t, 64>;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using CFilePtr = std::unique_ptr<std::FILE, FileCloser>;

struct TOptionState {
    std::string LastAskedFormat;
    int32_t FrameWidth = 0;
    int32_t FrameHeight = 0;
    float FrameAspectRatio = 0.0f; // display aspect, width / height
    int32_t FramePixelFormat = -1;
    int32_t AudioSampleFormat = -1;
    int32_t CropTop = 0;
    int32_t CropBottom = 0;
    int32_t CropLeft = 0;
    int32_t CropRight = 0;
    std::array<int32_t, kMediaTypeCount> MaxFrames{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX};
    AVRational FrameRate{0, 0};
    float VideoQScale = 0.0f;
    std::optional<TMatrix> IntraMatrix;
    std::optional<TMatrix> InterMatrix;
    std::string RcOverride;
    bool VideoDisable = false;
    int32_t VideoDiscard = 0;
    std::string VideoCodecName;
    uint32_t VideoCodecTag = 0;
    std::string VideoLanguage;
    bool SameQuality = false;
    bool Deinterlace = false;
    int32_t TopFieldFirst = -1; // take from input
    int32_t MeThreshold = 0;
    int32_t IntraDcPrecision = 8;
    bool LoopInput = false;
    int32_t LoopOutput = -1; // no loop
    bool QpHistogram = false;
    std::string VideoFilters;
    bool FiltersGiven = false;
    bool IntraOnly = false;
    int32_t AudioSampleRate = 44100;
    int64_t ChannelLayout = 0;
    float AudioQScale = -99999.0f; // none
    bool AudioDisable = false;
    int32_t AudioChannels = 2;
    std::string AudioCodecName;
    uint32_t AudioCodecTag = 0;
    std::string AudioLanguage;
    std::string AudioFilters; // "af": the filter graph of the next audio stream created
    bool SubtitleDisable = false;
    std::string SubtitleCodecName;
    std::string SubtitleLanguage;
    uint32_t SubtitleCodecTag = 0;
    float MuxPreload = 0.5f;                // seconds
    float MuxMaxDelay = 0.7f;               // seconds
    int64_t RecordingTime = kUnlimitedTime; // µs
    int64_t StartTime = 0;                  // µs
    int64_t RecordingTimestamp = 0;         // s
    int64_t InputTsOffsetOption = 0;        // µs
    bool HexDump = false;
    bool PacketDump = false;
    bool Psnr = false;
    int32_t Pass = 0; // 1 or 2 when two-pass
    std::string PassLogPrefix;
    bool AudioStreamCopy = false;
    bool VideoStreamCopy = false;
    bool SubtitleStreamCopy = false;
    int32_t VideoSync = -1;
    int32_t AudioSync = 0;
    float AudioDriftThreshold = 0.1f; // seconds
    bool CopyTs = false;
    bool Shortest = false;
    int32_t VideoGlobalHeader = 0;
    std::string VstatsFileName;
    CFilePtr VstatsFile;
    int32_t ProgramId = 0;
    int32_t CopyInitialNonKeyframes = 0;
    bool RateEmulation = false;
    int32_t VideoChannel = 0;
    std::string VideoStandard;
    int32_t AudioVolume = 256; // unchanged
    bool ExitOnError = false;
    bool UsingVideoHook = false;
    int32_t Verbosity = 1;
    int32_t ThreadCount = 0; // decoder and encoder threads; 0 lets the libraries choose
    bool Pipeline = true;    // read and decode on a thread of their own ("pipeline")
    int64_t VideoSize = 0;   // bytes written, per kind (run counters)
    int64_t AudioSize = 0;
    int64_t ExtraSize = 0;
    int32_t FramesDuplicated = 0;
    int32_t FramesDropped = 0;
    bool DupDropPending = false; // a frame was duplicated or dropped since the last progress line
    bool InputSync = false;
    int64_t LimitFileSize = 0; // bytes, 0 = none
    bool ForceFps = false;
    bool AutoRotate = true; // turn pictures with a display matrix upright ("autorotate")
    bool PgmyuvHack = false;
    float DtsDeltaThreshold = 10.0f; // seconds
    int32_t ScalerFlags = 4;         // bicubic
    TBsfChain VideoBsfChain;         // pending for the next stream of that kind
    TBsfChain AudioBsfChain;
    TBsfChain SubtitleBsfChain;
};

} // namespace tarnel
