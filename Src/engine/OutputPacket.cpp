// One input packet on its way to the outputs: stream copy, or decoding and handing the decoded
// pictures, samples and subtitles to the output paths; and draining decoders and encoders.
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLogger.h"
#include "engine/FFmpeg.h"
#include "engine/TranscodePipeline.h"

extern "C" {
#include <libavutil/intreadwrite.h>
#include <libavutil/time.h>
}

#include <chrono>
#include <thread>

namespace tarnel {

namespace {

int64_t ToMicroseconds(int64_t time, AVRational timeBase) {
    return av_rescale_q(time, timeBase, kMicrosecondBase);
}

// The time one packet of a stream that is not decoded covers, in µs (0 when unknown).
int64_t CopiedPacketDuration(const TInputStream& ist, const AVPacket* packet) {
    const AVCodecParameters* parameters = ist.Stream->codecpar;
    if (parameters->codec_type == AVMEDIA_TYPE_AUDIO && parameters->frame_size > 0 &&
        parameters->sample_rate > 0)
        return int64_t{1000000} * parameters->frame_size / parameters->sample_rate;
    if (packet->duration > 0)
        return ToMicroseconds(packet->duration, ist.Stream->time_base);
    const AVRational rate = ist.Stream->avg_frame_rate;
    if (parameters->codec_type == AVMEDIA_TYPE_VIDEO && rate.num > 0 && rate.den > 0)
        return av_rescale(1000000, rate.den, rate.num);
    return 0;
}

bool IsCover(const TInputStream& ist) {
    return (ist.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
}

} // namespace

// The time one decoded picture or block of samples covers, in µs.
int64_t DecodedDuration(const TInputStream& ist, const AVFrame* frame) {
    if (ist.Codec->codec_type == AVMEDIA_TYPE_AUDIO)
        return frame->sample_rate > 0 ? int64_t{1000000} * frame->nb_samples / frame->sample_rate : 0;
    if (frame->pkt_duration > 0)
        return ToMicroseconds(frame->pkt_duration, ist.Stream->time_base);
    AVRational rate = ist.Codec->framerate.num > 0 ? ist.Codec->framerate : ist.Stream->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        return 0;
    return av_rescale(1000000, int64_t{rate.den} * (2 + frame->repeat_pict), int64_t{rate.num} * 2);
}

// Replaces the decoded picture with its upright copy; false when the libraries fail.
bool TurnUpright(TInputStream& ist, AVFrame* frame) {
    FramePtr turned = ist.Rotator->Turn(frame);
    if (!turned)
        return false;
    av_frame_unref(frame);
    av_frame_move_ref(frame, turned.get());
    return true;
}

void TCustomFFmpeg::HoldCoverToEnd(TTranscodeRun& run, TInputStream& ist, int inputIndex) {
    if (!ist.HeldPicture || ist.CoverHeld)
        return;
    ist.CoverHeld = true;
    int64_t end = AV_NOPTS_VALUE;
    for (const TInputStream& other : run.InputStreams)
        if (&other != &ist && other.FileIndex == ist.FileIndex && other.NextPts != AV_NOPTS_VALUE &&
            !IsCover(other))
            end = std::max(end, other.NextPts);
    if (Opt.RecordingTime != kUnlimitedTime)
        end = std::min(end, Opt.StartTime + Opt.RecordingTime);
    // The last picture starts one picture's time before the end.
    const int64_t last = end - DecodedDuration(ist, ist.HeldPicture.get());
    if (end == AV_NOPTS_VALUE || last <= ist.Pts)
        return;
    ist.Pts = last;
    ist.HeldPicture->pts = ist.HeldPicture->best_effort_timestamp =
        av_rescale_q(last, kMicrosecondBase, ist.Stream->time_base);
    DeliverDecoded(run, ist, inputIndex, ist.HeldPicture.get());
}

bool TCustomFFmpeg::StartReached(const TInputStream& ist) const {
    return Opt.StartTime == 0 || ist.Pts >= Opt.StartTime;
}

int TCustomFFmpeg::OutputPacket(TTranscodeRun& run, TInputStream& ist, int inputIndex,
                                const AVPacket* packet) {
    if (ist.NextPts == AV_NOPTS_VALUE)
        ist.NextPts = ist.Pts;
    if (packet && packet->dts != AV_NOPTS_VALUE)
        ist.NextPts = ist.Pts = ToMicroseconds(packet->dts, ist.Stream->time_base);

    if (packet) {
        if (!ist.DecodingNeeded) {
            ist.Pts = ist.NextPts;
            ist.NextPts += CopiedPacketDuration(ist, packet);
            EmulateRate(ist, ist.Pts);
        }
        if (StartReached(ist)) {
            for (TOutputStreamState& ost : run.OutputStreams) {
                if (ost.SourceIndex == inputIndex && !ost.EncodingNeeded)
                    CopyPacket(run, ost, ist, packet);
            }
        }
    }
    if (!ist.DecodingNeeded)
        return 0;
    if (!packet) {
        DrainDecoder(run, ist, inputIndex);
        for (TOutputStreamState& ost : run.OutputStreams) {
            if (ost.SourceIndex == inputIndex)
                DrainEncoder(run, ost);
        }
        return 0;
    }
    return Decode(run, ist, inputIndex, packet);
}

int TCustomFFmpeg::Decode(TTranscodeRun& run, TInputStream& ist, int inputIndex, const AVPacket* packet) {
    if (ist.Codec->codec_type == AVMEDIA_TYPE_SUBTITLE)
        return DecodeSubtitle(run, ist, inputIndex, packet);
    if (ist.Codec->codec_type != AVMEDIA_TYPE_VIDEO && ist.Codec->codec_type != AVMEDIA_TYPE_AUDIO)
        return -1;
    if (avcodec_send_packet(ist.Codec, packet) < 0)
        return -1;
    return ReceiveDecoded(run, ist, inputIndex);
}

void TCustomFFmpeg::DrainDecoder(TTranscodeRun& run, TInputStream& ist, int inputIndex) {
    if (ist.DecoderDrained)
        return;
    ist.DecoderDrained = true;
    if (ist.Codec->codec_type == AVMEDIA_TYPE_SUBTITLE) {
        AVPacket* empty = av_packet_alloc();
        DecodeSubtitle(run, ist, inputIndex, empty);
        av_packet_free(&empty);
        return;
    }
    if (avcodec_send_packet(ist.Codec, nullptr) >= 0)
        ReceiveDecoded(run, ist, inputIndex);
    // Audio filters hand out what they still hold (a lookahead, a loudness window).
    for (TOutputStreamState& ost : run.OutputStreams)
        if (ost.SourceIndex == inputIndex && ost.AudioGraph)
            FilterAudio(run, ost, ist, nullptr);
    HoldCoverToEnd(run, ist, inputIndex);
    if (ist.InputVideoFilter)
        DeliverFilteredPictures(run, ist, inputIndex, nullptr);
}

int TCustomFFmpeg::ReceiveDecoded(TTranscodeRun& run, TInputStream& ist, int inputIndex) {
    AVFrame* frame = run.DecodedFrame.get();
    for (;;) {
        const int ret = avcodec_receive_frame(ist.Codec, frame);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return 0;
        if (ret < 0)
            return -1;
        if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
            ist.Pts = ToMicroseconds(frame->best_effort_timestamp, ist.Stream->time_base);
        else
            ist.Pts = ist.NextPts;
        ist.NextPts = ist.Pts + DecodedDuration(ist, frame);
        if (ist.Codec->codec_type == AVMEDIA_TYPE_VIDEO) {
            if (ist.Rotator && !TurnUpright(ist, frame))
                return -1;
            ist.Quality = frame->quality;
            PreProcessPicture(ist.Pts, frame);
            PreviewPictureCounter = PictureCounter;
        } else if (Opt.AudioVolume != 256) {
            ApplyVolume(frame, Opt.AudioVolume);
        }
        EmulateRate(ist, ist.Pts);
        if (StartReached(ist))
            DeliverDecoded(run, ist, inputIndex, frame);
        av_frame_unref(frame);
    }
}

void TCustomFFmpeg::DeliverDecoded(TTranscodeRun& run, TInputStream& ist, int inputIndex, AVFrame* frame) {
    const bool video = ist.Codec->codec_type == AVMEDIA_TYPE_VIDEO;
    if (video && IsCover(ist) && !ist.CoverHeld && frame != ist.HeldPicture.get())
        ist.HeldPicture.reset(av_frame_clone(frame));
    if (video && ist.InputVideoFilter) {
        DeliverFilteredPictures(run, ist, inputIndex, frame);
        return;
    }
    for (TOutputStreamState& ost : run.OutputStreams) {
        if (ost.SourceIndex != inputIndex || !ost.EncodingNeeded)
            continue;
        if (video)
            DoVideoOut(run, ost, ist, frame);
        else
            DoAudioOut(run, ost, ist, frame);
    }
}

// With rate emulation the input is not read faster than it plays.
void TCustomFFmpeg::EmulateRate(const TInputStream& ist, int64_t pts) {
    if (!Opt.RateEmulation)
        return;
    const int64_t ahead = pts - (av_gettime_relative() - ist.StartWallClock);
    if (ahead > 1000)
        std::this_thread::sleep_for(std::chrono::milliseconds(ahead / 1000));
}

int TCustomFFmpeg::DecodeSubtitle(TTranscodeRun& run, TInputStream& ist, int inputIndex,
                                  const AVPacket* packet) {
    AVSubtitle subtitle{};
    int gotSubtitle = 0;
    // The decoder takes a non-const packet; it does not change it.
    if (avcodec_decode_subtitle2(ist.Codec, &subtitle, &gotSubtitle, const_cast<AVPacket*>(packet)) < 0)
        return -1;
    if (!gotSubtitle)
        return 0;
    if (StartReached(ist)) {
        for (TOutputStreamState& ost : run.OutputStreams) {
            if (ost.SourceIndex == inputIndex && ost.EncodingNeeded)
                DoSubtitleOut(run, ost, ist, subtitle,
                              packet->pts == AV_NOPTS_VALUE
                                  ? AV_NOPTS_VALUE
                                  : ToMicroseconds(packet->pts, ist.Stream->time_base));
        }
    }
    avsubtitle_free(&subtitle);
    return 0;
}

void TCustomFFmpeg::CopyPacket(TTranscodeRun& run, TOutputStreamState& ost, TInputStream& ist,
                               const AVPacket* packet) {
    if (ost.FrameNumber == 0 && !(packet->flags & AV_PKT_FLAG_KEY) && !Opt.CopyInitialNonKeyframes)
        return;
    const AVMediaType type = ist.Stream->codecpar->codec_type;
    if (type == AVMEDIA_TYPE_AUDIO) {
        Opt.AudioSize += packet->size;
    } else if (type == AVMEDIA_TYPE_VIDEO) {
        Opt.VideoSize += packet->size;
        ost.SyncOpts += 1;
    }
    AVPacket* output = run.EncodedPacket.get();
    if (av_packet_ref(output, packet) < 0)
        throw FFmpegException("av_mallocz fail");
    const AVRational from = ist.Stream->time_base;
    const AVRational to = ost.Stream->time_base;
    const int64_t start = av_rescale_q(Opt.StartTime, kMicrosecondBase, to);
    output->pts =
        packet->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : av_rescale_q(packet->pts, from, to) - start;
    output->dts = (packet->dts == AV_NOPTS_VALUE ? av_rescale_q(ist.Pts, kMicrosecondBase, to)
                                                 : av_rescale_q(packet->dts, from, to)) -
                  start;
    output->duration = av_rescale_q(packet->duration, from, to);
    output->pos = -1;
    WritePacket(ost, output);
    av_packet_unref(output);
    ost.FrameNumber += 1;
}

void TCustomFFmpeg::DrainEncoder(TTranscodeRun& run, TOutputStreamState& ost) {
    if (!ost.EncodingNeeded || ost.EncoderDrained)
        return;
    ost.EncoderDrained = true;
    switch (ost.Codec->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        FlushAudioFifo(run, ost);
        EncodeAndWrite(run, ost, nullptr);
        break;
    case AVMEDIA_TYPE_VIDEO:
        EncodeAndWrite(run, ost, nullptr);
        break;
    default:
        break;
    }
}

// Quality and PSNR errors of an encoded picture come with the packet.
static void ReadQualityStats(TOutputStreamState& ost, const AVPacket* packet) {
    size_t size = 0;
    const uint8_t* stats = av_packet_get_side_data(packet, AV_PKT_DATA_QUALITY_STATS, &size);
    if (!stats || size < 5)
        return;
    const int32_t lambda = static_cast<int32_t>(AV_RL32(stats));
    if (lambda >= 0) // encoders without a quantizer of their own report none
        ost.Quality = static_cast<float>(lambda) / FF_QP2LAMBDA;
    ost.PictureType = stats[4];
    const int errorCount = size >= 6 ? stats[5] : 0;
    for (int i = 0; i < errorCount && i < 4 && 8 + 8 * (i + 1) <= static_cast<int>(size); ++i)
        ost.PsnrError[i] = static_cast<int64_t>(AV_RL64(stats + 8 + 8 * i));
}

void TCustomFFmpeg::EncodeAndWrite(TTranscodeRun& run, TOutputStreamState& ost, AVFrame* frame) {
    AVCodecContext* codec = ost.Codec;
    const bool video = codec->codec_type == AVMEDIA_TYPE_VIDEO;
    const char* failure = video ? "Video encoding failed" : "Audio encoding failed";
    int ret = avcodec_send_frame(codec, frame);
    if (ret < 0 && !(ret == AVERROR_EOF && !frame))
        throw FFmpegException(failure);
    AVPacket* packet = run.EncodedPacket.get();
    while ((ret = avcodec_receive_packet(codec, packet)) >= 0) {
        ReadQualityStats(ost, packet);
        if (video) {
            Opt.VideoSize += packet->size;
            if (ost.LogFile && codec->stats_out)
                std::fputs(codec->stats_out, ost.LogFile.get());
        } else {
            Opt.AudioSize += packet->size;
        }
        const int frameSize = packet->size;
        av_packet_rescale_ts(packet, codec->time_base, ost.Stream->time_base);
        WritePacket(ost, packet);
        av_packet_unref(packet);
        if (video)
            WriteVideoStats(ost, frameSize);
    }
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
        throw FFmpegException(failure);
}

} // namespace tarnel
