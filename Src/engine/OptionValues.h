// Parsers for the value forms of the engine's options: booleans, stream and metadata maps, aspect
// ratios, quantiser matrices and four-character codec tags.
#pragma once

#include "engine/EngineOptions.h"

#include <cstdint>
#include <string>

namespace tarnel {

// Leading and trailing white space removed.
std::string TrimText(const std::string& text);

// True unless the value is exactly "0".
bool OptionBool(const std::string& value);

// Numbers read as C integers (decimal, "0x" hexadecimal, leading "0" octal), one separator
// character skipped after each. Without a second pair the sync stream is the mapped stream itself.
struct TParsedStreamMap {
    int32_t FileIndex = 0;
    int32_t StreamIndex = 0;
    int32_t SyncFileIndex = 0;
    int32_t SyncStreamIndex = 0;
};
TParsedStreamMap ParseStreamMap(const std::string& value);

// "out<sep>in" as C integers.
struct TParsedMetadataMap {
    int32_t OutFile = 0;
    int32_t InFile = 0;
};
TParsedMetadataMap ParseMetadataMap(const std::string& value);

// "a:b" (invalid parts count as 0; 0 when b <= 0) or a decimal number (invalid counts as 0).
double ParseAspect(const std::string& value);

// 64 comma-separated coefficients; throws FFmpegException for a missing comma.
TMatrix ParseMatrix(const std::string& value);

// Exactly four characters, the first in the lowest byte; another length throws std::logic_error
// with `lengthMessage`.
uint32_t ParseCodecTag(const std::string& value, const char* lengthMessage);

} // namespace tarnel
