// Presets: named lists of options, taken from the built-in table or read from a file, each line
// "key=value" set as an option.
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/MyUtils.h"
#include "engine/BuiltinPresets.h"
#include "engine/FFmpeg.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>

namespace tarnel {

namespace {

std::string_view Trimmed(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n\v\f";
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string Lowered(std::string_view text) {
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : char(c); });
    return lowered;
}

std::optional<std::string> BuiltinContent(const std::string& name) {
    if (const TOptionsPreset* preset = FindBuiltinPreset(name))
        return preset->Content;
    return std::nullopt;
}

std::optional<std::string> FileContent(const std::string& fileName) {
    if (!FileExists(fileName))
        return std::nullopt;
    std::ifstream file(std::filesystem::path(fileName), std::ios::binary);
    if (!file)
        return std::nullopt;
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

// The content's lines, without blank ones; CR LF and lone CR count as line breaks.
std::vector<std::string_view> ContentLines(std::string_view content) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start <= content.size()) {
        size_t end = content.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = content.size();
        std::string_view line = Trimmed(content.substr(start, end - start));
        if (!line.empty())
            lines.push_back(line);
        if (end + 1 < content.size() && content[end] == '\r' && content[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    return lines;
}

// The codec whose name prefixes a preset name that is not itself a built-in preset.
std::string PrefixCodecName(const std::string& kind, const TOptionState& options) {
    if (kind == "vpre" && !options.VideoCodecName.empty())
        return options.VideoCodecName;
    if (kind == "apre" && !options.AudioCodecName.empty())
        return options.AudioCodecName;
    return options.SubtitleCodecName;
}

// One "key=value" line: the codec keys select a codec as the options do, any other key is a
// media-library option.
void ApplyPresetLine(TCustomFFmpeg& engine, const std::string& presetName, std::string_view line) {
    const size_t equals = line.find('=');
    const std::string key(Trimmed(line.substr(0, equals)));
    const std::string value(equals == std::string_view::npos ? std::string_view{}
                                                             : Trimmed(line.substr(equals + 1)));
    const std::string lineText(line);
    if (key.empty() || value.empty())
        throw FFmpegException(Format("%s: Invalid syntax: \"%s\"", presetName.c_str(), lineText.c_str()));
    const std::string lowered = Lowered(key);
    if (lowered == "acodec" || lowered == "vcodec" || lowered == "scodec")
        engine.SetOption(lowered, value);
    else if (!engine.GenericOption(key, value))
        throw FFmpegException(Format("%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"",
                                     presetName.c_str(), lineText.c_str(), key.c_str(), value.c_str()));
}

} // namespace

// Built-in presets are found by name, then by "<codec>-<name>"; anything else is a file.
void TCustomFFmpeg::ApplyPreset(const std::string& kind, const std::string& nameOrFile) {
    if (nameOrFile.empty())
        return;
    std::string name = nameOrFile;
    std::optional<std::string> content;
    if (!kind.starts_with('f')) {
        content = BuiltinContent(name);
        const std::string codec = PrefixCodecName(kind, Opt);
        if (!content && !codec.empty()) {
            name = codec + "-" + nameOrFile;
            content = BuiltinContent(name);
        }
    }
    if (!content) {
        name = nameOrFile;
        content = FileContent(nameOrFile);
        if (!content)
            throw FFmpegException(Format("Preset \"%s\" not found", nameOrFile.c_str()));
    }
    for (std::string_view line : ContentLines(*content))
        ApplyPresetLine(*this, name, line);
}

} // namespace tarnel
