// The audio filter graph of an encoded stream ("af"): decoded samples enter an "abuffer" source, go
// through the user's filters and leave through an "abuffersink" that takes whatever they give; the
// resampler behind it gives the encoder its format, rate and channels. Each block leaving the graph
// is placed by its own timestamp, so that a filter that holds samples back (a lookahead, a loudness
// window) neither has its delay padded with silence nor its output trimmed.
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLogger.h"
#include "engine/FFmpeg.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace tarnel {

namespace {

struct SourceParametersFree {
    void operator()(AVBufferSrcParameters* p) const {
        av_channel_layout_uninit(&p->ch_layout);
        av_free(p);
    }
};
using SourceParametersPtr = std::unique_ptr<AVBufferSrcParameters, SourceParametersFree>;

int64_t BlockDuration(const AVFrame* samples) {
    return samples->sample_rate > 0 ? int64_t{1000000} * samples->nb_samples / samples->sample_rate : 0;
}

} // namespace

void TCustomFFmpeg::SetOutputAudioFilters(const std::string& graph) {
    for (int f = 0; f < outputFileCount_; ++f)
        for (TOutputStream& stream : OutputFiles[f]->Streams)
            if (!stream.StreamCopy && stream.Codec && stream.Codec->codec_type == AVMEDIA_TYPE_AUDIO)
                stream.AudioFilters = graph;
}

void TCustomFFmpeg::BuildAudioGraph(TOutputStreamState& ost, int format, int rate,
                                    const AVChannelLayout& layout) {
    ost.AudioSource = nullptr;
    ost.AudioSink = nullptr;
    ost.AudioGraph.reset(avfilter_graph_alloc());
    AVFilterGraph* graph = ost.AudioGraph.get();
    const std::string& text = ost.Setup->AudioFilters;
    auto fail = [&](int code) {
        ost.AudioGraph.reset();
        throw FFmpegException(Format("Error configuring the audio filters \"%s\" of output stream #%d.%d: %s",
                                     text.c_str(), ost.FileIndex, ost.StreamIndex,
                                     LibraryErrorText(code).c_str()));
    };
    if (!graph)
        fail(AVERROR(ENOMEM));

    AVFilterContext* source = avfilter_graph_alloc_filter(graph, avfilter_get_by_name("abuffer"), "in");
    SourceParametersPtr parameters(av_buffersrc_parameters_alloc());
    if (!source || !parameters)
        fail(AVERROR(ENOMEM));
    parameters->format = format;
    parameters->sample_rate = rate;
    parameters->time_base = AVRational{1, rate};
    int ret = av_channel_layout_copy(&parameters->ch_layout, &layout);
    if (ret >= 0)
        ret = av_buffersrc_parameters_set(source, parameters.get());
    if (ret >= 0)
        ret = avfilter_init_str(source, nullptr);
    if (ret < 0)
        fail(ret);

    AVFilterContext* sink = avfilter_graph_alloc_filter(graph, avfilter_get_by_name("abuffersink"), "out");
    if (!sink)
        fail(AVERROR(ENOMEM));
    // Channels without a named layout pass too; the resampler names them for the encoder.
    ret = av_opt_set_int(sink, "all_channel_counts", 1, AV_OPT_SEARCH_CHILDREN);
    if (ret >= 0)
        ret = avfilter_init_str(sink, nullptr);
    if (ret < 0)
        fail(ret);

    InOutPtr outputs = MakeInOut("in", source);
    InOutPtr inputs = MakeInOut("out", sink);
    if (!outputs || !inputs)
        fail(AVERROR(ENOMEM));
    AVFilterInOut* openInputs = inputs.release();
    AVFilterInOut* openOutputs = outputs.release();
    ret = avfilter_graph_parse_ptr(graph, text.c_str(), &openInputs, &openOutputs, nullptr);
    inputs.reset(openInputs);
    outputs.reset(openOutputs);
    if (ret >= 0)
        ret = avfilter_graph_config(graph, nullptr);
    if (ret < 0)
        fail(ret);
    ost.AudioSource = source;
    ost.AudioSink = sink;
    ost.AudioGraphInput = {format, rate, layout.nb_channels, av_channel_layout_subset(&layout, ~uint64_t{0})};
    ost.FilteredNextPts = AV_NOPTS_VALUE;
}

void TCustomFFmpeg::PrepareAudioGraph(TTranscodeRun& run, TOutputStreamState& ost) {
    // Decoders that tell their output only with the first block get the encoder's parameters here;
    // the graph is built again if the samples differ.
    const AVCodecContext* decoder = run.InputStreams[ost.SourceIndex].Codec;
    const AVCodecContext* encoder = ost.Codec;
    const bool known = decoder && decoder->sample_fmt != AV_SAMPLE_FMT_NONE && decoder->sample_rate > 0 &&
                       decoder->ch_layout.nb_channels > 0;
    const AVCodecContext* shape = known ? decoder : encoder;
    try {
        BuildAudioGraph(ost, shape->sample_fmt, shape->sample_rate, shape->ch_layout);
    } catch (const FFmpegException& e) {
        Logger().Log(this, llError, e.what());
        throw;
    }
}

void TCustomFFmpeg::FilterAudio(TTranscodeRun& run, TOutputStreamState& ost, TInputStream& ist,
                                AVFrame* samples) {
    if (samples && (!ost.AudioGraph || ost.AudioGraphInput != SampleShapeOf(samples))) {
        // What the graph still holds of the previous samples goes out before it is rebuilt.
        if (ost.AudioGraph)
            FilterAudio(run, ost, ist, nullptr);
        BuildAudioGraph(ost, samples->format, samples->sample_rate, samples->ch_layout);
    }
    if (!ost.AudioGraph)
        return;
    int ret = 0;
    if (samples) {
        samples->pts = av_rescale_q(ist.Pts, kMicrosecondBase, AVRational{1, samples->sample_rate});
        ret = av_buffersrc_add_frame_flags(ost.AudioSource, samples, AV_BUFFERSRC_FLAG_KEEP_REF);
    } else {
        ret = av_buffersrc_add_frame_flags(ost.AudioSource, nullptr, 0);
    }
    if (ret < 0 && !(ret == AVERROR_EOF && !samples))
        throw FFmpegException("Error while filtering audio: " + LibraryErrorText(ret));

    if (!ost.FilteredSamples && !(ost.FilteredSamples = MakeFrame()))
        throw FFmpegException("Not enough memory");
    AVFrame* filtered = ost.FilteredSamples.get();
    const AVRational timeBase = av_buffersink_get_time_base(ost.AudioSink);
    // The stream may be synchronised with another input than its source: the filtered block keeps
    // the distance between the two.
    const int64_t syncOffset = ost.SyncInput->Pts - ist.Pts;
    while ((ret = av_buffersink_get_frame(ost.AudioSink, filtered)) >= 0) {
        int64_t position = ost.FilteredNextPts != AV_NOPTS_VALUE ? ost.FilteredNextPts : ist.Pts;
        if (filtered->pts != AV_NOPTS_VALUE)
            position = av_rescale_q(filtered->pts, timeBase, kMicrosecondBase);
        ost.FilteredNextPts = position + BlockDuration(filtered);
        QueueAudio(run, ost, ist, filtered, position + syncOffset);
        av_frame_unref(filtered);
    }
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
        throw FFmpegException("Error while filtering audio: " + LibraryErrorText(ret));
    if (!samples) {
        ost.AudioGraph.reset();
        ost.AudioSource = nullptr;
        ost.AudioSink = nullptr;
    }
}

} // namespace tarnel
