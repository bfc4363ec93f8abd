#include "engine/CodecChoices.h"

#include "base/FFmpegLogger.h"

#include <cstdlib>

namespace tarnel {

namespace {

bool IsLimitedRangeForMjpeg(AVPixelFormat format) {
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUV422P || format == AV_PIX_FMT_YUV444P;
}

bool Lists(const AVPixelFormat* formats, AVPixelFormat format) {
    for (const AVPixelFormat* p = formats; *p != AV_PIX_FMT_NONE; ++p)
        if (*p == format)
            return true;
    return false;
}

} // namespace

AVPixelFormat ChoosePixelFormat(const AVCodec* encoder, AVPixelFormat requested, int strictness) {
    if (!encoder || !encoder->pix_fmts || encoder->pix_fmts[0] == AV_PIX_FMT_NONE)
        return requested;
    if (encoder->id == AV_CODEC_ID_MJPEG && IsLimitedRangeForMjpeg(requested)) {
        // The encoder refuses limited-range input at a stricter level when it is opened.
        return strictness <= FF_COMPLIANCE_UNOFFICIAL ? requested : encoder->pix_fmts[0];
    }
    return Lists(encoder->pix_fmts, requested) ? requested : encoder->pix_fmts[0];
}

AVSampleFormat ChooseSampleFormat(const AVCodec* encoder, AVSampleFormat requested) {
    if (!encoder || !encoder->sample_fmts || encoder->sample_fmts[0] == AV_SAMPLE_FMT_NONE)
        return requested;
    for (const AVSampleFormat* p = encoder->sample_fmts; *p != AV_SAMPLE_FMT_NONE; ++p)
        if (*p == requested)
            return requested;
    return encoder->sample_fmts[0];
}

int ChooseSampleRate(const AVCodec* encoder, int requested, const void* logSender) {
    if (!encoder || !encoder->supported_samplerates || encoder->supported_samplerates[0] == 0)
        return requested;
    int best = encoder->supported_samplerates[0];
    for (const int* rate = encoder->supported_samplerates; *rate != 0; ++rate)
        if (std::llabs(static_cast<long long>(*rate) - requested) <
            std::llabs(static_cast<long long>(best) - requested))
            best = *rate;
    if (best != requested)
        Logger().LogFmt(logSender, llWarning,
                        "Requested sampling rate unsupported using closest supported (%d)", best);
    return best;
}

} // namespace tarnel
