// Picture pre-processing before any output sees a decoded picture: deinterlacing, the RGB hook and
// the hook modules, all in place on the decoded picture.
#include "base/FFmpegLogger.h"
#include "base/FrameHookApi.h"
#include "engine/FFmpeg.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <exception>

namespace tarnel {

namespace {

// Planar 8-bit pictures whose planes can be filtered line by line (YUV and grey, any subsampling).
bool CanDeinterlace(const AVFrame* picture) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture->format));
    if (!descriptor || picture->width <= 0 || picture->height <= 0)
        return false;
    if (descriptor->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                             AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_FLOAT))
        return false;
    const bool planar = (descriptor->flags & AV_PIX_FMT_FLAG_PLANAR) || descriptor->nb_components == 1;
    if (!planar)
        return false;
    for (int c = 0; c < descriptor->nb_components; ++c) {
        if (descriptor->comp[c].depth != 8 || descriptor->comp[c].step != 1)
            return false;
    }
    return true;
}

// Line blending: each line becomes (above + 2 x line + below) / 4, which merges the two fields of
// an interlaced picture into one progressive picture; the edge lines repeat at the borders.
void DeinterlacePlane(const uint8_t* source, int sourceStride, uint8_t* target, int targetStride, int width,
                      int height) {
    auto line = [&](int y) {
        return source + static_cast<ptrdiff_t>(std::clamp(y, 0, height - 1)) * sourceStride;
    };
    for (int y = 0; y < height; ++y) {
        const uint8_t* above = line(y - 1);
        const uint8_t* current = line(y);
        const uint8_t* below = line(y + 1);
        uint8_t* out = target + static_cast<ptrdiff_t>(y) * targetStride;
        for (int x = 0; x < width; ++x)
            out[x] = static_cast<uint8_t>((above[x] + 2 * current[x] + below[x] + 2) >> 2);
    }
}

// Deinterlaces `source` into `target` (same size and format). False for formats it cannot handle.
bool DeinterlacePicture(const AVFrame* source, AVFrame* target) {
    if (!CanDeinterlace(source))
        return false;
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(source->format));
    const int planes = av_pix_fmt_count_planes(static_cast<AVPixelFormat>(source->format));
    for (int plane = 0; plane < planes; ++plane) {
        const bool chroma = plane == 1 || plane == 2;
        const int width = chroma ? AV_CEIL_RSHIFT(source->width, descriptor->log2_chroma_w) : source->width;
        const int height =
            chroma ? AV_CEIL_RSHIFT(source->height, descriptor->log2_chroma_h) : source->height;
        DeinterlacePlane(source->data[plane], source->linesize[plane], target->data[plane],
                         target->linesize[plane], width, height);
    }
    return true;
}

bool SameGeometry(const AVFrame* a, const AVFrame* b) {
    return a->width == b->width && a->height == b->height && a->format == b->format;
}

} // namespace

void TCustomFFmpeg::PreProcessPicture(int64_t hookTimestamp, AVFrame* picture) {
    PictureCounter += 1;
    if (!Opt.Deinterlace && !HookCallback && !Opt.UsingVideoHook)
        return;

    // The decoder may share the picture's buffers (reference frames): write into a copy of our own.
    if (av_frame_make_writable(picture) < 0) {
        Logger().Log(this, llError, "hook buf malloc error.");
        return;
    }
    if (Opt.Deinterlace) {
        if (!HookPicture || !SameGeometry(HookPicture.get(), picture)) {
            HookPicture = MakeFrame();
            if (HookPicture) {
                HookPicture->format = picture->format;
                HookPicture->width = picture->width;
                HookPicture->height = picture->height;
            }
            if (!HookPicture || av_frame_get_buffer(HookPicture.get(), 0) < 0) {
                HookPicture.reset();
                Logger().Log(this, llError, "hook buf malloc error.");
                return;
            }
        }
        // The filter reads the copy and writes the decoded picture.
        if (av_frame_copy(HookPicture.get(), picture) < 0 || !DeinterlacePicture(HookPicture.get(), picture))
            Logger().Log(this, llError, "Deinterlacing failed.");
    }

    if (HookCallback) {
        RunRgbHook(picture, hookTimestamp);
    } else if (Opt.UsingVideoHook) {
        TarnelPicture view{};
        for (int i = 0; i < 4; ++i) {
            view.data[i] = picture->data[i];
            view.linesize[i] = picture->linesize[i];
        }
        VideoHooks.Process(&view, picture->format, picture->width, picture->height, hookTimestamp);
    }
}

// Hands the picture as a 24-bit bitmap to HookCallback and writes the bitmap back when asked to.
void TCustomFFmpeg::RunRgbHook(AVFrame* picture, int64_t hookTimestamp) {
    bool stopHook = !HookConverter.ToBitmap(picture);
    if (stopHook) {
        Logger().Log(this, llError, "Cannot initialize the toRGB conversion context");
    } else {
        bool update = true;
        try {
            HookCallback(*this, HookConverter.Bitmap(), stopHook, update, hookTimestamp, PictureCounter);
        } catch (const std::exception& e) {
            Logger().Log(this, llError, std::string("Error occurs OnCustomHook: ") + e.what());
            update = false;
        } catch (...) {
            Logger().Log(this, llError, "Error occurs OnCustomHook: unknown exception");
            update = false;
        }
        if (update && !HookConverter.FromBitmap(HookConverter.Bitmap(), picture)) {
            Logger().Log(this, llError, "Cannot initialize the fromRGB conversion context");
            stopHook = true;
        }
    }
    if (stopHook) {
        HookCallback = nullptr;
        Opt.UsingVideoHook = false;
    }
}

} // namespace tarnel
