// Which input stream feeds each output stream of a run (by the stream maps, or chosen by media
// type), which stream drives its sync, and the report of that mapping.
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLogger.h"
#include "base/UnicodeProtocol.h"
#include "engine/FFmpeg.h"

#include <algorithm>

namespace tarnel {

namespace {

AVMediaType OutputType(const TOutputStreamState& ost) {
    if (ost.Codec)
        return ost.Codec->codec_type;
    return ost.Stream ? ost.Stream->codecpar->codec_type : AVMEDIA_TYPE_UNKNOWN;
}

AVMediaType InputType(const TInputStream& ist) {
    return ist.Stream->codecpar->codec_type;
}

bool DiscardedInFile(const TInputStream& ist) {
    return ist.Stream->discard == AVDISCARD_ALL;
}

bool NamesStream(const TTranscodeRun& run, int fileIndex, int streamIndex) {
    if (fileIndex < 0 || fileIndex >= static_cast<int>(run.InputFileStates.size()))
        return false;
    return streamIndex >= 0 && streamIndex < run.InputFileStates[fileIndex].StreamCount;
}

int FlatIndex(const TTranscodeRun& run, int fileIndex, int streamIndex) {
    return run.InputFileStates[fileIndex].FirstStream + streamIndex;
}

bool BelongsToProgram(const AVFormatContext* input, int programId, const AVStream* stream) {
    for (unsigned p = 0; p < input->nb_programs; ++p) {
        const AVProgram* program = input->programs[p];
        if (program->id != programId)
            continue;
        for (unsigned s = 0; s < program->nb_stream_indexes; ++s)
            if (input->streams[program->stream_index[s]] == stream)
                return true;
    }
    return false;
}

// How many packets the stream delivers per second of media. The libraries no longer tell how
// many frames the parameter probe read from each stream; since the probe reads the streams of a
// file over the same stretch of it, the packet rate ranks the streams the same way.
double ProbedPacketRate(const AVStream* stream) {
    const AVCodecParameters* parameters = stream->codecpar;
    switch (parameters->codec_type) {
    case AVMEDIA_TYPE_VIDEO: {
        const AVRational rate =
            stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
        return rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0.0;
    }
    case AVMEDIA_TYPE_AUDIO:
        return parameters->frame_size > 0
                   ? static_cast<double>(parameters->sample_rate) / parameters->frame_size
                   : 0.0;
    default:
        return 0.0;
    }
}

// Every map must name existing input streams, and there must be one map per output stream.
void CheckStreamMaps(const TTranscodeRun& run, const TStreamMap* maps, int count) {
    if (count == 0)
        return;
    if (count != static_cast<int>(run.OutputStreams.size()))
        throw FFmpegException("Number of stream maps must match number of output streams");
    for (int m = 0; m < count; ++m) {
        const TStreamMap& map = maps[m];
        if (!NamesStream(run, map.FileIndex, map.StreamIndex))
            throw FFmpegException(
                Format("Could not find input stream #%d.%d", map.FileIndex, map.StreamIndex));
        if (!NamesStream(run, map.SyncFileIndex, map.SyncStreamIndex))
            throw FFmpegException(
                Format("Could not find sync stream #%d.%d", map.SyncFileIndex, map.SyncStreamIndex));
    }
}

struct TChoiceRules {
    const std::array<std::unique_ptr<TInputFile>, kMaxFiles>* Inputs;
    int ProgramId;
    bool Joined;
};

// The source for an output stream without maps: the untaken stream of its type with the most
// probed packets (first of equals); when every such stream is taken, the last of them is shared.
// -1 when there is none.
int ChosenSource(const TTranscodeRun& run, const TOutputStreamState& ost, const TChoiceRules& rules) {
    const AVMediaType type = OutputType(ost);
    int best = -1;
    double bestRate = 0.0;
    for (size_t j = 0; j < run.InputStreams.size(); ++j) {
        const TInputStream& ist = run.InputStreams[j];
        if (InputType(ist) != type || DiscardedInFile(ist) || !ist.Discard)
            continue;
        if (rules.ProgramId != 0 &&
            !BelongsToProgram((*rules.Inputs)[ist.FileIndex]->Context.get(), rules.ProgramId, ist.Stream))
            continue;
        if (rules.Joined && ist.FileIndex != ost.FileIndex)
            continue;
        const double rate = ProbedPacketRate(ist.Stream);
        if (best < 0 || rate > bestRate) {
            best = static_cast<int>(j);
            bestRate = rate;
        }
    }
    if (best >= 0 || rules.ProgramId != 0 || rules.Joined)
        return best;
    for (size_t j = 0; j < run.InputStreams.size(); ++j) {
        const TInputStream& ist = run.InputStreams[j];
        if (InputType(ist) == type && !DiscardedInFile(ist))
            best = static_cast<int>(j);
    }
    return best;
}

} // namespace

void TCustomFFmpeg::DumpOutputFormat(int outputFileIndex) {
    if (outputFileIndex < 0 || outputFileIndex >= outputFileCount_ || !OutputFiles[outputFileIndex])
        return;
    const TOutputFile& output = *OutputFiles[outputFileIndex];
    if (!output.Context)
        return;
    const std::string name = !output.FileName.empty()
                                 ? output.FileName
                                 : FromLibraryName(output.Context->url ? output.Context->url : "");
    av_dump_format(output.Context, outputFileIndex, name.c_str(), 1);
}

void TCustomFFmpeg::MapOutputStreams(TTranscodeRun& run) {
    CheckStreamMaps(run, StreamMaps.data(), StreamMapCount);
    const TChoiceRules rules{&InputFiles, Opt.ProgramId, joined_};
    for (size_t i = 0; i < run.OutputStreams.size(); ++i) {
        TOutputStreamState& ost = run.OutputStreams[i];
        const AVMediaType type = OutputType(ost);
        int source = -1;
        if (StreamMapCount > 0) {
            const TStreamMap& map = StreamMaps[i];
            source = FlatIndex(run, map.FileIndex, map.StreamIndex);
            const AVMediaType sourceType = InputType(run.InputStreams[source]);
            if (sourceType != type) {
                DumpOutputFormat(ost.FileIndex);
                throw FFmpegException(Format("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)",
                                             map.FileIndex, map.StreamIndex,
                                             MediaTypeText(sourceType).c_str(), ost.FileIndex,
                                             ost.StreamIndex, MediaTypeText(type).c_str()));
            }
        } else {
            source = ChosenSource(run, ost, rules);
            if (source < 0) {
                DumpOutputFormat(ost.FileIndex);
                throw FFmpegException(Format("Could not find input stream matching output stream #%d.%d (%s)",
                                             ost.FileIndex, ost.StreamIndex, MediaTypeText(type).c_str()));
            }
        }
        TInputStream& ist = run.InputStreams[source];
        ost.SourceIndex = source;
        ist.Discard = false;
        if (StreamMapCount > 0) {
            const TStreamMap& map = StreamMaps[i];
            ost.SyncInput = &run.InputStreams[FlatIndex(run, map.SyncFileIndex, map.SyncStreamIndex)];
        } else {
            ost.SyncInput = &ist;
        }
        ost.Reporting = true;
    }
}

void TCustomFFmpeg::ReportStreamMapping(const TTranscodeRun& run) {
    const int dumped = joined_ ? std::min(outputFileCount_, 1) : outputFileCount_;
    for (int f = 0; f < dumped; ++f)
        DumpOutputFormat(f);
    if (Opt.Verbosity < 0)
        return;
    Logger().Log(this, llVerbose, "Stream mapping:");
    for (const TOutputStreamState& ost : run.OutputStreams) {
        if (ost.SourceIndex < 0 || ost.SourceIndex >= static_cast<int>(run.InputStreams.size()))
            continue;
        const TInputStream& ist = run.InputStreams[ost.SourceIndex];
        const std::string typeName = MediaTypeText(OutputType(ost));
        Logger().LogFmt(this, llVerbose, "  Stream #%d.%d -> #%d.%d (%s)", ist.FileIndex, ist.StreamIndex,
                        joined_ ? 0 : ost.FileIndex, ost.StreamIndex, typeName.c_str());
        if (ost.SyncInput && ost.SyncInput != &ist)
            Logger().LogFmt(this, llVerbose, " [sync #%d.%d (%s)]", ost.SyncInput->FileIndex,
                            ost.SyncInput->StreamIndex, typeName.c_str());
    }
}

} // namespace tarnel
