// The second half of a run: read packets from the input that is furthest behind, correct their
// timestamps and hand them to OutputPacket until the inputs end, a limit is reached or a stop is
// requested; then drain, write the trailers and make the final report.
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "engine/FFmpeg.h"

extern "C" {
#include <libavutil/time.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace tarnel {

namespace {

constexpr int kNoFile = -1;

// A read that waited longer than the time-out: the interrupt callback cut it short, or the
// protocol's own time-out ended it. The demuxer may still hand out what it holds before it reports
// the end of the file, so the caller remembers it until then.
bool InputGaveNoAnswer(const AVFormatContext* input, int code, const TInputWatch& watch) {
    const int timedOut = AVERROR(ETIMEDOUT);
    return watch.TimedOut() || code == timedOut || (input->pb && input->pb->error == timedOut);
}

int MediaIndex(const TOutputStreamState& ost) {
    const int type = ost.Stream->codecpar->codec_type;
    return type >= 0 && type < kMediaTypeCount ? type : -1;
}

double MuxSeconds(const TOutputStreamState& ost) {
    return ost.MuxTime == AV_NOPTS_VALUE ? 0.0 : ost.MuxTime * av_q2d(ost.Stream->time_base);
}

// Where an encoded stream stands: what its encoder was given, and for audio what waits in the FIFO.
// Encoders hold pictures and samples back, so this runs ahead of what the muxer has seen.
double FedSeconds(const TOutputStreamState& ost) {
    if (!ost.EncodingNeeded || !ost.Codec || ost.Codec->time_base.den == 0)
        return 0.0;
    const int64_t queued = ost.Fifo ? av_audio_fifo_size(ost.Fifo.get()) : 0;
    return (ost.SyncOpts + queued) * av_q2d(ost.Codec->time_base);
}

// Join mode: the streams of consecutive segments are one output stream fed by different inputs.
void HandOverStreamState(TOutputStreamState& from, TOutputStreamState& to) {
    to.SyncOpts = from.SyncOpts;
    to.FrameNumber = from.FrameNumber;
    to.MuxTime = from.MuxTime;
    to.LastDts = from.LastDts;
    from.MuxTime = AV_NOPTS_VALUE; // the segment's time now belongs to the next one
    to.Quality = from.Quality;
    to.EncoderDrained = from.EncoderDrained;
    to.Bitstreamfilters = std::move(from.Bitstreamfilters);
    to.LogFile = std::move(from.LogFile);
    to.VideoResample = from.VideoResample;
    to.VideoCrop = from.VideoCrop;
    to.TopBand = from.TopBand;
    to.BottomBand = from.BottomBand;
    to.LeftBand = from.LeftBand;
    to.RightBand = from.RightBand;
    to.InitialTopBand = from.InitialTopBand;
    to.InitialBottomBand = from.InitialBottomBand;
    to.InitialLeftBand = from.InitialLeftBand;
    to.InitialRightBand = from.InitialRightBand;
    to.InitialWidth = from.InitialWidth;
    to.InitialHeight = from.InitialHeight;
    to.ResampleWidth = from.ResampleWidth;
    to.ResampleHeight = from.ResampleHeight;
    to.ResamplePixelFormat = from.ResamplePixelFormat;
    to.Scaler = std::move(from.Scaler);
    to.ScaledPicture = std::move(from.ScaledPicture);
    to.AudioResample = from.AudioResample;
    to.Resampler = std::move(from.Resampler);
    to.ResamplerInput = from.ResamplerInput;
    to.Fifo = std::move(from.Fifo);
    to.ConvertedSamples = std::move(from.ConvertedSamples);
    to.EncoderFrame = std::move(from.EncoderFrame);
}

} // namespace

void TCustomFFmpeg::Transcode() {
    Runs = std::make_unique<TTranscodeRun>();
    TTranscodeRun& run = *Runs;
    run.DecodedFrame = MakeFrame();
    run.EncodedPacket = MakePacket();
    inputFailure_.clear();
    try {
        SetUpTranscode(run);
        pipelined_ = CanPipeline(run);
        if (pipelined_)
            RunPipelinedLoop(run);
        else
            RunMainLoop(run);
        FinishRun(run);
    } catch (...) {
        Runs.reset();
        throw;
    }
    Runs.reset();
    // The output got its trailer; the run still failed.
    if (!inputFailure_.empty())
        throw FFmpegException(inputFailure_);
    SetFinished(!StopRequested());
}

void TCustomFFmpeg::RunMainLoop(TTranscodeRun& run) {
    run.TimerStart = av_gettime_relative();
    run.LastReportTime = run.TimerStart;
    run.CurrentFile = 0;
    run.NoPacket.fill(false);
    run.NoPacketCount = 0;
    PacketPtr packet = MakePacket();
    std::array<bool, kMaxFiles> stalled{};

    while (!CheckStopAndPause()) {
        const int fileIndex = ChooseInputFile(run);
        if (fileIndex == kNoFile) {
            if (joined_ || run.NoPacketCount == 0)
                break;
            run.NoPacket.fill(false);
            run.NoPacketCount = 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (Opt.LimitFileSize != 0 && OutputFiles[0]->Context->pb &&
            avio_tell(OutputFiles[0]->Context->pb) > Opt.LimitFileSize)
            break;

        AVFormatContext* input = InputFiles[fileIndex]->Context.get();
        inputWatch_.Arm();
        const int ret = av_read_frame(input, packet.get());
        inputWatch_.Disarm();
        stalled[fileIndex] = stalled[fileIndex] || InputGaveNoAnswer(input, ret, inputWatch_);
        if (ret == AVERROR(EAGAIN)) {
            run.NoPacket[fileIndex] = true;
            ++run.NoPacketCount;
            continue;
        }
        if (ret < 0 && stalled[fileIndex] && !StopRequested()) {
            inputFailure_ = inputWatch_.TimeoutText(InputFiles[fileIndex]->FileName);
            break;
        }
        if (ret < 0) {
            run.InputFileStates[fileIndex].EofReached = true;
            if (Opt.Shortest && !joined_)
                break;
            if (joined_) {
                bool endLoop = false;
                SwitchJoinSegment(run, fileIndex, endLoop);
                if (endLoop)
                    break;
            }
            continue;
        }
        run.NoPacket.fill(false);
        run.NoPacketCount = 0;
        ProcessInputPacket(run, fileIndex, packet.get());
        av_packet_unref(packet.get());
    }
}

int TCustomFFmpeg::ChooseInputFile(TTranscodeRun& run) {
    if (joined_) {
        const size_t first = static_cast<size_t>(run.CurrentFile) * run.StreamsPerFile;
        for (size_t i = first; i < first + run.StreamsPerFile && i < run.OutputStreams.size(); ++i) {
            const TOutputStreamState& ost = run.OutputStreams[i];
            const int media = MediaIndex(ost);
            if (media >= 0 && ost.FrameNumber >= Opt.MaxFrames[media])
                return kNoFile;
        }
        return run.CurrentFile;
    }
    int chosen = kNoFile;
    double smallestOutput = 1e10;
    int64_t smallestInput = INT64_MAX;
    for (const TOutputStreamState& ost : run.OutputStreams) {
        const TInputStream& ist = run.InputStreams[ost.SourceIndex];
        const int file = ist.FileIndex;
        if (ist.PastRecordingTime || run.NoPacket[file])
            continue;
        if (!run.InputFileStates[file].EofReached) {
            if (Opt.InputSync ? ist.Pts < smallestInput : MuxSeconds(ost) < smallestOutput) {
                smallestInput = ist.Pts;
                smallestOutput = MuxSeconds(ost);
                chosen = file;
            }
        }
        const int media = MediaIndex(ost);
        if (media >= 0 && ost.FrameNumber >= Opt.MaxFrames[media])
            return kNoFile;
    }
    return chosen;
}

void TCustomFFmpeg::ProcessInputPacket(TTranscodeRun& run, int fileIndex, AVPacket* packet) {
    const TInputFileState& file = run.InputFileStates[fileIndex];
    if (Opt.PacketDump)
        av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, packet, Opt.HexDump,
                         InputFiles[fileIndex]->Context->streams[packet->stream_index]);
    if (packet->stream_index >= file.StreamCount)
        return;
    const int inputIndex = file.FirstStream + packet->stream_index;
    TInputStream& ist = run.InputStreams[inputIndex];
    if (ist.Discard)
        return;

    AdjustInputTimestamps(fileIndex, ist, packet);
    CorrectDiscontinuity(fileIndex, ist, packet);
    if (BeyondRecordingTime(ist, packet)) {
        ist.PastRecordingTime = true;
        return;
    }
    DeliverInputPacket(run, fileIndex, ist, inputIndex, packet);
}

bool TCustomFFmpeg::BeyondRecordingTime(const TInputStream& ist, const AVPacket* packet) const {
    return Opt.RecordingTime != kUnlimitedTime && packet->pts != AV_NOPTS_VALUE &&
           av_compare_ts(packet->pts, ist.Stream->time_base, Opt.RecordingTime + Opt.StartTime,
                         kMicrosecondBase) >= 0;
}

void TCustomFFmpeg::DeliverInputPacket(TTranscodeRun& run, int fileIndex, TInputStream& ist, int inputIndex,
                                       const AVPacket* packet) {
    if (OutputPacket(run, ist, inputIndex, packet) < 0) {
        ReportDecodingFailure(ist);
        return;
    }
    ReportProgressWhenDue(run, fileIndex);
}

void TCustomFFmpeg::ReportDecodingFailure(const TInputStream& ist) {
    const std::string message =
        Format("Error while decoding stream #%d.%d (%s)", ist.FileIndex, ist.StreamIndex,
               MediaTypeText(ist.Stream->codecpar->codec_type).c_str());
    if (Opt.ExitOnError)
        throw FFmpegException(message);
    if (Opt.Verbosity >= 0)
        Logger().Log(this, llVerbose, message);
}

void TCustomFFmpeg::ReportProgressWhenDue(TTranscodeRun& run, int fileIndex) {
    const int64_t now = av_gettime_relative();
    if (now - run.LastReportTime > ProgressInterval) {
        run.LastReportTime = now;
        ReportProgress(run, false, fileIndex);
    }
}

void TCustomFFmpeg::AdjustInputTimestamps(int fileIndex, const TInputStream& ist, AVPacket* packet) {
    const AVRational timeBase = ist.Stream->time_base;
    const int64_t offset = av_rescale_q(InputTsOffset[fileIndex], kMicrosecondBase, timeBase);
    if (packet->dts != AV_NOPTS_VALUE)
        packet->dts += offset;
    if (packet->pts != AV_NOPTS_VALUE)
        packet->pts += offset;
    const double scale = ist.StreamIndex < kMaxStreams ? InputTsScale[fileIndex][ist.StreamIndex] : 0.0;
    if (scale != 0.0) {
        if (packet->dts != AV_NOPTS_VALUE)
            packet->dts = llround(packet->dts * scale);
        if (packet->pts != AV_NOPTS_VALUE)
            packet->pts = llround(packet->pts * scale);
    }
}

// Formats with discontinuous timestamps (transport streams) may jump; the jump is taken out of the
// file's offset so the output stays continuous.
void TCustomFFmpeg::CorrectDiscontinuity(int fileIndex, const TInputStream& ist, AVPacket* packet) {
    const AVInputFormat* format = InputFiles[fileIndex]->Context->iformat;
    if (packet->dts == AV_NOPTS_VALUE || ist.NextPts == AV_NOPTS_VALUE ||
        !(format->flags & AVFMT_TS_DISCONT) || Opt.CopyTs)
        return;
    const AVRational timeBase = ist.Stream->time_base;
    const int64_t packetDts = av_rescale_q(packet->dts, timeBase, kMicrosecondBase);
    const int64_t delta = packetDts - ist.NextPts;
    if (std::llabs(delta) <= static_cast<int64_t>(Opt.DtsDeltaThreshold * 1000000) &&
        packetDts + 1 >= ist.Pts)
        return;
    InputTsOffset[fileIndex] -= delta;
    if (Opt.Verbosity >= 3)
        Logger().LogFmt(this, llVerbose, "timestamp discontinuity %lld, new offset= %lld",
                        static_cast<long long>(delta), static_cast<long long>(InputTsOffset[fileIndex]));
    const int64_t shift = av_rescale_q(delta, kMicrosecondBase, timeBase);
    packet->dts -= shift;
    if (packet->pts != AV_NOPTS_VALUE)
        packet->pts -= shift;
}

// Join mode: the end of input file f ends its segment; the next input continues the same outputs
// where the segment ended. The encoders keep running across segments, so the output stays one
// continuous stream.
void TCustomFFmpeg::SwitchJoinSegment(TTranscodeRun& run, int fileIndex, bool& endLoop) {
    for (size_t i = 0; i < run.InputStreams.size(); ++i) {
        TInputStream& ist = run.InputStreams[i];
        if (ist.FileIndex != fileIndex || !ist.DecodingNeeded)
            continue;
        DrainDecoder(run, ist, static_cast<int>(i));
        avcodec_flush_buffers(ist.Codec);
        ist.Flushed = true;
    }
    const size_t segmentSize = static_cast<size_t>(run.StreamsPerFile);
    const size_t first = static_cast<size_t>(fileIndex) * segmentSize;
    const bool last = fileIndex + 1 >= inputFileCount_;
    double end = 0;
    for (size_t i = first; i < first + segmentSize && i < run.OutputStreams.size(); ++i) {
        TOutputStreamState& ost = run.OutputStreams[i];
        if (!last)
            end = std::max({end, MuxSeconds(ost), FedSeconds(ost)});
        ost.Reporting = false;
    }
    // The next segment continues this one's encoders: counters, mux position, FIFO, scaler.
    for (size_t i = first; i < first + segmentSize && i + segmentSize < run.OutputStreams.size(); ++i)
        HandOverStreamState(run.OutputStreams[i], run.OutputStreams[i + segmentSize]);
    if (last) {
        endLoop = true;
        return;
    }
    InputTsOffset[fileIndex + 1] += llround(end * 1000000);
    run.CurrentFile = fileIndex + 1;
}

void TCustomFFmpeg::FinishRun(TTranscodeRun& run) {
    for (size_t i = 0; i < run.InputStreams.size(); ++i) {
        TInputStream& ist = run.InputStreams[i];
        if (ist.DecodingNeeded && !ist.Flushed)
            DrainDecoder(run, ist, static_cast<int>(i));
    }
    for (size_t i = 0; i < run.OutputStreams.size(); ++i) {
        if (!joined_ || static_cast<int>(i) < run.StreamsPerFile)
            DrainEncoder(run, run.OutputStreams[i]);
    }
    for (int f = 0; f < outputFileCount_ && !(joined_ && f > 0); ++f) {
        const int ret = av_write_trailer(OutputFiles[f]->Context);
        if (ret < 0)
            throw FFmpegException(Format("Could not write trailer for output file #%d", f) + ": " +
                                  LibraryErrorText(ret));
    }
    ReportProgress(run, true, -1);

    std::lock_guard lock(CodecLock());
    for (TOutputStreamState& ost : run.OutputStreams) {
        ost.LogFile.reset();
        if (!ost.EncodingNeeded)
            continue;
        av_freep(&ost.Codec->stats_in);
        std::erase(OpenedEncoders, ost.Codec);
    }
    for (TInputStream& ist : run.InputStreams) {
        if (ist.DecodingNeeded)
            std::erase(OpenedDecoders, ist.Codec);
    }
}

} // namespace tarnel
