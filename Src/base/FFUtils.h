// Texts for media-library values (error codes, times, sizes, codecs, media types, metadata) and
// printf-style formatting into std::string.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
#include <libavutil/dict.h>
#include <libavutil/rational.h>
}

namespace tarnel {

// The libraries' microsecond time base. AV_TIME_BASE_Q is a C compound literal, which C++
// compilers reject as an extension under -Wpedantic.
inline constexpr AVRational kMicrosecondBase{1, AV_TIME_BASE};

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list args) __attribute__((format(printf, 1, 0)));

// The text for a library error code. Every library code becomes text here and nowhere else.
std::string LibraryErrorText(int code);
// fileName + ": " + LibraryErrorText(code).
std::string ErrorText(const std::string& fileName, int code);

// "HH:MM:SS.mmm" (hours not wrapped at 24); "N/A" for AV_NOPTS_VALUE; negative times get a "-".
std::string TimestampText(int64_t us);
// "%.2f GB" / "%.2f MB" / "%.2f KB" above 1 GiB / 1 MiB / 1 KiB, else "%d Byte".
std::string FileSizeText(int64_t bytes);

// The codec's name and trimmed long name, "name(long name)", looked up among encoders or decoders;
// for an unknown codec "mpeg2ts", the printable codec tag, or the tag in hexadecimal.
std::string CodecText(const AVCodecParameters* par, bool encoder);
std::string CodecText(const AVCodecContext* ctx, bool encoder);

// 0 "Video", 1 "Audio", 2 "Data", 3 "Subtitle", 4 "Attachment", else "Unknown".
std::string MediaTypeText(int type);

// The value stored under exactly `key` (case-sensitive), or `def`.
std::string MetadataText(const AVDictionary* metadata, const std::string& key, const std::string& def);

// A fraction whose numerator and denominator do not exceed `bound`, for aspect ratios.
AVRational DoubleToRational(double x, int bound);

} // namespace tarnel
