// A decoded picture on its way to one video encoder: frame-rate synchronisation (duplicating or
// dropping pictures), cropping and scaling without a filter graph, and encoding.
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLogger.h"
#include "engine/FFmpeg.h"

extern "C" {
#include <libavfilter/buffersink.h>
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

// A new reference to the picture's cropped area (no pixels copied); null when it cannot be cropped.
FramePtr CroppedReference(const TOutputStreamState& ost, const AVFrame* picture) {
    FramePtr cropped = MakeFrame();
    if (!cropped || av_frame_ref(cropped.get(), picture) < 0)
        return nullptr;
    cropped->crop_top = ost.TopBand;
    cropped->crop_bottom = ost.BottomBand;
    cropped->crop_left = ost.LeftBand;
    cropped->crop_right = ost.RightBand;
    if (av_frame_apply_cropping(cropped.get(), AV_FRAME_CROP_UNALIGNED) < 0)
        return nullptr;
    return cropped;
}

} // namespace

// Pictures of a stream with a right-angle display matrix are turned upright as they are decoded,
// before the hook, crop, filters and scaling see them; the output carries no matrix.
void TCustomFFmpeg::PrepareRotation(TInputStream& ist) {
    if (ist.Rotator || !Opt.AutoRotate)
        return;
    bool rightAngle = true;
    double angle = 0;
    const int degrees = UprightTurn(ist.Stream, &rightAngle, &angle);
    if (!rightAngle)
        Logger().LogFmt(
            this, llWarning,
            "Input stream #%d.%d: the display matrix turns the picture by %.1f degrees, not a right "
            "angle; the picture is kept as it is",
            ist.FileIndex, ist.StreamIndex, angle);
    if (degrees != 0)
        ist.Rotator = std::make_unique<TPictureRotator>(degrees);
}

void UprightSize(const TInputStream& ist, int& width, int& height) {
    const bool swap = ist.Rotator && TurnSwapsSides(ist.Rotator->Degrees());
    width = swap ? ist.Codec->height : ist.Codec->width;
    height = swap ? ist.Codec->width : ist.Codec->height;
}

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
    PrepareRotation(ist);
    int width = 0;
    int height = 0;
    UprightSize(ist, width, height);
    AVPixelFormat format = ist.Codec->pix_fmt;
    ost.InitialWidth = width;
    ost.InitialHeight = height;
    if (Opt.FiltersGiven && UseFilterGraph(run, ost, ist)) {
        // The graph crops and scales; its pictures reach this stream as they are, or scaled when a
        // second output of the same input has another size.
        ost.VideoCrop = false;
        ost.TopBand = ost.BottomBand = ost.LeftBand = ost.RightBand = 0;
        width = av_buffersink_get_w(ist.OutputVideoFilter);
        height = av_buffersink_get_h(ist.OutputVideoFilter);
        format = static_cast<AVPixelFormat>(av_buffersink_get_format(ist.OutputVideoFilter));
    } else {
        RoundSizeForEncoder(codec);
    }
    ost.VideoResample = codec->width != CroppedWidth(ost, width) ||
                        codec->height != CroppedHeight(ost, height) || codec->pix_fmt != format;
    if (ost.VideoResample) {
        CreateScaler(ost, CroppedWidth(ost, width), CroppedHeight(ost, height), format);
        codec->bits_per_raw_sample = 0;
    }
    ost.ResampleWidth = CroppedWidth(ost, width);
    ost.ResampleHeight = CroppedHeight(ost, height);
    ost.ResamplePixelFormat = format;
}

// The filter graph for this stream: built for the first encoded video stream of the run; a second
// output of the same input shares it; other inputs are not filtered (one graph per engine).
bool TCustomFFmpeg::UseFilterGraph(TTranscodeRun& run, TOutputStreamState& ost, TInputStream& ist) {
    if (ist.InputVideoFilter)
        return true;
    for (const TInputStream& other : run.InputStreams) {
        if (other.InputVideoFilter) {
            Logger().LogFmt(this, llWarning, "Video filters are not applied to input stream #%d.%d",
                            ist.FileIndex, ist.StreamIndex);
            return false;
        }
    }
    lastError_.clear();
    if (ConfigureVideoFilters(run, ost, ist) < 0)
        throw FFmpegException(lastError_.empty() ? std::string("Error opening filters!")
                                                 : "Error opening filters: " + lastError_);
    return true;
}

// Encoders of subsampled pixel formats take no odd sizes: such a size is rounded down to even.
void TCustomFFmpeg::RoundSizeForEncoder(AVCodecContext* codec) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(codec->pix_fmt);
    if (!descriptor)
        return;
    const int width = descriptor->log2_chroma_w && codec->width > 1 ? codec->width & ~1 : codec->width;
    const int height = descriptor->log2_chroma_h && codec->height > 1 ? codec->height & ~1 : codec->height;
    if (width == codec->width && height == codec->height)
        return;
    Logger().LogFmt(this, llWarning, "Output size %dx%d rounded to %dx%d for pixel format %s", codec->width,
                    codec->height, width, height, descriptor->name);
    codec->width = width;
    codec->height = height;
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
        // Pictures keep their own times; one whose time rounds onto the previous picture's would
        // break the encoder's increasing timestamps and is dropped.
        const int64_t rounded = llround(sync);
        if (ost.FrameNumber > 0 && rounded < ost.SyncOpts) {
            Opt.FramesDropped += 1;
            Opt.DupDropPending = true;
            return 0;
        }
        ost.SyncOpts = rounded;
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

    // Pictures from a filter graph arrive cropped; their geometry is checked all the same.
    if (CroppedHeight(ost, picture->height) != ost.ResampleHeight ||
        CroppedWidth(ost, picture->width) != ost.ResampleWidth || picture->format != ost.ResamplePixelFormat)
        FollowGeometryChange(ost, ist, picture);
    FramePtr cropped;
    AVFrame* toEncode = picture;
    if (ost.VideoResample) {
        toEncode = ScalePicture(ost, picture);
    } else if (ost.VideoCrop) {
        cropped = CroppedReference(ost, picture);
        toEncode = cropped.get();
        if (!toEncode) {
            if (Opt.ExitOnError)
                throw FFmpegException("error cropping picture");
            Logger().Log(this, llError, "error cropping picture");
        }
    }
    if (!toEncode)
        return;

    const AVCodecContext* generic = Generic->CodecContexts[0].get();
    if (generic->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME)) {
        toEncode->top_field_first = Opt.TopFieldFirst == -1 ? picture->top_field_first : Opt.TopFieldFirst;
    }
    // A fixed quantizer reaches the encoder through each picture's quality.
    toEncode->quality = Opt.SameQuality ? ist.Quality : ost.Codec->global_quality;
    if (Opt.MeThreshold == 0)
        toEncode->pict_type = AV_PICTURE_TYPE_NONE;
    const int64_t inputPts = picture->pts;
    for (int i = 0; i < frames; ++i) {
        if (i > 0 && CheckStopAndPause())
            break;
        toEncode->pts = ost.SyncOpts;
        EncodeAndWrite(run, ost, toEncode);
        ost.SyncOpts += 1;
        ost.FrameNumber += 1;
    }
    Preview(toEncode, ost.Codec);
    picture->pts = inputPts;
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
