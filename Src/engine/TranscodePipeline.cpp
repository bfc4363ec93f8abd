// The pipelined main loop. The reading thread does what RunMainLoop and ProcessInputPacket do up to
// the decoders: it reads, corrects timestamps, checks the recording time, decodes, turns pictures
// upright and runs the frame hook, keeping each stream's clock (Pts, NextPts) as the sequential run
// would. The run's thread takes the items in reading order and does the rest: it sets the clock that
// each picture or block of samples came with, and filters, scales, synchronises, encodes and writes.
// Where the reading order or the timestamps would depend on what the outputs have written (several
// inputs read side by side, timestamp discontinuities, -frames and -fs limits), the run stays
// sequential, so that both give the same files.
#include "engine/TranscodePipeline.h"

#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLogger.h"
#include "engine/FFmpeg.h"

extern "C" {
#include <libavutil/time.h>
}

#include <algorithm>
#include <chrono>
#include <utility>

namespace tarnel {

namespace {

size_t FrameBytes(const AVFrame* frame) {
    size_t bytes = 0;
    for (const AVBufferRef* buffer : frame->buf)
        if (buffer)
            bytes += buffer->size;
    for (int i = 0; i < frame->nb_extended_buf; ++i)
        bytes += frame->extended_buf[i]->size;
    return bytes;
}

} // namespace

TReadAhead::TReadAhead(TCustomFFmpeg& engine, TTranscodeRun& run)
    : engine_(engine)
    , run_(run)
    , frame_(MakeFrame()) {
    clocks_.resize(run.InputStreams.size());
    for (size_t i = 0; i < clocks_.size(); ++i)
        clocks_[i] = {run.InputStreams[i].Pts, run.InputStreams[i].NextPts,
                      run.InputStreams[i].PastRecordingTime};
    for (const TOutputStreamState& ost : run.OutputStreams)
        sources_.push_back(ost.SourceIndex);
}

TReadAhead::~TReadAhead() {
    Quit();
}

void TReadAhead::Start(int fileIndex) {
    thread_ = std::thread([this, fileIndex] { Loop(fileIndex); });
}

void TReadAhead::Quit() {
    {
        std::lock_guard lock(lock_);
        quit_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
    queue_.clear();
}

bool TReadAhead::Pop(TReadItem& item) {
    std::unique_lock lock(lock_);
    changed_.wait(lock, [this] { return !queue_.empty() || ended_; });
    if (queue_.empty())
        return false;
    item = std::move(queue_.front());
    queue_.pop_front();
    bytes_ -= item.Bytes;
    lock.unlock();
    changed_.notify_all();
    return true;
}

void TReadAhead::ContinueWith(int fileIndex) {
    {
        std::lock_guard lock(lock_);
        nextFile_ = fileIndex;
    }
    changed_.notify_all();
}

bool TReadAhead::Push(TReadItem&& item) {
    std::unique_lock lock(lock_);
    changed_.wait(lock, [this, &item] {
        return quit_ || queue_.empty() || (queue_.size() < kMaxItems && bytes_ + item.Bytes <= kMaxBytes);
    });
    if (quit_)
        return false;
    bytes_ += item.Bytes;
    queue_.push_back(std::move(item));
    lock.unlock();
    changed_.notify_all();
    return true;
}

int TReadAhead::WaitForNextFile() {
    std::unique_lock lock(lock_);
    changed_.wait(lock, [this] { return quit_ || nextFile_ >= 0; });
    if (quit_)
        return -1;
    const int file = std::exchange(nextFile_, -1);
    // The run's thread set the next file's offset and streams before it let reading go on.
    for (size_t i = 0; i < clocks_.size(); ++i) {
        const TInputStream& ist = run_.InputStreams[i];
        if (ist.FileIndex == file)
            clocks_[i] = {ist.Pts, ist.NextPts, ist.PastRecordingTime};
    }
    return file;
}

void TReadAhead::Loop(int fileIndex) {
    try {
        PacketPtr packet = MakePacket();
        while (fileIndex >= 0 && ReadFile(fileIndex, packet.get())) {
            if (!engine_.joined_ || fileIndex + 1 >= engine_.inputFileCount_)
                break;
            fileIndex = WaitForNextFile();
        }
    } catch (...) {
        TReadItem item;
        item.Kind = TReadItem::TKind::Error;
        item.Error = std::current_exception();
        Push(std::move(item));
    }
    {
        std::lock_guard lock(lock_);
        ended_ = true;
    }
    changed_.notify_all();
}

bool TReadAhead::EveryStreamPast() const {
    return std::all_of(sources_.begin(), sources_.end(),
                       [this](int source) { return clocks_[source].PastRecordingTime; });
}

// Reads one file to its end; true when it ended (End was queued), false when reading stops here.
bool TReadAhead::ReadFile(int fileIndex, AVPacket* packet) {
    AVFormatContext* input = engine_.InputFiles[fileIndex]->Context.get();
    TInputWatch& watch = engine_.inputWatch_;
    bool stalled = false;
    for (;;) {
        {
            std::lock_guard lock(lock_);
            if (quit_)
                return false;
        }
        // The sequential loop stops choosing an input once all its streams are past the time.
        if (!engine_.joined_ && EveryStreamPast()) {
            Push(TReadItem{});
            return false;
        }
        watch.Arm();
        const int ret = av_read_frame(input, packet);
        watch.Disarm();
        stalled = stalled || watch.TimedOut() || ret == AVERROR(ETIMEDOUT) ||
                  (input->pb && input->pb->error == AVERROR(ETIMEDOUT));
        if (ret == AVERROR(EAGAIN)) {
            if (!engine_.joined_)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        TReadItem item;
        item.FileIndex = fileIndex;
        if (ret < 0 && stalled && !engine_.StopRequested()) {
            item.Kind = TReadItem::TKind::Failure;
            item.Text = watch.TimeoutText(engine_.InputFiles[fileIndex]->FileName);
            Push(std::move(item));
            return false;
        }
        if (ret < 0) {
            item.Kind = TReadItem::TKind::End;
            return Push(std::move(item));
        }
        ReadPacket(fileIndex, packet);
        av_packet_unref(packet);
    }
}

// ProcessInputPacket up to the decoder.
void TReadAhead::ReadPacket(int fileIndex, AVPacket* packet) {
    const TInputFileState& file = run_.InputFileStates[fileIndex];
    if (engine_.Opt.PacketDump)
        av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, packet, engine_.Opt.HexDump,
                         engine_.InputFiles[fileIndex]->Context->streams[packet->stream_index]);
    if (packet->stream_index >= file.StreamCount)
        return;
    const int inputIndex = file.FirstStream + packet->stream_index;
    TInputStream& ist = run_.InputStreams[inputIndex];
    if (ist.Discard)
        return;
    engine_.AdjustInputTimestamps(fileIndex, ist, packet);
    TReadItem item;
    item.FileIndex = fileIndex;
    item.InputIndex = inputIndex;
    if (engine_.BeyondRecordingTime(ist, packet)) {
        clocks_[inputIndex].PastRecordingTime = true;
        item.Kind = TReadItem::TKind::Past;
    } else if (!ist.DecodingNeeded || ist.Codec->codec_type == AVMEDIA_TYPE_SUBTITLE) {
        item.Kind = TReadItem::TKind::Packet;
        item.Packet = MakePacket();
        if (!item.Packet || av_packet_ref(item.Packet.get(), packet) < 0)
            throw FFmpegException("Not enough memory");
    } else {
        item.Kind = TReadItem::TKind::Decoded;
        DecodePacket(item, ist, packet);
    }
    Push(std::move(item));
}

// OutputPacket, Decode and ReceiveDecoded for a decoded sound or picture stream, up to the outputs.
void TReadAhead::DecodePacket(TReadItem& item, TInputStream& ist, const AVPacket* packet) {
    TClock& clock = clocks_[item.InputIndex];
    if (clock.NextPts == AV_NOPTS_VALUE)
        clock.NextPts = clock.Pts;
    if (packet->dts != AV_NOPTS_VALUE) {
        item.PacketDts = av_rescale_q(packet->dts, ist.Stream->time_base, kMicrosecondBase);
        clock.NextPts = clock.Pts = item.PacketDts;
    }
    if (avcodec_send_packet(ist.Codec, packet) < 0) {
        item.Result = -1;
        return;
    }
    AVFrame* frame = frame_.get();
    const bool video = ist.Codec->codec_type == AVMEDIA_TYPE_VIDEO;
    for (;;) {
        const int ret = avcodec_receive_frame(ist.Codec, frame);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return;
        if (ret < 0) {
            item.Result = -1;
            return;
        }
        clock.Pts = frame->best_effort_timestamp != AV_NOPTS_VALUE
                        ? av_rescale_q(frame->best_effort_timestamp, ist.Stream->time_base, kMicrosecondBase)
                        : clock.NextPts;
        clock.NextPts = clock.Pts + DecodedDuration(ist, frame);
        TDecodedData data;
        data.Pts = clock.Pts;
        data.NextPts = clock.NextPts;
        if (video) {
            if (ist.Rotator && !TurnUpright(ist, frame)) {
                av_frame_unref(frame);
                item.Result = -1;
                return;
            }
            data.Quality = frame->quality;
            engine_.PreProcessPicture(clock.Pts, frame);
            data.Counter = engine_.PictureCounter;
        } else if (engine_.Opt.AudioVolume != 256) {
            ApplyVolume(frame, engine_.Opt.AudioVolume);
        }
        engine_.EmulateRate(ist, clock.Pts);
        if (engine_.Opt.StartTime == 0 || clock.Pts >= engine_.Opt.StartTime) {
            data.Frame = MakeFrame();
            if (!data.Frame)
                throw FFmpegException("Not enough memory");
            av_frame_move_ref(data.Frame.get(), frame);
            item.Bytes += FrameBytes(data.Frame.get());
        }
        av_frame_unref(frame);
        item.Decoded.push_back(std::move(data));
    }
}

bool TCustomFFmpeg::CanPipeline(const TTranscodeRun& run) const {
    if (!Opt.Pipeline || (inputFileCount_ != 1 && !joined_) || Opt.LimitFileSize != 0)
        return false;
    if (std::any_of(Opt.MaxFrames.begin(), Opt.MaxFrames.end(), [](int32_t n) { return n != INT32_MAX; }))
        return false;
    for (int f = 0; f < inputFileCount_; ++f)
        if ((InputFiles[f]->Context->iformat->flags & AVFMT_TS_DISCONT) && !Opt.CopyTs)
            return false;
    // A decoded stream that is also copied: its copies read the clock the decoder moves.
    for (const TOutputStreamState& ost : run.OutputStreams)
        if (!ost.EncodingNeeded && run.InputStreams[ost.SourceIndex].DecodingNeeded)
            return false;
    return true;
}

void TCustomFFmpeg::RunPipelinedLoop(TTranscodeRun& run) {
    run.TimerStart = av_gettime_relative();
    run.LastReportTime = run.TimerStart;
    run.CurrentFile = 0;
    run.NoPacket.fill(false);
    run.NoPacketCount = 0;
    TReadAhead reader(*this, run);
    reader.Start(run.CurrentFile);
    using TKind = TReadItem::TKind;
    while (!CheckStopAndPause()) {
        // Packets that EAGAIN held back are waited for on the reading thread: NoPacket stays clear.
        if (ChooseInputFile(run) < 0)
            break;
        TReadItem item;
        if (!reader.Pop(item))
            break;
        if (item.Kind == TKind::Finished)
            break;
        if (item.Kind == TKind::Failure) {
            inputFailure_ = item.Text;
            break;
        }
        if (item.Kind == TKind::Error)
            std::rethrow_exception(item.Error);
        if (item.Kind == TKind::End) {
            run.InputFileStates[item.FileIndex].EofReached = true;
            if (Opt.Shortest && !joined_)
                break;
            if (joined_) {
                bool endLoop = false;
                SwitchJoinSegment(run, item.FileIndex, endLoop);
                if (endLoop)
                    break;
                reader.ContinueWith(run.CurrentFile);
            }
            continue;
        }
        TInputStream& ist = run.InputStreams[item.InputIndex];
        if (item.Kind == TKind::Past) {
            ist.PastRecordingTime = true;
        } else if (item.Kind == TKind::Packet) {
            DeliverInputPacket(run, item.FileIndex, ist, item.InputIndex, item.Packet.get());
        } else {
            // OutputPacket and ReceiveDecoded with what the reading thread computed.
            if (ist.NextPts == AV_NOPTS_VALUE)
                ist.NextPts = ist.Pts;
            if (item.PacketDts != AV_NOPTS_VALUE)
                ist.NextPts = ist.Pts = item.PacketDts;
            for (TDecodedData& data : item.Decoded) {
                ist.Pts = data.Pts;
                ist.NextPts = data.NextPts;
                if (ist.Codec->codec_type == AVMEDIA_TYPE_VIDEO) {
                    ist.Quality = data.Quality;
                    PreviewPictureCounter = data.Counter;
                }
                if (data.Frame)
                    DeliverDecoded(run, ist, item.InputIndex, data.Frame.get());
                data.Frame.reset();
            }
            if (item.Result < 0)
                ReportDecodingFailure(ist);
            else
                ReportProgressWhenDue(run, item.FileIndex);
        }
    }
    reader.Quit();
}

} // namespace tarnel
