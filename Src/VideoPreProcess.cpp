// Picture pre-processing before any output sees a decoded picture.
#include "FFmpeg.h"

namespace tarnel {

void TCustomFFmpeg::PreProcessPicture(TInputStream& /*ist*/, AVFrame* /*picture*/) {
    PictureCounter += 1;
}

} // namespace tarnel
