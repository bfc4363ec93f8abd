#include "base/PictureRotation.h"

#include "base/FFUtils.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/display.h>
}

#include <cmath>

namespace tarnel {

namespace {

// The filter chain for a clockwise turn.
const char* TurnFilters(int degrees) {
    switch (degrees) {
    case 90:
        return "transpose=dir=clock";
    case 180:
        return "hflip,vflip";
    case 270:
        return "transpose=dir=cclock";
    default:
        return "null";
    }
}

// The graph hands on the source's side data and metadata; av_frame_copy_props adds them to what
// the frame already has, so they are dropped before the source's are copied.
void DropSideDataAndMetadata(AVFrame* frame) {
    while (frame->nb_side_data > 0)
        av_frame_remove_side_data(frame, frame->side_data[0]->type);
    av_dict_free(&frame->metadata);
}

} // namespace

int UprightTurn(const AVStream* stream, bool* rightAngle, double* angle) {
    if (rightAngle)
        *rightAngle = true;
    if (angle)
        *angle = 0;
    const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!matrix)
        return 0;
    // The matrix gives the anticlockwise rotation of the picture as stored; showing it upright
    // takes the same angle clockwise.
    const double anticlockwise = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (std::isnan(anticlockwise))
        return 0;
    double clockwise = std::fmod(-anticlockwise, 360.0);
    if (clockwise < 0)
        clockwise += 360.0;
    const double quarters = std::round(clockwise / 90.0);
    if (std::fabs(clockwise - quarters * 90.0) > 0.5) {
        if (rightAngle)
            *rightAngle = false;
        if (angle)
            *angle = clockwise;
        return 0;
    }
    return static_cast<int>(quarters) % 4 * 90;
}

TPictureRotator::TPictureRotator(int clockwiseDegrees)
    : degrees_(clockwiseDegrees) {}

int TPictureRotator::Configure(const AVFrame* picture) {
    graph_.reset(avfilter_graph_alloc());
    source_ = sink_ = nullptr;
    if (!graph_)
        return AVERROR(ENOMEM);
    graph_->nb_threads = 1;
    const AVRational aspect =
        picture->sample_aspect_ratio.num > 0 ? picture->sample_aspect_ratio : AVRational{1, 1};
    const std::string arguments =
        Format("video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=%d/%d", picture->width,
               picture->height, picture->format, AV_TIME_BASE, aspect.num, aspect.den);
    int ret = avfilter_graph_create_filter(&source_, avfilter_get_by_name("buffer"), "in", arguments.c_str(),
                                           nullptr, graph_.get());
    if (ret >= 0)
        ret = avfilter_graph_create_filter(&sink_, avfilter_get_by_name("buffersink"), "out", nullptr,
                                           nullptr, graph_.get());
    if (ret < 0)
        return ret;
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    if (!outputs || !inputs) {
        avfilter_inout_free(&outputs);
        avfilter_inout_free(&inputs);
        return AVERROR(ENOMEM);
    }
    outputs->name = av_strdup("in");
    outputs->filter_ctx = source_;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink_;
    ret = avfilter_graph_parse_ptr(graph_.get(), TurnFilters(degrees_), &inputs, &outputs, nullptr);
    avfilter_inout_free(&outputs);
    avfilter_inout_free(&inputs);
    if (ret >= 0)
        ret = avfilter_graph_config(graph_.get(), nullptr);
    if (ret < 0) {
        graph_.reset();
        return ret;
    }
    width_ = picture->width;
    height_ = picture->height;
    format_ = picture->format;
    return 0;
}

FramePtr TPictureRotator::Turn(const AVFrame* picture, int* error) {
    auto fail = [error](int code) {
        if (error)
            *error = code;
        return FramePtr();
    };
    if (!graph_ || picture->width != width_ || picture->height != height_ || picture->format != format_)
        if (const int ret = Configure(picture); ret < 0)
            return fail(ret);
    FramePtr input = MakeFrame();
    FramePtr turned = MakeFrame();
    if (!input || !turned)
        return fail(AVERROR(ENOMEM));
    if (const int ret = av_frame_ref(input.get(), picture); ret < 0)
        return fail(ret);
    // The graph only carries the picture; the caller's timestamps are put back afterwards.
    input->pts = 0;
    if (const int ret = av_buffersrc_add_frame_flags(source_, input.get(), AV_BUFFERSRC_FLAG_KEEP_REF);
        ret < 0)
        return fail(ret);
    if (const int ret = av_buffersink_get_frame(sink_, turned.get()); ret < 0)
        return fail(ret);
    DropSideDataAndMetadata(turned.get());
    av_frame_copy_props(turned.get(), picture);
    turned->crop_top = turned->crop_bottom = turned->crop_left = turned->crop_right = 0;
    if (TurnSwapsSides(degrees_) && picture->sample_aspect_ratio.num > 0)
        turned->sample_aspect_ratio = av_inv_q(picture->sample_aspect_ratio);
    // The matrix has been applied; a copy of it on the picture would turn it a second time.
    av_frame_remove_side_data(turned.get(), AV_FRAME_DATA_DISPLAYMATRIX);
    return turned;
}

} // namespace tarnel
