// TAVProbe: what a media file contains (container, size, duration, tags, and per stream its kind,
// codec, times and picture or sound parameters), plus the multi-line information text.
//
// Ownership: Open opens the file itself and owns the context (Close and the destructor close it).
// Attach only refers to a context that someone else opened (the engine's input, the player's
// file): the probe never closes it and never changes it, so its opener must keep it open until
// the probe is closed, attached elsewhere or destroyed. A probe is used from one thread at a time.
#pragma once

#include "base/InputWatch.h"
#include "base/LibHandles.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace tarnel {

// Times are microseconds; -1 where the file does not set them.
struct TFileStreamInfo {
    int64_t StartTime = -1;
    int64_t Duration = -1;
    int32_t BitRate = -1;
    int64_t Timestamp = -1; // creation time, seconds since 1970-01-01 (0 when the file has none)
    int32_t Year = -1;      // 0 when the file has none
    int32_t Track = -1;     // 0 when the file has none
    std::string Title;
    std::string Author;
    std::string Copyright;
    std::string Comment;
    std::string Album;
    std::string Genre;
};

// *PTS values are in the stream's time base (AV_NOPTS_VALUE when unset), the others in microseconds
// (-1 when unset).
struct TAudioStreamInfo {
    std::string Language;
    std::string Codec;
    int64_t StartPTS = -1;
    int64_t StartTime = -1;
    int64_t DurationPTS = -1;
    int64_t Duration = -1;
    int32_t BitRate = -1;
    int32_t Channels = -1;
    int32_t SampleRate = -1;
    int32_t SampleFormat = -1; // AVSampleFormat
};

struct TVideoStreamInfo {
    std::string Language;
    std::string Codec;
    int64_t StartPTS = -1;
    int64_t StartTime = -1;
    int64_t DurationPTS = -1;
    int64_t Duration = -1;
    int32_t BitRate = -1;
    int32_t Height = -1;
    int32_t Width = -1;
    float AspectRatio = -1.0f; // display aspect ratio; 0 when the sample aspect ratio is unknown
    int32_t PixelFormat = -1;  // AVPixelFormat
    int32_t FrameRateNum = -1;
    int32_t FrameRateDen = -1;
    int64_t FrameCount = 0; // as the container states it; 0 when it does not
    int32_t Rotation = 0;   // clockwise degrees (0, 90, 180, 270) that show the picture upright
    bool CoverArt = false;  // a picture attached to sound (album art), not a moving picture
};

// One stream of the file as a conversion plans with it.
struct TStreamSummary {
    int32_t Index = -1;
    AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
    AVCodecID CodecId = AV_CODEC_ID_NONE;
    std::string Language;
    bool CoverArt = false;       // an attached picture
    bool TextSubtitle = false;   // subtitles held as text (SubRip, ASS, WebVTT, mov_text …)
    bool BitmapSubtitle = false; // subtitles held as pictures (DVD, Blu-ray PGS …)
    // The decoder's parameters are known: a picture size, or a sample rate and channels. A stream
    // whose data could not be read has none.
    bool Usable = false;
    // Data was seen while the parameters were read: an audio stream declared in its container but
    // never given a packet has parameters without it (no frame size, no bit rate).
    bool DataSeen = false;
};

// A stream time base fit for converting times: a zero denominator becomes the numerator, or 1 when
// that is zero too.
AVRational UsableTimeBase(AVRational timeBase);
// `value` (in `timeBase`, made usable first) in microseconds; -1 when `value` is AV_NOPTS_VALUE.
int64_t StreamTimeToMicroseconds(int64_t value, AVRational timeBase);

class TAVProbe {
public:
    TAVProbe();
    ~TAVProbe();
    TAVProbe(const TAVProbe&) = delete;
    TAVProbe& operator=(const TAVProbe&) = delete;

    // Opens and analyses `fileName` (UTF-8), with the input format `formatName` or detection when it
    // is empty. False with LastError set when the file cannot be opened or analysed. Throws
    // FFmpegException when a needed library is not loaded.
    bool Open(const std::string& fileName, const std::string& formatName = {});
    // From another thread: an Open in progress returns false with "NAME: stopped" as soon as the
    // library checks for it; without one it does nothing. The probe stays usable.
    void Stop() { watch_.RequestStop(); }
    // How long Open waits for an input that gives nothing before it fails with "NAME: no answer
    // within N s"; seconds, default 30.
    void SetTimeout(double seconds) { watch_.SetTimeout(seconds); }
    double Timeout() const { return watch_.Timeout(); }
    // Refers to an opened context without owning it (see the top of this file); null only closes.
    // Throws FFmpegException when a needed library is not loaded.
    void Attach(AVFormatContext* context);
    void Close();
    bool IsOpen() const { return context_ != nullptr; }

    // Each resets the record first and returns false (record left reset, LastError set) when there
    // is no file, or no fitting stream. A negative index means the first stream of that kind.
    bool FileStreamInfo(TFileStreamInfo& info);
    bool AudioStreamInfo(int index, TAudioStreamInfo& info);
    bool VideoStreamInfo(int index, TVideoStreamInfo& info);

    bool IsAudioStream(int index);
    bool IsVideoStream(int index);
    // Every stream of the file, in file order; empty without a file.
    std::vector<TStreamSummary> Streams() const;

    // The file's name as given to Open (empty without a file or a name).
    std::string FileName() const;
    // The container format's short name (empty without a file).
    std::string FormatName() const;
    // The multi-line information text; empty (with a warning) without a file.
    std::string InfoText();

    const std::string& LastError() const { return lastError_; }
    const std::string& ForcedFormat() const { return forcedFormat_; }

    // All -1 while no file is open; the *Index values are the first stream of the kind or -1.
    int64_t FileSize() const { return fileSize_; }
    int StreamCount() const { return streamCount_; }
    int ProgramCount() const { return programCount_; }
    int AudioStreamCount() const { return audioStreamCount_; }
    int VideoStreamCount() const { return videoStreamCount_; }
    int SubtitleStreamCount() const { return subtitleStreamCount_; }
    int AudioStreamIndex() const { return audioStreamIndex_; }
    int VideoStreamIndex() const { return videoStreamIndex_; }
    int SubtitleStreamIndex() const { return subtitleStreamIndex_; }

private:
    void Refresh();
    void CountStreams();
    int64_t ContextFileSize() const;

    // Sets LastError and logs it (warning or error).
    void Warn(const std::string& text);
    void Fail(const std::string& text);
    bool FileLoaded();
    // The stream to describe for `index` (negative: the first of `type`), or null after an error.
    const AVStream* StreamOfKind(int index, AVMediaType type);
    bool IsStreamOfType(int index, AVMediaType type);

    // Pieces of the information text (AVProbeText.cpp).
    void AppendFileLines(std::vector<std::string>& lines);
    void AppendProgramLines(std::vector<std::string>& lines, const AVProgram* program) const;
    void AppendStreamLines(std::vector<std::string>& lines, unsigned index) const;

    TInputWatch watch_;                  // the interrupt callback of the context Open makes
    InputContextPtr owned_;              // the context Open made; empty when attached
    AVFormatContext* context_ = nullptr; // the context described: owned_ or an attached one
    std::string lastError_;
    std::string forcedFormat_;
    int64_t fileSize_ = -1;
    int streamCount_ = -1;
    int programCount_ = -1;
    int audioStreamCount_ = -1;
    int videoStreamCount_ = -1;
    int subtitleStreamCount_ = -1;
    int audioStreamIndex_ = -1;
    int videoStreamIndex_ = -1;
    int subtitleStreamIndex_ = -1;
};

} // namespace tarnel
