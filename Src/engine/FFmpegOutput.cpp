// AddOutputFile: chooses the container format, creates the output's streams from the option state
// and the opened inputs, attaches the pending metadata, opens the file for writing and stores the
// muxer settings. In join mode the one output is listed once per input.
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/UnicodeProtocol.h"
#include "engine/FFmpeg.h"

#include <ctime>

extern "C" {
#include <libavutil/opt.h>
}

namespace tarnel {

namespace {

constexpr double kMicroseconds = 1000000.0;

struct TWantedKinds {
    bool Video = false;
    bool Audio = false;
    bool Subtitle = false;
};

// Audio formats whose default picture codec is only for cover art: a picture there is not a
// video stream of its own.
bool DefaultVideoIsCoverArt(const AVOutputFormat* format) {
    return format->video_codec == AV_CODEC_ID_PNG && format->audio_codec != AV_CODEC_ID_NONE;
}

TWantedKinds KindsFromOptions(const TOptionState& opt, const AVOutputFormat* format) {
    TWantedKinds kinds;
    kinds.Video = opt.VideoStreamCopy || !opt.VideoCodecName.empty() ||
                  (format->video_codec != AV_CODEC_ID_NONE && !DefaultVideoIsCoverArt(format));
    kinds.Audio =
        opt.AudioStreamCopy || !opt.AudioCodecName.empty() || format->audio_codec != AV_CODEC_ID_NONE;
    kinds.Subtitle = opt.SubtitleStreamCopy || !opt.SubtitleCodecName.empty() ||
                     format->subtitle_codec != AV_CODEC_ID_NONE;
    return kinds;
}

// The kinds that the inputs have; throws for a stream of a media type this engine does not know.
TWantedKinds KindsOfInputs(const std::array<std::unique_ptr<TInputFile>, kMaxFiles>& inputs, int count) {
    TWantedKinds kinds;
    for (int i = 0; i < count; ++i) {
        const AVFormatContext* context = inputs[i]->Context.get();
        for (unsigned s = 0; s < context->nb_streams; ++s) {
            switch (context->streams[s]->codecpar->codec_type) {
            case AVMEDIA_TYPE_VIDEO:
                kinds.Video = true;
                break;
            case AVMEDIA_TYPE_AUDIO:
                kinds.Audio = true;
                break;
            case AVMEDIA_TYPE_SUBTITLE:
                kinds.Subtitle = true;
                break;
            case AVMEDIA_TYPE_UNKNOWN:
            case AVMEDIA_TYPE_DATA:
            case AVMEDIA_TYPE_ATTACHMENT:
                break;
            default:
                throw FFmpegException("invalid codec_type of input file");
            }
        }
    }
    return kinds;
}

std::string CreationTimeText(int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[40] = {};
    std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S.000000Z", &parts);
    return text;
}

// The first entry given for a key wins: entries are set from the last to the first.
void SetMetadata(AVFormatContext* context, int64_t recordingTimestamp,
                 const std::vector<std::pair<std::string, std::string>>& metadata) {
    if (recordingTimestamp != 0)
        av_dict_set(&context->metadata, "creation_time", CreationTimeText(recordingTimestamp).c_str(), 0);
    for (auto entry = metadata.rbegin(); entry != metadata.rend(); ++entry)
        av_dict_set(&context->metadata, entry->first.c_str(), entry->second.c_str(), 0);
}

void SetIntOptionIfKnown(void* object, const char* name, int64_t value) {
    if (object && av_opt_find(object, name, nullptr, 0, 0))
        av_opt_set_int(object, name, value, 0);
}

int64_t SumOfInputDurations(const std::array<std::unique_ptr<TInputFile>, kMaxFiles>& inputs, int count) {
    int64_t sum = 0;
    for (int i = 0; i < count; ++i) {
        const int64_t duration = inputs[i]->Context->duration;
        if (duration != AV_NOPTS_VALUE && duration > 0)
            sum += duration;
    }
    return sum;
}

} // namespace

int32_t TCustomFFmpeg::AddOutputFile(const std::string& fileName, bool join) {
    if (!ReadyForFiles())
        return -1;
    if (joined_) {
        lastError_ = "Cannot join more than one output file.";
        return -1;
    }
    const bool joining = join && inputFileCount_ > 1;
    const int entries = joining ? inputFileCount_ : 1;
    if (outputFileCount_ + entries > kMaxFiles) {
        lastError_ = Format("Too many output files (at most %d)", kMaxFiles);
        return -1;
    }
    Opt.FiltersGiven = !Opt.VideoFilters.empty();

    const AVOutputFormat* format = nullptr;
    if (!Opt.LastAskedFormat.empty()) {
        format = av_guess_format(Opt.LastAskedFormat.c_str(), nullptr, nullptr);
        if (!format) {
            lastError_ = Format("Requested output format '%s' is not a suitable output format",
                                Opt.LastAskedFormat.c_str());
            return -1;
        }
        Opt.LastAskedFormat.clear();
    } else {
        format = av_guess_format(nullptr, fileName.c_str(), nullptr);
        if (!format) {
            lastError_ = Format("Unable to find a suitable output format for '%s'", fileName.c_str());
            return -1;
        }
    }

    const std::string url = ToLibraryName(fileName);
    auto output = std::make_shared<TOutputFile>();
    output->FileName = fileName;
    if (avformat_alloc_output_context2(&output->Context, format, nullptr, url.c_str()) < 0 ||
        !output->Context)
        throw FFmpegException("avformat_alloc_context failed");
    AVFormatContext* context = output->Context;
    UseWideNameIO(context);

    TWantedKinds wanted = KindsFromOptions(Opt, format);
    if (inputFileCount_ > 0) {
        TWantedKinds present;
        try {
            present = KindsOfInputs(InputFiles, join ? 1 : inputFileCount_);
        } catch (const std::exception& e) {
            lastError_ = Format("check_audio_video_sub_inputs fail: %s", e.what());
            return -1;
        }
        wanted.Video = wanted.Video && present.Video;
        wanted.Audio = wanted.Audio && present.Audio;
        wanted.Subtitle = wanted.Subtitle && present.Subtitle;
    }
    wanted.Video = wanted.Video && !Opt.VideoDisable;
    wanted.Audio = wanted.Audio && !Opt.AudioDisable;
    wanted.Subtitle = wanted.Subtitle && !Opt.SubtitleDisable;

    // A failed output leaves neither encoder entries nor filter chains of its streams behind.
    const int32_t encodersBefore = OutputEncoderCount;
    auto discardStreams = [this, encodersBefore] {
        for (auto& chain : BsfChains[outputFileCount_])
            chain.clear();
        while (OutputEncoderCount > encodersBefore)
            OutputEncoders[--OutputEncoderCount] = nullptr;
        return -1;
    };
    auto failCreating = [this, &discardStreams](const char* step, const std::exception& e) {
        lastError_ = Format("%s fail: %s", step, e.what());
        return discardStreams();
    };
    try {
        if (wanted.Video)
            NewVideoStream(*output);
    } catch (const std::exception& e) {
        return failCreating("new_video_stream", e);
    }
    try {
        if (wanted.Audio)
            NewAudioStream(*output);
    } catch (const std::exception& e) {
        return failCreating("new_audio_stream", e);
    }
    try {
        if (wanted.Subtitle)
            NewSubtitleStream(*output);
    } catch (const std::exception& e) {
        return failCreating("new_subtitle_stream", e);
    }

    SetMetadata(context, Opt.RecordingTimestamp, Metadata);
    Metadata.clear();

    if ((format->flags & AVFMT_NEEDNUMBER) && !av_filename_number_test(context->url)) {
        lastError_ = ErrorText(fileName, AVERROR(EDOM));
        return discardStreams();
    }
    if (!(format->flags & AVFMT_NOFILE)) {
        if (const int code = OpenLibraryIO(&context->pb, url, AVIO_FLAG_WRITE, &context->interrupt_callback);
            code < 0) {
            lastError_ = ErrorText(fileName, code);
            return discardStreams();
        }
    }

    context->max_delay = static_cast<int>(Opt.MuxMaxDelay * kMicroseconds);
    SetIntOptionIfKnown(context, "preload", static_cast<int64_t>(Opt.MuxPreload * kMicroseconds));
    SetIntOptionIfKnown(context->oformat->priv_class ? context->priv_data : nullptr, "loop", Opt.LoopOutput);
    context->flags |= AVFMT_FLAG_NONBLOCK;
    if (Generic)
        ApplyContextOptions(context, Generic->FormatContext.get(), AV_OPT_FLAG_ENCODING_PARAM);
    if (AVDictionary* muxerOptions = MuxerPrivateOptions(context->oformat).release()) {
        if (context->priv_data)
            av_opt_set_dict(context->priv_data, &muxerOptions);
        av_dict_free(&muxerOptions);
    }
    StreamIdMap.fill(0);

    if (joining) {
        joined_ = true;
        const int64_t sum = SumOfInputDurations(InputFiles, inputFileCount_);
        totalDuration_ = sum != 0 ? sum : -1;
    }
    for (int i = 0; i < entries; ++i)
        OutputFiles[outputFileCount_++] = output;
    return outputFileCount_;
}

} // namespace tarnel
