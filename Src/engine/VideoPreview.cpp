// Preview bitmaps of encoded pictures (to PreviewCallback or to a preview window) and the
// per-frame statistics file.
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLogger.h"
#include "engine/FFmpeg.h"
#include "engine/Previewer.h"

extern "C" {
#include <libavutil/time.h>
}

#include <cmath>

namespace tarnel {

namespace {

constexpr uint8_t kPreviewWindow = 1;
constexpr uint8_t kPreviewBitmap = 2;

std::mutex& FactoryLock() {
    static std::mutex lock;
    return lock;
}

TPreviewerFactory& Factory() {
    static TPreviewerFactory factory;
    return factory;
}

} // namespace

void SetPreviewerFactory(TPreviewerFactory factory) {
    std::lock_guard lock(FactoryLock());
    Factory() = std::move(factory);
}

std::unique_ptr<TPreviewer> CreatePreviewer() {
    std::lock_guard lock(FactoryLock());
    return Factory() ? Factory()() : nullptr;
}

void TCustomFFmpeg::Preview(const AVFrame* picture, const AVCodecContext* encoder) {
    std::lock_guard lock(PreviewLock());
    uint8_t flags = previewFlags_;
    const bool toCallback = (flags & kPreviewBitmap) && PreviewCallback;
    const bool toWindow = !toCallback && (flags & kPreviewWindow);
    if (toCallback || toWindow) {
        const int64_t now = av_gettime_relative();
        const bool due =
            LastPreviewTime == INT64_MIN || PreviewInterval <= 0 || now - LastPreviewTime > PreviewInterval;
        if (due) {
            LastPreviewTime = now;
            const int64_t pts = picture->pts == AV_NOPTS_VALUE
                                    ? AV_NOPTS_VALUE
                                    : av_rescale_q(picture->pts, encoder->time_base, kMicrosecondBase);
            const uint8_t bit = toCallback ? kPreviewBitmap : kPreviewWindow;
            if (!PreviewConverter.ToBitmap(picture->data, picture->linesize, encoder->pix_fmt, picture->width,
                                           picture->height)) {
                Logger().Log(this, llError, "Cannot initialize the toRGB conversion context");
                flags &= ~bit;
            } else if (toCallback) {
                PreviewCallback(*this, PreviewConverter.Bitmap(), pts, PreviewPictureCounter);
            } else {
                if (!Previewer) {
                    Previewer = CreatePreviewer();
                    if (!Previewer)
                        Logger().Log(this, llWarning,
                                     "No preview window available: the preview window is off");
                }
                if (!Previewer || !Previewer->Show(PreviewConverter.Bitmap(), PreviewPictureCounter, pts))
                    flags &= ~bit;
            }
        }
    }
    previewFlags_ = flags;
    if (!(flags & kPreviewWindow))
        Previewer.reset();
}

void TCustomFFmpeg::WriteVideoStats(TOutputStreamState& ost, int frameSize) {
    if (Opt.VstatsFileName.empty() || frameSize <= 0 || !ost.IsVideo())
        return;
    if (!Opt.VstatsFile) {
        Opt.VstatsFile.reset(std::fopen(Opt.VstatsFileName.c_str(), "w"));
        if (!Opt.VstatsFile)
            throw FFmpegException("fopen fail: " + Opt.VstatsFileName);
    }
    const AVCodecContext* codec = ost.Codec;
    std::string line = Format("frame= %5d q= %2.1f ", ost.FrameNumber, ost.Quality);
    if (codec->flags & AV_CODEC_FLAG_PSNR) {
        const double pixels = static_cast<double>(codec->width) * codec->height * 255.0 * 255.0;
        line += Format("PSNR= %6.2f ", -10.0 * std::log10(static_cast<double>(ost.PsnrError[0]) / pixels));
    }
    line += Format("f_size= %6d ", frameSize);
    const double timeBase = av_q2d(codec->time_base);
    const double time = std::max(ost.SyncOpts * timeBase, 0.01);
    const double bitRate = frameSize * 8 / timeBase / 1000.0;
    const double averageBitRate = Opt.VideoSize * 8 / time / 1000.0;
    line += Format("s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
                   Opt.VideoSize / 1024.0, time, bitRate, averageBitRate);
    line += Format("type= %c\n", av_get_picture_type_char(static_cast<AVPictureType>(ost.PictureType)));
    std::fputs(line.c_str(), Opt.VstatsFile.get());
}

} // namespace tarnel
