// AddInputFile: opens one input, probes its streams, seeks to the start time and copies the streams'
// parameters into the option state, so that the output streams created next default to them.
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "base/PictureRotation.h"
#include "base/UnicodeProtocol.h"
#include "engine/FFmpeg.h"

#include <vector>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace tarnel {

namespace {

constexpr int kMaxInputDecoders = kMaxFiles * kMaxStreams;

// Generic codec contexts by media type.
constexpr int kVideoIndex = 0;
constexpr int kAudioIndex = 1;
constexpr int kSubtitleIndex = 3;

// What one call consumes, whether it succeeds or not: the forced format, the forced decoders and
// the device channel belong to this input only.
class ConsumedInputOptions {
public:
    explicit ConsumedInputOptions(TOptionState& options)
        : options_(options) {}
    ~ConsumedInputOptions() {
        options_.LastAskedFormat.clear();
        options_.VideoCodecName.clear();
        options_.AudioCodecName.clear();
        options_.SubtitleCodecName.clear();
        options_.VideoChannel = 0;
    }
    ConsumedInputOptions(const ConsumedInputOptions&) = delete;
    ConsumedInputOptions& operator=(const ConsumedInputOptions&) = delete;

private:
    TOptionState& options_;
};

const AVInputFormat* ForcedInputFormat(const std::string& name) {
    if (name.empty())
        return nullptr;
    const AVInputFormat* format = av_find_input_format(name.c_str());
    if (!format)
        throw FFmpegException(Format("Unknown input format: \"%s\"", name.c_str()));
    return format;
}

// Opening parameters for raw and device formats. Sample rate and channels always go along (their
// defaults are what a raw audio input is read as); the picture parameters only once set. Demuxers
// that do not know a key leave it in the dictionary.
DictionaryPtr OpeningOptions(const TOptionState& opt) {
    AVDictionary* options = nullptr;
    if (opt.AudioSampleRate > 0)
        av_dict_set_int(&options, "sample_rate", opt.AudioSampleRate, 0);
    if (opt.AudioChannels > 0)
        av_dict_set_int(&options, "channels", opt.AudioChannels, 0);
    if (opt.FrameRate.num > 0 && opt.FrameRate.den > 0)
        av_dict_set(&options, "framerate", Format("%d/%d", opt.FrameRate.num, opt.FrameRate.den).c_str(), 0);
    if (opt.FrameWidth > 0 && opt.FrameHeight > 0)
        av_dict_set(&options, "video_size", Format("%dx%d", opt.FrameWidth, opt.FrameHeight).c_str(), 0);
    if (const char* pixelFormat = av_get_pix_fmt_name(static_cast<AVPixelFormat>(opt.FramePixelFormat)))
        av_dict_set(&options, "pixel_format", pixelFormat, 0);
    if (opt.VideoChannel != 0)
        av_dict_set_int(&options, "channel", opt.VideoChannel, 0);
    if (!opt.VideoStandard.empty())
        av_dict_set(&options, "standard", opt.VideoStandard.c_str(), 0);
    // Looping input is the picture-sequence demuxer's own option.
    if (opt.LoopInput)
        av_dict_set_int(&options, "loop", 1, 0);
    return DictionaryPtr(options);
}

const AVCodec* NamedDecoder(const std::string& name) {
    return name.empty() ? nullptr : avcodec_find_decoder_by_name(name.c_str());
}

// Keeps only the streams of the program with `id`; false when the file has no such program.
bool SelectProgram(AVFormatContext* context, int id) {
    for (unsigned i = 0; i < context->nb_streams; ++i)
        context->streams[i]->discard = AVDISCARD_ALL;
    bool found = false;
    for (unsigned p = 0; p < context->nb_programs; ++p) {
        AVProgram* program = context->programs[p];
        if (program->id != id) {
            program->discard = AVDISCARD_ALL;
            continue;
        }
        found = true;
        for (unsigned s = 0; s < program->nb_stream_indexes; ++s)
            context->streams[program->stream_index[s]]->discard = AVDISCARD_DEFAULT;
    }
    return found;
}

bool ProbeStreams(AVFormatContext* context, TInputWatch& watch) {
    std::lock_guard lock(CodecLock());
    watch.Arm();
    return avformat_find_stream_info(context, nullptr) >= 0;
}

// Display aspect (width / height) from the picture size and its sample aspect ratio.
float DisplayAspect(int width, int height, AVRational sampleAspect) {
    const double ratio = sampleAspect.num != 0 && sampleAspect.den != 0 ? av_q2d(sampleAspect) : 0.0;
    if (static_cast<int64_t>(width) * height != 0)
        return static_cast<float>(ratio != 0.0 ? width * ratio / height
                                               : static_cast<double>(width) / height);
    return ratio != 0.0 ? static_cast<float>(ratio) : 4.0f / 3.0f;
}

// The position the input is read from (µs, the file's own start time included); seeks there when a
// start time is set. A failed seek only costs the skipped part, so it is only logged.
int64_t SeekToStart(AVFormatContext* context, const TOptionState& opt, const std::string& fileName,
                    const void* sender) {
    int64_t timestamp = opt.StartTime;
    if (context->start_time != AV_NOPTS_VALUE)
        timestamp += context->start_time;
    if (opt.StartTime != 0 && av_seek_frame(context, -1, timestamp, AVSEEK_FLAG_BACKWARD) < 0 &&
        opt.Verbosity > 0)
        Logger().LogFmt(sender, llVerbose, "%s: could not seek to position %0.3f", fileName.c_str(),
                        static_cast<double>(timestamp) / AV_TIME_BASE);
    return timestamp;
}

// The decoder no longer reports its own frame rate: the stream's average rate stands in for it.
void LogFrameRateDifference(const AVStream* stream, const void* sender) {
    const AVRational average = stream->avg_frame_rate;
    const AVRational real = stream->r_frame_rate;
    if (average.num == 0 || average.den == 0 || av_cmp_q(average, real) == 0)
        return;
    Logger().LogFmt(sender, llInfo,
                    "Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) -> "
                    "%2.2f (%d/%d)",
                    stream->index, av_q2d(average), average.num, average.den,
                    real.den != 0 ? av_q2d(real) : 0.0, real.num, real.den);
}

void ReadVideoState(TOptionState& opt, const AVStream* stream, AVCodecContext* codec, const void* sender) {
    opt.FrameHeight = codec->height;
    opt.FrameWidth = codec->width;
    const AVRational sampleAspect =
        stream->sample_aspect_ratio.num != 0 ? stream->sample_aspect_ratio : codec->sample_aspect_ratio;
    opt.FrameAspectRatio = DisplayAspect(codec->width, codec->height, sampleAspect);
    if (codec->pix_fmt == AV_PIX_FMT_NONE)
        codec->pix_fmt = AV_PIX_FMT_YUV420P;
    opt.FramePixelFormat = codec->pix_fmt;
    if (codec->lowres > 0) {
        opt.FrameHeight >>= codec->lowres;
        opt.FrameWidth >>= codec->lowres;
    }
    // Pictures with a right-angle display matrix reach the outputs turned upright, so an output
    // without a size of its own takes the upright size.
    if (opt.AutoRotate && TurnSwapsSides(UprightTurn(stream))) {
        std::swap(opt.FrameWidth, opt.FrameHeight);
        if (opt.FrameAspectRatio > 0)
            opt.FrameAspectRatio = 1.0f / opt.FrameAspectRatio;
    }
    // Motion vectors are handed out as frame side data today.
    if (opt.MeThreshold != 0)
        codec->flags2 |= AV_CODEC_FLAG2_EXPORT_MVS;
    if (opt.Verbosity >= 0)
        LogFrameRateDifference(stream, sender);
    opt.FrameRate = stream->r_frame_rate;
}

bool IsKnownMediaType(AVMediaType type) {
    return type >= AVMEDIA_TYPE_UNKNOWN && type <= AVMEDIA_TYPE_ATTACHMENT;
}

void DiscardAllWhen(bool disabled, AVStream* stream) {
    if (disabled)
        stream->discard = AVDISCARD_ALL;
}

} // namespace

bool TCustomFFmpeg::AddInputFile(const std::string& fileName) {
    if (!ReadyForFiles())
        return false;
    ConsumedInputOptions consumed(Opt);
    // A stop of an earlier run or open is not meant for this open; one from now on is.
    if (!running_)
        stopRequested_ = false;
    TOpenScope opening(inputWatch_);
    if (inputFileCount_ >= kMaxFiles) {
        lastError_ = Format("Too many input files (at most %d)", kMaxFiles);
        return false;
    }
    InputContextPtr context;
    if (!OpenInput(fileName, context))
        return false;
    AVFormatContext* ctx = context.get();

    if (Opt.ProgramId != 0) {
        if (!SelectProgram(ctx, Opt.ProgramId)) {
            lastError_ = "Specified program id not found";
            return false;
        }
        Opt.ProgramId = 0;
    }

    const bool probed = ProbeStreams(ctx, inputWatch_);
    if (std::string cut = inputWatch_.Interruption(fileName); !cut.empty()) {
        lastError_ = std::move(cut);
        return false;
    }
    if (!probed && Opt.Verbosity >= 0) {
        lastError_ = Format("%s: could not find codec parameters", fileName.c_str());
        Logger().Log(this, llVerbose, lastError_);
        return false;
    }
    if (InputDecoderCount + static_cast<int64_t>(ctx->nb_streams) > kMaxInputDecoders) {
        lastError_ = Format("Too many input streams (at most %d)", kMaxInputDecoders);
        return false;
    }

    inputWatch_.Arm();
    const int64_t timestamp = SeekToStart(ctx, Opt, fileName, this);
    Opt.StartTime = 0;

    auto input = std::make_unique<TInputFile>();
    std::vector<const AVCodec*> decoders;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        AVStream* stream = ctx->streams[i];
        CodecContextPtr codec(avcodec_alloc_context3(nullptr));
        if (!codec)
            throw FFmpegException("Not enough memory");
        if (const int code = avcodec_parameters_to_context(codec.get(), stream->codecpar); code < 0) {
            lastError_ = ErrorText(fileName, code);
            return false;
        }
        codec->pkt_timebase = stream->time_base;
        decoders.push_back(ReadInputStream(stream, codec.get()));
        input->Codecs.push_back(std::move(codec));
    }

    if (ctx->duration != AV_NOPTS_VALUE && ctx->duration > totalDuration_)
        totalDuration_ = ctx->duration;
    InputTsOffset[inputFileCount_] =
        Opt.CopyTs ? Opt.InputTsOffsetOption : Opt.InputTsOffsetOption - timestamp;
    for (const AVCodec* decoder : decoders)
        InputDecoders[InputDecoderCount++] = decoder;
    if (Opt.Verbosity >= 0)
        av_dump_format(ctx, inputFileCount_, fileName.c_str(), 0);
    input->Context = std::move(context);
    input->FileName = fileName;
    InputFiles[inputFileCount_] = std::move(input);
    ++inputFileCount_;
    return true;
}

// A read that waits for a network peer ends as soon as a stop is requested or the time-out passes.
// Outputs have none: their trailers are still written after a stop.
AVIOInterruptCB TCustomFFmpeg::StopInterrupt() {
    return inputWatch_.Callback();
}

bool TCustomFFmpeg::OpenInput(const std::string& fileName, InputContextPtr& context) {
    const AVInputFormat* format = ForcedInputFormat(Opt.LastAskedFormat);
    Opt.LastAskedFormat.clear();
    FormatContextPtr allocated(avformat_alloc_context());
    if (!allocated)
        throw FFmpegException("avformat_alloc_context failed");
    DictionaryPtr options = OpeningOptions(Opt);
    inputWatch_.AddProtocolOptions(options);
    if (Generic)
        ApplyContextOptions(allocated.get(), Generic->FormatContext.get(), AV_OPT_FLAG_DECODING_PARAM);
    if (!ForceInputDecoders(allocated.get()))
        return false;
    UseWideNameIO(allocated.get());
    allocated->interrupt_callback = StopInterrupt();

    // avformat_open_input frees the context on failure and leaves the unused options in `rawOptions`.
    AVFormatContext* ctx = allocated.release();
    AVDictionary* rawOptions = options.release();
    inputWatch_.Arm();
    const int code = avformat_open_input(&ctx, ToLibraryName(fileName).c_str(), format, &rawOptions);
    av_dict_free(&rawOptions);
    if (code < 0) {
        lastError_ = inputWatch_.FailureText(fileName, code);
        return false;
    }
    context.reset(ctx);
    return true;
}

bool TCustomFFmpeg::ForceInputDecoders(AVFormatContext* context) {
    auto strictness = [this](int typeIndex) {
        return Generic ? Generic->CodecContexts[typeIndex]->strict_std_compliance : FF_COMPLIANCE_NORMAL;
    };
    AVCodecID video = AV_CODEC_ID_NONE;
    AVCodecID audio = AV_CODEC_ID_NONE;
    AVCodecID subtitle = AV_CODEC_ID_NONE;
    if (!FindCodec(Opt.VideoCodecName, AVMEDIA_TYPE_VIDEO, video, strictness(kVideoIndex), false) ||
        !FindCodec(Opt.AudioCodecName, AVMEDIA_TYPE_AUDIO, audio, strictness(kAudioIndex), false) ||
        !FindCodec(Opt.SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, subtitle, strictness(kSubtitleIndex), false))
        return false;
    context->video_codec_id = video;
    context->audio_codec_id = audio;
    context->subtitle_codec_id = subtitle;
    context->video_codec = NamedDecoder(Opt.VideoCodecName);
    context->audio_codec = NamedDecoder(Opt.AudioCodecName);
    context->subtitle_codec = NamedDecoder(Opt.SubtitleCodecName);
    context->flags |= AVFMT_FLAG_NONBLOCK;
    if (Opt.PgmyuvHack) {
        context->video_codec_id = AV_CODEC_ID_PGMYUV;
        context->video_codec = nullptr;
    }
    return true;
}

const AVCodec* TCustomFFmpeg::ReadInputStream(AVStream* stream, AVCodecContext* codec) {
    codec->thread_count = Opt.ThreadCount;
    const AVMediaType type = codec->codec_type;
    if (!IsKnownMediaType(type))
        throw FFmpegException("invalid codec_type");
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
        if (Generic)
            ApplyContextOptions(codec, Generic->CodecContexts[kVideoIndex].get(),
                                AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
        ReadVideoState(Opt, stream, codec, this);
        if (Opt.VideoDisable)
            stream->discard = AVDISCARD_ALL;
        else if (Opt.VideoDiscard != 0)
            stream->discard = static_cast<AVDiscard>(Opt.VideoDiscard);
        return NamedDecoder(Opt.VideoCodecName);
    case AVMEDIA_TYPE_AUDIO:
        if (Generic)
            ApplyContextOptions(codec, Generic->CodecContexts[kAudioIndex].get(),
                                AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
        Opt.ChannelLayout = codec->ch_layout.order == AV_CHANNEL_ORDER_NATIVE
                                ? static_cast<int64_t>(codec->ch_layout.u.mask)
                                : 0;
        Opt.AudioChannels = codec->ch_layout.nb_channels;
        Opt.AudioSampleRate = codec->sample_rate;
        Opt.AudioSampleFormat = codec->sample_fmt;
        DiscardAllWhen(Opt.AudioDisable, stream);
        return NamedDecoder(Opt.AudioCodecName);
    case AVMEDIA_TYPE_SUBTITLE:
        DiscardAllWhen(Opt.SubtitleDisable, stream);
        return NamedDecoder(Opt.SubtitleCodecName);
    default: // data, attachment and unknown streams take their slot without a decoder
        return nullptr;
    }
}

} // namespace tarnel
