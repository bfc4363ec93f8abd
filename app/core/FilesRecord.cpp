#include "FilesRecord.h"

namespace tarnel {

bool TlvFilesRecord::NeedsFrameHook() const {
    if (Brightness != 255 || Contrast != 0 || Saturation != 255 || Exposure != 0)
        return true;
    return !WaterMarks.empty() &&
           (!WaterMarks.front()->Text.empty() || !WaterMarks.front()->ImageFile.empty());
}

} // namespace tarnel
