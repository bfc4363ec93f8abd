#include "FilesRecord.h"

#include "PictureAdjustment.h"

namespace tarnel {

bool TlvFilesRecord::NeedsFrameHook() const {
    if (PictureAdjusted({Brightness, Contrast, Saturation, Exposure}))
        return true;
    return !WaterMarks.empty() &&
           (!WaterMarks.front()->Text.empty() || !WaterMarks.front()->ImageFile.empty());
}

} // namespace tarnel
