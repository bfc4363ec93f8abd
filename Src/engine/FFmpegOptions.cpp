// SetOption: the engine's option vocabulary. Each name has one small handler in one table; a name
// the table does not know goes to the media libraries' own options (GenericOption).
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLogger.h"
#include "engine/FFmpeg.h"
#include "engine/OptionValues.h"

#include <cmath>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string_view>
#include <unordered_map>

extern "C" {
#include <libavcodec/bsf.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
}

namespace tarnel {

namespace {

constexpr int kVideoKind = 0;
constexpr int kAudioKind = 1;
constexpr int kDataKind = 2;
constexpr int kMinBitRate = 1000;

using S = std::string;

int64_t ParseTimeValue(const std::string& name, const std::string& value, bool duration) {
    int64_t us = 0;
    if (av_parse_time(&us, value.c_str(), duration ? 1 : 0) < 0)
        throw FFmpegException(Format("Invalid %s specification for %s: %s", duration ? "duration" : "date",
                                     name.c_str(), value.c_str()));
    return us;
}

std::string ExecutableDirectory() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    std::string dir = exe.parent_path().string();
    return dir.empty() || dir.back() == '/' ? dir : dir + '/';
}

std::string LocalTimeHhNnSs() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H%M%S", &local);
    return text;
}

std::vector<std::string> SplitWords(const std::string& text) {
    std::istringstream stream(text);
    std::vector<std::string> words;
    for (std::string word; stream >> word;)
        words.push_back(word);
    return words;
}

} // namespace

struct TOptionHandlers {
    using E = TCustomFFmpeg;
    using THandler = void (*)(E& e, const S& name, const S& value);

    static void Ignore(E& e, const S& name, const S&) {
        Logger().Log(&e, llInfo, "Do nothing: option - " + name);
    }

    static void Pad(E&, const S&, const S&) { throw FFmpegException("Please use vfilters=pad"); }

    static void Threads(E& e, const S& name, const S& value) {
        const int count = std::stoi(value);
        if (count < 0)
            throw FFmpegException(
                Format("Invalid value \"%s\" for option \"%s\"", value.c_str(), name.c_str()));
        e.Opt.ThreadCount = count;
    }

    static void TimeLimit(E& e, const S&, const S&) {
        Logger().Log(&e, llWarning, "Warning: -timelimit not implemented on Windows");
    }

    static void OutputFormat(E& e, const S&, const S& value) {
        if (value.empty())
            return;
        if (value == "pgmyuv") {
            e.Opt.LastAskedFormat = "image2";
            e.Opt.PgmyuvHack = true;
            Logger().Log(&e, llInfo, "pgmyuv format is deprecated, use image2");
            return;
        }
        e.Opt.LastAskedFormat = value;
    }

    static void StreamMap(E& e, const S&, const S& value) {
        if (e.StreamMapCount >= static_cast<int32_t>(e.StreamMaps.size()))
            throw FFmpegException(Format("Too many stream maps (at most %zu)", e.StreamMaps.size()));
        const TParsedStreamMap map = ParseStreamMap(value);
        e.StreamMaps[e.StreamMapCount++] = {map.FileIndex, map.StreamIndex, map.SyncFileIndex,
                                            map.SyncStreamIndex};
    }

    static void MetadataMap(E& e, const S&, const S& value) {
        if (e.MetadataMapCount >= static_cast<int32_t>(e.MetadataMaps.size()))
            throw FFmpegException(Format("Too many metadata maps (at most %zu)", e.MetadataMaps.size()));
        const TParsedMetadataMap map = ParseMetadataMap(value);
        e.MetadataMaps[e.MetadataMapCount++] = {map.OutFile, map.InFile};
    }

    static void InputTsScale(E& e, const S&, const S& value) {
        const char* p = value.c_str();
        char* end = nullptr;
        const long stream = std::strtol(p, &end, 0);
        if (*end)
            ++end;
        const double scale = std::strtod(end, nullptr);
        if (stream < 0 || stream >= kMaxStreams)
            throw FFmpegException(Format("stream index over MAX_STREAMS(%d)", kMaxStreams));
        if (e.inputFileCount_ >= kMaxFiles)
            throw FFmpegException(Format("Too many input files (at most %d)", kMaxFiles));
        e.InputTsScale[e.inputFileCount_][stream] = scale;
    }

    static void Timestamp(E& e, const S& name, const S& value) {
        e.Opt.RecordingTimestamp =
            std::llround(static_cast<double>(ParseTimeValue(name, value, false)) / 1e6);
    }

    static void Metadata(E& e, const S&, const S& value) {
        const size_t equals = value.find('=');
        if (equals == std::string::npos)
            throw FFmpegException("Missing =");
        e.AddMetadata(value.substr(0, equals), value.substr(equals + 1));
    }

    static void Target(E& e, const S&, const S& value) {
        static constexpr std::pair<std::string_view, const char*> kNormPrefixes[] = {
            {"pal-", "pal"}, {"ntsc-", "ntsc"}, {"film-", "film"}};
        for (const auto& [prefix, norm] : kNormPrefixes) {
            if (value.starts_with(prefix)) {
                e.SetTarget(value.substr(prefix.size()), norm, "ntsc");
                return;
            }
        }
        e.SetTarget(value, "auto", "ntsc");
    }

    static void BitRate(E& e, const S& name, const S& value) {
        if (!e.GenericOption(name, value) || !e.Generic)
            return;
        AVCodecContext* context = e.Generic->CodecContexts[name == "ab" ? kAudioKind : kVideoKind].get();
        int64_t bitRate = 0;
        if (av_opt_get_int(context, "b", 0, &bitRate) >= 0 && bitRate < kMinBitRate)
            Logger().Log(
                &e, llWarning,
                "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
    }

    static void FrameRate(E& e, const S&, const S& value) {
        if (value.empty())
            return;
        AVRational rate{0, 0};
        if (av_parse_video_rate(&rate, value.c_str()) < 0)
            throw FFmpegException("Incorrect frame rate");
        e.Opt.FrameRate = rate;
    }

    static void FrameSize(E& e, const S&, const S& value) {
        if (value.empty())
            return;
        int width = 0;
        int height = 0;
        if (av_parse_video_size(&width, &height, value.c_str()) < 0)
            throw FFmpegException("Incorrect frame size");
        e.Opt.FrameWidth = width;
        e.Opt.FrameHeight = height;
    }

    // A negative or infinite ratio would only fail later, far from the option that caused it.
    static void Aspect(E& e, const S&, const S& value) {
        const double ratio = ParseAspect(value);
        if (!(ratio > 0.0) || !std::isfinite(ratio))
            throw FFmpegException("Incorrect aspect ratio specification.");
        e.Opt.FrameAspectRatio = static_cast<float>(ratio);
    }

    static void PixelFormat(E& e, const S&, const S& value) {
        if (value == "list") {
            char line[128];
            Logger().Log(&e, llInfo, av_get_pix_fmt_string(line, sizeof line, AV_PIX_FMT_NONE));
            for (const AVPixFmtDescriptor* d = av_pix_fmt_desc_next(nullptr); d; d = av_pix_fmt_desc_next(d))
                Logger().Log(&e, llInfo, av_get_pix_fmt_string(line, sizeof line, av_pix_fmt_desc_get_id(d)));
            return;
        }
        const AVPixelFormat format = av_get_pix_fmt(value.c_str());
        if (format == AV_PIX_FMT_NONE)
            throw FFmpegException(Format("Unknown pixel format requested: %s", value.c_str()));
        e.Opt.FramePixelFormat = format;
    }

    static void SampleFormat(E& e, const S&, const S& value) {
        if (value == "list") {
            char line[128];
            Logger().Log(&e, llInfo, av_get_sample_fmt_string(line, sizeof line, AV_SAMPLE_FMT_NONE));
            for (int format = 0; format < AV_SAMPLE_FMT_NB; ++format)
                Logger().Log(
                    &e, llInfo,
                    av_get_sample_fmt_string(line, sizeof line, static_cast<AVSampleFormat>(format)));
            return;
        }
        e.Opt.AudioSampleFormat = av_get_sample_fmt(value.c_str());
    }

    static void Crop(E& e, const S& name, const S& value) {
        const int band = std::stoi(value);
        if (band <= 0)
            return;
        const bool vertical = name == "croptop" || name == "cropbottom";
        int32_t& size = vertical ? e.Opt.FrameHeight : e.Opt.FrameWidth;
        if (band >= size)
            throw FFmpegException(Format("%s crop dimensions are outside the range of the original image.\n"
                                         "Remember to crop first and scale second.",
                                         vertical ? "Vertical" : "Horizontal"));
        static constexpr std::pair<std::string_view, const char*> kCropNames[] = {
            {"croptop", "CropTop"},
            {"cropbottom", "CropBottom"},
            {"cropleft", "CropLeft"},
            {"cropright", "CropRight"}};
        int32_t* const bands[] = {&e.Opt.CropTop, &e.Opt.CropBottom, &e.Opt.CropLeft, &e.Opt.CropRight};
        for (size_t i = 0; i < std::size(kCropNames); ++i) {
            if (name != kCropNames[i].first)
                continue;
            Logger().LogFmt(&e, llWarning, "%s is deprecated in favor of the crop avfilter",
                            kCropNames[i].second);
            *bands[i] = band;
        }
        size -= band;
    }

    static void QScale(E& e, const S&, const S& value) {
        const double q = std::stod(value);
        if (!(q > 0.0 && q <= 255.0))
            throw FFmpegException("qscale must be > 0.0 and <= 255");
        e.Opt.VideoQScale = static_cast<float>(q);
    }

    static void SelectCodec(std::string& codecName, bool& streamCopy, const S& value) {
        if (value.empty())
            return;
        codecName.clear();
        if (value == "copy")
            streamCopy = true;
        else
            codecName = value;
    }

    static void Pass(E& e, const S&, const S& value) {
        const int pass = std::stoi(value);
        if (pass != 1 && pass != 2)
            throw FFmpegException("pass number can be only 1 or 2");
        e.Opt.Pass = pass;
    }

    static void Vstats(E& e, const S&, const S&) {
        e.Opt.VstatsFileName =
            Format("%svstats_%s.log", ExecutableDirectory().c_str(), LocalTimeHhNnSs().c_str());
    }

    static void VideoHook(E& e, const S&, const S& value) {
        const std::vector<std::string> args = SplitWords(value);
        if (e.VideoHooks.Add(args) < 0)
            throw FFmpegException(Format("Could not add the video hook \"%s\"", value.c_str()));
        e.Opt.UsingVideoHook = true;
    }

    static void VideoFilters(E& e, const S&, const S& value) {
        if (!value.empty())
            e.Opt.VideoFilters = value;
    }

    static void Matrix(E& e, const S& name, const S& value) {
        (name == "intra_matrix" ? e.Opt.IntraMatrix : e.Opt.InterMatrix) = ParseMatrix(value);
    }

    static void CodecTag(uint32_t& tag, const S& value, const char* lengthMessage) {
        if (!value.empty())
            tag = ParseCodecTag(value, lengthMessage);
    }

    static void NewStream(E& e, const S& name, const S&) {
        if (e.outputFileCount_ <= 0)
            throw FFmpegException("At least one output file must be specified");
        TOutputFile& output = *e.OutputFiles[e.outputFileCount_ - 1];
        if (name == "newvideo")
            e.NewVideoStream(output);
        else if (name == "newaudio")
            e.NewAudioStream(output);
        else
            e.NewSubtitleStream(output);
    }

    static void StreamId(E& e, const S& name, const S& value) {
        const size_t colon = value.find(':');
        if (colon == std::string::npos || colon == 0 || colon + 1 == value.size())
            throw FFmpegException(
                Format("Invalid value \"%s\" for option \"%s\", required syntax is \"index:value\"",
                       value.c_str(), name.c_str()));
        const int index = std::stoi(value.substr(0, colon));
        if (index < 0 || index >= static_cast<int>(e.StreamIdMap.size()))
            throw FFmpegException(Format("Stream id index %d is outside the table (0 to %zu)", index,
                                         e.StreamIdMap.size() - 1));
        e.StreamIdMap[index] = std::stoi(value.substr(colon + 1));
    }

    static void BitstreamFilter(E& e, const S& name, const S& value) {
        const std::string spec = TrimText(value);
        const size_t equals = spec.find('=');
        const std::string filterName =
            equals != std::string::npos && equals > 0 ? spec.substr(0, equals) : spec;
        if (spec.empty() || spec[0] == '=' || !av_bsf_get_by_name(filterName.c_str()))
            throw FFmpegException(Format("Unknown bitstream filter %s", spec.c_str()));
        TBsfChain& chain = name == "vbsf"   ? e.Opt.VideoBsfChain
                           : name == "absf" ? e.Opt.AudioBsfChain
                                            : e.Opt.SubtitleBsfChain;
        chain.push_back(spec);
    }

    static void Preset(E& e, const S& name, const S& value) { e.ApplyPreset(name, value); }

    static const std::unordered_map<std::string_view, THandler>& Table();
};

const std::unordered_map<std::string_view, TOptionHandlers::THandler>& TOptionHandlers::Table() {
    using H = TOptionHandlers;
    static const std::unordered_map<std::string_view, THandler> table = {
        {"L", Ignore},
        {"h", Ignore},
        {"version", Ignore},
        {"formats", Ignore},
        {"codecs", Ignore},
        {"bsfs", Ignore},
        {"protocols", Ignore},
        {"filters", Ignore},
        {"i", Ignore},
        {"y", Ignore},
        {"benchmark", Ignore},
        {"threads", Threads},
        {"padtop", Pad},
        {"padbottom", Pad},
        {"padleft", Pad},
        {"padright", Pad},
        {"padcolor", Pad},
        {"loglevel", [](E&, const S&, const S& v) { Logger().SetLogLevelByName(v); }},
        {"timelimit", TimeLimit},
        {"f", OutputFormat},
        {"map", StreamMap},
        {"map_meta_data", MetadataMap},
        {"t", [](E& e, const S& n, const S& v) { e.SetRecordingTime(ParseTimeValue(n, v, true)); }},
        {"fs", [](E& e, const S&, const S& v) { e.Opt.LimitFileSize = std::stoll(v); }},
        {"ss", [](E& e, const S& n, const S& v) { e.Opt.StartTime = ParseTimeValue(n, v, true); }},
        {"itsoffset", [](E& e, const S& n, const S& v) { e.Opt.InputTsOffsetOption = ParseTimeValue(n, v, true); }},
        {"itsscale", H::InputTsScale},
        {"timestamp", Timestamp},
        {"metadata", H::Metadata},
        {"dframes", [](E& e, const S&, const S& v) { e.Opt.MaxFrames[kDataKind] = std::stoi(v); }},
        {"dump", [](E& e, const S&, const S& v) { e.Opt.PacketDump = OptionBool(v); }},
        {"hex", [](E& e, const S&, const S& v) { e.Opt.HexDump = OptionBool(v); }},
        {"re", [](E& e, const S&, const S& v) { e.Opt.RateEmulation = OptionBool(v); }},
        {"loop_input", [](E& e, const S&, const S& v) { e.Opt.LoopInput = OptionBool(v); }},
        {"loop_output", [](E& e, const S&, const S& v) { e.Opt.LoopOutput = std::stoi(v); }},
        {"v", [](E& e, const S&, const S& v) { e.SetVerbosity(std::stoi(v)); }},
        {"target", Target},
        {"vsync", [](E& e, const S&, const S& v) { e.Opt.VideoSync = std::stoi(v); }},
        {"async", [](E& e, const S&, const S& v) { e.Opt.AudioSync = std::stoi(v); }},
        {"adrift_threshold", [](E& e, const S&, const S& v) { e.Opt.AudioDriftThreshold = std::stof(v); }},
        {"vglobal", [](E& e, const S&, const S& v) { e.Opt.VideoGlobalHeader = std::stoi(v); }},
        {"copyts", [](E& e, const S&, const S&) { e.Opt.CopyTs = true; }},
        {"shortest", [](E& e, const S&, const S& v) { e.Opt.Shortest = OptionBool(v); }},
        {"dts_delta_threshold", [](E& e, const S&, const S& v) { e.Opt.DtsDeltaThreshold = std::stof(v); }},
        {"programid", [](E& e, const S&, const S& v) { e.Opt.ProgramId = std::stoi(v); }},
        {"xerror", [](E& e, const S&, const S&) { e.Opt.ExitOnError = true; }},
        {"copyinkf", [](E& e, const S&, const S& v) { e.Opt.CopyInitialNonKeyframes = std::stoi(v); }},
        {"b", BitRate},
        {"vb", BitRate},
        {"ab", BitRate},
        {"vframes", [](E& e, const S&, const S& v) { e.Opt.MaxFrames[kVideoKind] = std::stoi(v); }},
        {"r", H::FrameRate},
        {"s", FrameSize},
        {"aspect", Aspect},
        {"pix_fmt", H::PixelFormat},
        {"croptop", Crop},
        {"cropbottom", Crop},
        {"cropleft", Crop},
        {"cropright", Crop},
        {"intra", [](E& e, const S&, const S& v) { e.Opt.IntraOnly = OptionBool(v); }},
        {"vn", [](E& e, const S&, const S& v) { e.Opt.VideoDisable = OptionBool(v); }},
        {"vdt", [](E& e, const S&, const S& v) { e.Opt.VideoDiscard = std::stoi(v); }},
        {"qscale", QScale},
        {"rc_override", [](E& e, const S&, const S& v) { e.Opt.RcOverride = v; }},
        {"vcodec",
         [](E& e, const S&, const S& v) { SelectCodec(e.Opt.VideoCodecName, e.Opt.VideoStreamCopy, v); }},
        {"me_threshold", [](E& e, const S&, const S& v) { e.Opt.MeThreshold = std::stoi(v); }},
        {"sameq", [](E& e, const S&, const S& v) { e.Opt.SameQuality = OptionBool(v); }},
        {"pass", H::Pass},
        {"passlogfile", [](E& e, const S&, const S& v) { e.Opt.PassLogPrefix = v; }},
        {"deinterlace", [](E& e, const S&, const S& v) { e.Opt.Deinterlace = OptionBool(v); }},
        {"psnr", [](E& e, const S&, const S& v) { e.Opt.Psnr = OptionBool(v); }},
        {"vstats", Vstats},
        {"vstats_file", [](E& e, const S&, const S& v) { e.Opt.VstatsFileName = v; }},
        {"vhook", VideoHook},
        {"vfilters", VideoFilters},
        {"vf", VideoFilters},
        {"intra_matrix", Matrix},
        {"inter_matrix", Matrix},
        {"top", [](E& e, const S&, const S& v) { e.Opt.TopFieldFirst = std::stoi(v); }},
        {"dc", [](E& e, const S&, const S& v) { e.Opt.IntraDcPrecision = std::stoi(v); }},
        {"vtag",
         [](E& e, const S&, const S& v) { CodecTag(e.Opt.VideoCodecTag, v, "video tag parameter must be 4 chars"); }},
        {"newvideo", NewStream},
        {"vlang", [](E& e, const S&, const S& v) { e.Opt.VideoLanguage = v; }},
        {"qphist", [](E& e, const S&, const S& v) { e.Opt.QpHistogram = OptionBool(v); }},
        {"force_fps", [](E& e, const S&, const S& v) { e.Opt.ForceFps = OptionBool(v); }},
        {"autorotate", [](E& e, const S&, const S& v) { e.Opt.AutoRotate = OptionBool(v); }},
        {"streamid", StreamId},
        {"aframes", [](E& e, const S&, const S& v) { e.Opt.MaxFrames[kAudioKind] = std::stoi(v); }},
        {"aq", [](E& e, const S&, const S& v) { e.Opt.AudioQScale = std::stof(v); }},
        {"ar",
         [](E& e, const S&, const S& v) {
             if (const int rate = std::stoi(v); rate > 0)
                 e.Opt.AudioSampleRate = rate;
         }},
        {"ac",
         [](E& e, const S&, const S& v) {
             if (const int channels = std::stoi(v); channels > 0)
                 e.Opt.AudioChannels = channels;
         }},
        {"an", [](E& e, const S&, const S& v) { e.Opt.AudioDisable = OptionBool(v); }},
        {"acodec",
         [](E& e, const S&, const S& v) { SelectCodec(e.Opt.AudioCodecName, e.Opt.AudioStreamCopy, v); }},
        {"atag",
         [](E& e, const S&, const S& v) { CodecTag(e.Opt.AudioCodecTag, v, "audio tag parameter must be 4 chars"); }},
        {"vol", [](E& e, const S&, const S& v) { e.Opt.AudioVolume = std::stoi(v); }},
        {"newaudio", NewStream},
        {"alang", [](E& e, const S&, const S& v) { e.Opt.AudioLanguage = v; }},
        {"af", [](E& e, const S&, const S& v) { e.Opt.AudioFilters = v; }},
        {"afilters", [](E& e, const S&, const S& v) { e.Opt.AudioFilters = v; }},
        {"sample_fmt", SampleFormat},
        {"sn", [](E& e, const S&, const S& v) { e.Opt.SubtitleDisable = OptionBool(v); }},
        {"scodec",
         [](E& e, const S&, const S& v) { SelectCodec(e.Opt.SubtitleCodecName, e.Opt.SubtitleStreamCopy, v); }},
        {"newsubtitle", NewStream},
        {"slang", [](E& e, const S&, const S& v) { e.Opt.SubtitleLanguage = v; }},
        {"stag",
         [](E& e, const S&, const S& v) {
             CodecTag(e.Opt.SubtitleCodecTag, v, "subtitle tag parameter must be 4 chars");
         }},
        {"vc", [](E& e, const S&, const S& v) { e.Opt.VideoChannel = std::stoi(v); }},
        {"tvstd", [](E& e, const S&, const S& v) { e.Opt.VideoStandard = v; }},
        {"isync", [](E& e, const S&, const S& v) { e.Opt.InputSync = OptionBool(v); }},
        {"pipeline", [](E& e, const S&, const S& v) { e.Opt.Pipeline = OptionBool(v); }},
        {"muxdelay", [](E& e, const S&, const S& v) { e.Opt.MuxMaxDelay = std::stof(v); }},
        {"muxpreload", [](E& e, const S&, const S& v) { e.Opt.MuxPreload = std::stof(v); }},
        {"absf", BitstreamFilter},
        {"vbsf", BitstreamFilter},
        {"sbsf", BitstreamFilter},
        {"apre", H::Preset},
        {"vpre", H::Preset},
        {"spre", H::Preset},
        {"fpre", H::Preset},
    };
    return table;
}

void TCustomFFmpeg::SetOption(const std::string& name, const std::string& value) {
    const auto& table = TOptionHandlers::Table();
    if (const auto handler = table.find(name); handler != table.end())
        handler->second(*this, name, value);
    else
        GenericOption(name, value);
}

} // namespace tarnel
