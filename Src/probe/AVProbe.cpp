// TAVProbe: opening and attaching, the counters and the stream records.
#include "probe/AVProbe.h"

#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "base/MyUtils.h"
#include "base/PictureRotation.h"
#include "base/UnicodeProtocol.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <mutex>

extern "C" {
#include <libavutil/parseutils.h>
}

namespace tarnel {

namespace {

constexpr const char* kNotLoaded = "file not loaded.";

void CheckLibraries() {
    if (!Loader().IsLoaded(lnAVCodec))
        throw FFmpegException("LibAVCodec not loaded.");
    if (!Loader().IsLoaded(lnAVFormat))
        throw FFmpegException("LibAVFormat not loaded.");
    if (!Loader().IsLoaded(lnAVUtil))
        throw FFmpegException("LibAVUtil not loaded.");
    if (!Loader().IsLoaded(lnSwScale))
        throw FFmpegException("LibSwScale not loaded.");
}

int32_t ClampToInt32(int64_t value) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

int64_t UnsetAsMinusOne(int64_t value) {
    return value == AV_NOPTS_VALUE ? -1 : value;
}

// The leading number of a tag such as "2009-05-01" or "3/12"; 0 when there is none.
int32_t LeadingNumber(const std::string& text) {
    return ClampToInt32(std::strtoll(text.c_str(), nullptr, 10));
}

// Creation time in Unix seconds from the "creation_time" tag; 0 when absent or unreadable.
int64_t CreationTime(const AVDictionary* metadata) {
    const std::string text = MetadataText(metadata, "creation_time", "");
    int64_t us = 0;
    if (text.empty() || av_parse_time(&us, text.c_str(), 0) < 0)
        return 0;
    return us / AV_TIME_BASE;
}

bool ProbeStreams(AVFormatContext* context, TInputWatch& watch) {
    std::lock_guard lock(CodecLock());
    watch.Arm();
    return avformat_find_stream_info(context, nullptr) >= 0;
}

template <typename Info>
void FillCommonStreamFields(const AVStream* stream, Info& info) {
    info.Language = MetadataText(stream->metadata, "language", "");
    info.Codec = CodecText(stream->codecpar, false);
    info.StartPTS = stream->start_time;
    info.StartTime = StreamTimeToMicroseconds(stream->start_time, stream->time_base);
    info.DurationPTS = stream->duration;
    info.Duration = StreamTimeToMicroseconds(stream->duration, stream->time_base);
    info.BitRate = ClampToInt32(stream->codecpar->bit_rate);
}

float DisplayAspectRatio(AVRational sampleAspect, int width, int height) {
    if (sampleAspect.num == 0 || sampleAspect.den == 0 || height <= 0)
        return 0.0f;
    return static_cast<float>(av_q2d(sampleAspect) * width / height);
}

} // namespace

// The stream's own time base is left as it is: an attached context belongs to its opener, whose
// threads may be reading it.
AVRational UsableTimeBase(AVRational timeBase) {
    if (timeBase.den == 0)
        timeBase.den = timeBase.num != 0 ? timeBase.num : 1;
    return timeBase;
}

int64_t StreamTimeToMicroseconds(int64_t value, AVRational timeBase) {
    if (value == AV_NOPTS_VALUE)
        return -1;
    return av_rescale_q(value, UsableTimeBase(timeBase), kMicrosecondBase);
}

TAVProbe::TAVProbe() {
    Refresh();
}

TAVProbe::~TAVProbe() {
    Close();
}

bool TAVProbe::Open(const std::string& fileName, const std::string& formatName) {
    CheckLibraries();
    Close();
    const AVInputFormat* format = nullptr;
    if (!formatName.empty()) {
        format = av_find_input_format(formatName.c_str());
        if (!format) {
            lastError_ = Format("Unknown input format: %s", formatName.c_str());
            return false;
        }
    }
    TOpenScope opening(watch_);
    DictionaryPtr options;
    watch_.AddProtocolOptions(options);
    AVDictionary* rawOptions = options.release();
    const AVIOInterruptCB interrupt = watch_.Callback();
    AVFormatContext* opened = nullptr;
    watch_.Arm();
    const int code = OpenInputContext(&opened, fileName, format, &rawOptions, &interrupt);
    av_dict_free(&rawOptions);
    if (code < 0) {
        Fail(watch_.FailureText(fileName, code));
        Close();
        return false;
    }
    owned_.reset(opened);
    const bool probed = ProbeStreams(opened, watch_);
    if (std::string cut = watch_.Interruption(fileName); !cut.empty()) {
        Fail(cut);
        Close();
        return false;
    }
    if (!probed) {
        lastError_ = Format("%s: could not find codec parameters", fileName.c_str());
        Close();
        return false;
    }
    context_ = opened;
    Refresh();
    forcedFormat_ = formatName;
    return true;
}

void TAVProbe::Attach(AVFormatContext* context) {
    CheckLibraries();
    Close();
    context_ = context;
    Refresh();
}

void TAVProbe::Close() {
    forcedFormat_.clear();
    context_ = nullptr;
    owned_.reset();
    Refresh();
}

void TAVProbe::Refresh() {
    fileSize_ = -1;
    streamCount_ = programCount_ = -1;
    audioStreamCount_ = videoStreamCount_ = subtitleStreamCount_ = -1;
    audioStreamIndex_ = videoStreamIndex_ = subtitleStreamIndex_ = -1;
    if (!context_)
        return;
    fileSize_ = ContextFileSize();
    if (fileSize_ <= 0) {
        const int64_t onDisk = ::tarnel::FileSize(FileName());
        if (onDisk >= 0)
            fileSize_ = onDisk;
    }
    CountStreams();
}

// What the byte stream reports; 0 when it has none or cannot tell.
int64_t TAVProbe::ContextFileSize() const {
    if (!context_->pb)
        return 0;
    return std::max<int64_t>(avio_size(context_->pb), 0);
}

void TAVProbe::CountStreams() {
    streamCount_ = static_cast<int>(context_->nb_streams);
    programCount_ = static_cast<int>(context_->nb_programs);
    audioStreamCount_ = videoStreamCount_ = subtitleStreamCount_ = 0;
    const auto count = [](int index, int& counter, int& first) {
        if (counter++ == 0)
            first = index;
    };
    for (int i = 0; i < streamCount_; ++i) {
        switch (context_->streams[i]->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            count(i, videoStreamCount_, videoStreamIndex_);
            break;
        case AVMEDIA_TYPE_AUDIO:
            count(i, audioStreamCount_, audioStreamIndex_);
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            count(i, subtitleStreamCount_, subtitleStreamIndex_);
            break;
        default:
            break;
        }
    }
}

void TAVProbe::Warn(const std::string& text) {
    lastError_ = text;
    Logger().Log(this, llWarning, text);
}

void TAVProbe::Fail(const std::string& text) {
    lastError_ = text;
    Logger().Log(this, llError, text);
}

bool TAVProbe::FileLoaded() {
    if (context_)
        return true;
    Warn(kNotLoaded);
    return false;
}

std::string TAVProbe::FileName() const {
    return context_ && context_->url ? FromLibraryName(context_->url) : std::string();
}

std::string TAVProbe::FormatName() const {
    return context_ && context_->iformat ? context_->iformat->name : std::string();
}

bool TAVProbe::FileStreamInfo(TFileStreamInfo& info) {
    info = TFileStreamInfo{};
    if (!FileLoaded())
        return false;
    const AVDictionary* metadata = context_->metadata;
    info.StartTime = UnsetAsMinusOne(context_->start_time);
    info.Duration = UnsetAsMinusOne(context_->duration);
    info.BitRate = ClampToInt32(context_->bit_rate);
    info.Timestamp = CreationTime(metadata);
    info.Year = LeadingNumber(MetadataText(metadata, "date", MetadataText(metadata, "year", "")));
    info.Track = LeadingNumber(MetadataText(metadata, "track", ""));
    info.Title = MetadataText(metadata, "title", "");
    // Most demuxers name the author "artist" today.
    info.Author = MetadataText(metadata, "author", MetadataText(metadata, "artist", ""));
    info.Copyright = MetadataText(metadata, "copyright", "");
    info.Comment = MetadataText(metadata, "comment", "");
    info.Album = MetadataText(metadata, "album", "");
    info.Genre = MetadataText(metadata, "genre", "");
    return true;
}

const AVStream* TAVProbe::StreamOfKind(int index, AVMediaType type) {
    const bool audio = type == AVMEDIA_TYPE_AUDIO;
    if (index < 0) {
        index = audio ? audioStreamIndex_ : videoStreamIndex_;
        if (index < 0) {
            Fail(audio ? "no audio stream." : "no video stream.");
            return nullptr;
        }
    }
    if (index >= streamCount_) {
        Fail(Format("stream index #%d is invalid.", index));
        return nullptr;
    }
    const AVStream* stream = context_->streams[index];
    if (stream->codecpar->codec_type != type) {
        Fail(Format(audio ? "stream #%d is not audio stream." : "stream #%d is not video stream.", index));
        return nullptr;
    }
    return stream;
}

bool TAVProbe::AudioStreamInfo(int index, TAudioStreamInfo& info) {
    info = TAudioStreamInfo{};
    if (!FileLoaded())
        return false;
    const AVStream* stream = StreamOfKind(index, AVMEDIA_TYPE_AUDIO);
    if (!stream)
        return false;
    FillCommonStreamFields(stream, info);
    const AVCodecParameters* par = stream->codecpar;
    info.Channels = par->ch_layout.nb_channels;
    info.SampleRate = par->sample_rate;
    info.SampleFormat = par->format;
    return true;
}

bool TAVProbe::VideoStreamInfo(int index, TVideoStreamInfo& info) {
    info = TVideoStreamInfo{};
    if (!FileLoaded())
        return false;
    const AVStream* stream = StreamOfKind(index, AVMEDIA_TYPE_VIDEO);
    if (!stream)
        return false;
    FillCommonStreamFields(stream, info);
    const AVCodecParameters* par = stream->codecpar;
    info.Height = par->height;
    info.Width = par->width;
    // The container's sample aspect ratio when it sets one, else the codec's.
    const AVRational sampleAspect =
        av_guess_sample_aspect_ratio(context_, const_cast<AVStream*>(stream), nullptr);
    info.AspectRatio = DisplayAspectRatio(sampleAspect, par->width, par->height);
    info.PixelFormat = par->format;
    info.FrameRateNum = stream->r_frame_rate.num;
    info.FrameRateDen = stream->r_frame_rate.den;
    info.FrameCount = std::max<int64_t>(0, stream->nb_frames);
    info.Rotation = UprightTurn(stream);
    info.CoverArt = (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    return true;
}

std::vector<TStreamSummary> TAVProbe::Streams() const {
    std::vector<TStreamSummary> streams;
    if (!context_)
        return streams;
    for (unsigned i = 0; i < context_->nb_streams; ++i) {
        const AVStream* stream = context_->streams[i];
        const AVCodecParameters* par = stream->codecpar;
        TStreamSummary summary;
        summary.Index = static_cast<int32_t>(i);
        summary.Type = par->codec_type;
        summary.CodecId = par->codec_id;
        summary.Language = MetadataText(stream->metadata, "language", "");
        summary.CoverArt = (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
        const AVCodecDescriptor* descriptor = avcodec_descriptor_get(par->codec_id);
        const int properties = descriptor ? descriptor->props : 0;
        summary.TextSubtitle =
            par->codec_type == AVMEDIA_TYPE_SUBTITLE && (properties & AV_CODEC_PROP_TEXT_SUB);
        summary.BitmapSubtitle =
            par->codec_type == AVMEDIA_TYPE_SUBTITLE && (properties & AV_CODEC_PROP_BITMAP_SUB);
        switch (par->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            summary.Usable = par->width > 0 && par->height > 0;
            break;
        case AVMEDIA_TYPE_AUDIO:
            summary.Usable = par->sample_rate > 0 && par->ch_layout.nb_channels > 0;
            summary.DataSeen = summary.Usable && (par->frame_size > 0 || par->bit_rate > 0);
            break;
        default:
            summary.Usable = par->codec_id != AV_CODEC_ID_NONE;
            break;
        }
        if (par->codec_type != AVMEDIA_TYPE_AUDIO)
            summary.DataSeen = summary.Usable;
        streams.push_back(std::move(summary));
    }
    return streams;
}

bool TAVProbe::IsStreamOfType(int index, AVMediaType type) {
    if (!FileLoaded())
        return false;
    if (index < 0 || index >= streamCount_) {
        Fail(Format("stream index #%d is invalid.", index));
        return false;
    }
    return context_->streams[index]->codecpar->codec_type == type;
}

bool TAVProbe::IsAudioStream(int index) {
    return IsStreamOfType(index, AVMEDIA_TYPE_AUDIO);
}

bool TAVProbe::IsVideoStream(int index) {
    return IsStreamOfType(index, AVMEDIA_TYPE_VIDEO);
}

} // namespace tarnel
