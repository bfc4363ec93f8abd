// The first half of a run: run tables from the opened inputs and created outputs, stream copy or
// encoding set-up per output stream, opened encoders and decoders, and written headers.
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "engine/FFmpeg.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/time.h>
}

#include <algorithm>
#include <climits>
#include <string_view>

namespace tarnel {

namespace {

std::string TypeName(const AVCodecContext* codec) {
    return MediaTypeText(codec ? codec->codec_type : -1);
}

[[noreturn]] void LogAndRaise(TCustomFFmpeg* engine, const std::string& message) {
    Logger().Log(engine, llError, message);
    throw FFmpegException(message);
}

// The source's codec tag is kept when the output format has no tag table, the table maps that tag
// to the same codec, or the table has no tag for the codec at all.
unsigned int CopiedCodecTag(const AVOutputFormat* format, const AVCodecParameters* source) {
    if (!format->codec_tag)
        return source->codec_tag;
    unsigned int tag = 0;
    if (av_codec_get_id(format->codec_tag, source->codec_tag) == source->codec_id ||
        !av_codec_get_tag2(format->codec_tag, source->codec_id, &tag))
        return source->codec_tag;
    return 0;
}

// Copied pictures are not turned, so a player still needs the source's display matrix to show
// them upright.
void CopyDisplayMatrix(const AVStream* source, AVStream* target) {
    size_t size = 0;
    const uint8_t* matrix = av_stream_get_side_data(source, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!matrix)
        return;
    if (uint8_t* copy = av_stream_new_side_data(target, AV_PKT_DATA_DISPLAYMATRIX, size))
        std::copy_n(matrix, size, copy);
}

void SetUpBitstreamFilters(TOutputStreamState& ost, const TBsfChain& chain) {
    const AVCodecParameters* parameters = ost.Stream->codecpar;
    AVRational timeBase = ost.Stream->time_base;
    for (const std::string& spec : chain) {
        AVBSFContext* raw = nullptr;
        int ret = av_bsf_list_parse_str(spec.c_str(), &raw);
        BsfContextPtr filter(raw);
        if (ret >= 0)
            ret = avcodec_parameters_copy(filter->par_in, parameters);
        if (ret >= 0) {
            filter->time_base_in = timeBase;
            ret = av_bsf_init(filter.get());
        }
        if (ret < 0)
            throw FFmpegException(Format("Unknown bitstream filter %s", spec.c_str()) + ": " +
                                  LibraryErrorText(ret));
        parameters = filter->par_out;
        timeBase = filter->time_base_out;
        ost.Bitstreamfilters.push_back(std::move(filter));
    }
    if (!ost.Bitstreamfilters.empty()) {
        avcodec_parameters_copy(ost.Stream->codecpar, parameters);
        ost.Stream->time_base = timeBase;
    }
}

} // namespace

void TCustomFFmpeg::SetUpTranscode(TTranscodeRun& run) {
    BuildInputTables(run);
    BuildOutputTables(run);
    MapOutputStreams(run);
    for (size_t i = 0; i < run.OutputStreams.size(); ++i) {
        TOutputStreamState& ost = run.OutputStreams[i];
        TInputStream& ist = run.InputStreams[ost.SourceIndex];
        // In join mode later segments share the first segment's streams, already set up.
        const bool sharedSegment = joined_ && static_cast<int>(i) >= run.StreamsPerFile;
        if (sharedSegment) {
            ost.EncodingNeeded = !ost.Setup->StreamCopy;
            ist.DecodingNeeded = ist.DecodingNeeded || ost.EncodingNeeded;
            continue;
        }
        CopyStreamProperties(ost, ist);
        if (ost.Setup->StreamCopy)
            SetUpStreamCopy(ost, ist);
        else
            SetUpEncoding(run, ost, ist, static_cast<int>(i));
    }
    OpenDecoders(run);
    OpenEncoders(run);
    for (TInputStream& ist : run.InputStreams) {
        const AVRational rate = ist.Stream->avg_frame_rate;
        ist.Pts = rate.num && rate.den && ist.Codec
                      ? -llround(ist.Codec->has_b_frames * 1000000.0 * rate.den / rate.num)
                      : 0;
        ist.NextPts = AV_NOPTS_VALUE;
        ist.IsStart = true;
    }
    CopyMetadataMaps(run);
    CopyChapters(run);
    for (size_t i = 0; i < run.OutputStreams.size(); ++i) {
        TOutputStreamState& ost = run.OutputStreams[i];
        if (!joined_ || static_cast<int>(i) < run.StreamsPerFile)
            SetUpBitstreamFilters(ost, BsfChains[ost.FileIndex][ost.StreamIndex]);
        else
            ost.Bitstreamfilters.clear();
    }
    WriteHeaders(run);
    ReportStreamMapping(run);
}

void TCustomFFmpeg::BuildInputTables(TTranscodeRun& run) {
    const int64_t now = av_gettime_relative();
    int flatIndex = 0;
    for (int f = 0; f < inputFileCount_; ++f) {
        TInputFile& input = *InputFiles[f];
        const int streamCount = static_cast<int>(input.Context->nb_streams);
        run.InputFileStates.push_back({false, flatIndex, streamCount});
        for (int s = 0; s < streamCount; ++s, ++flatIndex) {
            TInputStream ist;
            ist.FileIndex = f;
            ist.StreamIndex = s;
            ist.Stream = input.Context->streams[s];
            ist.Codec = s < static_cast<int>(input.Codecs.size()) ? input.Codecs[s].get() : nullptr;
            ist.Decoder = flatIndex < InputDecoderCount ? InputDecoders[flatIndex] : nullptr;
            if (Opt.RateEmulation)
                ist.StartWallClock = now;
            run.InputStreams.push_back(std::move(ist));
        }
    }
}

void TCustomFFmpeg::BuildOutputTables(TTranscodeRun& run) {
    for (int f = 0; f < outputFileCount_; ++f) {
        TOutputFile& output = *OutputFiles[f];
        if (output.Streams.empty()) {
            DumpOutputFormat(f);
            throw FFmpegException(Format("Output file #%d does not contain any stream", f));
        }
    }
    run.StreamsPerFile = static_cast<int>(OutputFiles[0]->Streams.size());
    int total = 0;
    for (int f = 0; f < outputFileCount_; ++f)
        total += static_cast<int>(OutputFiles[f]->Streams.size());
    run.OutputStreams.reserve(total);
    for (int f = 0; f < outputFileCount_; ++f) {
        TOutputFile& output = *OutputFiles[f];
        for (size_t s = 0; s < output.Streams.size(); ++s) {
            TOutputStreamState ost;
            ost.FileIndex = f;
            ost.StreamIndex = static_cast<int>(s);
            ost.File = &output;
            ost.Setup = &output.Streams[s];
            ost.Stream = ost.Setup->Stream;
            ost.Codec = ost.Setup->Codec.get();
            run.OutputStreams.push_back(std::move(ost));
        }
    }
}

void TCustomFFmpeg::SetUpStreamCopy(TOutputStreamState& ost, TInputStream& ist) {
    const AVCodecParameters* source = ist.Stream->codecpar;
    if (static_cast<uint64_t>(source->extradata_size) + AV_INPUT_BUFFER_PADDING_SIZE > INT_MAX)
        throw FFmpegException("icodec.extradata_size is invalid (too large)");
    const AVMediaType type = source->codec_type;
    switch (type) {
    case AVMEDIA_TYPE_AUDIO:
        if (Opt.AudioVolume != 256)
            throw FFmpegException("-acodec copy and -vol are incompatible (frames are not decoded)");
        break;
    case AVMEDIA_TYPE_VIDEO:
        // A cover picture is copied as it is; hooks and previews are for moving pictures.
        if (ist.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
            break;
        if (HookCallback)
            throw FFmpegException("-vcodec copy and CustomHook are incompatible (frames are not decoded)");
        if (Opt.UsingVideoHook)
            throw FFmpegException("-vcodec copy and -vhook are incompatible (frames are not decoded)");
        if (PreviewFlags() != 0)
            throw FFmpegException("-vcodec copy and PostHooks are incompatible (frames are not decoded)");
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        break;
    default:
        throw FFmpegException("invalid codec_type of output stream");
    }

    const unsigned int userTag = ost.Codec ? ost.Codec->codec_tag : 0;
    const AVRational aspect = ost.Codec ? ost.Codec->sample_aspect_ratio : AVRational{0, 1};
    AVCodecParameters* target = ost.Stream->codecpar;
    if (avcodec_parameters_copy(target, source) < 0)
        throw FFmpegException("av_mallocz fail");
    target->codec_tag = userTag ? userTag : CopiedCodecTag(ost.File->Context->oformat, source);
    if (type == AVMEDIA_TYPE_AUDIO && ((source->codec_id == AV_CODEC_ID_MP3 && source->block_align == 1) ||
                                       source->codec_id == AV_CODEC_ID_AC3))
        target->block_align = 0;
    if (type == AVMEDIA_TYPE_VIDEO && aspect.num > 0) {
        target->sample_aspect_ratio = aspect;
        ost.Stream->sample_aspect_ratio = aspect;
    }
    ost.Stream->time_base = ist.Stream->time_base;
    ost.Stream->avg_frame_rate = ist.Stream->avg_frame_rate;
    ost.Stream->r_frame_rate = ist.Stream->r_frame_rate;
    CopyDisplayMatrix(ist.Stream, ost.Stream);
}

void TCustomFFmpeg::SetUpEncoding(TTranscodeRun& run, TOutputStreamState& ost, TInputStream& ist,
                                  int outputIndex) {
    AVCodecContext* codec = ost.Codec;
    switch (codec->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        ost.AudioResample = codec->sample_rate != ist.Codec->sample_rate || Opt.AudioSync > 1;
        ost.SampleAccurate = std::string_view(ost.File->Context->oformat->name) == "dv";
        break;
    case AVMEDIA_TYPE_VIDEO:
        if (codec->pix_fmt == AV_PIX_FMT_NONE)
            throw FFmpegException("Video pixel format is unknown, stream cannot be encoded");
        SetUpVideoEncoding(run, ost, ist);
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        break;
    default:
        throw FFmpegException("invalid codec_type of output stream");
    }
    ost.EncodingNeeded = true;
    ist.DecodingNeeded = true;
    if (codec->flags & AV_CODEC_FLAG_PASS1)
        ost.LogFile = CreatePassOneLog(outputIndex);
    if (codec->flags & AV_CODEC_FLAG_PASS2)
        LoadPassTwoLog(codec, outputIndex);
    // Encoders that keep their own statistics file (libx264) use the pass log name too.
    const AVCodec* encoder = ost.Setup->Encoder ? ost.Setup->Encoder : avcodec_find_encoder(codec->codec_id);
    if ((codec->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)) && encoder && encoder->priv_class &&
        av_opt_find(const_cast<const AVClass**>(&encoder->priv_class), "stats", nullptr, 0,
                    AV_OPT_SEARCH_FAKE_OBJ)) {
        AVDictionary* options = ost.Setup->EncoderOptions.release();
        av_dict_set(&options, "stats", PassLogFileName(outputIndex).c_str(), 0);
        ost.Setup->EncoderOptions.reset(options);
    }
}

void TCustomFFmpeg::OpenEncoders(TTranscodeRun& run) {
    for (size_t i = 0; i < run.OutputStreams.size(); ++i) {
        TOutputStreamState& ost = run.OutputStreams[i];
        if (!ost.EncodingNeeded || (joined_ && static_cast<int>(i) >= run.StreamsPerFile))
            continue;
        AVCodecContext* codec = ost.Codec;
        const AVCodec* encoder =
            ost.Setup->Encoder ? ost.Setup->Encoder : avcodec_find_encoder(codec->codec_id);
        if (!encoder) {
            ReportStreamMapping(run);
            LogAndRaise(this,
                        Format("Encoder (codec id %d) not found for output stream #%d.%d (%s)",
                               codec->codec_id, ost.FileIndex, ost.StreamIndex, TypeName(codec).c_str()));
        }
        ost.SavedCodecId = codec->codec_id;
        const AVCodecContext* source = run.InputStreams[ost.SourceIndex].Codec;
        if (codec->codec_type == AVMEDIA_TYPE_SUBTITLE && source && source->subtitle_header &&
            !codec->subtitle_header) {
            codec->subtitle_header = static_cast<uint8_t*>(av_mallocz(source->subtitle_header_size + 1));
            if (!codec->subtitle_header)
                throw FFmpegException("Not enough memory");
            std::copy_n(source->subtitle_header, source->subtitle_header_size, codec->subtitle_header);
            codec->subtitle_header_size = source->subtitle_header_size;
        }
        if (codec->codec_type == AVMEDIA_TYPE_SUBTITLE && codec->time_base.num <= 0)
            codec->time_base = kMicrosecondBase;
        AVDictionary* options = nullptr;
        av_dict_copy(&options, ost.Setup->EncoderOptions.get(), 0);
        DictionaryPtr optionsOwner;
        int ret;
        {
            std::lock_guard lock(CodecLock());
            ret = avcodec_open2(codec, encoder, &options);
        }
        optionsOwner.reset(options);
        if (ret < 0) {
            ReportStreamMapping(run);
            LogAndRaise(this,
                        Format("Error while opening encoder for output stream #%d.%d (%s) - maybe incorrect "
                               "parameters such as bit_rate, rate, width or height. Please check error log "
                               "message to find out more detail information.",
                               ost.FileIndex, ost.StreamIndex, TypeName(codec).c_str()));
        }
        OpenedEncoders.push_back(codec);
        Opt.ExtraSize += codec->extradata_size;
        if (avcodec_parameters_from_context(ost.Stream->codecpar, codec) < 0)
            throw FFmpegException("av_mallocz fail");
        ost.Stream->time_base = codec->time_base;
        if (codec->codec_type == AVMEDIA_TYPE_VIDEO)
            ost.Stream->avg_frame_rate = codec->framerate;
        if (codec->codec_type == AVMEDIA_TYPE_AUDIO) {
            ost.Fifo.reset(av_audio_fifo_alloc(codec->sample_fmt, codec->ch_layout.nb_channels, 1024));
            if (!ost.Fifo)
                throw FFmpegException("av_fifo_alloc fail");
            if (!ost.Setup->AudioFilters.empty())
                PrepareAudioGraph(run, ost);
        }
    }
}

void TCustomFFmpeg::OpenDecoders(TTranscodeRun& run) {
    for (TInputStream& ist : run.InputStreams) {
        if (!ist.DecodingNeeded)
            continue;
        const AVCodec* decoder =
            ist.Decoder ? ist.Decoder : avcodec_find_decoder(ist.Stream->codecpar->codec_id);
        if (!decoder) {
            ReportStreamMapping(run);
            LogAndRaise(this, Format("Decoder (codec id %d) not found for input stream #%d.%d (%s)",
                                     ist.Stream->codecpar->codec_id, ist.FileIndex, ist.StreamIndex,
                                     MediaTypeText(ist.Stream->codecpar->codec_type).c_str()));
        }
        int ret;
        {
            std::lock_guard lock(CodecLock());
            ret = avcodec_open2(ist.Codec, decoder, nullptr);
        }
        if (ret < 0) {
            ReportStreamMapping(run);
            LogAndRaise(this,
                        Format("Error while opening decoder for input stream #%d.%d (%s)", ist.FileIndex,
                               ist.StreamIndex, MediaTypeText(ist.Stream->codecpar->codec_type).c_str()));
        }
        OpenedDecoders.push_back(ist.Codec);
    }
}

void TCustomFFmpeg::WriteHeaders(TTranscodeRun& run) {
    for (int f = 0; f < outputFileCount_; ++f) {
        if (joined_ && f > 0)
            break;
        if (avformat_write_header(OutputFiles[f]->Context, nullptr) < 0) {
            ReportStreamMapping(run);
            LogAndRaise(
                this, Format("Could not write header for output file #%d (incorrect codec parameters ?)", f));
        }
    }
    LogSdpWhenAllRtp();
}

} // namespace tarnel
