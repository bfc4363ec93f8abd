#include "engine/OptionValues.h"

#include "base/FFUtils.h"
#include "base/FFmpegException.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace tarnel {

namespace {

// strtol from `p` (base detected from the prefix); `p` moves past the number and, when text
// follows, past one separator character.
int32_t ReadCInteger(const char*& p) {
    char* end = nullptr;
    const long number = std::strtol(p, &end, 0);
    p = end;
    if (*p)
        ++p;
    return static_cast<int32_t>(number);
}

} // namespace

std::string TrimText(const std::string& text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && std::isspace(static_cast<unsigned char>(text[first])))
        ++first;
    while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1])))
        --last;
    return text.substr(first, last - first);
}

bool OptionBool(const std::string& value) {
    return value != "0";
}

TParsedStreamMap ParseStreamMap(const std::string& value) {
    TParsedStreamMap map;
    const char* p = value.c_str();
    map.FileIndex = ReadCInteger(p);
    map.StreamIndex = ReadCInteger(p);
    if (*p) {
        map.SyncFileIndex = ReadCInteger(p);
        map.SyncStreamIndex = ReadCInteger(p);
    } else {
        map.SyncFileIndex = map.FileIndex;
        map.SyncStreamIndex = map.StreamIndex;
    }
    return map;
}

TParsedMetadataMap ParseMetadataMap(const std::string& value) {
    TParsedMetadataMap map;
    const char* p = value.c_str();
    map.OutFile = ReadCInteger(p);
    map.InFile = ReadCInteger(p);
    return map;
}

double ParseAspect(const std::string& value) {
    const size_t colon = value.find(':');
    if (colon == std::string::npos)
        return std::strtod(value.c_str(), nullptr);
    const long first = std::strtol(value.substr(0, colon).c_str(), nullptr, 10);
    const long second = std::strtol(value.substr(colon + 1).c_str(), nullptr, 10);
    return second > 0 ? static_cast<double>(first) / static_cast<double>(second) : 0.0;
}

TMatrix ParseMatrix(const std::string& value) {
    TMatrix matrix{};
    const char* p = value.c_str();
    for (int i = 0; i < 64; ++i) {
        matrix[i] = static_cast<uint16_t>(std::strtol(p, nullptr, 10));
        if (i == 63)
            break;
        p = std::strchr(p, ',');
        if (!p)
            throw FFmpegException(Format("Syntax error in matrix \"%s\" at coeff %d", value.c_str(), i));
        ++p;
    }
    return matrix;
}

uint32_t ParseCodecTag(const std::string& value, const char* lengthMessage) {
    if (value.size() != 4)
        throw std::logic_error(lengthMessage);
    uint32_t tag = 0;
    for (int i = 3; i >= 0; --i)
        tag = (tag << 8) | static_cast<unsigned char>(value[i]);
    return tag;
}

} // namespace tarnel
