// The video filter graph of an encoded stream ("vf"): decoded pictures enter a "buffer" source,
// optionally cropped and scaled to the encoder's size, go through the user's filters and leave
// through a sink that gives the encoder's pixel format.
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLogger.h"
#include "engine/FFmpeg.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace tarnel {

namespace {

// A band scaled from the size the stream started with to the current size, rounded down to even.
int ProportionalBand(int band, int size, int initialSize) {
    if (initialSize <= 0)
        return band;
    return static_cast<int>(int64_t{size} * band / initialSize) & ~1;
}

} // namespace

int TCustomFFmpeg::ConfigureVideoFilters(TTranscodeRun& /*run*/, TOutputStreamState& ost, TInputStream& ist) {
    if (BuildVideoFilterGraph(ost, ist, nullptr, 0, 0) < 0)
        return -1;
    AVFilterContext* sink = ist.OutputVideoFilter;
    const int width = av_buffersink_get_w(sink);
    const int height = av_buffersink_get_h(sink);
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(ost.Codec->pix_fmt);
    const int evenWidth = descriptor && descriptor->log2_chroma_w ? width & ~1 : width;
    const int evenHeight = descriptor && descriptor->log2_chroma_h ? height & ~1 : height;
    // Subsampled encoders take no odd sizes: the graph ends with one more scale to an even size.
    if ((evenWidth != width || evenHeight != height) && evenWidth > 0 && evenHeight > 0) {
        Logger().LogFmt(this, llWarning, "Filtered picture size %dx%d rounded to %dx%d for the encoder",
                        width, height, evenWidth, evenHeight);
        if (BuildVideoFilterGraph(ost, ist, nullptr, evenWidth, evenHeight) < 0)
            return -1;
    }
    ost.Codec->width = av_buffersink_get_w(ist.OutputVideoFilter);
    ost.Codec->height = av_buffersink_get_h(ist.OutputVideoFilter);
    const AVRational aspect = av_buffersink_get_sample_aspect_ratio(ist.OutputVideoFilter);
    if (aspect.num > 0 && aspect.den > 0 && ost.Codec->sample_aspect_ratio.num == 0)
        ost.Codec->sample_aspect_ratio = aspect;
    return 0;
}

// Builds FilterGraph for the input's pictures (the decoder's geometry when `input` is null) and
// sets the input stream's source and sink. With a fixed size the graph ends with a scale to it.
// 0, or -1 with LastError.
int TCustomFFmpeg::BuildVideoFilterGraph(TOutputStreamState& ost, TInputStream& ist, const AVFrame* input,
                                         int fixedWidth, int fixedHeight) {
    ist.InputVideoFilter = nullptr;
    ist.OutputVideoFilter = nullptr;
    FilterGraph.reset(avfilter_graph_alloc());
    AVFilterGraph* graph = FilterGraph.get();
    if (!graph) {
        lastError_ = LibraryErrorText(AVERROR(ENOMEM));
        return -1;
    }
    auto fail = [this](int code) {
        lastError_ = LibraryErrorText(code);
        FilterGraph.reset();
        return -1;
    };

    // A picture's own geometry when given: the decoder's context may be changing on the reading thread.
    int width = input ? input->width : 0;
    int height = input ? input->height : 0;
    if (!input)
        UprightSize(ist, width, height);
    const int format = input ? input->format : ist.Codec->pix_fmt;
    AVRational aspect = input ? input->sample_aspect_ratio : ist.Codec->sample_aspect_ratio;
    if (aspect.num <= 0 || aspect.den <= 0)
        aspect = AVRational{0, 1};
    const int flags = GenericScalerFlags();

    AVFilterContext* source = nullptr;
    const std::string sourceArgs =
        Format("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", width, height, format,
               kMicrosecondBase.num, kMicrosecondBase.den, aspect.num, aspect.den);
    int ret = avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"), "src", sourceArgs.c_str(),
                                           nullptr, graph);
    if (ret < 0)
        return fail(ret);

    AVFilterContext* sink = avfilter_graph_alloc_filter(graph, avfilter_get_by_name("buffersink"), "out");
    if (!sink)
        return fail(AVERROR(ENOMEM));
    const AVPixelFormat sinkFormats[] = {ost.Codec->pix_fmt, AV_PIX_FMT_NONE};
    ret = av_opt_set_int_list(sink, "pix_fmts", sinkFormats, AV_PIX_FMT_NONE, AV_OPT_SEARCH_CHILDREN);
    if (ret < 0 || (ret = avfilter_init_str(sink, nullptr)) < 0)
        return fail(ret);

    auto append = [&](AVFilterContext*& last, const char* name, const std::string& args) {
        AVFilterContext* filter = nullptr;
        int code = avfilter_graph_create_filter(&filter, avfilter_get_by_name(name), name, args.c_str(),
                                                nullptr, graph);
        if (code >= 0)
            code = avfilter_link(last, 0, filter, 0);
        if (code >= 0)
            last = filter;
        return code;
    };

    AVFilterContext* last = source;
    const int top = ProportionalBand(ost.InitialTopBand, height, ost.InitialHeight);
    const int bottom = ProportionalBand(ost.InitialBottomBand, height, ost.InitialHeight);
    const int left = ProportionalBand(ost.InitialLeftBand, width, ost.InitialWidth);
    const int right = ProportionalBand(ost.InitialRightBand, width, ost.InitialWidth);
    const int croppedWidth = width - left - right;
    const int croppedHeight = height - top - bottom;
    if (top || bottom || left || right) {
        ret = append(last, "crop", Format("x=%d:y=%d:w=%d:h=%d", left, top, croppedWidth, croppedHeight));
        if (ret < 0)
            return fail(ret);
    }
    // With a fixed size the user's filters decide the size before the last scale.
    if (fixedWidth <= 0 && (ost.Codec->width != croppedWidth || ost.Codec->height != croppedHeight) &&
        ost.Codec->width > 0 && ost.Codec->height > 0) {
        ret = append(last, "scale", Format("w=%d:h=%d:flags=%d", ost.Codec->width, ost.Codec->height, flags));
        if (ret < 0)
            return fail(ret);
    }
    av_freep(&graph->scale_sws_opts);
    graph->scale_sws_opts = av_strdup(Format("flags=%d", flags).c_str());

    AVFilterContext* end = sink;
    if (fixedWidth > 0) {
        AVFilterContext* finalScale = nullptr;
        ret = avfilter_graph_create_filter(
            &finalScale, avfilter_get_by_name("scale"), "fixed_size",
            Format("w=%d:h=%d:flags=%d", fixedWidth, fixedHeight, flags).c_str(), nullptr, graph);
        if (ret < 0 || (ret = avfilter_link(finalScale, 0, sink, 0)) < 0)
            return fail(ret);
        end = finalScale;
    }

    if (!Opt.VideoFilters.empty()) {
        InOutPtr outputs = MakeInOut("in", last);
        InOutPtr inputs = MakeInOut("out", end);
        if (!outputs || !inputs)
            return fail(AVERROR(ENOMEM));
        AVFilterInOut* openInputs = inputs.release();
        AVFilterInOut* openOutputs = outputs.release();
        ret = avfilter_graph_parse_ptr(graph, Opt.VideoFilters.c_str(), &openInputs, &openOutputs, nullptr);
        inputs.reset(openInputs);
        outputs.reset(openOutputs);
        if (ret < 0)
            return fail(ret);
    } else if ((ret = avfilter_link(last, 0, end, 0)) < 0) {
        return fail(ret);
    }
    if ((ret = avfilter_graph_config(graph, nullptr)) < 0)
        return fail(ret);
    ist.InputVideoFilter = source;
    ist.OutputVideoFilter = sink;
    return 0;
}

void TCustomFFmpeg::DeliverFilteredPictures(TTranscodeRun& run, TInputStream& ist, int inputIndex,
                                            AVFrame* picture) {
    const AVFilterLink* entry = ist.InputVideoFilter->outputs[0];
    if (!picture) {
        // The end of the input: filters that hold pictures back hand out the rest.
        const int ret = av_buffersrc_add_frame_flags(ist.InputVideoFilter, nullptr, 0);
        if (ret < 0 && ret != AVERROR_EOF)
            throw FFmpegException("Error while filtering: " + LibraryErrorText(ret));
    } else if (picture->width != entry->w || picture->height != entry->h ||
               picture->format != entry->format) {
        // Rebuilt for the new geometry; the pictures leaving it keep the size the encoder was opened with.
        Logger().LogFmt(this, llQuiet, "Input Stream #%d.%d frame size changed to %dx%d, %s", ist.FileIndex,
                        ist.StreamIndex, picture->width, picture->height,
                        av_get_pix_fmt_name(static_cast<AVPixelFormat>(picture->format)));
        const int width = av_buffersink_get_w(ist.OutputVideoFilter);
        const int height = av_buffersink_get_h(ist.OutputVideoFilter);
        for (TOutputStreamState& ost : run.OutputStreams) {
            if (ost.SourceIndex == inputIndex && ost.EncodingNeeded && ost.IsVideo()) {
                if (BuildVideoFilterGraph(ost, ist, picture, width, height) < 0)
                    throw FFmpegException("Error opening filters: " + lastError_);
                break;
            }
        }
    }

    int ret = 0;
    if (picture) {
        picture->pts = ist.Pts;
        ret = av_buffersrc_add_frame_flags(ist.InputVideoFilter, picture, AV_BUFFERSRC_FLAG_KEEP_REF);
        if (ret < 0)
            throw FFmpegException("Error while filtering: " + LibraryErrorText(ret));
    }
    FramePtr filtered = MakeFrame();
    if (!filtered)
        throw FFmpegException("Not enough memory");
    const AVRational timeBase = av_buffersink_get_time_base(ist.OutputVideoFilter);
    while ((ret = av_buffersink_get_frame(ist.OutputVideoFilter, filtered.get())) >= 0) {
        if (filtered->pts != AV_NOPTS_VALUE)
            ist.Pts = av_rescale_q(filtered->pts, timeBase, kMicrosecondBase);
        for (TOutputStreamState& ost : run.OutputStreams) {
            if (ost.SourceIndex == inputIndex && ost.EncodingNeeded)
                DoVideoOut(run, ost, ist, filtered.get());
        }
        av_frame_unref(filtered.get());
    }
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
        throw FFmpegException("Error while filtering: " + LibraryErrorText(ret));
}

} // namespace tarnel
