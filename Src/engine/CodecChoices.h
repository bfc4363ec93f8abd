// The formats and rates an output stream takes from what its encoder supports.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace tarnel {

// `requested` when the encoder lists it (or lists nothing), else the first listed format. An
// MJPEG encoder takes the limited-range YUV formats only at a strictness of "unofficial" (-1) or
// lower; above it they become the first listed (full-range) format.
AVPixelFormat ChoosePixelFormat(const AVCodec* encoder, AVPixelFormat requested, int strictness);

// `requested` when the encoder lists it (or lists nothing), else the first listed format.
AVSampleFormat ChooseSampleFormat(const AVCodec* encoder, AVSampleFormat requested);

// The listed rate nearest to `requested` (the first of equally near ones), or `requested` when the
// encoder lists none. Taking another rate is logged as a warning from `logSender`.
int ChooseSampleRate(const AVCodec* encoder, int requested, const void* logSender);

} // namespace tarnel
