// Options set by name on the media libraries' own option tables: the generic codec, format and
// scaler contexts, and the private options of the chosen encoders. The values wait there until
// the real contexts exist (ApplyContextOptions, EncoderPrivateOptions).
#include "base/FFmpegLogger.h"
#include "engine/FFmpeg.h"
#include "engine/OptionTranslation.h"
#include "engine/OptionValues.h"

#include <algorithm>

extern "C" {
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace tarnel {

namespace {

// Generic codec contexts: video, audio, data, subtitle, attachment, and the option flags that an
// option needs to be set on each.
constexpr int kCodecTypeMasks[] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0,
                                   AV_OPT_FLAG_SUBTITLE_PARAM, 0};
constexpr int kVideoContext = 0;
constexpr int kAudioContext = 1;
constexpr int kSubtitleContext = 3;
constexpr int kKindFlags = AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_SUBTITLE_PARAM;

enum class TSetResult { NotFound, Rejected, Set };

using TCodecContexts = std::array<CodecContextPtr, 5>;

void LogRejectedValue(const std::string& name, const std::string& value) {
    av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", value.c_str(), name.c_str());
}

// `setName` receives the option's own name when it was set.
TSetResult SetOnObject(void* object, const std::string& name, const std::string& value, int optionFlags,
                       std::string& setName) {
    if (!object)
        return TSetResult::NotFound;
    const AVOption* option = av_opt_find(object, name.c_str(), nullptr, optionFlags, 0);
    if (!option)
        return TSetResult::NotFound;
    if (av_opt_set(object, name.c_str(), value.c_str(), 0) < 0)
        return TSetResult::Rejected;
    setName = option->name;
    return TSetResult::Set;
}

// Every codec context whose kind the option belongs to gets the value; the first refusal stops.
TSetResult SetOnCodecContexts(const TCodecContexts& contexts, const std::string& name,
                              const std::string& value, std::string& setName) {
    TSetResult result = TSetResult::NotFound;
    for (size_t i = 0; i < contexts.size(); ++i) {
        const int mask = kCodecTypeMasks[i];
        if (!LegacyOptionAppliesTo(name, mask) ||
            !av_opt_find(contexts[kVideoContext].get(), name.c_str(), nullptr, mask, 0))
            continue;
        if (SetOnObject(contexts[i].get(), name, value, 0, setName) != TSetResult::Set)
            return TSetResult::Rejected;
        result = TSetResult::Set;
    }
    return result;
}

// "vb" → "b" on the video context, "ab" on audio, "s…" on subtitle.
TSetResult SetWithoutKindLetter(const TCodecContexts& contexts, const std::string& name,
                                const std::string& value, std::string& setName) {
    if (name.size() < 2)
        return TSetResult::NotFound;
    int index = -1;
    switch (name[0]) {
    case 'v':
        index = kVideoContext;
        break;
    case 'a':
        index = kAudioContext;
        break;
    case 's':
        index = kSubtitleContext;
        break;
    default:
        return TSetResult::NotFound;
    }
    return SetOnObject(contexts[index].get(), name.substr(1), value, 0, setName);
}

struct TChosenEncoder {
    AVMediaType Kind;
    const AVCodec* Codec;
};

// The encoders named for the next streams, those with options of their own.
std::vector<TChosenEncoder> ChosenEncoders(const TOptionState& opt, const void* sender) {
    const std::pair<AVMediaType, const std::string*> kinds[] = {
        {AVMEDIA_TYPE_VIDEO, &opt.VideoCodecName},
        {AVMEDIA_TYPE_AUDIO, &opt.AudioCodecName},
        {AVMEDIA_TYPE_SUBTITLE, &opt.SubtitleCodecName}};
    std::vector<TChosenEncoder> encoders;
    for (const auto& [kind, name] : kinds) {
        if (name->empty())
            continue;
        const AVCodec* codec = avcodec_find_encoder_by_name(CurrentEncoderName(*name, sender).c_str());
        if (codec && codec->priv_class)
            encoders.push_back({kind, codec});
    }
    return encoders;
}

bool EncoderKnows(const AVCodec* encoder, const std::string& name) {
    if (!encoder || !encoder->priv_class)
        return false;
    auto* privateClass = const_cast<const AVClass**>(&encoder->priv_class);
    return av_opt_find2(privateClass, name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ, nullptr) != nullptr;
}

// The encoder's own option table checks the value now, so a bad one is reported by the option
// that carried it rather than when the encoder is opened.
bool EncoderAccepts(const AVCodec* encoder, const std::string& name, const std::string& value) {
    CodecContextPtr scratch(avcodec_alloc_context3(encoder));
    return scratch && scratch->priv_data &&
           av_opt_set(scratch->priv_data, name.c_str(), value.c_str(), 0) >= 0;
}

template <typename TPrivateOptions>
void RememberPrivateOption(TPrivateOptions& options, const std::string& name, const std::string& value,
                           AVMediaType kind) {
    const auto same = std::find_if(options.begin(), options.end(), [&](const auto& option) {
        return option.Kind == kind && option.Name == name;
    });
    if (same != options.end())
        same->Value = value;
    else
        options.push_back({name, value, kind});
}

template <typename TPrivateOptions>
TSetResult SetOnChosenEncoders(TPrivateOptions& options, const std::vector<TChosenEncoder>& encoders,
                               const std::string& name, const std::string& value) {
    TSetResult result = TSetResult::NotFound;
    for (const TChosenEncoder& encoder : encoders) {
        if (!EncoderKnows(encoder.Codec, name))
            continue;
        if (!EncoderAccepts(encoder.Codec, name, value))
            return TSetResult::Rejected;
        RememberPrivateOption(options, name, value, encoder.Kind);
        result = TSetResult::Set;
    }
    return result;
}

// Options that only the requested output format's muxer knows ("muxrate" of the MPEG muxers),
// kept until the output is created. They are remembered with the media type "unknown".
constexpr AVMediaType kMuxerKind = AVMEDIA_TYPE_UNKNOWN;

bool MuxerKnows(const AVOutputFormat* muxer, const std::string& name) {
    if (!muxer || !muxer->priv_class)
        return false;
    auto* privateClass = const_cast<const AVClass**>(&muxer->priv_class);
    return av_opt_find2(privateClass, name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ, nullptr) != nullptr;
}

bool MuxerAccepts(const AVOutputFormat* muxer, const std::string& name, const std::string& value) {
    AVFormatContext* scratch = nullptr;
    if (avformat_alloc_output_context2(&scratch, muxer, nullptr, nullptr) < 0)
        return false;
    FormatContextPtr owner(scratch);
    return scratch->priv_data && av_opt_set(scratch->priv_data, name.c_str(), value.c_str(), 0) >= 0;
}

template <typename TPrivateOptions>
TSetResult SetOnRequestedMuxer(TPrivateOptions& options, const std::string& format, const std::string& name,
                               const std::string& value) {
    const AVOutputFormat* muxer =
        format.empty() ? nullptr : av_guess_format(format.c_str(), nullptr, nullptr);
    if (!MuxerKnows(muxer, name))
        return TSetResult::NotFound;
    if (!MuxerAccepts(muxer, name, value))
        return TSetResult::Rejected;
    RememberPrivateOption(options, name, value, kMuxerKind);
    return TSetResult::Set;
}

} // namespace

bool TCustomFFmpeg::GenericOption(const std::string& name, const std::string& value) {
    if (!Generic)
        return false;
    const std::string optionName = TrimText(name);
    const std::string optionValue = TrimText(value);
    if (optionName.empty() || optionValue.empty())
        return false;
    const std::vector<TChosenEncoder> encoders = ChosenEncoders(Opt, this);
    const auto encoderKnows = [&encoders](const std::string& option) {
        return std::any_of(encoders.begin(), encoders.end(), [&](const TChosenEncoder& encoder) {
            return EncoderKnows(encoder.Codec, option);
        });
    };
    for (const TOptionSetting& setting : TranslateLegacyOption(optionName, optionValue, encoderKnows)) {
        std::string setName;
        TSetResult result = SetOnCodecContexts(Generic->CodecContexts, setting.Name, setting.Value, setName);
        if (result == TSetResult::NotFound)
            result = SetOnObject(Generic->FormatContext.get(), setting.Name, setting.Value, 0, setName);
        if (result == TSetResult::NotFound)
            result = SetOnObject(Generic->ScalerContext.get(), setting.Name, setting.Value, 0, setName);
        if (result == TSetResult::NotFound)
            result = SetWithoutKindLetter(Generic->CodecContexts, setting.Name, setting.Value, setName);
        if (result == TSetResult::NotFound)
            result = SetOnChosenEncoders(Generic->PrivateOptions, encoders, setting.Name, setting.Value);
        if (result == TSetResult::NotFound)
            result = SetOnRequestedMuxer(Generic->PrivateOptions, Opt.LastAskedFormat, setting.Name,
                                         setting.Value);
        if (result == TSetResult::Rejected)
            LogRejectedValue(setting.Name, setting.Value);
        if (result != TSetResult::Set)
            return false;
        if (!setName.empty() &&
            std::find(Generic->Names.begin(), Generic->Names.end(), setName) == Generic->Names.end())
            Generic->Names.push_back(setName);
    }
    if (Generic->CodecContexts[kVideoContext]->debug || Generic->FormatContext->debug)
        Logger().SetLogLevel(llDebug);
    return true;
}

void TCustomFFmpeg::ApplyContextOptions(void* target, void* source, int requiredFlags) {
    if (!Generic || !target || !source)
        return;
    for (const std::string& name : Generic->Names) {
        if (!LegacyOptionAppliesTo(name, requiredFlags & kKindFlags) ||
            !av_opt_find(source, name.c_str(), nullptr, requiredFlags, 0))
            continue;
        uint8_t* text = nullptr;
        if (av_opt_get(source, name.c_str(), 0, &text) < 0)
            continue;
        const LibraryMemPtr<uint8_t> value(text);
        av_opt_set(target, name.c_str(), reinterpret_cast<const char*>(text), 0);
    }
}

DictionaryPtr TCustomFFmpeg::EncoderPrivateOptions(const AVCodec* encoder) {
    AVDictionary* options = nullptr;
    if (Generic && encoder && encoder->priv_class) {
        for (const auto& option : Generic->PrivateOptions)
            if (option.Kind == encoder->type && EncoderKnows(encoder, option.Name))
                av_dict_set(&options, option.Name.c_str(), option.Value.c_str(), 0);
    }
    return DictionaryPtr(options);
}

DictionaryPtr TCustomFFmpeg::MuxerPrivateOptions(const AVOutputFormat* muxer) {
    AVDictionary* options = nullptr;
    if (Generic && muxer && muxer->priv_class) {
        for (const auto& option : Generic->PrivateOptions)
            if (option.Kind == kMuxerKind && MuxerKnows(muxer, option.Name))
                av_dict_set(&options, option.Name.c_str(), option.Value.c_str(), 0);
    }
    return DictionaryPtr(options);
}

} // namespace tarnel
