#include "base/FFUtils.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

extern "C" {
#include <libavutil/error.h>
}

namespace tarnel {

namespace {

std::string Trim(const std::string& text) {
    const char* spaces = " \t\r\n\f\v";
    const size_t first = text.find_first_not_of(spaces);
    if (first == std::string::npos)
        return {};
    const size_t last = text.find_last_not_of(spaces);
    return text.substr(first, last - first + 1);
}

bool IsPrintable(uint32_t c) {
    return c >= 32 && c <= 126;
}

// The codec found by identifier, or the fallback texts for a codec this build does not know.
std::string CodecTextFor(AVCodecID id, uint32_t tag, const char* contextCodecName, bool encoder) {
    const AVCodec* codec = encoder ? avcodec_find_encoder(id) : avcodec_find_decoder(id);
    if (codec) {
        const std::string longName = Trim(codec->long_name ? codec->long_name : "");
        if (longName.empty())
            return codec->name;
        return Format("%s(%s)", codec->name, longName.c_str());
    }
    if (id == AV_CODEC_ID_MPEG2TS)
        return "mpeg2ts";
    if (contextCodecName) {
        const std::string name = Trim(contextCodecName);
        if (!name.empty())
            return name;
    }
    const uint32_t c0 = tag & 0xFF, c1 = (tag >> 8) & 0xFF, c2 = (tag >> 16) & 0xFF, c3 = tag >> 24;
    if (IsPrintable(c0) && IsPrintable(c1) && IsPrintable(c2) && IsPrintable(c3))
        return Format("%c%c%c%c / 0x%04X", static_cast<char>(c0), static_cast<char>(c1),
                      static_cast<char>(c2), static_cast<char>(c3), tag);
    return Format("0x%04x", tag);
}

} // namespace

std::string FormatV(const char* fmt, va_list args) {
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, fmt, measure);
    va_end(measure);
    if (length <= 0)
        return {};
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), fmt, args);
    return std::string(buffer.data(), static_cast<size_t>(length));
}

std::string Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = FormatV(fmt, args);
    va_end(args);
    return text;
}

std::string LibraryErrorText(int code) {
    switch (code) {
    case AVERROR_PATCHWELCOME:
        return "Not yet implemented in FFmpeg";
    case AVERROR_PROTOCOL_NOT_FOUND:
        return "Unsupported network protocol";
    case AVERROR(EILSEQ):
    case AVERROR_DEMUXER_NOT_FOUND:
        return "Unknown format";
    case AVERROR(EDOM):
        return "Number syntax expected in filename";
    case AVERROR_EOF:
        return "End of file";
    case AVERROR_INVALIDDATA:
        return "Invalid data found when processing input";
    case AVERROR(ENOMEM):
        return "Not enough memory";
    case AVERROR(EIO):
        return "I/O error";
    case AVERROR(ENOENT):
        return "No such file or directory";
    default:
        break;
    }
    // av_strerror itself falls back to "Error number %d occurred" for codes it does not know.
    char text[AV_ERROR_MAX_STRING_SIZE * 2] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

std::string ErrorText(const std::string& fileName, int code) {
    return fileName + ": " + LibraryErrorText(code);
}

std::string TimestampText(int64_t us) {
    if (us == AV_NOPTS_VALUE)
        return "N/A";
    const char* sign = us < 0 ? "-" : "";
    const int64_t t = us < 0 ? -us : us;
    return Format("%s%.2lld:%.2lld:%.2lld.%.3lld", sign, static_cast<long long>(t / 3600000000LL),
                  static_cast<long long>((t / 60000000LL) % 60), static_cast<long long>((t / 1000000LL) % 60),
                  static_cast<long long>((t % 1000000LL) * 1000 / 1000000));
}

std::string FileSizeText(int64_t bytes) {
    constexpr int64_t kKiB = 1024, kMiB = 1048576, kGiB = 1073741824;
    const double size = static_cast<double>(bytes);
    if (bytes > kGiB)
        return Format("%.2f GB", size / kGiB);
    if (bytes > kMiB)
        return Format("%.2f MB", size / kMiB);
    if (bytes > kKiB)
        return Format("%.2f KB", size / kKiB);
    return Format("%lld Byte", static_cast<long long>(bytes));
}

std::string CodecText(const AVCodecParameters* par, bool encoder) {
    if (!par)
        return {};
    return CodecTextFor(par->codec_id, par->codec_tag, nullptr, encoder);
}

std::string CodecText(const AVCodecContext* ctx, bool encoder) {
    if (!ctx)
        return {};
    return CodecTextFor(ctx->codec_id, ctx->codec_tag, ctx->codec ? ctx->codec->name : nullptr, encoder);
}

std::string MediaTypeText(int type) {
    switch (type) {
    case 0:
        return "Video";
    case 1:
        return "Audio";
    case 2:
        return "Data";
    case 3:
        return "Subtitle";
    case 4:
        return "Attachment";
    default:
        return "Unknown";
    }
}

std::string MetadataText(const AVDictionary* metadata, const std::string& key, const std::string& def) {
    const AVDictionaryEntry* entry = av_dict_get(metadata, key.c_str(), nullptr, AV_DICT_MATCH_CASE);
    return entry && entry->value ? entry->value : def;
}

AVRational DoubleToRational(double x, int bound) {
    if (!std::isfinite(x))
        return av_d2q(x, bound);
    // A power-of-two denominator (2^29 for the usual aspect ratios), so that x x D keeps the
    // significant bits of x; av_reduce then finds the best fraction within the bound.
    const int e =
        std::max(static_cast<int>(std::lround(std::log10(std::fabs(x) + 1e-20) / std::numbers::ln2)), 0);
    int shift = (61 - e) % 32;
    if (shift < 0)
        shift = 0;
    // Keep x x D inside 64 bits for very large x.
    while (shift > 0 && std::fabs(x) * std::ldexp(1.0, shift) >= 0x1p62)
        --shift;
    const int64_t d = int64_t{1} << shift;
    // floor(v + 0.5) rounds once; rounding v + 0.5 again would make 1.0 into (2^29 + 1) / 2^29.
    const double numerator = std::floor(x * static_cast<double>(d) + 0.5);
    // Far beyond any int bound: the bound itself is the closest fraction.
    if (std::fabs(numerator) >= 0x1p62)
        return AVRational{x < 0 ? -bound : bound, 1};
    AVRational result{0, 1};
    av_reduce(&result.num, &result.den, static_cast<int64_t>(numerator), d, bound);
    return result;
}

} // namespace tarnel
