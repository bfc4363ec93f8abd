// Preview bitmaps of encoded pictures and the per-frame statistics file.
#include "FFmpeg.h"

namespace tarnel {

void TCustomFFmpeg::Preview(const AVFrame* /*picture*/, const AVCodecContext* /*encoder*/) {}

void TCustomFFmpeg::WriteVideoStats(TOutputStreamState& /*ost*/, int /*frameSize*/) {}

} // namespace tarnel
