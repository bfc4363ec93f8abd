// Disc and camcorder targets: one option that sets codecs, format, picture size, frame rate, rates
// and buffer sizes for a VCD, SVCD, DVD or DV output in the PAL, NTSC or film norm.
#include "base/FFmpegException.h"
#include "base/FFmpegLogger.h"
#include "engine/FFmpeg.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>
#include <string_view>

namespace tarnel {

namespace {

enum class TNorm { Pal, Ntsc, Film };

// A value per norm; NTSC and film share the second one.
struct TNormValue {
    const char* Pal = nullptr;
    const char* Ntsc = nullptr;
    const char* For(TNorm norm) const { return norm == TNorm::Pal ? Pal : Ntsc; }
};

struct TGenericSetting {
    const char* Name;
    TNormValue Value;
};

enum class TChannelRule { Keep, Stereo, MonoToStereo };

struct TTarget {
    std::string_view Kind;
    const char* VideoCodec; // null: unchanged
    const char* AudioCodec;
    const char* Format;
    TNormValue Size;
    TNormValue PixelFormat; // null: unchanged
    std::vector<TGenericSetting> Settings;
    int32_t AudioSampleRate;
    TChannelRule Channels;
    std::optional<float> MuxPreload;
    const char* AssumedAspect; // set when no aspect is known; null: none
};

const std::vector<TTarget>& Targets() {
    static const std::vector<TTarget> targets = {
        {"vcd",
         "mpeg1video",
         "mp2",
         "vcd",
         {"352x288", "352x240"},
         {},
         {{"g", {"15", "18"}},
          {"b", {"1150000", "1150000"}},
          {"maxrate", {"1150000", "1150000"}},
          {"minrate", {"1150000", "1150000"}},
          {"bufsize", {"327680", "327680"}},
          {"ab", {"224000", "224000"}},
          {"packetsize", {"2324", "2324"}},
          {"muxrate", {"1411200", "1411200"}}},
         44100,
         TChannelRule::Stereo,
         0.44f,
         "4:3"},
        {"svcd",
         "mpeg2video",
         "mp2",
         "svcd",
         {"480x576", "480x480"},
         {},
         {{"g", {"15", "18"}},
          {"b", {"2040000", "2040000"}},
          {"maxrate", {"2516000", "2516000"}},
          {"minrate", {"0", "0"}},
          {"bufsize", {"1835008", "1835008"}},
          {"flags", {"+scan_offset", "+scan_offset"}},
          {"ab", {"224000", "224000"}},
          {"packetsize", {"2324", "2324"}}},
         44100,
         TChannelRule::MonoToStereo,
         std::nullopt,
         "4:3"},
        {"dvd",
         "mpeg2video",
         "ac3",
         "dvd",
         {"720x576", "720x480"},
         {},
         {{"g", {"15", "18"}},
          {"b", {"6000000", "6000000"}},
          {"maxrate", {"9000000", "9000000"}},
          {"minrate", {"0", "0"}},
          {"bufsize", {"1835008", "1835008"}},
          {"packetsize", {"2048", "2048"}},
          {"muxrate", {"10080000", "10080000"}},
          {"ab", {"448000", "448000"}}},
         48000,
         TChannelRule::MonoToStereo,
         std::nullopt,
         "16:9"},
        {"dv",
         nullptr,
         nullptr,
         "dv",
         {"720x576", "720x480"},
         {"yuv420p", "yuv411p"},
         {},
         48000,
         TChannelRule::Stereo,
         std::nullopt,
         nullptr},
        {"dv50",
         nullptr,
         nullptr,
         "dv",
         {"720x576", "720x480"},
         {"yuv422p", "yuv422p"},
         {},
         48000,
         TChannelRule::Stereo,
         std::nullopt,
         nullptr},
    };
    return targets;
}

std::optional<TNorm> NormByName(const std::string& name) {
    if (name == "pal")
        return TNorm::Pal;
    if (name == "ntsc")
        return TNorm::Ntsc;
    if (name == "film")
        return TNorm::Film;
    return std::nullopt;
}

// The norm that a rate in thousandths of a frame per second stands for.
std::optional<TNorm> NormByMilliRate(int64_t milliRate) {
    if (milliRate == 25000)
        return TNorm::Pal;
    if (milliRate == 29970 || milliRate == 23976)
        return TNorm::Ntsc;
    return std::nullopt;
}

// Today's decoders leave the codec time base unset, so the stream's own rates say what the
// picture rate is: the average rate, else the real base rate.
std::optional<TNorm> NormOfVideoStream(const AVStream* stream) {
    AVRational rate = stream->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = stream->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        return std::nullopt;
    return NormByMilliRate(int64_t{rate.num} * 1000 / rate.den);
}

// The first video stream of the opened inputs whose rate is a PAL or NTSC rate decides.
std::optional<TNorm> NormOfInputs(std::span<const std::unique_ptr<TInputFile>> inputs) {
    for (const auto& input : inputs) {
        const AVFormatContext* context = input ? input->Context.get() : nullptr;
        for (unsigned i = 0; context && i < context->nb_streams; ++i) {
            if (context->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
                continue;
            if (auto norm = NormOfVideoStream(context->streams[i]))
                return norm;
        }
    }
    return std::nullopt;
}

TNorm FallbackNorm(const std::string& fallback) {
    if (fallback == "film")
        return TNorm::Film;
    if (fallback == "ntsc")
        return TNorm::Ntsc;
    return TNorm::Pal;
}

const char* FrameRateText(TNorm norm) {
    switch (norm) {
    case TNorm::Pal:
        return "25";
    case TNorm::Ntsc:
        return "30000/1001";
    case TNorm::Film:
        return "24000/1001";
    }
    return "25";
}

} // namespace

void TCustomFFmpeg::SetTarget(const std::string& kind, const std::string& norm,
                              const std::string& fallbackNorm) {
    std::optional<TNorm> chosen = NormByName(norm);
    if (!chosen) {
        if (Opt.FrameRate.den == 0)
            throw FFmpegException("frame_rate is invalid.");
        chosen = NormByMilliRate(std::llround(av_q2d(Opt.FrameRate) * 1000));
        if (!chosen)
            chosen = NormOfInputs({InputFiles.data(), static_cast<size_t>(inputFileCount_)});
        if (!chosen)
            chosen = FallbackNorm(fallbackNorm);
        if (Opt.Verbosity > 0)
            Logger().LogFmt(this, llVerbose, "Assuming %s for target.",
                            *chosen == TNorm::Pal ? "PAL" : "NTSC");
    }

    const auto& targets = Targets();
    auto target =
        std::find_if(targets.begin(), targets.end(), [&](const TTarget& t) { return t.Kind == kind; });
    if (target == targets.end())
        throw FFmpegException("Unknown target type");

    if (target->VideoCodec)
        SetOption("vcodec", target->VideoCodec);
    if (target->AudioCodec)
        SetOption("acodec", target->AudioCodec);
    SetOption("f", target->Format);
    SetOption("s", target->Size.For(*chosen));
    if (target->PixelFormat.Pal)
        SetOption("pix_fmt", target->PixelFormat.For(*chosen));
    SetOption("r", FrameRateText(*chosen));
    for (const TGenericSetting& setting : target->Settings)
        GenericOption(setting.Name, setting.Value.For(*chosen));
    Opt.AudioSampleRate = target->AudioSampleRate;
    if (target->Channels == TChannelRule::Stereo ||
        (target->Channels == TChannelRule::MonoToStereo && Opt.AudioChannels == 1))
        Opt.AudioChannels = 2;
    if (target->MuxPreload)
        Opt.MuxPreload = *target->MuxPreload;
    if (target->AssumedAspect && Opt.FrameAspectRatio == 0) {
        Logger().LogFmt(this, llInfo, "Assuming %s for aspect ratio", target->AssumedAspect);
        SetOption("aspect", target->AssumedAspect);
    }
}

} // namespace tarnel
