// The run tables of one Transcode call: one record per input file, per input stream and per output
// stream, built from the opened inputs and created outputs, and freed when the run ends.
#pragma once

#include "base/LibHandles.h"
#include "base/PictureRotation.h"
#include "engine/EngineOptions.h"

#include <cstdint>
#include <vector>

namespace tarnel {

struct TOutputFile;
struct TOutputStream;

struct TInputFileState {
    bool EofReached = false; // reading returned end of file or an error
    int32_t FirstStream = 0; // index of the file's first stream in the flat list of input streams
    int32_t StreamCount = 0;
};

struct TInputStream {
    int32_t FileIndex = 0;
    int32_t StreamIndex = 0;
    AVStream* Stream = nullptr;
    AVCodecContext* Codec = nullptr;  // the engine's codec context of this stream (TInputFile)
    const AVCodec* Decoder = nullptr; // forced by name, or null (by codec id)
    bool Discard = true;              // until an output stream takes this stream as its source
    bool DecodingNeeded = false;      // an encoded output stream uses it
    int64_t StartWallClock = 0;       // µs, with rate emulation
    int64_t NextPts = AV_NOPTS_VALUE; // µs, expected timestamp of the next decoded data
    int64_t Pts = 0;                  // µs, timestamp of the data being processed
    bool IsStart = true;              // cleared by the first audio drift correction
    bool MultiPacketWarned = false;
    bool PastRecordingTime = false;
    bool Flushed = false;                         // join mode: the decoder has been drained
    bool DecoderDrained = false;                  // the decoder has been sent the end of its input
    int Quality = 0;                              // of the last decoded picture
    AVFilterContext* InputVideoFilter = nullptr;  // the filter graph's source ("src")
    AVFilterContext* OutputVideoFilter = nullptr; // the filter graph's sink ("out")
    std::unique_ptr<TPictureRotator> Rotator;     // turns pictures upright (display matrix)
    FramePtr HeldPicture;                         // a cover's picture, held to the end of the sound
    bool CoverHeld = false;                       // the cover has been held to the end
};

// What the resampler or the audio filter graph was made for: the samples' format, rate and channels.
struct TSampleShape {
    int Format = -1;
    int Rate = 0;
    int Channels = 0;
    uint64_t Mask = 0;

    bool operator==(const TSampleShape&) const = default;
};

struct TOutputStreamState {
    int32_t FileIndex = 0;
    int32_t StreamIndex = 0;
    int32_t SourceIndex = 0; // into the flat list of input streams
    AVStream* Stream = nullptr;
    TOutputFile* File = nullptr;
    TOutputStream* Setup = nullptr;  // codec context, stream-copy flag, encoder, private options
    AVCodecContext* Codec = nullptr; // Setup->Codec
    bool EncodingNeeded = false;
    int32_t FrameNumber = 0; // pictures, or packets of copy streams, written
    TInputStream* SyncInput = nullptr;
    int64_t SyncOpts = 0;             // output position in the encoder's time base
    bool Reporting = true;            // takes part in the frame/fps part of the progress report
    int64_t MuxTime = AV_NOPTS_VALUE; // end of the last written packet, in the stream's time base
    int64_t LastDts = AV_NOPTS_VALUE; // of the last written packet, in the stream's time base
    AVCodecID SavedCodecId = AV_CODEC_ID_NONE;
    bool EncoderDrained = false; // the encoder has been sent the end of its input
    std::vector<BsfContextPtr> Bitstreamfilters;
    CFilePtr LogFile; // two-pass first-pass statistics

    // Video.
    bool VideoResample = false;
    bool VideoCrop = false;
    int32_t TopBand = 0, BottomBand = 0, LeftBand = 0, RightBand = 0;
    int32_t InitialTopBand = 0, InitialBottomBand = 0, InitialLeftBand = 0, InitialRightBand = 0;
    int32_t ResampleWidth = 0, ResampleHeight = 0, ResamplePixelFormat = -1;
    int32_t InitialWidth = 0, InitialHeight = 0;
    SwsContextPtr Scaler;
    FramePtr ScaledPicture;
    float Quality = -1;        // of the last encoded picture (quantizer scale)
    int64_t PsnrError[4] = {}; // of the last encoded picture
    int32_t PictureType = 0;

    // Audio.
    bool AudioResample = false;
    // The muxer takes the sound by amount, not by timestamp (DV: each picture carries its own share
    // of samples): the samples run on without gaps, and the last pictures get theirs as silence.
    bool SampleAccurate = false;
    SwrContextPtr Resampler;
    TSampleShape ResamplerInput; // the decoded samples the resampler was made for
    AudioFifoPtr Fifo;           // encoder-format samples waiting for a whole encoder frame
    FramePtr ConvertedSamples;   // resampler output, grown when too small
    FramePtr EncoderFrame;       // one encoder frame taken from the FIFO
    // The audio filter graph ("af"): abuffer -> the user's filters -> abuffersink.
    FilterGraphPtr AudioGraph;
    AVFilterContext* AudioSource = nullptr;
    AVFilterContext* AudioSink = nullptr;
    TSampleShape AudioGraphInput;             // the samples the graph was built for
    int64_t FilteredNextPts = AV_NOPTS_VALUE; // µs, for filtered blocks that come without a timestamp
    FramePtr FilteredSamples;                 // one block taken from the graph

    bool IsVideo() const { return Codec && Codec->codec_type == AVMEDIA_TYPE_VIDEO; }
    bool IsAudio() const { return Codec && Codec->codec_type == AVMEDIA_TYPE_AUDIO; }
};

struct TTranscodeRun {
    std::vector<TInputFileState> InputFileStates;
    std::vector<TInputStream> InputStreams;
    std::vector<TOutputStreamState> OutputStreams;
    int32_t StreamsPerFile = 0; // output streams of the first output file (join mode)
    int64_t TimerStart = 0;     // µs, wall clock when the loop starts
    int64_t LastReportTime = 0;
    int32_t CurrentFile = 0;
    std::array<bool, kMaxFiles> NoPacket{};
    int32_t NoPacketCount = 0;
    FramePtr DecodedFrame;   // reused for every decoded picture or block of samples
    PacketPtr EncodedPacket; // reused for every encoded packet
};

} // namespace tarnel
