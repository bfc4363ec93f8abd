// TCustomFFmpeg: one conversion engine instance. It carries what one command line of a media
// converter would carry (options, up to 20 inputs and 20 outputs, stream and metadata maps) and the
// run that converts the inputs into the outputs, on a worker thread or in the caller's thread.
#pragma once

#include "base/BitmapConverter.h"
#include "base/ConvertThread.h"
#include "base/FrameHook.h"
#include "base/InputWatch.h"
#include "base/LibHandles.h"
#include "base/ManualResetEvent.h"
#include "engine/EngineOptions.h"
#include "engine/TranscodeTables.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarnel {

class TBitmap;
class TCustomFFmpeg;
class TReadAhead;

using THookCallback = std::function<void(TCustomFFmpeg& engine, TBitmap& bitmap, bool& stopHook, bool& update,
                                         int64_t inputTimestamp, int32_t pictureCounter)>;
using TPreviewCallback = std::function<void(TCustomFFmpeg& engine, TBitmap& bitmap, int64_t outputTimestamp,
                                            int32_t pictureCounter)>;
using TProgressCallback = std::function<void(TCustomFFmpeg& engine, int32_t fileIndex, int64_t totalDuration,
                                             int64_t outputTime, int64_t outputSize, float bitRate,
                                             float quality, int32_t framesPerSecond, int32_t frameNumber)>;
using TTerminateCallback = std::function<void(TCustomFFmpeg& engine)>;

struct TStreamMap {
    int32_t FileIndex = 0;
    int32_t StreamIndex = 0;
    int32_t SyncFileIndex = 0;
    int32_t SyncStreamIndex = 0;
};

struct TMetadataMap {
    int32_t OutFile = 0;
    int32_t InFile = 0;
};

// One opened input: the library's context and one codec context per stream (today's streams carry
// only parameters), created when the file is opened and owned here.
struct TInputFile {
    InputContextPtr Context;
    std::string FileName;                // as the user gave it
    std::vector<CodecContextPtr> Codecs; // index = stream index
};

// One output stream as created by AddOutputFile or "newvideo"/"newaudio"/"newsubtitle".
struct TOutputStream {
    AVStream* Stream = nullptr;       // owned by the output's context
    CodecContextPtr Codec;            // codec id and parameters; opened by Transcode
    bool StreamCopy = false;          // copy packets instead of encoding
    const AVCodec* Encoder = nullptr; // the encoder chosen by name, or null (chosen by id)
    DictionaryPtr EncoderOptions;     // options that only the encoder knows, applied when it is opened
    std::string AudioFilters;         // audio filter graph between the decoder and the encoder, or empty
};

// One output: the library's context and its streams. Closing it closes the byte stream, frees the
// context and deletes the file when nothing was written to it. In join mode several OutputFiles
// entries share one TOutputFile.
struct TOutputFile {
    TOutputFile() = default;
    ~TOutputFile();
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    AVFormatContext* Context = nullptr;
    std::vector<TOutputStream> Streams;
    std::string FileName; // as the user gave it
};

// The size of the stream's pictures as they leave the decoder, turned upright when it turns them.
void UprightSize(const TInputStream& ist, int& width, int& height);

// Held by SetPreviewFlags and for the whole of each preview delivery, across all engines.
std::mutex& PreviewLock();

// The format, rate and channels of a block of samples.
TSampleShape SampleShapeOf(const AVFrame* samples);

// Scales decoded samples by volume / 256 (256 leaves them unchanged), clamping integer samples.
void ApplyVolume(AVFrame* frame, int volume);

class TCustomFFmpeg {
public:
    TCustomFFmpeg();
    virtual ~TCustomFFmpeg();
    TCustomFFmpeg(const TCustomFFmpeg&) = delete;
    TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

    // Life cycle.
    void Reset();
    void FreeAll();
    void Defaults();
    // Starts a run. Returns the worker thread (created suspended: the caller resumes it) when
    // threaded, else runs in the calling thread and returns null; null too when already running or
    // terminated, or when the files are missing (reported through DoTerminate).
    TConvertThread* Start(bool threaded, TThreadPriority priority = tpNormal);
    void Run();
    void Stop(bool wait);
    void StopOrTerminate(bool wait);
    void Pause();
    void Resume();

    // Options (the engine's command-line vocabulary). Raise FFmpegException on a bad value.
    void SetOption(const std::string& name, const std::string& value);
    // Sets a media-library option by name on the generic option contexts; never raises.
    bool GenericOption(const std::string& name, const std::string& value);
    void SetTarget(const std::string& kind, const std::string& norm, const std::string& fallbackNorm);
    void ApplyPreset(const std::string& kind, const std::string& nameOrFile);

    // Files. AddInputFile: false with LastError on failure. AddOutputFile: the new OutputFileCount,
    // or -1 with LastError.
    bool AddInputFile(const std::string& fileName);
    int32_t AddOutputFile(const std::string& fileName, bool join = false);

    // How long an input may give nothing (opening, analysing, each read of a run) before it fails
    // with "NAME: no answer within N s"; seconds, default 30. A Stop from another thread ends an
    // AddInputFile in progress with "NAME: stopped".
    void SetTimeout(double seconds) { inputWatch_.SetTimeout(seconds); }
    double Timeout() const { return inputWatch_.Timeout(); }

    // Typed setters used by the conversion component.
    void SetVerbosity(int32_t level) { Opt.Verbosity = level; }
    // Pipelined run (the "pipeline" option, on by default): reading and decoding go ahead of the
    // encoders on a thread of their own where the output stays the same; off keeps one thread.
    void SetPipeline(bool on) { Opt.Pipeline = on; }
    // Whether the last run read and decoded on a thread of its own; read it after the run.
    bool Pipelined() const { return pipelined_; }
    void SetPreviewFlags(uint8_t flags);
    void SetStartTime(int64_t us);
    void SetRecordingTime(int64_t us);
    void SetProgramID(int32_t id);
    void SetAudioVolume(int32_t volume);
    void SetAudioSync(int32_t value) { Opt.AudioSync = value; }
    void SetVideoSync(int32_t value) { Opt.VideoSync = value; }
    void SetMuxDelay(float seconds);
    void SetMuxPreload(float seconds);
    void AddMetadata(const std::string& key, const std::string& value);
    // A generic codec or format option given as a number (GenericOption with its decimal text).
    bool SetIntOption(const std::string& name, int64_t value) {
        return GenericOption(name, std::to_string(value));
    }
    // The output's creation time, in seconds since 1970 (the "timestamp" option without parsing).
    void SetRecordingTimestamp(int64_t seconds) { Opt.RecordingTimestamp = seconds; }
    // Replaces the audio filter graph (the text of "af") of every encoded audio stream of the
    // outputs added so far; an empty text removes it. Call it after the outputs are added and before
    // Start. Copied streams are not decoded and never filtered.
    void SetOutputAudioFilters(const std::string& graph);

    // Callback slots, filled before Start; an empty slot is skipped.
    THookCallback HookCallback;
    TPreviewCallback PreviewCallback;
    TProgressCallback ProgressCallback;
    TTerminateCallback TerminateCallback;

    int64_t ProgressInterval = 500000; // µs
    int64_t PreviewInterval = 100000;  // µs

    // Run state, read by the component in its terminate handler.
    bool IsRunning() const { return running_; }
    bool IsTerminated() const { return terminated_; }
    bool IsFinished() const { return finished_; }
    bool StopRequested() const { return stopRequested_; }
    bool ErrorOccurred() const { return errorOccurred_; }
    const std::string& ErrorMessage() const { return errorMessage_; }
    const std::string& LastError() const { return lastError_; }
    int64_t TotalDuration() const { return totalDuration_; }
    bool Joined() const { return joined_; }
    uint8_t PreviewFlags() const { return previewFlags_; }
    TConvertThread* Thread() const { return thread_; }
    const TOptionState& Options() const { return Opt; }
    const std::vector<std::pair<std::string, std::string>>& PendingMetadata() const { return Metadata; }
    int32_t InputFileCount() const { return inputFileCount_; }
    int32_t OutputFileCount() const { return outputFileCount_; }

protected:
    // The conversion itself: set-up and main loop over OutputFiles, InputFiles and StreamMaps. At its
    // normal end it sets Finished to "not StopRequested".
    virtual void Transcode();

    // Copies the options recorded by GenericOption from `source` onto `target` (a codec or format
    // context) when their flags contain all of `requiredFlags` (AV_OPT_FLAG_*).
    void ApplyContextOptions(void* target, void* source, int requiredFlags);
    // The options recorded for `encoder` that only it knows (its private options, with 0.6-era
    // names translated), for opening it.
    DictionaryPtr EncoderPrivateOptions(const AVCodec* encoder);
    // The same for options that only an output format's muxer knows ("muxrate").
    DictionaryPtr MuxerPrivateOptions(const AVOutputFormat* muxer);

    // Codec lookup by name: true with `id` (AV_CODEC_ID_NONE for an empty name) and the codec in
    // `found`, else false with LastError. Encoder names that no longer exist go through the alias
    // table. `strictness` is the codec context's strict_std_compliance.
    bool FindCodec(const std::string& name, AVMediaType type, AVCodecID& id, int strictness, bool encoder,
                   const AVCodec** found = nullptr);

    // AddInputFile's steps (FFmpegInput.cpp).
    bool OpenInput(const std::string& fileName, InputContextPtr& context);
    AVIOInterruptCB StopInterrupt();
    bool ForceInputDecoders(AVFormatContext* context);
    // Copies one stream's parameters into the option state; returns its InputDecoders entry.
    const AVCodec* ReadInputStream(AVStream* stream, AVCodecContext* codec);

    // Stream constructors ("newvideo", "newaudio", "newsubtitle" add to the last output file).
    void NewVideoStream(TOutputFile& output);
    void NewAudioStream(TOutputFile& output);
    void NewSubtitleStream(TOutputFile& output);
    const AVCodec* SetUpEncoderContext(TOutputFile& output, TOutputStream& stream,
                                       const std::string& codecName, AVMediaType type,
                                       AVCodecContext* generic, int typeFlag);
    // Gives a constructor's stream its place in `output` and consumes the kind's pending options.
    AVStream* AddOutputStream(TOutputFile& output, TOutputStream&& stream, AVMediaType type);
    // Two-pass statistics files, by the index of the output stream in the run (FFmpegPassLog.cpp).
    std::string PassLogFileName(int outputStreamIndex) const;
    CFilePtr CreatePassOneLog(int outputStreamIndex) const;
    void LoadPassTwoLog(AVCodecContext* codec, int outputStreamIndex) const;

    // The run (Transcode and its parts). The run tables live in Runs while Transcode runs.
    std::unique_ptr<TTranscodeRun> Runs;

    // Set-up (TranscodeSetup.cpp).
    void SetUpTranscode(TTranscodeRun& run);
    void BuildInputTables(TTranscodeRun& run);
    void BuildOutputTables(TTranscodeRun& run);
    void SetUpStreamCopy(TOutputStreamState& ost, TInputStream& ist);
    void SetUpEncoding(TTranscodeRun& run, TOutputStreamState& ost, TInputStream& ist, int outputIndex);
    void OpenEncoders(TTranscodeRun& run);
    void OpenDecoders(TTranscodeRun& run);
    void WriteHeaders(TTranscodeRun& run);
    // Mapping (TranscodeMapping.cpp): SourceIndex and SyncInput of every output stream, and the
    // stream-mapping report with the outputs' format dumps.
    void MapOutputStreams(TTranscodeRun& run);
    void ReportStreamMapping(const TTranscodeRun& run);
    void DumpOutputFormat(int outputFileIndex);
    // Metadata, chapters and the SDP text (TranscodeMetadata.cpp).
    void CopyStreamProperties(TOutputStreamState& ost, const TInputStream& ist);
    void CopyMetadataMaps(const TTranscodeRun& run);
    void CopyChapters(const TTranscodeRun& run);
    void LogSdpWhenAllRtp();
    // Main loop and end of the run (TranscodeLoop.cpp).
    void RunMainLoop(TTranscodeRun& run);
    int ChooseInputFile(TTranscodeRun& run);
    void ProcessInputPacket(TTranscodeRun& run, int fileIndex, AVPacket* packet);
    // The rest of ProcessInputPacket once the packet's timestamps are corrected: decoding or copying
    // it, the decoding error and the progress report.
    void DeliverInputPacket(TTranscodeRun& run, int fileIndex, TInputStream& ist, int inputIndex,
                            const AVPacket* packet);
    bool BeyondRecordingTime(const TInputStream& ist, const AVPacket* packet) const;
    void ReportDecodingFailure(const TInputStream& ist);
    void ReportProgressWhenDue(TTranscodeRun& run, int fileIndex);
    // The pipelined main loop (TranscodePipeline.cpp): TReadAhead reads and decodes on its thread,
    // this thread takes its results in order and does everything else as RunMainLoop does.
    bool CanPipeline(const TTranscodeRun& run) const;
    void RunPipelinedLoop(TTranscodeRun& run);
    friend class TReadAhead;
    void AdjustInputTimestamps(int fileIndex, const TInputStream& ist, AVPacket* packet);
    void CorrectDiscontinuity(int fileIndex, const TInputStream& ist, AVPacket* packet);
    void SwitchJoinSegment(TTranscodeRun& run, int fileIndex, bool& endLoop);
    void FinishRun(TTranscodeRun& run);
    // One input packet, or nothing to drain the decoder (OutputPacket.cpp): 0, or -1 for a decoding
    // failure.
    int OutputPacket(TTranscodeRun& run, TInputStream& ist, int inputIndex, const AVPacket* packet);
    void CopyPacket(TTranscodeRun& run, TOutputStreamState& ost, TInputStream& ist, const AVPacket* packet);
    bool StartReached(const TInputStream& ist) const;
    int Decode(TTranscodeRun& run, TInputStream& ist, int inputIndex, const AVPacket* packet);
    int DecodeSubtitle(TTranscodeRun& run, TInputStream& ist, int inputIndex, const AVPacket* packet);
    int ReceiveDecoded(TTranscodeRun& run, TInputStream& ist, int inputIndex);
    void DeliverDecoded(TTranscodeRun& run, TInputStream& ist, int inputIndex, AVFrame* frame);
    void EmulateRate(const TInputStream& ist, int64_t pts);
    void DrainDecoder(TTranscodeRun& run, TInputStream& ist, int inputIndex);
    void DrainEncoder(TTranscodeRun& run, TOutputStreamState& ost);
    // Output paths: encoders fed with decoded data, and their packets written.
    void DoVideoOut(TTranscodeRun& run, TOutputStreamState& ost, TInputStream& ist, AVFrame* picture);
    void DoAudioOut(TTranscodeRun& run, TOutputStreamState& ost, TInputStream& ist, AVFrame* samples);
    void DoSubtitleOut(TTranscodeRun& run, TOutputStreamState& ost, TInputStream& ist, AVSubtitle& subtitle,
                       int64_t pts);
    // Video (VideoOutput.cpp): set-up, synchronisation, cropping and scaling.
    void SetUpVideoEncoding(TTranscodeRun& run, TOutputStreamState& ost, TInputStream& ist);
    void PrepareRotation(TInputStream& ist);
    // A cover picture (a single attached picture) given again at the end of the sound, so that the
    // video holds it for the sound's length.
    void HoldCoverToEnd(TTranscodeRun& run, TInputStream& ist, int inputIndex);
    int GenericScalerFlags() const;
    void CreateScaler(TOutputStreamState& ost, int width, int height, AVPixelFormat format);
    void FollowGeometryChange(TOutputStreamState& ost, const TInputStream& ist, const AVFrame* picture);
    int FramesForPicture(TOutputStreamState& ost);
    AVFrame* ScalePicture(TOutputStreamState& ost, AVFrame* picture);
    // Picture pre-processing: deinterlacing, the RGB hook, hook modules (VideoPreProcess.cpp).
    void PreProcessPicture(int64_t hookTimestamp, AVFrame* picture);
    // The filter graph (VideoFilters.cpp): 0, or -1 with LastError.
    int ConfigureVideoFilters(TTranscodeRun& run, TOutputStreamState& ost, TInputStream& ist);
    // Pushes `picture` (null: the end of the input) and encodes every picture the graph gives.
    void DeliverFilteredPictures(TTranscodeRun& run, TInputStream& ist, int inputIndex, AVFrame* picture);
    // Preview and the per-frame statistics file (VideoPreview.cpp).
    void Preview(const AVFrame* picture, const AVCodecContext* encoder);
    void WriteVideoStats(TOutputStreamState& ost, int frameSize);
    // Audio (AudioOutput.cpp).
    void CreateResampler(TOutputStreamState& ost, const AVFrame* samples);
    bool SynchroniseAudio(TOutputStreamState& ost, TInputStream& ist, const AVFrame* samples,
                          int64_t inputPts, int& skipInput);
    void InsertSilence(TOutputStreamState& ost, int64_t outputCount, int64_t inputCount);
    const AVFrame* Resample(TOutputStreamState& ost, const AVFrame* samples, int skip, int count);
    void EncodeWholeFrames(TTranscodeRun& run, TOutputStreamState& ost, bool flush);
    AVFrame* EncoderFrameFor(TOutputStreamState& ost, int samples);
    void FlushAudioFifo(TTranscodeRun& run, TOutputStreamState& ost);
    void PadAudioToPictures(TTranscodeRun& run, TOutputStreamState& ost);
    void WriteSilenceToFifo(TOutputStreamState& ost, int count);
    // Resampling, synchronisation against `inputPts` (µs) and the FIFO, for one block of samples.
    void QueueAudio(TTranscodeRun& run, TOutputStreamState& ost, TInputStream& ist, AVFrame* samples,
                    int64_t inputPts);
    // The audio filter graph ("af", AudioFilters.cpp). Builds the stream's graph for samples of
    // that format, rate and layout; throws with the library's message when the graph is refused.
    void BuildAudioGraph(TOutputStreamState& ost, int format, int rate, const AVChannelLayout& layout);
    // The graph of a stream about to be encoded, built from its decoder's parameters so that a bad
    // graph fails the run before anything is written.
    void PrepareAudioGraph(TTranscodeRun& run, TOutputStreamState& ost);
    // Pushes `samples` (null: the end of the input, which flushes and releases the graph) and queues
    // every block the graph gives.
    void FilterAudio(TTranscodeRun& run, TOutputStreamState& ost, TInputStream& ist, AVFrame* samples);
    std::vector<uint8_t> SubtitleBuffer; // encoded subtitles, allocated on first use

    // Sends `frame` (null: the end) to the stream's encoder and writes every packet it gives.
    void EncodeAndWrite(TTranscodeRun& run, TOutputStreamState& ost, AVFrame* frame);
    // Through the stream's bitstream filters into the interleaving writer (PacketWriter.cpp).
    void WritePacket(TOutputStreamState& ost, AVPacket* packet);
    // Progress (TranscodeProgress.cpp); fileIndex is -1 in the final report.
    void ReportProgress(TTranscodeRun& run, bool final, int fileIndex);
    std::array<uint32_t, 52> QpHistogramCounts{}; // "qphist": per engine, kept across runs

    // Safe point for the worker: waits while paused; true when a stop was requested.
    bool CheckStopAndPause();
    void SetFinished(bool finished) { finished_ = finished; }
    void DoTerminate();

    // Tables.
    std::array<std::unique_ptr<TInputFile>, kMaxFiles> InputFiles;
    std::array<int64_t, kMaxFiles> InputTsOffset{};
    std::array<std::array<double, kMaxStreams>, kMaxFiles> InputTsScale{};
    std::array<const AVCodec*, kMaxFiles * kMaxStreams> InputDecoders{};
    int32_t inputFileCount_ = 0;
    int32_t InputDecoderCount = 0;
    std::array<std::shared_ptr<TOutputFile>, kMaxFiles> OutputFiles;
    std::array<const AVCodec*, kMaxFiles * kMaxStreams> OutputEncoders{};
    int32_t outputFileCount_ = 0;
    int32_t OutputEncoderCount = 0;
    std::array<TStreamMap, kMaxFiles * kMaxStreams> StreamMaps{};
    int32_t StreamMapCount = 0;
    std::array<TMetadataMap, kMaxFiles> MetadataMaps{};
    int32_t MetadataMapCount = 0;
    std::array<int32_t, kMaxStreams> StreamIdMap{};
    std::array<std::array<TBsfChain, kMaxStreams>, kMaxFiles> BsfChains;

    TOptionState Opt;
    // Pending output metadata, consumed by the next output file; Defaults leaves it alone.
    std::vector<std::pair<std::string, std::string>> Metadata;

    // Generic option contexts: values set by name, copied onto the real contexts later.
    struct TGenericOptions {
        std::vector<std::string> Names;
        std::array<CodecContextPtr, 5> CodecContexts; // video, audio, data, subtitle, attachment
        FormatContextPtr FormatContext;
        SwsContextPtr ScalerContext;
        // Options that only the chosen encoder of a kind knows, applied when that encoder is opened.
        struct TPrivateOption {
            std::string Name;
            std::string Value;
            AVMediaType Kind = AVMEDIA_TYPE_UNKNOWN;
        };
        std::vector<TPrivateOption> PrivateOptions;
    };
    std::unique_ptr<TGenericOptions> Generic;
    friend struct TOptionHandlers; // SetOption's handlers (FFmpegOptions.cpp)

    FilterGraphPtr FilterGraph;
    FrameHookList VideoHooks;
    BitmapConverter HookConverter;
    BitmapConverter PreviewConverter;
    int32_t PictureCounter = 0;        // pictures decoded (the hook's counter)
    int32_t PreviewPictureCounter = 0; // PictureCounter as of the picture the outputs last took
    // Video path state (VideoPreProcess.cpp, VideoFilters.cpp, VideoPreview.cpp).
    FramePtr HookPicture;                        // copy of the decoded picture that deinterlacing reads
    std::shared_ptr<class TPreviewer> Previewer; // the preview window (Previewer.h), made on first use
    int64_t LastPreviewTime = INT64_MIN;         // wall clock µs
    void RunRgbHook(AVFrame* picture, int64_t hookTimestamp);
    int BuildVideoFilterGraph(TOutputStreamState& ost, TInputStream& ist, const AVFrame* input,
                              int fixedWidth, int fixedHeight);
    bool UseFilterGraph(TTranscodeRun& run, TOutputStreamState& ost, TInputStream& ist);
    void RoundSizeForEncoder(AVCodecContext* codec);

    // Codec contexts opened during a run (owned by the input and output files); whatever is left
    // here after the run has its two-pass statistics input released.
    std::vector<AVCodecContext*> OpenedEncoders;
    std::vector<AVCodecContext*> OpenedDecoders;

    std::string lastError_;
    int64_t totalDuration_ = -1;
    bool joined_ = false;
    bool pipelined_ = false; // written by the run, read after it

private:
    void FailStart(const std::string& message);
    void RunStep(const std::function<void()>& step);
    void RecordError(const std::string& message);
    void CloseOpenedCodecs();
    void CreateGenericOptions();
    // False (with LastError) while the libraries are not loaded.
    bool ReadyForFiles();
    void JoinFinishedThreads();
    void ClearTables();
    void WaitForEvent(ManualResetEvent& event);

    std::unique_ptr<TConvertThread> worker_;       // owned; joined before a new run and on destruction
    std::atomic<TConvertThread*> thread_{nullptr}; // the running worker, forgotten by DoTerminate
    std::thread terminateThread_;                  // runs DoTerminate for an engine never started
    ManualResetEvent runDoneEvent_{true};
    ManualResetEvent terminateDoneEvent_{true};
    uint8_t previewFlags_ = 0; // guarded by PreviewLock()
    std::atomic<bool> running_{false};
    std::atomic<bool> stopRequested_{false};
    TInputWatch inputWatch_{&stopRequested_}; // the inputs' interrupt callback
    std::atomic<bool> finished_{false};
    std::atomic<bool> terminated_{false};
    bool errorOccurred_ = false; // written by the run, read after it
    std::string inputFailure_;   // an input that stopped answering during the run; fails it at its end
    std::string errorMessage_;
};

} // namespace tarnel
