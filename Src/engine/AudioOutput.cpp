// A block of decoded samples on its way to one audio encoder: resampling and format conversion,
// synchronisation with the input timestamps (discarding, inserting silence, drift compensation),
// and whole encoder frames taken from a FIFO.
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLogger.h"
#include "engine/FFmpeg.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <climits>
#include <cmath>

namespace tarnel {

namespace {

template <typename T>
void ScaleSamples(uint8_t* data, size_t count, int volume, int64_t low, int64_t high) {
    T* samples = reinterpret_cast<T*>(data);
    for (size_t i = 0; i < count; ++i)
        samples[i] =
            static_cast<T>(std::clamp((static_cast<int64_t>(samples[i]) * volume + 128) >> 8, low, high));
}

template <typename T>
void ScaleFloatSamples(uint8_t* data, size_t count, int volume) {
    T* samples = reinterpret_cast<T*>(data);
    for (size_t i = 0; i < count; ++i)
        samples[i] = samples[i] * volume / 256;
}

bool SameLayout(const AVChannelLayout& a, const AVChannelLayout& b) {
    return av_channel_layout_compare(&a, &b) == 0;
}

// A layout that names its channels: an unspecified one becomes the usual layout of its channel
// count, so that the resampler can mix (5.1 down to stereo, mono up to stereo).
AVChannelLayout KnownLayout(const AVChannelLayout& layout) {
    AVChannelLayout known{};
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&known, layout.nb_channels);
    else if (av_channel_layout_copy(&known, &layout) < 0)
        throw FFmpegException("Out of memory in do_audio_out");
    return known;
}

// Appends `count` samples; the FIFO grows as needed.
void WriteToFifo(AVAudioFifo* fifo, uint8_t* const* planes, int count) {
    if (av_audio_fifo_write(fifo, reinterpret_cast<void**>(const_cast<uint8_t**>(planes)), count) < count)
        throw FFmpegException("av_fifo_realloc2() failed");
}

} // namespace

// Volume 256 leaves samples unchanged; integer samples are scaled as (sample × volume + 128) >> 8
// and clamped to their range.
void ApplyVolume(AVFrame* frame, int volume) {
    if (av_frame_make_writable(frame) < 0)
        return;
    const AVSampleFormat format = static_cast<AVSampleFormat>(frame->format);
    const bool planar = av_sample_fmt_is_planar(format);
    const int channels = frame->ch_layout.nb_channels;
    const int planes = planar ? channels : 1;
    const size_t count = static_cast<size_t>(frame->nb_samples) * (planar ? 1 : channels);
    for (int p = 0; p < planes; ++p) {
        uint8_t* data = frame->extended_data[p];
        switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_U8:
            for (size_t i = 0; i < count; ++i)
                data[i] =
                    static_cast<uint8_t>(std::clamp(((data[i] - 128) * volume + 128) >> 8, -128, 127) + 128);
            break;
        case AV_SAMPLE_FMT_S16:
            ScaleSamples<int16_t>(data, count, volume, INT16_MIN, INT16_MAX);
            break;
        case AV_SAMPLE_FMT_S32:
            ScaleSamples<int32_t>(data, count, volume, INT32_MIN, INT32_MAX);
            break;
        case AV_SAMPLE_FMT_FLT:
            ScaleFloatSamples<float>(data, count, volume);
            break;
        case AV_SAMPLE_FMT_DBL:
            ScaleFloatSamples<double>(data, count, volume);
            break;
        default:
            break;
        }
    }
}

void TCustomFFmpeg::CreateResampler(TOutputStreamState& ost, const AVFrame* samples) {
    const AVCodecContext* codec = ost.Codec;
    SwrContext* resampler = nullptr;
    AVChannelLayout outputLayout = KnownLayout(codec->ch_layout);
    AVChannelLayout inputLayout = KnownLayout(samples->ch_layout);
    int ret =
        swr_alloc_set_opts2(&resampler, &outputLayout, codec->sample_fmt, codec->sample_rate, &inputLayout,
                            static_cast<AVSampleFormat>(samples->format), samples->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&outputLayout);
    av_channel_layout_uninit(&inputLayout);
    ost.Resampler.reset(resampler);
    // Drift compensation needs the resampling stage even when the rates are equal; switching it on
    // later would reset the resampler in the middle of the stream.
    if (ret >= 0 && Opt.AudioSync > 1)
        ret = av_opt_set_int(resampler, "flags", SWR_FLAG_RESAMPLE, 0);
    if (ret >= 0)
        ret = swr_init(resampler);
    if (ret < 0)
        throw FFmpegException(Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                     samples->ch_layout.nb_channels, samples->sample_rate,
                                     codec->ch_layout.nb_channels, codec->sample_rate));
    ost.ResamplerInput = SampleShapeOf(samples);
}

TSampleShape SampleShapeOf(const AVFrame* samples) {
    return {samples->format, samples->sample_rate, samples->ch_layout.nb_channels,
            av_channel_layout_subset(&samples->ch_layout, ~uint64_t{0})};
}

void TCustomFFmpeg::DoAudioOut(TTranscodeRun& run, TOutputStreamState& ost, TInputStream& ist,
                               AVFrame* samples) {
    if (!ost.Setup->AudioFilters.empty())
        FilterAudio(run, ost, ist, samples);
    else
        QueueAudio(run, ost, ist, samples, ost.SyncInput->Pts);
}

void TCustomFFmpeg::QueueAudio(TTranscodeRun& run, TOutputStreamState& ost, TInputStream& ist,
                               AVFrame* samples, int64_t inputPts) {
    const AVCodecContext* codec = ost.Codec;
    const bool differs = codec->sample_rate != samples->sample_rate || codec->sample_fmt != samples->format ||
                         !SameLayout(codec->ch_layout, samples->ch_layout);
    // A new resampler when the samples change (a new input in join mode, a decoder that changes its
    // output).
    const bool inputChanged = ost.ResamplerInput != SampleShapeOf(samples);
    if ((differs || ost.AudioResample) && (!ost.Resampler || inputChanged))
        CreateResampler(ost, samples);
    else if (!differs && !ost.AudioResample)
        ost.Resampler.reset();

    int skipInput = 0;
    if (!SynchroniseAudio(ost, ist, samples, inputPts, skipInput))
        return;
    const int inputCount = samples->nb_samples - skipInput;
    if (ost.Resampler) {
        const AVFrame* converted = Resample(ost, samples, skipInput, inputCount);
        WriteToFifo(ost.Fifo.get(), converted->extended_data, converted->nb_samples);
    } else {
        const int bytesPerSample = av_get_bytes_per_sample(codec->sample_fmt);
        const bool planar = av_sample_fmt_is_planar(codec->sample_fmt);
        const int stride = bytesPerSample * (planar ? 1 : codec->ch_layout.nb_channels);
        const int planeCount = planar ? codec->ch_layout.nb_channels : 1;
        std::vector<uint8_t*> offsetPlanes(planeCount);
        for (int p = 0; p < planeCount; ++p)
            offsetPlanes[p] = samples->extended_data[p] + static_cast<size_t>(skipInput) * stride;
        WriteToFifo(ost.Fifo.get(), offsetPlanes.data(), inputCount);
    }
    EncodeWholeFrames(run, ost, false);
}

// Keeps the output in step with the input timestamps; `inputPts` (µs) is where the block starts.
// False when nothing of the block is left; `skipInput` is how many input samples at the start of
// the block are discarded.
bool TCustomFFmpeg::SynchroniseAudio(TOutputStreamState& ost, TInputStream& ist, const AVFrame* samples,
                                     int64_t inputPts, int& skipInput) {
    const AVCodecContext* codec = ost.Codec;
    const int64_t queued = av_audio_fifo_size(ost.Fifo.get());
    const double inputPosition = (inputPts - Opt.StartTime) / 1000000.0 * codec->sample_rate;
    // Samples must run on without gaps where the muxer counts them instead of reading timestamps.
    const int audioSync = ost.SampleAccurate ? std::max(Opt.AudioSync, 1) : Opt.AudioSync;
    if (audioSync == 0) {
        ost.SyncOpts = llround(inputPosition) - queued;
        return true;
    }
    const double delta = inputPosition - ost.SyncOpts - queued;
    if (std::fabs(delta) <= 50)
        return true;
    if (ist.IsStart || std::fabs(delta) > codec->sample_rate * Opt.AudioDriftThreshold) {
        if (delta < 0) {
            const int64_t inputDelta =
                static_cast<int64_t>(-delta * samples->sample_rate / codec->sample_rate);
            skipInput = static_cast<int>(std::min<int64_t>(inputDelta, samples->nb_samples));
            if (Opt.Verbosity > 2)
                Logger().LogFmt(this, llVerbose, "discarding %lld audio samples",
                                static_cast<long long>(-delta));
            // A block that lies wholly before the output position leaves the start state alone, so
            // the next block is still trimmed to the position.
            if (skipInput == samples->nb_samples)
                return false;
            ist.IsStart = false;
            return true;
        }
        const int64_t silence = static_cast<int64_t>(delta);
        InsertSilence(ost, silence, static_cast<int64_t>(delta * samples->sample_rate / codec->sample_rate));
        ist.IsStart = false;
        if (Opt.Verbosity > 2)
            Logger().LogFmt(this, llVerbose, "adding %d audio samples of silence", static_cast<int>(silence));
        return true;
    }
    if (audioSync > 1 && ost.Resampler) {
        const int compensation = std::clamp(static_cast<int>(delta), -audioSync, audioSync);
        if (Opt.Verbosity > 2)
            Logger().LogFmt(this, llVerbose, "compensating audio timestamp drift:%f compensation:%d in:%d",
                            delta, compensation, codec->sample_rate);
        swr_set_compensation(ost.Resampler.get(), compensation, codec->sample_rate);
    }
    return true;
}

// The silence goes in front of the block: through the resampler when there is one (its input
// format, so it stays behind what the resampler still holds), else straight into the FIFO.
void TCustomFFmpeg::InsertSilence(TOutputStreamState& ost, int64_t outputCount, int64_t inputCount) {
    const AVCodecContext* codec = ost.Codec;
    const int64_t bytes =
        outputCount * codec->ch_layout.nb_channels * std::max(av_get_bytes_per_sample(codec->sample_fmt), 1);
    if (bytes > INT_MAX || inputCount > INT_MAX)
        throw FFmpegException("Buffer sizes too large in do_audio_out");
    if (ost.Resampler) {
        if (swr_inject_silence(ost.Resampler.get(), static_cast<int>(inputCount)) < 0)
            throw FFmpegException("Out of memory in do_audio_out");
        return;
    }
    WriteSilenceToFifo(ost, static_cast<int>(outputCount));
}

void TCustomFFmpeg::WriteSilenceToFifo(TOutputStreamState& ost, int count) {
    const AVCodecContext* codec = ost.Codec;
    FramePtr silence = MakeFrame();
    silence->format = codec->sample_fmt;
    silence->nb_samples = count;
    if (av_channel_layout_copy(&silence->ch_layout, &codec->ch_layout) < 0 ||
        av_frame_get_buffer(silence.get(), 0) < 0)
        throw FFmpegException("Out of memory in do_audio_out");
    av_samples_set_silence(silence->extended_data, 0, count, codec->ch_layout.nb_channels, codec->sample_fmt);
    WriteToFifo(ost.Fifo.get(), silence->extended_data, count);
}

const AVFrame* TCustomFFmpeg::Resample(TOutputStreamState& ost, const AVFrame* samples, int skip, int count) {
    const AVCodecContext* codec = ost.Codec;
    const int capacity = swr_get_out_samples(ost.Resampler.get(), count);
    AVFrame* converted = ost.ConvertedSamples.get();
    if (!converted || converted->nb_samples < capacity) {
        ost.ConvertedSamples = MakeFrame();
        converted = ost.ConvertedSamples.get();
        converted->format = codec->sample_fmt;
        converted->nb_samples = std::max(capacity, 1);
        if (av_channel_layout_copy(&converted->ch_layout, &codec->ch_layout) < 0 ||
            av_frame_get_buffer(converted, 0) < 0)
            throw FFmpegException("Out of memory in do_audio_out");
    }
    const AVSampleFormat inputFormat = static_cast<AVSampleFormat>(samples->format);
    const bool planar = av_sample_fmt_is_planar(inputFormat);
    const int stride = av_get_bytes_per_sample(inputFormat) * (planar ? 1 : samples->ch_layout.nb_channels);
    std::vector<const uint8_t*> input(planar ? samples->ch_layout.nb_channels : 1);
    for (size_t p = 0; p < input.size(); ++p)
        input[p] = samples->extended_data[p] + static_cast<size_t>(skip) * stride;
    const int produced =
        swr_convert(ost.Resampler.get(), converted->extended_data, capacity, input.data(), count);
    if (produced < 0)
        throw FFmpegException(Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                     samples->ch_layout.nb_channels, samples->sample_rate,
                                     codec->ch_layout.nb_channels, codec->sample_rate));
    // nb_samples now says how many came out; the buffer keeps its capacity for the next block.
    converted->nb_samples = produced;
    return converted;
}

// Encoders with a fixed frame size get exactly that many samples per frame (the last one padded
// with silence, or short when the encoder allows it); the others take whatever is queued.
void TCustomFFmpeg::EncodeWholeFrames(TTranscodeRun& run, TOutputStreamState& ost, bool flush) {
    const AVCodecContext* codec = ost.Codec;
    AVAudioFifo* fifo = ost.Fifo.get();
    const bool anySize =
        codec->frame_size <= 1 || (codec->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    const int frameSize = anySize ? 0 : codec->frame_size;
    for (;;) {
        const int queued = av_audio_fifo_size(fifo);
        if (queued == 0 || (frameSize > 0 && queued < frameSize && !flush))
            return;
        const int take = frameSize > 0 ? std::min(queued, frameSize) : queued;
        const bool shortLast = frameSize > 0 && take < frameSize;
        const bool padded = shortLast && !(codec->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);
        const int frameSamples = padded ? frameSize : take;
        AVFrame* frame = EncoderFrameFor(ost, frameSamples);
        av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->extended_data), take);
        if (padded)
            av_samples_set_silence(frame->extended_data, take, frameSamples - take,
                                   codec->ch_layout.nb_channels, codec->sample_fmt);
        frame->pts = ost.SyncOpts;
        EncodeAndWrite(run, ost, frame);
        ost.SyncOpts += frameSamples;
    }
}

AVFrame* TCustomFFmpeg::EncoderFrameFor(TOutputStreamState& ost, int samples) {
    const AVCodecContext* codec = ost.Codec;
    // Every sample of the frame is overwritten, so a frame the encoder still references is
    // replaced rather than copied.
    AVFrame* frame = ost.EncoderFrame.get();
    if (frame && frame->nb_samples == samples && av_frame_is_writable(frame))
        return frame;
    ost.EncoderFrame = MakeFrame();
    frame = ost.EncoderFrame.get();
    frame->format = codec->sample_fmt;
    frame->nb_samples = samples;
    frame->sample_rate = codec->sample_rate;
    if (av_channel_layout_copy(&frame->ch_layout, &codec->ch_layout) < 0 || av_frame_get_buffer(frame, 0) < 0)
        throw FFmpegException("Out of memory in do_audio_out");
    return frame;
}

void TCustomFFmpeg::FlushAudioFifo(TTranscodeRun& run, TOutputStreamState& ost) {
    if (!ost.Fifo)
        return;
    if (ost.SampleAccurate)
        PadAudioToPictures(run, ost);
    EncodeWholeFrames(run, ost, true);
}

// Silence up to the end of the last picture sent to a video encoder of the same file, so that every
// picture of a muxer that counts samples gets its share.
void TCustomFFmpeg::PadAudioToPictures(TTranscodeRun& run, TOutputStreamState& ost) {
    const AVCodecContext* codec = ost.Codec;
    int64_t picturesEnd = 0;
    for (const TOutputStreamState& video : run.OutputStreams)
        if (video.File == ost.File && video.IsVideo() && video.EncodingNeeded)
            picturesEnd = std::max(picturesEnd, av_rescale_q(video.SyncOpts, video.Codec->time_base,
                                                             AVRational{1, codec->sample_rate}));
    const int64_t missing = picturesEnd - ost.SyncOpts - av_audio_fifo_size(ost.Fifo.get());
    if (missing > 0 && missing <= INT_MAX)
        WriteSilenceToFifo(ost, static_cast<int>(missing));
}

} // namespace tarnel
