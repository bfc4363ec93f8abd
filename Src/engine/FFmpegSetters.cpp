// Typed setters used by the conversion component; each bypasses option-text parsing.
#include "engine/FFmpeg.h"

namespace tarnel {

void TCustomFFmpeg::SetPreviewFlags(uint8_t flags) {
    std::lock_guard lock(PreviewLock());
    if (flags != previewFlags_ && !(flags & 1))
        Previewer.reset(); // the preview window goes with its switch
    previewFlags_ = flags;
}

void TCustomFFmpeg::SetStartTime(int64_t us) {
    if (us != AV_NOPTS_VALUE)
        Opt.StartTime = us;
}

void TCustomFFmpeg::SetRecordingTime(int64_t us) {
    if (us == AV_NOPTS_VALUE)
        return;
    Opt.RecordingTime = us;
    totalDuration_ = us;
}

void TCustomFFmpeg::SetProgramID(int32_t id) {
    if (id >= 0)
        Opt.ProgramId = id;
}

void TCustomFFmpeg::SetAudioVolume(int32_t volume) {
    if (volume >= 0)
        Opt.AudioVolume = volume;
}

void TCustomFFmpeg::SetMuxDelay(float seconds) {
    if (seconds > 0)
        Opt.MuxMaxDelay = seconds;
}

void TCustomFFmpeg::SetMuxPreload(float seconds) {
    if (seconds > 0)
        Opt.MuxPreload = seconds;
}

void TCustomFFmpeg::AddMetadata(const std::string& key, const std::string& value) {
    Metadata.emplace_back(key, value);
}

} // namespace tarnel
