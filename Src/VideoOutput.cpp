// A decoded picture on its way to one video encoder: frame-rate synchronisation (duplicating or
// dropping pictures), cropping and scaling without a filter graph, and encoding.
#include "FFUtils.h"
#include "FFmpeg.h"
#include "FFmpegException.h"
#include "FFmpegLogger.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <cmath>

namespace tarnel {

namespace {

int CroppedWidth(const TOutputStreamState& ost, int width) {
    return width - ost.LeftBand - ost.RightBand;
}
int CroppedHeight(const TOutputStreamState& ost, int height) {
    return height - ost.TopBand - ost.BottomBand;
}

} // namespace

int TCustomFFmpeg::GenericScalerFlags() const {
    int64_t flags = Opt.ScalerFlags;
    if (Generic && Generic->ScalerContext)
        av_opt_get_int(Generic->ScalerContext.get(), "sws_flags", 0, &flags);
    return static_cast<int>(flags);
}

void TCustomFFmpeg::SetUpVideoEncoding(TTranscodeRun& run, TOutputStreamState& ost, TInputStream& ist) {
    AVCodecContext* codec = ost.Codec;
    ost.VideoCrop = Opt.CropTop || Opt.CropBottom || Opt.CropLeft || Opt.CropRight;
    if (ost.VideoCrop) {
        ost.TopBand = ost.InitialTopBand = Opt.CropTop;
        ost.BottomBand = ost.InitialBottomBand = Opt.CropBottom;
        ost.LeftBand = ost.InitialLeftBand = Opt.CropLeft;
        ost.RightBand = ost.InitialRightBand = Opt.CropRight;
    }
    const int width = ist.Codec->width;
    const int height = ist.Codec->height;
    const AVPixelFormat format = ist.Codec->pix_fmt;
    ost.VideoResample = codec->width != CroppedWidth(ost, width) ||
                        codec->height != CroppedHeight(ost, height) || codec->pix_fmt != format;
    ost.InitialWidth = width;
    ost.InitialHeight = height;
    if (ost.VideoResample) {
        CreateScaler(ost, CroppedWidth(ost, width), CroppedHeight(ost, height), format);
        codec->bits_per_raw_sample = 0;
    }
    ost.ResampleWidth = CroppedWidth(ost, width);
    ost.ResampleHeight = CroppedHeight(ost, height);
    ost.ResamplePixelFormat = format;
    if (Opt.FiltersGiven) {
        lastError_.clear();
        if (ConfigureVideoFilters(run, ost, ist) < 0)
            throw FFmpegException(lastError_.empty() ? std::string("Error opening filters!")
                                                     : "Error opening filters: " + lastError_);
    }
}

// A scaler from the cropped input to the encoder's size and format, and the picture it fills.
void TCustomFFmpeg::CreateScaler(TOutputStreamState& ost, int width, int height, AVPixelFormat format) {
    AVCodecContext* codec = ost.Codec;
    if (!ost.ScaledPicture) {
        ost.ScaledPicture = MakeFrame();
        ost.ScaledPicture->format = codec->pix_fmt;
        ost.ScaledPicture->width = codec->width;
        ost.ScaledPicture->height = codec->height;
        if (av_frame_get_buffer(ost.ScaledPicture.get(), 0) < 0)
            throw FFmpegException("Cannot allocate temp picture, check pix fmt");
    }
    ost.Scaler.reset(sws_getContext(width, height, format, codec->width, codec->height, codec->pix_fmt,
                                    GenericScalerFlags(), nullptr, nullptr, nullptr));
    if (!ost.Scaler)
        throw FFmpegException("Cannot get resampling context");
}

// A picture whose size or format differs from what the scaler was made for: the crop bands are
// kept in proportion and a new scaler is made. A stream that did not need scaling at first gets
// one now, so a size change in the middle of a stream is converted rather than refused.
void TCustomFFmpeg::FollowGeometryChange(TOutputStreamState& ost, const TInputStream& ist,
                                         const AVFrame* picture) {
    Logger().LogFmt(this, llQuiet, "Input Stream #%d.%d frame size changed to %dx%d, %s", ist.FileIndex,
                    ist.StreamIndex, picture->width, picture->height,
                    av_get_pix_fmt_name(static_cast<AVPixelFormat>(picture->format)));
    auto even = [](int64_t value) {
        return static_cast<int>(value) & ~1;
    };
    if (ost.VideoCrop && ost.InitialWidth > 0 && ost.InitialHeight > 0) {
        ost.TopBand = even(int64_t{picture->height} * ost.InitialTopBand / ost.InitialHeight);
        ost.BottomBand = even(int64_t{picture->height} * ost.InitialBottomBand / ost.InitialHeight);
        ost.LeftBand = even(int64_t{picture->width} * ost.InitialLeftBand / ost.InitialWidth);
        ost.RightBand = even(int64_t{picture->width} * ost.InitialRightBand / ost.InitialWidth);
    }
    ost.ResampleWidth = CroppedWidth(ost, picture->width);
    ost.ResampleHeight = CroppedHeight(ost, picture->height);
    ost.ResamplePixelFormat = picture->format;
    ost.VideoResample = true;
    CreateScaler(ost, ost.ResampleWidth, ost.ResampleHeight, static_cast<AVPixelFormat>(picture->format));
}

// How many times this picture is written: 0 drops it, more than 1 duplicates it.
int TCustomFFmpeg::FramesForPicture(TOutputStreamState& ost) {
    const AVCodecContext* codec = ost.Codec;
    const double sync = (ost.SyncInput->Pts - Opt.StartTime) / 1000000.0 / av_q2d(codec->time_base);
    int frames = 1;
    if (Opt.VideoSync == 0) {
        ost.SyncOpts = llround(sync);
        return frames;
    }
    const double delta = sync - ost.SyncOpts;
    const bool variableRate =
        Opt.VideoSync == 2 || (Opt.VideoSync < 0 && (ost.File->Context->oformat->flags & AVFMT_VARIABLE_FPS));
    if (delta < -1.1) {
        frames = 0;
    } else if (variableRate) {
        if (delta <= -0.6)
            frames = 0;
        else if (delta > 0.6)
            ost.SyncOpts = llround(sync);
    } else if (delta > 1.1) {
        frames = static_cast<int>(llround(delta));
    }
    if (frames == 0) {
        Opt.FramesDropped += 1;
        Opt.DupDropPending = true;
        if (Opt.Verbosity > 2)
            Logger().Log(this, llVerbose, "*** drop!");
    } else if (frames > 1) {
        Opt.FramesDuplicated += frames - 1;
        Opt.DupDropPending = true;
        if (Opt.Verbosity > 2)
            Logger().LogFmt(this, llVerbose, "*** %d dup!", frames - 1);
    }
    return frames;
}

void TCustomFFmpeg::DoVideoOut(TTranscodeRun& run, TOutputStreamState& ost, TInputStream& ist,
                               AVFrame* picture) {
    int frames = FramesForPicture(ost);
    frames = std::min(frames, Opt.MaxFrames[AVMEDIA_TYPE_VIDEO] - ost.FrameNumber);
    if (frames <= 0)
        return;

    AVFrame* toEncode = picture;
    if (!ist.InputVideoFilter) {
        if (CroppedHeight(ost, picture->height) != ost.ResampleHeight ||
            CroppedWidth(ost, picture->width) != ost.ResampleWidth ||
            picture->format != ost.ResamplePixelFormat)
            FollowGeometryChange(ost, ist, picture);
        if (ost.VideoResample)
            toEncode = ScalePicture(ost, picture);
        if (!toEncode)
            return;
    }
    const int64_t inputPts = picture->pts;
    for (int i = 0; i < frames; ++i) {
        if (i > 0 && CheckStopAndPause())
            break;
        toEncode->pts = ost.SyncOpts;
        toEncode->pict_type = AV_PICTURE_TYPE_NONE;
        if (Opt.TopFieldFirst >= 0)
            toEncode->top_field_first = Opt.TopFieldFirst;
        if (Opt.SameQuality)
            toEncode->quality = ist.Quality;
        EncodeAndWrite(run, ost, toEncode);
        ost.SyncOpts += 1;
        ost.FrameNumber += 1;
    }
    picture->pts = inputPts;
    if (PreviewFlags() != 0)
        Preview(toEncode, ost.Codec);
}

// Crops (by reference) and scales the picture into the stream's own picture; null when cropping
// failed and the picture is skipped.
AVFrame* TCustomFFmpeg::ScalePicture(TOutputStreamState& ost, AVFrame* picture) {
    const uint8_t* planes[4] = {picture->data[0], picture->data[1], picture->data[2], picture->data[3]};
    if (ost.VideoCrop) {
        const AVPixFmtDescriptor* descriptor =
            av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture->format));
        if (!descriptor || (descriptor->flags & AV_PIX_FMT_FLAG_HWACCEL)) {
            if (Opt.ExitOnError)
                throw FFmpegException("error cropping picture");
            Logger().Log(this, llError, "error cropping picture");
            return nullptr;
        }
        for (int plane = 0; plane < 4 && planes[plane]; ++plane) {
            const bool chroma = plane == 1 || plane == 2;
            const int x = chroma ? ost.LeftBand >> descriptor->log2_chroma_w : ost.LeftBand;
            const int y = chroma ? ost.TopBand >> descriptor->log2_chroma_h : ost.TopBand;
            const int pixelBytes = descriptor->comp[plane < descriptor->nb_components ? plane : 0].step;
            planes[plane] += y * picture->linesize[plane] + x * pixelBytes;
        }
    }
    AVFrame* scaled = ost.ScaledPicture.get();
    // The encoder may still hold the previous picture: write into a buffer of our own.
    if (av_frame_make_writable(scaled) < 0)
        throw FFmpegException("Cannot allocate temp picture, check pix fmt");
    sws_scale(ost.Scaler.get(), planes, picture->linesize, 0, ost.ResampleHeight, scaled->data,
              scaled->linesize);
    scaled->sample_aspect_ratio = ost.Codec->sample_aspect_ratio;
    scaled->interlaced_frame = picture->interlaced_frame;
    scaled->top_field_first = picture->top_field_first;
    return scaled;
}

} // namespace tarnel
