#include "ProfileChoices.h"

#include "Catalogue.h"
#include "IniFile.h"
#include "MainSettings.h"
#include "ProfileFile.h"

#include <stdexcept>

namespace tarnel {

namespace {

struct TTranslation {
    const char* Entry;
    const char* Value;
};

constexpr TTranslation kVideoEncoders[] = {{"mpeg-4", "mpeg4"},
                                           {"3gp", "3gp"},
                                           {"3g2", "3g2"},
                                           {"xvid", "libxvid"},
                                           {"mov", "mov"},
                                           {"wmv1", "wmv1"},
                                           {"wmv2", "wmv2"},
                                           {"wmv3", "wmv3"},
                                           {"flv", "flv"},
                                           {"swf", "swf"},
                                           {"msmpeg4", "msmpeg4"},
                                           {"msmpeg4v1", "msmpeg4v1"},
                                           {"msmpeg4v2", "msmpeg4v2"},
                                           {"mpeg1video", "mpeg1video"},
                                           {"mpeg2video", "mpeg2video"},
                                           {"h263", "h263"},
                                           {"h263p", "h263p"},
                                           {"rawvideo", "rawvideo"},
                                           {"rv10", "rv10"},
                                           {"rv20", "rv20"},
                                           {"dvvideo", "dvvideo"},
                                           {"huffyuv", "huffyuv"},
                                           {"ljpeg", "ljpeg"},
                                           {"mjpeg", "mjpeg"},
                                           {"svq1", "svq1"},
                                           {"zlib", "zlib"},
                                           {"h264", "libx264"},
                                           {"h.265/hevc", "libx265"},
                                           {"vp9", "libvpx-vp9"},
                                           {"av1", "libsvtav1"}};

constexpr TTranslation kAudioEncoders[] = {{"mp3", "libmp3lame"},
                                           {"ogg", "vorbis"},
                                           {"mp2", "mp2"},
                                           {"aac", "libfaac"},
                                           {"ac-3", "ac3"},
                                           {"flac", "flac"},
                                           {"opus", "libopus"},
                                           {"alac", "alac"},
                                           {"libamr_nb", "libopencore_amrnb"},
                                           {"adpcm_swf", "adpcm_swf"},
                                           {"adpcm_yamaha", "adpcm_yamaha"},
                                           {"pcm-8bit", "pcm_s8"},
                                           {"pcm-16bit", "pcm_s16be"},
                                           {"pcm-24bit", "pcm_s24be"},
                                           {"pcm-32bit", "pcm_s32be"},
                                           {"pcm-32bit float", "pcm_f32be"},
                                           {"pcm-64bit float", "pcm_f64be"},
                                           {"ccitt a-law(8-bit)", "pcm_alaw"},
                                           {"ccitt mu-law(8-bit)", "pcm_mulaw"},
                                           {"ima adpcm(4-bit)", "adpcm_ima_qt"},
                                           {"gsm", "libgsm"},
                                           {"pcm_s16", "pcm_s16le"},
                                           {"pcm_u16", "pcm_u16le"},
                                           {"pcm_alaw", "pcm_alaw"},
                                           {"pcm_mulaw ", "pcm_mulaw"},
                                           {"adpcm_ms", "adpcm_ms"},
                                           {"adpcm_ima_wav", "adpcm_ima_wav"},
                                           {"wma1", "wmav1"},
                                           {"wma2", "wmav2"}};

constexpr TTranslation kChannels[] = {
    {"as source", "as source"}, {"mono 1 channel", "1"}, {"stereo 2 channels", "2"}};

constexpr std::pair<int, const char*> kVolumes[] = {{25, "64"},   {50, "128"},  {75, "192"},  {100, "256"},
                                                    {125, "320"}, {150, "384"}, {175, "448"}, {200, "512"},
                                                    {250, "640"}, {300, "768"}, {350, "896"}, {400, "1024"}};

template <size_t N>
std::string Translate(const TTranslation (&table)[N], const std::string& entry) {
    for (const TTranslation& t : table)
        if (entry == t.Entry)
            return t.Value;
    return {};
}

// The entry at the profile's default index of a list; nothing when the list or entry is missing.
bool DefaultEntry(TProfileFile& profiles, int32_t code, const char* list, const char* index,
                  std::string& entry) {
    const std::string text = profiles.ReadString(code, list, "null");
    if (text == "null")
        return false;
    const std::vector<std::string> entries = SplitProfileList(text);
    int32_t i = 0;
    TryStrToInt(profiles.ReadString(code, index, "0"), i);
    if (i < 0 || static_cast<size_t>(i) >= entries.size())
        return false;
    entry = entries[static_cast<size_t>(i)];
    return true;
}

} // namespace

std::vector<std::string> SplitProfileList(const std::string& text) {
    std::vector<std::string> entries;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        entries.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            return entries;
        start = comma + 1;
    }
}

std::string VideoEncoderValue(const std::string& entry) {
    return Translate(kVideoEncoders, LowerCase(entry));
}

std::string AudioEncoderValue(const std::string& entry) {
    return Translate(kAudioEncoders, LowerCase(entry));
}

std::string ChannelValue(const std::string& entry) {
    return Translate(kChannels, entry);
}

std::string VolumeValue(const std::string& entry) {
    const std::string number = entry.empty() ? entry : entry.substr(0, entry.size() - 1);
    int32_t percent = 0;
    if (!TryStrToInt(number, percent))
        throw std::invalid_argument("'" + number + "' is not a valid integer value");
    for (const auto& [volumePercent, value] : kVolumes)
        if (percent == volumePercent)
            return value;
    return {};
}

void CopyH264Extras(TProfileFile& profiles, int32_t code, TIniFile& userFile, const std::string& section) {
    const auto integer = [](const std::string& text) {
        int32_t value = 0;
        if (!TryStrToInt(text, value))
            throw std::invalid_argument("'" + text + "' is not a valid integer value");
        return value;
    };
    const std::string bitExact = profiles.ReadString(code, "paraBitExact", "");
    if (!bitExact.empty() && LowerCase(bitExact) == "true")
        userFile.WriteString(section, "paraBitExact", bitExact);
    for (const char* key : {"paraMaxBitrate", "paraBufferSize", "paraLevel", "paraQscale", "paraGop"}) {
        const std::string value = profiles.ReadString(code, key, "");
        if (!value.empty() && integer(value) > 0)
            userFile.WriteString(section, key, value);
    }
    const std::string coder = profiles.ReadString(code, "paraCoder", "");
    if (!coder.empty() && integer(coder) >= 0)
        userFile.WriteString(section, "paraCoder", coder);
}

std::map<std::string, std::string> TProfileChoices::DefaultChoices(TProfileFile& profiles, int32_t code) {
    std::map<std::string, std::string> choices;
    std::string entry;
    const std::pair<const char*, const char*> plain[] = {{"VideoSize", "iVideoSize"},
                                                         {"VideoBitRate", "iVideoBitRate"},
                                                         {"FrameRate", "iFrameRate"},
                                                         {"SampleRate", "iSampleRate"},
                                                         {"AudioBitRate", "iAudioBitRate"}};
    for (const auto& [list, index] : plain)
        if (DefaultEntry(profiles, code, list, index, entry))
            choices[std::string("para") + list] = entry;
    if (DefaultEntry(profiles, code, "VideoEncoder", "iVideoEncoder", entry) &&
        !VideoEncoderValue(entry).empty())
        choices["paraVideoEncoder"] = VideoEncoderValue(entry);
    if (DefaultEntry(profiles, code, "Channel", "iChannel", entry) && !ChannelValue(entry).empty())
        choices["paraChannel"] = ChannelValue(entry);
    if (DefaultEntry(profiles, code, "Volume", "iVolume", entry)) {
        const std::string volume = VolumeValue(entry);
        if (!volume.empty())
            choices["paraVolume"] = volume;
    }
    if (DefaultEntry(profiles, code, "AudioEncoder", "iAudioEncoder", entry) &&
        !AudioEncoderValue(entry).empty()) {
        choices["paraAudioEncoder"] = AudioEncoderValue(entry);
        if (LowerCase(entry) == "gsm") {
            choices["paraSampleRate"] = "8000";
            choices["paraChannel"] = "1";
        }
    }
    return choices;
}

TProfileChoices::TProfileChoices(TMainSettings& settings, TProfileFile& profiles, int32_t code)
    : settings_(settings)
    , section_(ProfileSection(code)) {
    // A section that only holds the zoom (written by the file list) is no confirmed choice yet.
    hasUserSection_ = settings_.File().ValueExists(section_, "Description") ||
                      settings_.File().ValueExists(section_, "paraVideoEncoder") ||
                      settings_.File().ValueExists(section_, "paraAudioEncoder") ||
                      settings_.File().ValueExists(section_, "iVideoSize");
    if (!hasUserSection_)
        defaults_ = DefaultChoices(profiles, code);
}

std::string TProfileChoices::Read(const std::string& key, const std::string& def) {
    if (hasUserSection_)
        return settings_.File().ReadString(section_, key, def);
    // Keys the user may have set without the dialog (the zoom) still come from the settings file.
    if (settings_.File().ValueExists(section_, key))
        return settings_.File().ReadString(section_, key, def);
    const auto found = defaults_.find(key);
    return found != defaults_.end() ? found->second : def;
}

} // namespace tarnel
