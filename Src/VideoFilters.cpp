// The video filter graph of an encoded stream ("vf").
#include "FFmpeg.h"

namespace tarnel {

int TCustomFFmpeg::ConfigureVideoFilters(TTranscodeRun& /*run*/, TOutputStreamState& /*ost*/,
                                         TInputStream& /*ist*/) {
    lastError_ = "video filters are not available in this build yet";
    return -1;
}

void TCustomFFmpeg::DeliverFilteredPictures(TTranscodeRun& /*run*/, TInputStream& /*ist*/, int /*inputIndex*/,
                                            AVFrame* /*picture*/) {}

} // namespace tarnel
