// The output stream constructors: one video, audio or subtitle stream of an output file, with its
// codec context set up from the option state (copied or encoded).
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "engine/CodecChoices.h"
#include "engine/FFmpeg.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

namespace tarnel {

namespace {

constexpr int kVideoIndex = 0;
constexpr int kAudioIndex = 1;
constexpr int kSubtitleIndex = 3;
constexpr int kMaxOutputEncoders = kMaxFiles * kMaxStreams;
constexpr float kNoAudioQScale = -99999.0f;
constexpr int kAspectBound = 255;

// The pending options of one kind of stream, consumed by the stream created next.
struct TKindOptions {
    std::string& CodecName;
    std::string& Language;
    uint32_t CodecTag;
    bool& StreamCopy;
    bool& Disable;
    TBsfChain& BsfChain;
};

TKindOptions KindOptions(TOptionState& opt, AVMediaType type) {
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
        return {opt.VideoCodecName,  opt.VideoLanguage, opt.VideoCodecTag,
                opt.VideoStreamCopy, opt.VideoDisable,  opt.VideoBsfChain};
    case AVMEDIA_TYPE_AUDIO:
        return {opt.AudioCodecName,  opt.AudioLanguage, opt.AudioCodecTag,
                opt.AudioStreamCopy, opt.AudioDisable,  opt.AudioBsfChain};
    default:
        return {opt.SubtitleCodecName,  opt.SubtitleLanguage, opt.SubtitleCodecTag,
                opt.SubtitleStreamCopy, opt.SubtitleDisable,  opt.SubtitleBsfChain};
    }
}

CodecContextPtr NewCodecContext(const AVCodec* encoder, AVMediaType type, int threadCount) {
    CodecContextPtr codec(avcodec_alloc_context3(encoder));
    if (!codec)
        throw FFmpegException("Not enough memory");
    codec->codec_type = type;
    if (encoder)
        codec->codec_id = encoder->id;
    codec->thread_count = threadCount;
    return codec;
}

bool FormatWantsGlobalHeader(const AVFormatContext* context) {
    return context->oformat && (context->oformat->flags & AVFMT_GLOBALHEADER);
}

// Sample aspect ratio from a display aspect (width / height) and the picture size.
AVRational SampleAspect(float displayAspect, int width, int height) {
    const double ratio = static_cast<int64_t>(width) * height != 0
                             ? static_cast<double>(displayAspect) * height / width
                             : static_cast<double>(displayAspect) * 3.0 / 4.0;
    return DoubleToRational(ratio, kAspectBound);
}

uint16_t* LibraryMatrixCopy(const TMatrix& matrix) {
    auto* copy = static_cast<uint16_t*>(av_malloc_array(matrix.size(), sizeof(uint16_t)));
    if (!copy)
        throw FFmpegException("Not enough memory");
    std::copy(matrix.begin(), matrix.end(), copy);
    return copy;
}

bool ParseInt(std::string_view text, int& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && ptr == end;
}

// "start,end,q": frames start..end at quantizer q, or at -q percent of the bit rate when q <= 0.
RcOverride ParseRcOverrideGroup(std::string_view group) {
    int numbers[3] = {};
    for (int i = 0; i < 3; ++i) {
        const size_t comma = i < 2 ? group.find(',') : group.size();
        if (comma == std::string_view::npos || !ParseInt(group.substr(0, comma), numbers[i]))
            throw FFmpegException("error parsing rc_override");
        group.remove_prefix(i < 2 ? comma + 1 : comma);
    }
    RcOverride entry{};
    entry.start_frame = numbers[0];
    entry.end_frame = numbers[1];
    if (numbers[2] > 0) {
        entry.qscale = numbers[2];
        entry.quality_factor = 1.0f;
    } else {
        entry.qscale = 0;
        entry.quality_factor = -static_cast<float>(numbers[2]) / 100.0f;
    }
    return entry;
}

void SetRcOverride(AVCodecContext* codec, const std::string& text) {
    if (text.empty())
        return;
    std::vector<RcOverride> entries;
    std::string_view rest = text;
    while (true) {
        const size_t slash = rest.find('/');
        entries.push_back(ParseRcOverrideGroup(rest.substr(0, slash)));
        if (slash == std::string_view::npos)
            break;
        rest.remove_prefix(slash + 1);
    }
    auto* array = static_cast<RcOverride*>(av_malloc_array(entries.size(), sizeof(RcOverride)));
    if (!array)
        throw FFmpegException("Not enough memory");
    std::copy(entries.begin(), entries.end(), array);
    av_freep(&codec->rc_override);
    codec->rc_override = array;
    codec->rc_override_count = static_cast<int>(entries.size());
}

void SetFixedQuality(AVCodecContext* codec, float qscale) {
    codec->flags |= AV_CODEC_FLAG_QSCALE;
    codec->global_quality = static_cast<int>(qscale * FF_QP2LAMBDA);
}

void SetChannels(AVCodecContext* codec, int channels, int64_t layout) {
    av_channel_layout_uninit(&codec->ch_layout);
    const bool layoutFits = layout != 0 && av_popcount64(static_cast<uint64_t>(layout)) == channels;
    if (layoutFits)
        av_channel_layout_from_mask(&codec->ch_layout, static_cast<uint64_t>(layout));
    else
        av_channel_layout_default(&codec->ch_layout, channels);
}

} // namespace

AVStream* TCustomFFmpeg::AddOutputStream(TOutputFile& output, TOutputStream&& stream, AVMediaType type) {
    TKindOptions kind = KindOptions(Opt, type);
    AVStream* libraryStream = avformat_new_stream(output.Context, nullptr);
    if (!libraryStream) {
        kind.CodecName.clear();
        kind.Language.clear();
        throw FFmpegException("Could not alloc stream");
    }
    const size_t number = output.Streams.size();
    libraryStream->id = StreamIdMap[number];
    if (kind.CodecTag != 0)
        stream.Codec->codec_tag = kind.CodecTag;
    // Transcode copies the final parameters again once the encoder is open.
    if (avcodec_parameters_from_context(libraryStream->codecpar, stream.Codec.get()) < 0)
        throw FFmpegException("Not enough memory");

    int fileIndex = outputFileCount_; // an output being created is not listed yet
    for (int i = 0; i < outputFileCount_; ++i)
        if (OutputFiles[i].get() == &output) {
            fileIndex = i;
            break;
        }
    BsfChains[fileIndex][number] = std::move(kind.BsfChain);
    kind.BsfChain.clear();

    OutputEncoders[OutputEncoderCount++] = stream.Encoder;
    if (!kind.Language.empty()) {
        av_dict_set(&libraryStream->metadata, "language", kind.Language.c_str(), 0);
        kind.Language.clear();
    }
    kind.Disable = false;
    kind.CodecName.clear();
    kind.StreamCopy = false;
    stream.Stream = libraryStream;
    output.Streams.push_back(std::move(stream));
    return libraryStream;
}

namespace {

void CheckStreamRoom(const TOutputFile& output, int outputEncoderCount) {
    if (output.Streams.size() >= static_cast<size_t>(kMaxStreams))
        throw FFmpegException(Format("Too many streams in one output file (at most %d)", kMaxStreams));
    if (outputEncoderCount >= kMaxOutputEncoders)
        throw FFmpegException(Format("Too many output streams (at most %d)", kMaxOutputEncoders));
}

} // namespace

// The encoder of a new encoded stream, chosen by name (with the lookup's messages) or guessed from
// the output format and file name, and its codec context with the recorded options applied.
const AVCodec* TCustomFFmpeg::SetUpEncoderContext(TOutputFile& output, TOutputStream& stream,
                                                  const std::string& codecName, AVMediaType type,
                                                  AVCodecContext* generic, int typeFlag) {
    const int strictness = generic ? generic->strict_std_compliance : FF_COMPLIANCE_NORMAL;
    AVCodecID id = AV_CODEC_ID_NONE;
    if (!codecName.empty()) {
        if (!FindCodec(codecName, type, id, strictness, true, &stream.Encoder))
            throw FFmpegException(lastError_);
    } else {
        id = av_guess_codec(output.Context->oformat, nullptr, output.Context->url, nullptr, type);
    }
    const AVCodec* encoder = stream.Encoder ? stream.Encoder : avcodec_find_encoder(id);
    stream.Codec = NewCodecContext(encoder, type, Opt.ThreadCount);
    stream.Codec->codec_id = id;
    if (generic)
        ApplyContextOptions(stream.Codec.get(), generic, typeFlag | AV_OPT_FLAG_ENCODING_PARAM);
    if (encoder)
        stream.EncoderOptions = EncoderPrivateOptions(encoder);
    return encoder;
}

void TCustomFFmpeg::NewVideoStream(TOutputFile& output) {
    CheckStreamRoom(output, OutputEncoderCount);
    AVCodecContext* generic = Generic ? Generic->CodecContexts[kVideoIndex].get() : nullptr;
    TOutputStream stream;

    const bool globalHeader = (Opt.VideoGlobalHeader & 1) != 0 ||
                              (Opt.VideoGlobalHeader == 0 && FormatWantsGlobalHeader(output.Context));
    const bool localHeader = (Opt.VideoGlobalHeader & 2) != 0;
    const AVRational aspect = SampleAspect(Opt.FrameAspectRatio, Opt.FrameWidth, Opt.FrameHeight);

    if (Opt.VideoStreamCopy) {
        stream.StreamCopy = true;
        stream.Codec = NewCodecContext(nullptr, AVMEDIA_TYPE_VIDEO, Opt.ThreadCount);
        stream.Codec->sample_aspect_ratio = aspect;
    } else {
        const AVCodec* encoder = SetUpEncoderContext(output, stream, Opt.VideoCodecName, AVMEDIA_TYPE_VIDEO,
                                                     generic, AV_OPT_FLAG_VIDEO_PARAM);
        AVCodecContext* codec = stream.Codec.get();

        AVRational rate =
            Opt.FrameRate.num != 0 && Opt.FrameRate.den != 0 ? Opt.FrameRate : AVRational{25, 1};
        if (encoder && encoder->supported_framerates && !Opt.ForceFps)
            rate = encoder->supported_framerates[av_find_nearest_q_idx(rate, encoder->supported_framerates)];
        codec->framerate = rate;
        codec->time_base = av_inv_q(rate);
        codec->width = Opt.FrameWidth;
        codec->height = Opt.FrameHeight;
        codec->sample_aspect_ratio = aspect;
        codec->pix_fmt = ChoosePixelFormat(encoder, static_cast<AVPixelFormat>(Opt.FramePixelFormat),
                                           codec->strict_std_compliance);
        if (Opt.IntraOnly)
            codec->gop_size = 0;
        if (Opt.VideoQScale != 0.0f || Opt.SameQuality)
            SetFixedQuality(codec, Opt.VideoQScale);
        if (Opt.IntraMatrix)
            codec->intra_matrix = LibraryMatrixCopy(*Opt.IntraMatrix);
        if (Opt.InterMatrix)
            codec->inter_matrix = LibraryMatrixCopy(*Opt.InterMatrix);
        SetRcOverride(codec, Opt.RcOverride);
        if (codec->rc_initial_buffer_occupancy == 0)
            codec->rc_initial_buffer_occupancy = codec->rc_buffer_size * 3 / 4;
        codec->intra_dc_precision = Opt.IntraDcPrecision - 8;
        if (Opt.Psnr)
            codec->flags |= AV_CODEC_FLAG_PSNR;
        if (Opt.Pass == 1)
            codec->flags |= AV_CODEC_FLAG_PASS1;
        else if (Opt.Pass == 2)
            codec->flags |= AV_CODEC_FLAG_PASS2;
    }
    if (globalHeader)
        stream.Codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (localHeader)
        stream.Codec->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;

    Opt.FramePixelFormat = -1;
    AVStream* libraryStream = AddOutputStream(output, std::move(stream), AVMEDIA_TYPE_VIDEO);
    libraryStream->sample_aspect_ratio = aspect;
}

void TCustomFFmpeg::NewAudioStream(TOutputFile& output) {
    CheckStreamRoom(output, OutputEncoderCount);
    AVCodecContext* generic = Generic ? Generic->CodecContexts[kAudioIndex].get() : nullptr;
    TOutputStream stream;
    int timeBaseRate = Opt.AudioSampleRate;

    if (Opt.AudioStreamCopy) {
        stream.StreamCopy = true;
        stream.Codec = NewCodecContext(nullptr, AVMEDIA_TYPE_AUDIO, Opt.ThreadCount);
        SetChannels(stream.Codec.get(), Opt.AudioChannels, 0);
        stream.Codec->sample_rate = Opt.AudioSampleRate;
    } else {
        const AVCodec* encoder = SetUpEncoderContext(output, stream, Opt.AudioCodecName, AVMEDIA_TYPE_AUDIO,
                                                     generic, AV_OPT_FLAG_AUDIO_PARAM);
        AVCodecContext* codec = stream.Codec.get();
        if (Opt.AudioQScale > kNoAudioQScale)
            SetFixedQuality(codec, Opt.AudioQScale);
        SetChannels(codec, Opt.AudioChannels, Opt.ChannelLayout);
        codec->sample_fmt = ChooseSampleFormat(encoder, static_cast<AVSampleFormat>(Opt.AudioSampleFormat));
        codec->sample_rate = ChooseSampleRate(encoder, Opt.AudioSampleRate, this);
        // The encoder counts samples at the rate it was given, not the one asked for.
        timeBaseRate = codec->sample_rate;
    }
    if (FormatWantsGlobalHeader(output.Context))
        stream.Codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (timeBaseRate > 0)
        stream.Codec->time_base = AVRational{1, timeBaseRate};
    // Copied samples are not decoded: a graph given for them is dropped with the other options.
    if (!stream.StreamCopy)
        stream.AudioFilters = Opt.AudioFilters;
    Opt.AudioFilters.clear();
    AddOutputStream(output, std::move(stream), AVMEDIA_TYPE_AUDIO);
}

void TCustomFFmpeg::NewSubtitleStream(TOutputFile& output) {
    CheckStreamRoom(output, OutputEncoderCount);
    AVCodecContext* generic = Generic ? Generic->CodecContexts[kSubtitleIndex].get() : nullptr;
    TOutputStream stream;

    if (Opt.SubtitleStreamCopy) {
        stream.StreamCopy = true;
        stream.Codec = NewCodecContext(nullptr, AVMEDIA_TYPE_SUBTITLE, Opt.ThreadCount);
    } else {
        // Without a name the stream gets no codec: the format's default subtitle codec is not used.
        const int strictness = generic ? generic->strict_std_compliance : FF_COMPLIANCE_NORMAL;
        AVCodecID id = AV_CODEC_ID_NONE;
        if (!FindCodec(Opt.SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, id, strictness, true, &stream.Encoder))
            throw FFmpegException(lastError_);
        stream.Codec = NewCodecContext(stream.Encoder, AVMEDIA_TYPE_SUBTITLE, Opt.ThreadCount);
        stream.Codec->codec_id = id;
        if (generic)
            ApplyContextOptions(stream.Codec.get(), generic,
                                AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        if (stream.Encoder)
            stream.EncoderOptions = EncoderPrivateOptions(stream.Encoder);
    }
    AddOutputStream(output, std::move(stream), AVMEDIA_TYPE_SUBTITLE);
}

} // namespace tarnel
