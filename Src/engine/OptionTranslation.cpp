#include "engine/OptionTranslation.h"

#include "base/FFUtils.h"
#include "base/FFmpegLogger.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <set>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace tarnel {

namespace {

// An option that an encoder took over under another name, with the old values that changed.
struct TRenamedOption {
    const char* Legacy;
    const char* Current;
    std::vector<std::pair<const char*, const char*>> Values;
};

const std::vector<TRenamedOption>& RenamedOptions() {
    static const std::vector<TRenamedOption> table = {
        {"directpred", "direct-pred", {{"0", "none"}, {"1", "spatial"}, {"2", "temporal"}, {"3", "auto"}}},
        {"cqp", "qp", {}},
        {"me_method", "motion-est", {{"epzs", "dia"}, {"full", "esa"}}},
        {"wpredp", "weightp", {{"0", "none"}, {"1", "simple"}, {"2", "smart"}}},
        {"aq_mode", "aq-mode", {}},
        {"aq_strength", "aq-strength", {}},
        {"rc_lookahead", "rc-lookahead", {}},
    };
    return table;
}

// A flag of "flags" or "flags2" that became an encoder option of its own.
struct TFlagOption {
    const char* Option;
    const char* Flag;
    const char* Current;
    const char* OnValue;
    const char* OffValue;
};

constexpr TFlagOption kFlagOptions[] = {
    {"flags", "loop", "deblock", "1", "0"},
    {"flags", "scan_offset", "scan_offset", "1", "0"},
    {"flags2", "bpyramid", "b-pyramid", "normal", "none"},
    {"flags2", "mixed_refs", "mixed-refs", "1", "0"},
    {"flags2", "wpred", "weightb", "1", "0"},
    {"flags2", "dct8x8", "8x8dct", "1", "0"},
    {"flags2", "fastpskip", "fast-pskip", "1", "0"},
    {"flags2", "mbtree", "mbtree", "1", "0"},
    {"flags2", "aud", "aud", "1", "0"},
    {"flags2", "psy", "psy", "1", "0"},
    {"flags2", "ssim", "ssim", "1", "0"},
};

// The old partition flags and today's partition names, in the order they are listed.
constexpr std::pair<const char*, const char*> kPartitions[] = {
    {"parti8x8", "i8x8"}, {"parti4x4", "i4x4"}, {"partp8x8", "p8x8"},
    {"partp4x4", "p4x4"}, {"partb8x8", "b8x8"},
};

// Options that the old vocabulary meant for one kind of stream only.
constexpr std::pair<const char*, int> kSingleKindOptions[] = {
    {"b", AV_OPT_FLAG_VIDEO_PARAM},
};

// Encoder names with no encoder (or only an experimental one) here, and what replaces them.
constexpr std::pair<const char*, const char*> kEncoderAliases[] = {
    {"libfaac", "aac"},           {"libfdk_aac", "aac"},
    {"libvo_aacenc", "aac"},      {"libaacplus", "aac"},
    {"vorbis", "libvorbis"},      {"libxvid", "mpeg4"},
    {"theora", "libtheora"},      {"mp3", "libmp3lame"},
    {"h264", "libx264"},          {"amr_nb", "libopencore_amrnb"},
    {"amr_wb", "libvo_amrwbenc"},
};

struct TFlagToken {
    char Sign; // '+', '-' or 0
    std::string Name;
};

// "+a-b+c" → {+a, -b, +c}; a name without a sign counts as set.
std::vector<TFlagToken> SplitFlags(const std::string& value) {
    std::vector<TFlagToken> tokens;
    for (char c : value) {
        if (c == '+' || c == '-') {
            tokens.push_back({c, {}});
            continue;
        }
        if (tokens.empty())
            tokens.push_back({0, {}});
        tokens.back().Name += c;
    }
    std::erase_if(tokens, [](const TFlagToken& token) { return token.Name.empty(); });
    return tokens;
}

std::string JoinFlags(const std::vector<TFlagToken>& tokens) {
    std::string text;
    for (const TFlagToken& token : tokens) {
        if (token.Sign)
            text += token.Sign;
        text += token.Name;
    }
    return text;
}

const TFlagOption* FindFlagOption(const std::string& option, const std::string& flag) {
    for (const TFlagOption& entry : kFlagOptions)
        if (option == entry.Option && flag == entry.Flag)
            return &entry;
    return nullptr;
}

std::vector<TOptionSetting> TranslateFlags(const std::string& name, const std::string& value,
                                           const std::function<bool(const std::string&)>& encoderKnows) {
    std::vector<TFlagToken> generic;
    std::vector<TOptionSetting> encoderSettings;
    for (const TFlagToken& token : SplitFlags(value)) {
        const TFlagOption* entry = FindFlagOption(name, token.Name);
        if (entry && encoderKnows(entry->Current))
            encoderSettings.push_back({entry->Current, token.Sign == '-' ? entry->OffValue : entry->OnValue});
        else
            generic.push_back(token);
    }
    if (encoderSettings.empty())
        return {{name, value}};
    std::vector<TOptionSetting> settings;
    if (!generic.empty())
        settings.push_back({name, JoinFlags(generic)});
    settings.insert(settings.end(), encoderSettings.begin(), encoderSettings.end());
    return settings;
}

bool IsOldPartitionSyntax(const std::string& value) {
    return value.find("part") != std::string::npos;
}

// "+parti8x8-parti4x4+partp8x8" → "i8x8,p8x8"; nothing set → "none".
std::string TranslatePartitions(const std::string& value) {
    std::set<std::string> enabled;
    for (const TFlagToken& token : SplitFlags(value)) {
        if (token.Sign == '-')
            enabled.erase(token.Name);
        else
            enabled.insert(token.Name);
    }
    std::string list;
    for (const auto& [flag, current] : kPartitions) {
        if (!enabled.count(flag))
            continue;
        if (!list.empty())
            list += ',';
        list += current;
    }
    return list.empty() ? "none" : list;
}

std::string TranslateValue(const TRenamedOption& option, const std::string& value) {
    for (const auto& [legacy, current] : option.Values)
        if (value == legacy)
            return current;
    return value;
}

bool IsUsableEncoder(const AVCodec* codec) {
    return codec && !(codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL);
}

void WarnAliasOnce(const std::string& name, const std::string& alias, const void* sender) {
    static std::mutex mutex;
    static std::set<std::string> warned; // guarded by mutex
    {
        std::lock_guard lock(mutex);
        if (!warned.insert(name).second)
            return;
    }
    Logger().LogFmt(sender, llWarning, "Encoder \"%s\" is not available here; using \"%s\" instead",
                    name.c_str(), alias.c_str());
}

} // namespace

std::vector<TOptionSetting>
TranslateLegacyOption(const std::string& name, const std::string& value,
                      const std::function<bool(const std::string&)>& encoderKnows) {
    if (name == "flags" || name == "flags2")
        return TranslateFlags(name, value, encoderKnows);
    if (name == "partitions" && IsOldPartitionSyntax(value) && encoderKnows(name))
        return {{name, TranslatePartitions(value)}};
    for (const TRenamedOption& option : RenamedOptions())
        if (name == option.Legacy && encoderKnows(option.Current))
            return {{option.Current, TranslateValue(option, value)}};
    return {{name, value}};
}

std::vector<std::string> TranslatedOptionNames() {
    std::vector<std::string> names;
    for (const TRenamedOption& option : RenamedOptions())
        names.emplace_back(option.Current);
    for (const TFlagOption& flag : kFlagOptions)
        names.emplace_back(flag.Current);
    names.emplace_back("partitions");
    return names;
}

std::vector<std::string> LegacyOptionNames() {
    std::vector<std::string> names;
    for (const TRenamedOption& option : RenamedOptions())
        names.emplace_back(option.Legacy);
    return names;
}

bool LegacyOptionAppliesTo(const std::string& name, int typeMask) {
    if (typeMask == 0)
        return true;
    for (const auto& [option, mask] : kSingleKindOptions)
        if (name == option)
            return (typeMask & mask) != 0;
    return true;
}

std::string CurrentEncoderName(const std::string& name, const void* sender) {
    const auto alias = std::find_if(std::begin(kEncoderAliases), std::end(kEncoderAliases),
                                    [&](const auto& entry) { return name == entry.first; });
    if (alias == std::end(kEncoderAliases) || IsUsableEncoder(avcodec_find_encoder_by_name(name.c_str())))
        return name;
    if (!avcodec_find_encoder_by_name(alias->second))
        return name;
    WarnAliasOnce(name, alias->second, sender);
    return alias->second;
}

} // namespace tarnel
