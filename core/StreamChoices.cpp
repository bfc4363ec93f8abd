#include "StreamChoices.h"

#include "base/FFmpegLogger.h"

#include <algorithm>
#include <initializer_list>

namespace tarnel {

namespace {

enum class TSubtitleHome { None, Matroska, WebM, QuickTime };

bool OneOf(const std::string& value, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* name) { return value == name; });
}

TSubtitleHome SubtitleHome(const std::string& format) {
    if (format == "matroska")
        return TSubtitleHome::Matroska;
    if (format == "webm")
        return TSubtitleHome::WebM;
    if (OneOf(format, {"mp4", "mov", "ipod"}))
        return TSubtitleHome::QuickTime;
    return TSubtitleHome::None;
}

bool HoldsSeveralAudioTracks(const std::string& format) {
    return OneOf(format, {"matroska", "webm", "mp4", "mov", "mpegts"});
}

bool HoldsCover(const std::string& format) {
    return OneOf(format, {"mp3", "ipod", "flac"});
}

// The codec a subtitle stream is written with in a container ("copy" keeps it as it is); empty
// when the container cannot hold it.
std::string SubtitleCodecFor(const TStreamSummary& stream, TSubtitleHome home) {
    if (!stream.Usable)
        return {};
    switch (home) {
    case TSubtitleHome::Matroska:
        if (stream.BitmapSubtitle)
            return "copy";
        if (stream.TextSubtitle)
            return OneOf(avcodec_get_name(stream.CodecId), {"subrip", "ass", "ssa", "webvtt", "text"})
                       ? "copy"
                       : "subrip";
        return {};
    case TSubtitleHome::WebM:
        return stream.TextSubtitle ? "webvtt" : "";
    case TSubtitleHome::QuickTime:
        return stream.TextSubtitle ? "mov_text" : "";
    case TSubtitleHome::None:
        break;
    }
    return {};
}

std::vector<const TStreamSummary*> StreamsOf(const std::vector<TStreamSummary>& streams, AVMediaType type) {
    std::vector<const TStreamSummary*> found;
    for (const TStreamSummary& stream : streams)
        if (stream.Type == type)
            found.push_back(&stream);
    return found;
}

struct TKept {
    const TStreamSummary* Picture = nullptr;
    std::vector<const TStreamSummary*> Audio;
    std::vector<std::pair<const TStreamSummary*, std::string>> Subtitles; // stream, codec
};

// Every usable track, or the first one; a first track that never had data gives way to the next
// track that has.
void KeepAudio(const TStreamChoiceRequest& request, const TOutputOptions& output, TKept& kept) {
    if (output.DisableAudio)
        return;
    const std::vector<const TStreamSummary*> tracks = StreamsOf(request.Streams, AVMEDIA_TYPE_AUDIO);
    if (request.AllAudioTracks && HoldsSeveralAudioTracks(request.Format)) {
        for (const TStreamSummary* stream : tracks)
            if (stream->Usable)
                kept.Audio.push_back(stream);
        return;
    }
    for (const bool needData : {true, false}) {
        for (const TStreamSummary* stream : tracks) {
            if (stream->Usable && (stream->DataSeen || !needData)) {
                kept.Audio.push_back(stream);
                return;
            }
        }
    }
}

void KeepSubtitles(const TStreamChoiceRequest& request, TKept& kept) {
    const std::vector<const TStreamSummary*> subtitles = StreamsOf(request.Streams, AVMEDIA_TYPE_SUBTITLE);
    const TSubtitleHome home = request.AudioOnly ? TSubtitleHome::None : SubtitleHome(request.Format);
    size_t leftOut = 0;
    for (const TStreamSummary* stream : subtitles) {
        const std::string codec = SubtitleCodecFor(*stream, home);
        if (codec.empty())
            ++leftOut;
        else
            kept.Subtitles.emplace_back(stream, codec);
    }
    if (leftOut > 0 && !request.AudioOnly)
        Logger().LogFmt(nullptr, llInfo,
                        "%s: %zu subtitle stream(s) left out: the %s container cannot hold them",
                        request.Source.c_str(), leftOut, request.Format.c_str());
}

// More than one stream of a kept kind: the engine would choose among them by itself, so every
// output stream is mapped to the source stream chosen here.
bool SourceHasAChoice(const TStreamChoiceRequest& request, const TKept& kept) {
    const auto count = [&](AVMediaType type) {
        return StreamsOf(request.Streams, type).size();
    };
    return (kept.Picture && count(AVMEDIA_TYPE_VIDEO) > 1) ||
           (!kept.Audio.empty() && count(AVMEDIA_TYPE_AUDIO) > 1) ||
           (!kept.Subtitles.empty() && count(AVMEDIA_TYPE_SUBTITLE) > 1);
}

void AppendLine(std::string& text, const std::string& line) {
    if (!text.empty())
        text += "\n";
    text += line;
}

std::string MapOf(const TStreamSummary* stream) {
    return "0:" + std::to_string(stream->Index);
}

// The output's streams are made in this order: the picture and the first audio track with the
// output, then the further audio tracks, then every subtitle stream, each with its own codec.
void WriteStreams(const TStreamChoiceRequest& request, const TKept& kept, TOutputOptions& output) {
    output.DisableAudio = output.DisableAudio || kept.Audio.empty();
    output.DisableSubtitle = true;
    for (size_t i = 1; i < kept.Audio.size(); ++i)
        AppendLine(output.ExtOptions, "newaudio");
    for (const auto& [stream, codec] : kept.Subtitles) {
        AppendLine(output.ExtOptions, "scodec=" + codec);
        AppendLine(output.ExtOptions, "newsubtitle");
    }
    if (!SourceHasAChoice(request, kept))
        return;
    if (kept.Picture && !output.DisableVideo)
        output.StreamMaps.push_back(MapOf(kept.Picture));
    for (const TStreamSummary* stream : kept.Audio)
        output.StreamMaps.push_back(MapOf(stream));
    for (const auto& [stream, codec] : kept.Subtitles)
        output.StreamMaps.push_back(MapOf(stream));
}

} // namespace

const TStreamSummary* PictureSource(const std::vector<TStreamSummary>& streams) {
    const TStreamSummary* cover = nullptr;
    for (const TStreamSummary& stream : streams) {
        if (stream.Type != AVMEDIA_TYPE_VIDEO || !stream.Usable)
            continue;
        if (!stream.CoverArt)
            return &stream;
        if (!cover)
            cover = &stream;
    }
    return cover;
}

void ApplyStreamChoices(const TStreamChoiceRequest& request, TOutputOptions& output, TInputOptions& input) {
    TKept kept;
    const TStreamSummary* picture = PictureSource(request.Streams);
    if (request.AudioOnly) {
        const bool hasSound = std::any_of(request.Streams.begin(), request.Streams.end(),
                                          [](const TStreamSummary& s) { return s.Type == AVMEDIA_TYPE_AUDIO; });
        if (!hasSound)
            throw TSourceRefused("it has no sound to convert");
        // An audio file keeps its cover where the container has a place for one.
        if (picture && picture->CoverArt && HoldsCover(request.Format)) {
            kept.Picture = picture;
            output.VideoCodec = "copy";
            output.DisableVideo = false;
            input.ExtOptions.clear();
        }
    } else if (!picture) {
        throw TSourceRefused(
            "it has no picture to make a video of (neither a video stream nor a cover picture)");
    } else {
        kept.Picture = picture;
        // A cover is one picture: written at a constant rate, it is held for the length of the sound.
        if (picture->CoverArt) {
            output.VideoSync = 1;
            if (output.FrameRate.empty())
                output.FrameRate = "25"; // a cover's own rate is its container's clock
        }
    }
    KeepAudio(request, output, kept);
    KeepSubtitles(request, kept);
    WriteStreams(request, kept, output);
    output.CopyMetadata = true;
}

} // namespace tarnel
