#include "EngineArguments.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace tarnel::cli {

namespace {

// Boolean options (true when given) and flags, plus the options the engine accepts and ignores.
constexpr std::array<std::string_view, 31> kNoValueOptions = {
    "copyts",  "xerror",     "vstats",   "newvideo", "newaudio",  "newsubtitle", "dump",        "hex",
    "re",      "loop_input", "shortest", "intra",    "vn",        "sameq",       "deinterlace", "psnr",
    "qphist",  "force_fps",  "an",       "sn",       "isync",     "y",           "L",           "h",
    "version", "formats",    "codecs",   "bsfs",     "protocols", "filters",     "benchmark",
};

bool IsOptionWord(const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-';
}

} // namespace

bool TakesNoValue(const std::string& name) {
    return std::find(kNoValueOptions.begin(), kNoValueOptions.end(), name) != kNoValueOptions.end();
}

std::vector<EngineArgument> ParseEngineArguments(const std::vector<std::string>& args) {
    std::vector<EngineArgument> parsed;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!IsOptionWord(arg)) {
            parsed.push_back({EngineArgument::Output, {}, arg});
            continue;
        }
        const std::string name = arg.substr(1);
        if (TakesNoValue(name)) {
            parsed.push_back({EngineArgument::Option, name, {}});
            continue;
        }
        if (i + 1 >= args.size())
            throw std::invalid_argument("Missing value for option -" + name);
        const std::string& value = args[++i];
        if (name == "i")
            parsed.push_back({EngineArgument::Input, {}, value});
        else
            parsed.push_back({EngineArgument::Option, name, value});
    }
    return parsed;
}

} // namespace tarnel::cli
