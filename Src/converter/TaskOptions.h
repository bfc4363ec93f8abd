// The option records through which the application describes a conversion task: one for the input,
// one per output. Every number starts as "not set" (-1, or the libraries' no-time value for times).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/avutil.h>
}

namespace tarnel {

struct TStreamInfo {
    double Timestamp = -1.0; // days since 30 December 1899, local time; 0 = now, negative = none
    int32_t Year = -1;
    int32_t Track = -1;
    std::string Title;
    std::string Author;
    std::string Copyright;
    std::string Comment;
    std::string Album;
    std::string Genre;
};

struct TInputOptions {
    std::string FileName;
    std::string ForceFormat;
    int64_t StartTime = AV_NOPTS_VALUE; // µs
    int32_t ProgramID = -1;
    std::string ExtOptions; // lines of name=value
};

struct TOutputOptions {
    std::string FileName;
    std::string ForceFormat;
    int32_t PacketSize = -1;
    int32_t MuxRate = -1;
    float MuxDelay = -1.0f;   // s
    float MuxPreload = -1.0f; // s
    std::string AudioCodec;
    std::string AudioPreset;
    bool DisableAudio = false;
    int32_t AudioVolume = -1;
    int32_t AudioChannels = -1;
    int32_t AudioSampleRate = -1;
    int32_t AudioBitrate = -1;
    int32_t AudioBitrateTolerance = -1;
    std::string AudioLanguage;
    int32_t AudioSync = 0;
    std::string AudioTag;
    std::string AudioFilters; // audio filter graph ("af", e.g. "volume=0.5"); empty: none
    std::string VideoCodec;
    std::string VideoPreset;
    bool DisableVideo = false;
    std::string FrameRate;
    std::string FrameSize;
    std::string FrameAspectRatio;
    int32_t CropTop = -1;
    int32_t CropBottom = -1;
    int32_t CropLeft = -1;
    int32_t CropRight = -1;
    int32_t GOPSize = -1;
    int32_t VideoBitrate = -1;
    int32_t VideoMaxRate = -1;
    int32_t VideoMinRate = -1;
    int32_t VideoBitrateTolerance = -1;
    int32_t VideoBufferSize = -1;
    int32_t VideoSync = -1;
    std::string VideoTag;
    std::string VideoFilters;
    std::string VideoLanguage;
    std::string SubtitleCodec;
    std::string SubtitlePreset;
    bool DisableSubtitle = false;
    std::string SubtitleLanguage;
    bool InputSync = false;
    bool CopyTimestamps = false;
    int64_t StartTime = AV_NOPTS_VALUE; // µs
    int64_t Duration = AV_NOPTS_VALUE;  // µs
    TStreamInfo Metadata;
    int32_t Target = 0;       // 1 vcd, 2 svcd, 3 dvd, 4 dv
    int32_t TVNorm = 0;       // 0 auto, 1 pal, 2 ntsc
    int32_t FallbackNorm = 1; // 1 pal, else ntsc
    bool CustomHook = false;
    bool Join = false;
    std::string ExtOptions;
    std::string PixelFormat;             // the encoder's pixel format ("yuv420p"); empty: the source's
    std::vector<std::string> StreamMaps; // "file:stream" per output stream, in the output's order
    bool CopyMetadata = false;           // the input's tags (title, artist …) go to the output
    double LoudnessTarget = 0;   // LUFS (-70 … -5): the sound is measured, then brought to it; 0: off
    bool MeasureQuality = false; // PSNR and SSIM of the finished output against the source
};

// The initialisers: every field back to "not set".
inline void InitInputOptions(TInputOptions& options) {
    options = TInputOptions{};
}
inline void InitOutputOptions(TOutputOptions& options) {
    options = TOutputOptions{};
}

using TOptionLine = std::pair<std::string, std::string>; // name (lower case), value

// The lines of an extra-option text: trimmed, line breaks (and the literal "<CRLF>") normalised,
// each split at its first "=" into a lower-case name and the rest as value.
std::vector<TOptionLine> ParseExtOptions(const std::string& text);

} // namespace tarnel
