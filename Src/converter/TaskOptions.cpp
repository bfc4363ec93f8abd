#include "converter/TaskOptions.h"

#include "engine/OptionValues.h"

#include <algorithm>
#include <cctype>

namespace tarnel {

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

} // namespace

std::vector<TOptionLine> ParseExtOptions(const std::string& text) {
    std::string normalised = TrimText(text);
    ReplaceAll(normalised, "\r\n", "\n");
    ReplaceAll(normalised, "\r", "\n");
    ReplaceAll(normalised, "<CRLF>", "\n");
    std::vector<TOptionLine> lines;
    size_t start = 0;
    while (start <= normalised.size()) {
        size_t end = normalised.find('\n', start);
        if (end == std::string::npos)
            end = normalised.size();
        const std::string line = normalised.substr(start, end - start);
        start = end + 1;
        if (TrimText(line).empty())
            continue;
        const size_t equals = line.find('=');
        std::string name = line.substr(0, equals);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        lines.emplace_back(name, equals == std::string::npos ? std::string() : line.substr(equals + 1));
    }
    return lines;
}

} // namespace tarnel
