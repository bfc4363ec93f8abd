#include "converter/LoudnessMeter.h"

#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/InputWatch.h"
#include "base/LibHandles.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace tarnel {

namespace {

// Below the meter's absolute gate (-70 LUFS) a sound counts as silence.
constexpr double kSilenceGate = -70.0;
// The limiter's ceiling leaves room for what resampling and lossy encoding add to the peaks.
constexpr double kLimiterCeiling = kTruePeakCeiling - 0.5;
constexpr int kOversampledRate = 192000;
constexpr int kLimiterPasses = 5;
constexpr double kMostExtraGain = 20.0;   // dB above the plain gain
constexpr double kLimiterTolerance = 0.4; // LU

struct TDecodedAudio {
    InputContextPtr Input;
    CodecContextPtr Decoder;
    int Stream = -1;
};

TDecodedAudio OpenAudio(const std::string& fileName, TInputWatch& watch) {
    TDecodedAudio audio;
    audio.Input = OpenWatchedInput(fileName, watch);
    AVFormatContext* opened = audio.Input.get();
    int ret = 0;
    const AVCodec* decoder = nullptr;
    audio.Stream = av_find_best_stream(opened, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (audio.Stream < 0 || !decoder) {
        audio.Stream = -1;
        return audio;
    }
    for (unsigned i = 0; i < opened->nb_streams; ++i)
        opened->streams[i]->discard = static_cast<int>(i) == audio.Stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    audio.Decoder.reset(avcodec_alloc_context3(decoder));
    if (!audio.Decoder)
        throw FFmpegException(ErrorText(fileName, AVERROR(ENOMEM)));
    avcodec_parameters_to_context(audio.Decoder.get(), opened->streams[audio.Stream]->codecpar);
    audio.Decoder->pkt_timebase = opened->streams[audio.Stream]->time_base;
    if ((ret = avcodec_open2(audio.Decoder.get(), decoder, nullptr)) < 0)
        throw FFmpegException(ErrorText(fileName, ret));
    return audio;
}

// abuffer → ebur128 (true peaks, figures in each frame's metadata) → abuffersink.
class TMeterGraph {
public:
    // `filters` (may be empty) go before the meter: the sound is measured as they leave it.
    TMeterGraph(const AVFrame* first, const std::string& filters)
        : graph_(avfilter_graph_alloc()) {
        if (!graph_)
            Fail(AVERROR(ENOMEM));
        AVChannelLayout layout{};
        if (first->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&layout, first->ch_layout.nb_channels);
        else
            av_channel_layout_copy(&layout, &first->ch_layout);
        char layoutText[128] = {};
        av_channel_layout_describe(&layout, layoutText, sizeof layoutText);
        av_channel_layout_uninit(&layout);
        const std::string args =
            Format("time_base=1/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%s", first->sample_rate,
                   first->sample_rate, av_get_sample_fmt_name(static_cast<AVSampleFormat>(first->format)),
                   layoutText);
        AVFilterContext* meter = nullptr;
        Check(avfilter_graph_create_filter(&source_, avfilter_get_by_name("abuffer"), "in", args.c_str(),
                                           nullptr, graph_.get()));
        Check(avfilter_graph_create_filter(&meter, avfilter_get_by_name("ebur128"), "meter",
                                           "peak=true:metadata=1", nullptr, graph_.get()));
        Check(avfilter_graph_create_filter(&sink_, avfilter_get_by_name("abuffersink"), "out", nullptr,
                                           nullptr, graph_.get()));
        Check(avfilter_link(meter, 0, sink_, 0));
        if (filters.empty())
            Check(avfilter_link(source_, 0, meter, 0));
        else
            LinkThrough(filters, meter);
        Check(avfilter_graph_config(graph_.get(), nullptr));
    }

    // nullptr ends the sound.
    void Add(AVFrame* frame) {
        Check(av_buffersrc_add_frame_flags(source_, frame, frame ? AV_BUFFERSRC_FLAG_KEEP_REF : 0));
        Drain();
    }

    double Figure(const char* key) const {
        const AVDictionaryEntry* entry = av_dict_get(figures_.get(), key, nullptr, 0);
        return entry ? std::strtod(entry->value, nullptr) : std::numeric_limits<double>::quiet_NaN();
    }

    // The highest true peak of any channel over the whole sound, in dBTP (the meter gives each
    // channel's as a linear amplitude).
    double TruePeak() const {
        double highest = 0;
        const AVDictionaryEntry* entry = nullptr;
        while (
            (entry = av_dict_get(figures_.get(), "lavfi.r128.true_peaks_ch", entry, AV_DICT_IGNORE_SUFFIX)))
            highest = std::max(highest, std::strtod(entry->value, nullptr));
        return 20.0 * std::log10(highest);
    }

private:
    void LinkThrough(const std::string& filters, AVFilterContext* meter) {
        InOutPtr outputs = MakeInOut("in", source_);
        InOutPtr inputs = MakeInOut("out", meter);
        if (!outputs || !inputs)
            Fail(AVERROR(ENOMEM));
        AVFilterInOut* openInputs = inputs.release();
        AVFilterInOut* openOutputs = outputs.release();
        const int ret =
            avfilter_graph_parse_ptr(graph_.get(), filters.c_str(), &openInputs, &openOutputs, nullptr);
        inputs.reset(openInputs);
        outputs.reset(openOutputs);
        Check(ret);
    }

    void Drain() {
        FramePtr out = MakeFrame();
        while (av_buffersink_get_frame(sink_, out.get()) >= 0) {
            // Each frame carries the figures of the sound so far; the last one's are the whole.
            if (av_dict_get(out->metadata, "lavfi.r128.I", nullptr, 0)) {
                AVDictionary* copy = nullptr;
                av_dict_copy(&copy, out->metadata, 0);
                figures_.reset(copy);
            }
            av_frame_unref(out.get());
        }
    }

    static void Check(int ret) {
        if (ret < 0)
            Fail(ret);
    }
    [[noreturn]] static void Fail(int ret) { throw FFmpegException("ebur128: " + LibraryErrorText(ret)); }

    FilterGraphPtr graph_;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    DictionaryPtr figures_;
};

int64_t ToMicroseconds(int64_t pts, AVRational base) {
    return av_rescale_q(pts, base, kMicrosecondBase);
}

// Drops the samples of `frame` before `startUs` and after `endUs`; false when none is left.
bool KeepPart(AVFrame* frame, AVRational base, int64_t startUs, int64_t endUs) {
    if (frame->pts == AV_NOPTS_VALUE)
        return true;
    const int64_t frameStart = ToMicroseconds(frame->pts, base);
    const int64_t lengthUs = int64_t{frame->nb_samples} * 1000000 / frame->sample_rate;
    int64_t skip = 0;
    if (frameStart < startUs)
        skip = std::min<int64_t>(frame->nb_samples, (startUs - frameStart) * frame->sample_rate / 1000000);
    int64_t keep = frame->nb_samples - skip;
    if (endUs >= 0 && frameStart + lengthUs > endUs)
        keep =
            std::min(keep, std::max<int64_t>(0, (endUs - frameStart) * frame->sample_rate / 1000000 - skip));
    if (keep <= 0)
        return false;
    if (skip > 0) {
        const int bytes = av_get_bytes_per_sample(static_cast<AVSampleFormat>(frame->format));
        const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(frame->format));
        const int planes = planar ? frame->ch_layout.nb_channels : 1;
        const int64_t stride = int64_t{bytes} * (planar ? 1 : frame->ch_layout.nb_channels);
        if (av_frame_make_writable(frame) < 0)
            return false;
        for (int p = 0; p < planes; ++p)
            std::memmove(frame->extended_data[p], frame->extended_data[p] + skip * stride,
                         static_cast<size_t>(keep * stride));
    }
    frame->nb_samples = static_cast<int>(keep);
    return true;
}

} // namespace

TLoudness MeasureLoudness(const TLoudnessJob& job, const TMeasureProgress& progress,
                          const std::string& filters) {
    TInputWatch watch;
    watch.SetTimeout(job.TimeoutSeconds);
    TDecodedAudio audio = OpenAudio(job.Source, watch);
    TLoudness result;
    if (audio.Stream < 0)
        return result;
    const AVStream* stream = audio.Input->streams[audio.Stream];
    const int64_t startUs = std::max<int64_t>(0, job.StartUs);
    if (startUs > 0)
        av_seek_frame(audio.Input.get(), -1,
                      audio.Input->start_time != AV_NOPTS_VALUE ? startUs + audio.Input->start_time : startUs,
                      AVSEEK_FLAG_BACKWARD);
    const int64_t origin =
        stream->start_time != AV_NOPTS_VALUE ? ToMicroseconds(stream->start_time, stream->time_base) : 0;
    const int64_t endUs = job.DurationUs >= 0 ? startUs + job.DurationUs : -1;
    int64_t lengthUs = endUs >= 0 ? job.DurationUs : audio.Input->duration - startUs;
    if (lengthUs <= 0)
        lengthUs = 1;

    std::unique_ptr<TMeterGraph> meter;
    PacketPtr packet = MakePacket();
    FramePtr frame = MakeFrame();
    int64_t samples = 0;
    int sampleRate = 0;
    bool ended = false;
    auto takeFrames = [&]() {
        while (avcodec_receive_frame(audio.Decoder.get(), frame.get()) >= 0) {
            if (frame->pts != AV_NOPTS_VALUE)
                frame->pts -= av_rescale_q(origin, kMicrosecondBase, stream->time_base);
            const int64_t at =
                frame->pts != AV_NOPTS_VALUE ? ToMicroseconds(frame->pts, stream->time_base) : -1;
            if (endUs >= 0 && at >= endUs)
                ended = true;
            if (!ended && KeepPart(frame.get(), stream->time_base, startUs, endUs)) {
                if (!meter)
                    meter = std::make_unique<TMeterGraph>(frame.get(), filters);
                samples += frame->nb_samples;
                sampleRate = frame->sample_rate;
                meter->Add(frame.get());
                if (progress && !progress(std::clamp(static_cast<double>(at - startUs) / lengthUs, 0.0, 1.0)))
                    throw FFmpegException("stopped");
            }
            av_frame_unref(frame.get());
        }
    };
    while (!ended && ReadWatchedPacket(audio.Input.get(), packet.get(), watch, job.Source) >= 0) {
        if (packet->stream_index == audio.Stream) {
            // A damaged packet is skipped, as a player would.
            avcodec_send_packet(audio.Decoder.get(), packet.get());
            takeFrames();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(audio.Decoder.get(), nullptr);
    takeFrames();
    if (!meter)
        return {TLoudnessVerdict::TooShort, 0, 0, 0, 0};
    meter->Add(nullptr);

    result.SampleRate = sampleRate;
    result.Seconds = sampleRate > 0 ? static_cast<double>(samples) / sampleRate : 0;
    result.Integrated = meter->Figure("lavfi.r128.I");
    result.Range = meter->Figure("lavfi.r128.LRA");
    result.TruePeak = meter->TruePeak();
    if (result.Seconds < 0.4)
        result.Verdict = TLoudnessVerdict::TooShort;
    else if (!std::isfinite(result.Integrated) || result.Integrated <= kSilenceGate ||
             !std::isfinite(result.TruePeak))
        result.Verdict = TLoudnessVerdict::Silent;
    else
        result.Verdict = TLoudnessVerdict::Measured;
    return result;
}

namespace {

bool NeedsLimiter(const TLoudness& measured, double targetLufs) {
    return measured.TruePeak + targetLufs - measured.Integrated > kLimiterCeiling;
}

std::string GainFilter(const TLoudness& measured, double gain, bool limit) {
    const std::string volume = Format("volume=%.2fdB:precision=double", gain);
    if (!limit)
        return volume;
    // The limiter looks at the sound four times oversampled, so it also catches the peaks between
    // samples; it makes up for its own look-ahead delay and does not raise the level back.
    return volume + Format(",aresample=%d,alimiter=limit=%.6f:attack=5:release=50:level=false:latency=true,"
                           "aresample=%d",
                           kOversampledRate, std::pow(10.0, kLimiterCeiling / 20.0), measured.SampleRate);
}

} // namespace

std::string LoudnessFilter(const TLoudness& measured, double targetLufs) {
    if (measured.Verdict != TLoudnessVerdict::Measured)
        return {};
    return GainFilter(measured, targetLufs - measured.Integrated, NeedsLimiter(measured, targetLufs));
}

TNormalisation NormalisationFilter(const TLoudnessJob& job, const TLoudness& measured, double targetLufs,
                                   const TMeasureProgress& progress) {
    TNormalisation result{LoudnessFilter(measured, targetLufs), targetLufs};
    if (result.Filter.empty() || !NeedsLimiter(measured, targetLufs))
        return result;
    // What the limiter takes off the peaks lowers the loudness: the gain is raised until the sound
    // measured through the limiter lies close to the target. Each pass learns how much loudness a
    // decibel of gain still brings (less and less as the limiter works harder). The filter kept is
    // always one that was measured.
    double gain = targetLufs - measured.Integrated;
    double slope = 1.0; // LU of loudness per dB of gain
    double lastGain = 0;
    double lastLoudness = measured.Integrated;
    for (int pass = 0;; ++pass) {
        const TLoudness limited = MeasureLoudness(job, progress, result.Filter);
        if (limited.Verdict != TLoudnessVerdict::Measured)
            break;
        result.Reached = limited.Integrated;
        const double shortfall = targetLufs - limited.Integrated;
        if (std::fabs(shortfall) <= kLimiterTolerance || pass + 1 >= kLimiterPasses)
            break;
        if (pass > 0 && gain != lastGain)
            slope = std::clamp((limited.Integrated - lastLoudness) / (gain - lastGain), 0.1, 1.0);
        lastGain = gain;
        lastLoudness = limited.Integrated;
        gain = std::min(gain + shortfall / slope, targetLufs - measured.Integrated + kMostExtraGain);
        result.Filter = GainFilter(measured, gain, true);
    }
    return result;
}

std::string LoudnessText(const TLoudness& measured) {
    switch (measured.Verdict) {
    case TLoudnessVerdict::Measured:
        return Format("%.1f LUFS, true peak %.1f dBTP", measured.Integrated, measured.TruePeak);
    case TLoudnessVerdict::Silent:
        return "silent";
    case TLoudnessVerdict::TooShort:
        return "too short to measure";
    case TLoudnessVerdict::NoSound:
        break;
    }
    return {};
}

} // namespace tarnel
