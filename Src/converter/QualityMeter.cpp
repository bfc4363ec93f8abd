#include "converter/QualityMeter.h"

#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/InputWatch.h"
#include "base/LibHandles.h"
#include "base/PictureRotation.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/pixdesc.h>
}

#include <cmath>
#include <cstdlib>
#include <limits>

namespace tarnel {

namespace {

// The first video stream that is not a cover picture, -1 when there is none.
int VideoStreamIndex(const AVFormatContext* format) {
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return static_cast<int>(i);
    }
    return -1;
}

// One file's video, decoded picture by picture.
class TVideoReader {
public:
    TVideoReader(const std::string& path, double timeoutSeconds)
        : path_(path) {
        watch_.SetTimeout(timeoutSeconds);
        format_ = OpenWatchedInput(path, watch_);
        index_ = VideoStreamIndex(format_.get());
    }

    bool HasVideo() const { return index_ >= 0; }
    AVStream* Stream() const { return format_->streams[index_]; }
    // The file's own start time (µs), which positions are counted from.
    int64_t StartTime() const { return format_->start_time == AV_NOPTS_VALUE ? 0 : format_->start_time; }
    int64_t DurationUs() const { return format_->duration == AV_NOPTS_VALUE ? 0 : format_->duration; }

    void OpenDecoder() {
        const AVCodecParameters* parameters = Stream()->codecpar;
        const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
        if (!decoder)
            throw FFmpegException(path_ + ": no decoder for " + CodecText(parameters, false));
        codec_.reset(avcodec_alloc_context3(decoder));
        packet_ = MakePacket();
        if (!codec_ || !packet_)
            throw FFmpegException(path_ + ": " + LibraryErrorText(AVERROR(ENOMEM)));
        int ret = avcodec_parameters_to_context(codec_.get(), parameters);
        if (ret >= 0) {
            codec_->thread_count = 0;
            codec_->pkt_timebase = Stream()->time_base;
            ret = avcodec_open2(codec_.get(), decoder, nullptr);
        }
        if (ret < 0)
            throw FFmpegException(ErrorText(path_, ret));
    }

    // Positions the file at or before `us` (µs from the file's start); a failed seek only means
    // more pictures to drop.
    void SeekBefore(int64_t us) {
        if (us > 0)
            av_seek_frame(format_.get(), -1, us + StartTime(), AVSEEK_FLAG_BACKWARD);
    }

    // The next picture with its time (µs from the file's start) in `us`; false at the end.
    bool Next(AVFrame* frame, int64_t& us) {
        for (;;) {
            int ret = avcodec_receive_frame(codec_.get(), frame);
            if (ret >= 0) {
                int64_t pts = frame->best_effort_timestamp;
                if (pts == AV_NOPTS_VALUE)
                    pts = nextPts_;
                frame->pts = pts;
                nextPts_ = pts + std::max<int64_t>(frame->pkt_duration, 1);
                us = av_rescale_q(pts, Stream()->time_base, kMicrosecondBase) - StartTime();
                return true;
            }
            if (ret == AVERROR_EOF)
                return false;
            if (ret != AVERROR(EAGAIN))
                throw FFmpegException(path_ + ": decoding error: " + LibraryErrorText(ret));
            ret = ReadWatchedPacket(format_.get(), packet_.get(), watch_, path_);
            if (ret == AVERROR_EOF) {
                ret = avcodec_send_packet(codec_.get(), nullptr);
            } else if (ret < 0) {
                throw FFmpegException(path_ + ": read error: " + LibraryErrorText(ret));
            } else if (packet_->stream_index != index_) {
                av_packet_unref(packet_.get());
                continue;
            } else {
                ret = avcodec_send_packet(codec_.get(), packet_.get());
                av_packet_unref(packet_.get());
            }
            if (ret < 0 && ret != AVERROR_EOF)
                throw FFmpegException(path_ + ": decoding error: " + LibraryErrorText(ret));
        }
    }

private:
    std::string path_;
    TInputWatch watch_;
    InputContextPtr format_;
    CodecContextPtr codec_;
    PacketPtr packet_;
    int index_ = -1;
    int64_t nextPts_ = 0;
};

AVFilterContext* MakeSource(AVFilterGraph* graph, const char* name, const AVFrame* frame,
                            const AVStream* stream) {
    AVRational aspect = frame->sample_aspect_ratio;
    if (aspect.num <= 0 || aspect.den <= 0)
        aspect = AVRational{0, 1};
    std::string args =
        Format("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", frame->width, frame->height,
               frame->format, stream->time_base.num, stream->time_base.den, aspect.num, aspect.den);
    const AVRational rate = stream->avg_frame_rate;
    if (rate.num > 0 && rate.den > 0)
        args += Format(":frame_rate=%d/%d", rate.num, rate.den);
    AVFilterContext* source = nullptr;
    const int ret = avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"), name, args.c_str(),
                                                 nullptr, graph);
    if (ret < 0)
        throw FFmpegException("Cannot compare pictures: " + LibraryErrorText(ret));
    return source;
}

AVFilterContext* MakeJoint(AVFilterGraph* graph, const char* name) {
    AVFilterContext* joint = nullptr;
    const int ret =
        avfilter_graph_create_filter(&joint, avfilter_get_by_name("null"), name, nullptr, nullptr, graph);
    if (ret < 0)
        throw FFmpegException("Cannot compare pictures: " + LibraryErrorText(ret));
    return joint;
}

// An open pad list entry for avfilter_graph_parse_ptr, chained before `next`.
// Adds `text` to the graph, its open outputs fed from `outputs` and its open inputs feeding `inputs`.
void Parse(AVFilterGraph* graph, const std::string& text, InOutPtr outputs, InOutPtr inputs,
           const char* what) {
    AVFilterInOut* openInputs = inputs.release();
    AVFilterInOut* openOutputs = outputs.release();
    const int ret = avfilter_graph_parse_ptr(graph, text.c_str(), &openInputs, &openOutputs, nullptr);
    inputs.reset(openInputs);
    outputs.reset(openOutputs);
    if (ret < 0)
        throw FFmpegException(std::string("Cannot compare pictures: ") + what + " \"" + text +
                              "\": " + LibraryErrorText(ret));
}

const char* TurnFilters(int degrees) {
    switch (degrees) {
    case 90:
        return "transpose=dir=clock";
    case 180:
        return "hflip,vflip";
    case 270:
        return "transpose=dir=cclock";
    default:
        return nullptr;
    }
}

// The engine's steps before the conversion's filter text: upright, crop, scale.
std::string EngineChain(const TQualityJob& job, const AVFrame* first, const AVStream* stream) {
    std::string chain;
    auto add = [&chain](const std::string& filter) {
        if (!chain.empty())
            chain += ',';
        chain += filter;
    };
    int width = first->width;
    int height = first->height;
    const int turn = job.AutoRotate ? UprightTurn(stream) : 0;
    if (const char* filters = TurnFilters(turn)) {
        add(filters);
        if (TurnSwapsSides(turn))
            std::swap(width, height);
    }
    if (job.CropTop || job.CropBottom || job.CropLeft || job.CropRight) {
        width -= job.CropLeft + job.CropRight;
        height -= job.CropTop + job.CropBottom;
        if (width <= 0 || height <= 0)
            throw FFmpegException("Cannot compare pictures: the crop leaves no picture");
        add(Format("crop=x=%d:y=%d:w=%d:h=%d", job.CropLeft, job.CropTop, width, height));
    }
    if (job.Width > 0 && job.Height > 0 && (job.Width != width || job.Height != height))
        add(Format("scale=w=%d:h=%d", job.Width, job.Height));
    return chain.empty() ? "null" : chain;
}

double MetadataNumber(const AVFrame* frame, const char* key, bool& found) {
    const AVDictionaryEntry* entry = av_dict_get(frame->metadata, key, nullptr, 0);
    found = entry != nullptr;
    return entry ? std::strtod(entry->value, nullptr) : 0.0;
}

class TComparison {
public:
    TComparison(const TQualityJob& job, TVideoReader& output, const AVFrame* firstOutput,
                TVideoReader& source, const AVFrame* firstSource)
        : graph_(avfilter_graph_alloc()) {
        AVFilterGraph* graph = graph_.get();
        if (!graph)
            throw FFmpegException("Cannot compare pictures: " + LibraryErrorText(AVERROR(ENOMEM)));
        graph->nb_threads = 0;
        outputSource_ = MakeSource(graph, "output", firstOutput, output.Stream());
        sourceSource_ = MakeSource(graph, "source", firstSource, source.Stream());
        sink_ = avfilter_graph_alloc_filter(graph, avfilter_get_by_name("buffersink"), "result");
        int ret = sink_ ? avfilter_init_str(sink_, nullptr) : AVERROR(ENOMEM);
        if (ret < 0)
            throw FFmpegException("Cannot compare pictures: " + LibraryErrorText(ret));

        AVFilterContext* engineEnd = MakeJoint(graph, "engine_end");
        AVFilterContext* filtersEnd = MakeJoint(graph, "filters_end");
        Parse(graph, EngineChain(job, firstSource, source.Stream()), MakeInOut("in", sourceSource_),
              MakeInOut("out", engineEnd), "crop and scale");
        Parse(graph, job.VideoFilters.empty() ? std::string("null") : job.VideoFilters,
              MakeInOut("in", engineEnd), MakeInOut("out", filtersEnd), "the conversion's filters");
        const char* pixelFormat = av_get_pix_fmt_name(static_cast<AVPixelFormat>(firstOutput->format));
        if (!pixelFormat)
            throw FFmpegException("Cannot compare pictures: the output's pixel format is unknown");
        // The output is the filters' main input: each of its pictures is compared with the source
        // picture current at its time, whatever the two frame rates. Both sides count time in the
        // same unit, which the filters' pairing by time needs.
        const std::string compare = Format(
            "[out_in]setpts=PTS-STARTPTS,settb=AVTB[main];"
            "[src_in]scale=w=%d:h=%d,format=pix_fmts=%s,setpts=PTS-STARTPTS,settb=AVTB,split[ref1][ref2];"
            "[main][ref1]psnr[measured];[measured][ref2]ssim[result]",
            firstOutput->width, firstOutput->height, pixelFormat);
        Parse(graph, compare, MakeInOut("out_in", outputSource_, MakeInOut("src_in", filtersEnd)),
              MakeInOut("result", sink_), "comparison");
        if ((ret = avfilter_graph_config(graph, nullptr)) < 0)
            throw FFmpegException("Cannot compare pictures: " + LibraryErrorText(ret));
        const AVPixFmtDescriptor* descriptor =
            av_pix_fmt_desc_get(static_cast<AVPixelFormat>(firstOutput->format));
        maxValue_ = descriptor ? (1 << descriptor->comp[0].depth) - 1 : 255;
    }

    void AddOutput(AVFrame* frame) { Add(outputSource_, frame); }
    void AddSource(AVFrame* frame) { Add(sourceSource_, frame); }

    // Reads the measured pictures the filters have ready; true once the filters have finished.
    bool Collect(TQualityReport& report) {
        for (;;) {
            const int ret = av_buffersink_get_frame(sink_, result_.get());
            if (ret == AVERROR(EAGAIN))
                return false;
            if (ret == AVERROR_EOF)
                return true;
            if (ret < 0)
                throw FFmpegException("Error while comparing pictures: " + LibraryErrorText(ret));
            bool hasMse = false;
            bool hasSsim = false;
            const double mse = MetadataNumber(result_.get(), "lavfi.psnr.mse_avg", hasMse);
            const double ssim = MetadataNumber(result_.get(), "lavfi.ssim.All", hasSsim);
            av_frame_unref(result_.get());
            if (!hasMse || !hasSsim)
                continue;
            mseSum_ += mse;
            ssimSum_ += ssim;
            ++report.ComparedPictures;
        }
    }

    void Summarise(TQualityReport& report) const {
        if (report.ComparedPictures == 0)
            return;
        const double mse = mseSum_ / report.ComparedPictures;
        report.Psnr = mse > 0 ? 10.0 * std::log10(double(maxValue_) * maxValue_ / mse)
                              : std::numeric_limits<double>::infinity();
        report.Ssim = ssimSum_ / report.ComparedPictures;
    }

private:
    static void Add(AVFilterContext* source, AVFrame* frame) {
        const int ret = av_buffersrc_add_frame_flags(source, frame, 0);
        if (ret < 0 && !(frame == nullptr && ret == AVERROR_EOF))
            throw FFmpegException("Error while comparing pictures: " + LibraryErrorText(ret));
    }

    FilterGraphPtr graph_;
    AVFilterContext* outputSource_ = nullptr; // owned by graph_
    AVFilterContext* sourceSource_ = nullptr; // owned by graph_
    AVFilterContext* sink_ = nullptr;         // owned by graph_
    FramePtr result_ = MakeFrame();
    double mseSum_ = 0;
    double ssimSum_ = 0;
    int maxValue_ = 255;
};

// One input's next picture, not yet handed to the filters.
struct TPending {
    FramePtr frame = MakeFrame();
    int64_t us = 0;    // from the file's start
    int64_t first = 0; // the time of the first picture, which the filters rebase to 0
    bool available = false;
};

} // namespace

TQualityReport MeasureQuality(const TQualityJob& job, const std::function<bool(double fraction)>& progress) {
    TQualityReport report;
    TVideoReader output(job.Output, job.TimeoutSeconds);
    TVideoReader source(job.Source, job.TimeoutSeconds);
    if (!output.HasVideo() || !source.HasVideo())
        return report;
    report.HasVideo = true;
    output.OpenDecoder();
    source.OpenDecoder();
    source.SeekBefore(job.StartUs);
    const int64_t end =
        job.DurationUs < 0 ? std::numeric_limits<int64_t>::max() : job.StartUs + job.DurationUs;

    TPending out;
    TPending src;
    auto nextOutput = [&] {
        out.available = out.frame && output.Next(out.frame.get(), out.us);
    };
    auto nextSource = [&] {
        src.available = false;
        while (src.frame && source.Next(src.frame.get(), src.us)) {
            if (src.us >= end)
                return;
            if (src.us >= job.StartUs) {
                src.available = true;
                return;
            }
            av_frame_unref(src.frame.get());
        }
    };
    nextOutput();
    nextSource();
    if (!out.frame || !src.frame)
        throw FFmpegException("Cannot compare pictures: " + LibraryErrorText(AVERROR(ENOMEM)));
    if (!out.available || !src.available)
        return report;
    out.first = out.us;
    src.first = src.us;

    TComparison comparison(job, output, out.frame.get(), source, src.frame.get());
    const double outputLength = static_cast<double>(output.DurationUs());
    bool outputOpen = true;
    bool sourceOpen = true;
    while (!comparison.Collect(report) && (outputOpen || sourceOpen)) {
        // The input that is behind in (rebased) time goes next, so the filters hold few pictures.
        const bool takeSource = sourceOpen && (!outputOpen || src.us - src.first <= out.us - out.first);
        if (takeSource) {
            ++report.SourcePictures;
            comparison.AddSource(src.frame.get());
            nextSource();
            if (!src.available) {
                comparison.AddSource(nullptr);
                sourceOpen = false;
            }
            continue;
        }
        ++report.OutputPictures;
        const double done = static_cast<double>(out.us - out.first);
        comparison.AddOutput(out.frame.get());
        if (progress && !progress(outputLength > 0 ? std::min(1.0, done / outputLength) : 0.0)) {
            report.Stopped = true;
            break;
        }
        nextOutput();
        if (!out.available) {
            // Source pictures after the output's last one have nothing to be compared with.
            comparison.AddOutput(nullptr);
            outputOpen = false;
            if (sourceOpen)
                comparison.AddSource(nullptr);
            sourceOpen = false;
        }
    }
    comparison.Summarise(report);
    report.ByTimestamp = report.SourcePictures != report.OutputPictures;
    return report;
}

std::string QualityText(const TQualityReport& report) {
    if (!report.HasVideo || report.Stopped || report.ComparedPictures == 0)
        return {};
    std::string text = std::isinf(report.Psnr) ? Format("PSNR \u221e (identical), SSIM %.3f", report.Ssim)
                                               : Format("PSNR %.1f dB, SSIM %.3f", report.Psnr, report.Ssim);
    if (report.ByTimestamp)
        text += Format(" (%d output and %d source pictures, paired by time)", report.OutputPictures,
                       report.SourcePictures);
    return text;
}

} // namespace tarnel
