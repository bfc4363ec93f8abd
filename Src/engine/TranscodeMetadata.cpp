// The run's copying of descriptive data from the inputs to the outputs: stream tags and properties,
// file tags by metadata map, chapters, and the SDP text of all-RTP outputs.
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLogger.h"
#include "engine/FFmpeg.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/mathematics.h>
}

namespace tarnel {

namespace {

constexpr size_t kSdpBufferSize = 2048;

// a - b, held at the ends of the int64 range instead of wrapping.
int64_t SaturatingSub(int64_t a, int64_t b) {
    int64_t result;
    if (__builtin_sub_overflow(a, b, &result))
        return b < 0 ? INT64_MAX : INT64_MIN;
    return result;
}

// Appends a copy of `source` (id, time base, tags) with the given times; the format context frees
// its chapters.
void AppendChapter(AVFormatContext* output, const AVChapter* source, int64_t start, int64_t end) {
    auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
    if (!chapter)
        throw FFmpegException("av_mallocz fail");
    chapter->id = source->id;
    chapter->time_base = source->time_base;
    chapter->start = start;
    chapter->end = end;
    if (av_dict_copy(&chapter->metadata, source->metadata, 0) < 0) {
        av_dict_free(&chapter->metadata);
        av_free(chapter);
        throw FFmpegException("av_mallocz fail");
    }
    auto* grown = static_cast<AVChapter**>(
        av_realloc_array(output->chapters, output->nb_chapters + 1, sizeof(*output->chapters)));
    if (!grown) {
        av_dict_free(&chapter->metadata);
        av_free(chapter);
        throw FFmpegException("av_realloc fail");
    }
    output->chapters = grown;
    output->chapters[output->nb_chapters++] = chapter;
}

// The chapters of `input` that overlap [offset, offset + limit], moved to start at `offset`
// (times in µs, converted per chapter to its own time base).
void CopyChaptersBetween(const AVFormatContext* input, AVFormatContext* output, int64_t offsetUs,
                         int64_t limitUs) {
    for (unsigned i = 0; i < input->nb_chapters; ++i) {
        const AVChapter* chapter = input->chapters[i];
        const int64_t offset = av_rescale_q(offsetUs, kMicrosecondBase, chapter->time_base);
        const int64_t limit = limitUs == kUnlimitedTime
                                  ? INT64_MAX
                                  : av_rescale_q(limitUs, kMicrosecondBase, chapter->time_base);
        if (chapter->end < offset)
            continue;
        const int64_t start = SaturatingSub(chapter->start, offset);
        if (limit != INT64_MAX && start > limit)
            break;
        AppendChapter(output, chapter, std::max<int64_t>(0, start),
                      std::min(limit, SaturatingSub(chapter->end, offset)));
    }
}

std::string TrimmedText(const char* text) {
    const char* begin = text;
    const char* end = text + std::strlen(text);
    while (begin < end && static_cast<unsigned char>(*begin) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(end[-1]) <= ' ')
        --end;
    return std::string(begin, end);
}

} // namespace

void TCustomFFmpeg::CopyStreamProperties(TOutputStreamState& ost, const TInputStream& ist) {
    const AVStream* source = ist.Stream;
    AVStream* target = ost.Stream;
    if (av_dict_copy(&target->metadata, source->metadata, AV_DICT_DONT_OVERWRITE) < 0)
        throw FFmpegException("av_mallocz fail");
    target->disposition = source->disposition;
    if (ost.Setup && !ost.Setup->StreamCopy && source->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        // An encoded cover becomes a moving picture, and an encoded picture is already upright.
        target->disposition &= ~AV_DISPOSITION_ATTACHED_PIC;
        av_dict_set(&target->metadata, "rotate", nullptr, 0);
    }
    const AVCodecParameters* par = source->codecpar;
    target->codecpar->bits_per_raw_sample = par->bits_per_raw_sample;
    target->codecpar->chroma_location = par->chroma_location;
    if (ost.Codec) {
        ost.Codec->bits_per_raw_sample = par->bits_per_raw_sample;
        ost.Codec->chroma_sample_location = par->chroma_location;
    }
}

void TCustomFFmpeg::CopyMetadataMaps(const TTranscodeRun& run) {
    auto fail = [this, &run](const std::string& message) {
        ReportStreamMapping(run);
        Logger().Log(this, llError, message);
        throw FFmpegException(message);
    };
    for (int i = 0; i < MetadataMapCount; ++i) {
        const TMetadataMap& map = MetadataMaps[i];
        if (map.OutFile < 0 || map.OutFile >= outputFileCount_)
            fail(Format("Invalid output file index %d map_meta_data(%d,%d)", map.OutFile, map.OutFile,
                        map.InFile));
        if (map.InFile < 0 || map.InFile >= inputFileCount_)
            fail(Format("Invalid input file index %d map_meta_data(%d,%d)", map.InFile, map.OutFile,
                        map.InFile));
        // Tag keys are generic today, so no conversion between the formats' conventions is needed.
        if (av_dict_copy(&OutputFiles[map.OutFile]->Context->metadata,
                         InputFiles[map.InFile]->Context->metadata, AV_DICT_DONT_OVERWRITE) < 0)
            throw FFmpegException("av_mallocz fail");
    }
}

void TCustomFFmpeg::CopyChapters(const TTranscodeRun& /*run*/) {
    for (int in = 0; in < inputFileCount_; ++in) {
        const AVFormatContext* input = InputFiles[in]->Context.get();
        if (input->nb_chapters == 0)
            continue;
        // Join mode shares one output among several entries: each output gets the chapters once.
        std::vector<const TOutputFile*> done;
        for (int out = 0; out < outputFileCount_; ++out) {
            const TOutputFile* output = OutputFiles[out].get();
            if (std::find(done.begin(), done.end(), output) != done.end())
                continue;
            done.push_back(output);
            CopyChaptersBetween(input, output->Context, SaturatingSub(Opt.StartTime, InputTsOffset[in]),
                                Opt.RecordingTime);
        }
    }
}

void TCustomFFmpeg::LogSdpWhenAllRtp() {
    std::vector<AVFormatContext*> contexts;
    for (int i = 0; i < outputFileCount_; ++i) {
        AVFormatContext* context = OutputFiles[i]->Context;
        if (std::strcmp(context->oformat->name, "rtp") != 0)
            return;
        if (std::find(contexts.begin(), contexts.end(), context) == contexts.end())
            contexts.push_back(context);
    }
    if (contexts.empty())
        return;
    char sdp[kSdpBufferSize] = {};
    if (const int code = av_sdp_create(contexts.data(), static_cast<int>(contexts.size()), sdp, sizeof(sdp));
        code < 0) {
        Logger().Log(this, llError, "SDP: " + LibraryErrorText(code));
        return;
    }
    Logger().Log(this, llInfo, "SDP:\r\n" + TrimmedText(sdp));
}

} // namespace tarnel
