// TAVProbe::InfoText: the multi-line description of the file and its programs and streams.
#include "base/FFUtils.h"
#include "probe/AVProbe.h"

#include <array>
#include <cmath>
#include <cstring>
#include <ctime>
#include <utility>

namespace tarnel {

namespace {

// ID3v2 frame identifiers shown under their generic names.
constexpr std::array<std::pair<const char*, const char*>, 22> kMetadataKeyNames{{
    {"TALB", "album"},     {"TAL", "album"},      {"TCOM", "composer"},  {"TCON", "genre"},
    {"TCO", "genre"},      {"TCOP", "copyright"}, {"TDRL", "date"},      {"TENC", "encoder"},
    {"TEN", "encoder"},    {"TIT2", "title"},     {"TT2", "title"},      {"TLAN", "language"},
    {"TPE1", "artist"},    {"TP1", "artist"},     {"TPOS", "disc"},      {"TPUB", "publisher"},
    {"TRCK", "track"},     {"TRK", "track"},      {"TSOA", "albumsort"}, {"TSOP", "authorsort"},
    {"TSOT", "titlesort"}, {"TYER", "year"},
}};

const char* MetadataKeyName(const char* key) {
    for (const auto& [id, name] : kMetadataKeyNames) {
        if (std::strcmp(id, key) == 0)
            return name;
    }
    return key;
}

// "Metadata:" and one line per entry except "language"; nothing when no other entry exists.
void AppendMetadata(std::vector<std::string>& lines, const AVDictionary* metadata,
                    const std::string& prefix) {
    std::vector<std::string> entries;
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = av_dict_get(metadata, "", entry, AV_DICT_IGNORE_SUFFIX))) {
        if (std::strcmp(entry->key, "language") != 0)
            entries.push_back(
                Format("%s  %-16s: %s", prefix.c_str(), MetadataKeyName(entry->key), entry->value));
    }
    if (entries.empty())
        return;
    lines.push_back(prefix + "Metadata:");
    lines.insert(lines.end(), entries.begin(), entries.end());
}

// Whole seconds and microseconds, "S.UUUUUU", with the sign in front of the whole value.
std::string SecondsText(int64_t us) {
    const char* sign = us < 0 ? "-" : "";
    const long long magnitude = std::llabs(static_cast<long long>(us));
    return Format("%s%lld.%06lld", sign, magnitude / AV_TIME_BASE, magnitude % AV_TIME_BASE);
}

// The local date-time of a Unix time as "yyyy-mm-dd hh:nn:ss".
std::string LocalDateTimeText(int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (!localtime_r(&time, &local))
        return {};
    char text[32];
    return std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) ? text : std::string();
}

// ", 25 fps", ", 29.97 fps", ", 90k tbn".
std::string RateText(double x, const char* label) {
    const long long v = std::llround(x * 100);
    if (v % 100 != 0)
        return Format(", %3.2f %s", x, label);
    if (v % 100000 != 0)
        return Format(", %1.0f %s", x, label);
    return Format(", %1.0fk %s", x / 1000, label);
}

bool IsSetFraction(AVRational q) {
    return q.num != 0 && q.den != 0;
}

// The libraries' one-line description of a codec context made from the stream's parameters.
std::string CodecDescription(const AVCodecContext* codec) {
    char text[256] = "";
    avcodec_string(text, sizeof text, const_cast<AVCodecContext*>(codec), 0);
    return text;
}

std::string AspectText(const AVStream* stream) {
    const AVCodecParameters* par = stream->codecpar;
    const AVRational sar = stream->sample_aspect_ratio;
    if (sar.num == 0 || av_cmp_q(sar, par->sample_aspect_ratio) == 0)
        return {};
    AVRational dar{0, 1};
    av_reduce(&dar.num, &dar.den, static_cast<int64_t>(par->width) * sar.num,
              static_cast<int64_t>(par->height) * sar.den, 1024 * 1024);
    return Format(", PAR %d:%d DAR %d:%d", sar.num, sar.den, dar.num, dar.den);
}

std::string VideoRatesText(const AVStream* stream, const AVCodecContext* codec) {
    std::string text;
    if (IsSetFraction(stream->avg_frame_rate))
        text += RateText(av_q2d(stream->avg_frame_rate), "fps");
    if (IsSetFraction(stream->r_frame_rate))
        text += RateText(av_q2d(stream->r_frame_rate), "tbr");
    if (IsSetFraction(stream->time_base))
        text += RateText(1 / av_q2d(stream->time_base), "tbn");
    // Contexts made from today's stream parameters carry no time base, so this part is rare.
    if (IsSetFraction(codec->time_base))
        text += RateText(1 / av_q2d(codec->time_base), "tbc");
    return text;
}

std::string TimeBaseText(AVRational timeBase) {
    int64_t divisor = av_gcd(timeBase.num, timeBase.den);
    if (divisor == 0)
        divisor = 1;
    return Format(", %lld/%lld", static_cast<long long>(timeBase.num / divisor),
                  static_cast<long long>(timeBase.den / divisor));
}

} // namespace

std::string TAVProbe::InfoText() {
    if (!FileLoaded())
        return {};
    std::vector<std::string> lines;
    AppendFileLines(lines);
    std::vector<bool> listed(context_->nb_streams, false);
    for (unsigned p = 0; p < context_->nb_programs; ++p) {
        const AVProgram* program = context_->programs[p];
        AppendProgramLines(lines, program);
        for (unsigned s = 0; s < program->nb_stream_indexes; ++s) {
            if (program->stream_index[s] < context_->nb_streams)
                listed[program->stream_index[s]] = true;
        }
    }
    for (unsigned i = 0; i < context_->nb_streams; ++i) {
        if (!listed[i])
            AppendStreamLines(lines, i);
    }
    std::string text;
    for (const std::string& line : lines) {
        if (!text.empty())
            text += '\n';
        text += line;
    }
    return text;
}

void TAVProbe::AppendFileLines(std::vector<std::string>& lines) {
    lines.push_back("File Name: " + FileName());
    lines.push_back("Format Name: " + FormatName());
    const char* longName =
        context_->iformat && context_->iformat->long_name ? context_->iformat->long_name : "";
    lines.push_back(std::string("Format Long Name: ") + longName);
    lines.push_back("File Size: " + FileSizeText(fileSize_));
    TFileStreamInfo info;
    FileStreamInfo(info);
    lines.push_back(info.Duration < 0 ? "Duration: N/A" : "Duration: " + TimestampText(info.Duration));
    if (info.StartTime >= 0)
        lines.push_back("StartTime: " + SecondsText(info.StartTime));
    lines.push_back(info.BitRate < 1 ? "Bit Rate: N/A" : Format("Bit Rate: %d kb/s", info.BitRate / 1000));
    if (info.Timestamp > 0)
        lines.push_back("Time Stamp: " + LocalDateTimeText(info.Timestamp));
    AppendMetadata(lines, context_->metadata, "");
}

void TAVProbe::AppendProgramLines(std::vector<std::string>& lines, const AVProgram* program) const {
    // Transport-stream demuxers name these "service_provider" and "service_name" today.
    const AVDictionary* metadata = program->metadata;
    const std::string provider =
        MetadataText(metadata, "provider_name", MetadataText(metadata, "service_provider", "N/A"));
    const std::string name = MetadataText(metadata, "name", MetadataText(metadata, "service_name", "N/A"));
    lines.push_back(Format("Program %d %s@%s", program->id, provider.c_str(), name.c_str()));
    AppendMetadata(lines, program->metadata, "  ");
    for (unsigned s = 0; s < program->nb_stream_indexes; ++s) {
        if (program->stream_index[s] < context_->nb_streams)
            AppendStreamLines(lines, program->stream_index[s]);
    }
}

void TAVProbe::AppendStreamLines(std::vector<std::string>& lines, unsigned index) const {
    const AVStream* stream = context_->streams[index];
    std::string line = Format("Stream #%u", index);
    if (context_->iformat && (context_->iformat->flags & AVFMT_SHOW_IDS))
        line += Format("[0x%x]", stream->id);
    const std::string language = MetadataText(stream->metadata, "language", "");
    if (!language.empty())
        line += "(" + language + ")";
    line += TimeBaseText(stream->time_base);

    const CodecContextPtr codec(avcodec_alloc_context3(nullptr));
    if (codec && avcodec_parameters_to_context(codec.get(), stream->codecpar) >= 0) {
        line += ": " + CodecDescription(codec.get());
        line += AspectText(stream);
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            line += VideoRatesText(stream, codec.get());
    }
    if (stream->start_time != AV_NOPTS_VALUE)
        line +=
            ", StartTime: " + SecondsText(StreamTimeToMicroseconds(stream->start_time, stream->time_base));
    line +=
        ", Duration: " + (stream->duration == AV_NOPTS_VALUE
                              ? std::string("N/A")
                              : TimestampText(StreamTimeToMicroseconds(stream->duration, stream->time_base)));
    lines.push_back(line);
    AppendMetadata(lines, stream->metadata, "  ");
}

} // namespace tarnel
