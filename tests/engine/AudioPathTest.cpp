// The audio output path seen from the outside: converted files are decoded again and their samples
// compared with the source (volume, synchronisation, channel and rate conversion, encoder refusal).
#include "MediaInspect.h"
#include "TestSupport.h"
#include "base/FFmpegLoader.h"
#include "base/LibHandles.h"
#include "engine/FFmpeg.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <numbers>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace tarnel {
namespace {

using test::Fixtures;
using test::InspectMedia;
using test::TempDir;

using Options = std::vector<std::pair<std::string, std::string>>;

struct Input {
    std::string path;
    Options options; // set before the file is added
};

struct RunResult {
    bool failed = false;
    std::string message;
};

RunResult Convert(const std::vector<Input>& inputs, const Options& options, const std::string& output) {
    TCustomFFmpeg engine;
    engine.Reset();
    for (const Input& input : inputs) {
        for (const auto& [name, value] : input.options)
            engine.SetOption(name, value);
        if (!engine.AddInputFile(input.path))
            return {true, "input: " + engine.LastError()};
    }
    for (const auto& [name, value] : options)
        engine.SetOption(name, value);
    if (engine.AddOutputFile(output) < 0)
        return {true, "output: " + engine.LastError()};
    engine.Start(false);
    return {engine.ErrorOccurred(), engine.ErrorMessage()};
}

// Decoded audio as interleaved 16-bit samples, at the file's own rate and channel count.
struct Samples {
    int rate = 0;
    int channels = 0;
    double firstTime = 0; // seconds, of the first decoded block
    std::vector<int16_t> data;

    size_t Frames() const { return channels ? data.size() / channels : 0; }
    int16_t At(size_t frame, int channel) const { return data[frame * channels + channel]; }
};

Samples DecodeAudio(const std::string& path) {
    Samples result;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        throw std::runtime_error("cannot open " + path);
    InputContextPtr input(raw);
    avformat_find_stream_info(raw, nullptr);
    const int index = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0)
        throw std::runtime_error("no audio in " + path);
    AVStream* stream = raw->streams[index];
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    CodecContextPtr codec(avcodec_alloc_context3(decoder));
    avcodec_parameters_to_context(codec.get(), stream->codecpar);
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0)
        throw std::runtime_error("cannot decode " + path);
    result.rate = codec->sample_rate;
    result.channels = codec->ch_layout.nb_channels;

    SwrContextPtr converter;
    FramePtr frame = MakeFrame();
    PacketPtr packet = MakePacket();
    bool first = true;
    auto receive = [&] {
        while (avcodec_receive_frame(codec.get(), frame.get()) >= 0) {
            if (first && frame->pts != AV_NOPTS_VALUE)
                result.firstTime = frame->pts * av_q2d(stream->time_base);
            first = false;
            if (!converter) {
                SwrContext* swr = nullptr;
                swr_alloc_set_opts2(&swr, &frame->ch_layout, AV_SAMPLE_FMT_S16, frame->sample_rate,
                                    &frame->ch_layout, static_cast<AVSampleFormat>(frame->format),
                                    frame->sample_rate, 0, nullptr);
                converter.reset(swr);
                swr_init(swr);
            }
            const size_t start = result.data.size();
            result.data.resize(start + static_cast<size_t>(frame->nb_samples) * result.channels);
            uint8_t* out = reinterpret_cast<uint8_t*>(result.data.data() + start);
            const int got = swr_convert(converter.get(), &out, frame->nb_samples,
                                        const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
            result.data.resize(start + static_cast<size_t>(std::max(got, 0)) * result.channels);
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(raw, packet.get()) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(codec.get(), packet.get()) >= 0)
            receive();
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(codec.get(), nullptr);
    receive();
    return result;
}

// Writes a 16-bit PCM WAV file whose channel c carries a sine of frequency × (c + 1).
void MakeToneWav(const std::string& path, int rate, int channels, double seconds, double amplitude,
                 double frequency) {
    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "wav", path.c_str()) < 0)
        throw std::runtime_error("wav muxer");
    FormatContextPtr output(raw);
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
    CodecContextPtr codec(avcodec_alloc_context3(encoder));
    codec->sample_rate = rate;
    codec->sample_fmt = AV_SAMPLE_FMT_S16;
    codec->time_base = {1, rate};
    av_channel_layout_default(&codec->ch_layout, channels);
    if (avcodec_open2(codec.get(), encoder, nullptr) < 0)
        throw std::runtime_error("pcm encoder");
    AVStream* stream = avformat_new_stream(raw, nullptr);
    avcodec_parameters_from_context(stream->codecpar, codec.get());
    stream->time_base = codec->time_base;
    if (avio_open(&raw->pb, path.c_str(), AVIO_FLAG_WRITE) < 0 || avformat_write_header(raw, nullptr) < 0)
        throw std::runtime_error("cannot write " + path);
    const int total = static_cast<int>(std::lround(seconds * rate));
    const int block = 1000;
    PacketPtr packet = MakePacket();
    auto drain = [&] {
        while (avcodec_receive_packet(codec.get(), packet.get()) >= 0) {
            av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
            packet->stream_index = 0;
            av_interleaved_write_frame(raw, packet.get());
        }
    };
    for (int start = 0; start < total; start += block) {
        FramePtr frame = MakeFrame();
        frame->format = AV_SAMPLE_FMT_S16;
        frame->sample_rate = rate;
        frame->nb_samples = std::min(block, total - start);
        av_channel_layout_default(&frame->ch_layout, channels);
        av_frame_get_buffer(frame.get(), 0);
        auto* data = reinterpret_cast<int16_t*>(frame->data[0]);
        for (int i = 0; i < frame->nb_samples; ++i)
            for (int c = 0; c < channels; ++c)
                data[i * channels + c] = static_cast<int16_t>(
                    std::lround(amplitude * 32767 *
                                std::sin(2 * std::numbers::pi * frequency * (c + 1) * (start + i) / rate)));
        frame->pts = start;
        avcodec_send_frame(codec.get(), frame.get());
        drain();
    }
    avcodec_send_frame(codec.get(), nullptr);
    drain();
    av_write_trailer(raw);
    avio_closep(&raw->pb);
}

// Strength of `frequency` in one channel (Goertzel), relative to full scale.
double ToneLevel(const Samples& samples, int channel, double frequency) {
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * frequency / samples.rate);
    double previous = 0, older = 0;
    const size_t frames = samples.Frames();
    for (size_t i = 0; i < frames; ++i) {
        const double current = samples.At(i, channel) / 32768.0 + coefficient * previous - older;
        older = previous;
        previous = current;
    }
    const double power = previous * previous + older * older - coefficient * previous * older;
    return 2 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(frames);
}

class AudioPath : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)); }
    std::string Tone(double amplitude, int rate = 44100, int channels = 2) {
        const std::string path =
            (dir_ / ("tone-" + std::to_string(rate) + "-" + std::to_string(channels) + ".wav")).string();
        MakeToneWav(path, rate, channels, 2.0, amplitude, 440.0);
        return path;
    }
    TempDir dir_;
};

// "vol": 16-bit samples become (sample × volume + 128) >> 8, clamped.
TEST_F(AudioPath, VolumeScalesSixteenBitSamples) {
    const std::string source = Tone(0.75);
    const Samples original = DecodeAudio(source);
    for (const int volume : {256, 512, 128}) {
        SCOPED_TRACE(volume);
        const std::string output = (dir_ / ("vol" + std::to_string(volume) + ".wav")).string();
        const RunResult result =
            Convert({{source, {}}}, {{"acodec", "pcm_s16le"}, {"vol", std::to_string(volume)}}, output);
        ASSERT_FALSE(result.failed) << result.message;
        const Samples scaled = DecodeAudio(output);
        ASSERT_EQ(scaled.data.size(), original.data.size());
        size_t mismatches = 0;
        bool clamped = false;
        for (size_t i = 0; i < original.data.size(); ++i) {
            const int64_t expected =
                std::clamp<int64_t>((int64_t{original.data[i]} * volume + 128) >> 8, INT16_MIN, INT16_MAX);
            mismatches += scaled.data[i] != expected;
            clamped = clamped || expected == INT16_MAX;
        }
        EXPECT_EQ(mismatches, 0u);
        EXPECT_EQ(clamped, volume == 512);
    }
}

// Decoders that give floating-point samples are scaled too: a compressed source at half and at
// double volume has half and (clamped) double the level of the unchanged conversion.
TEST_F(AudioPath, VolumeScalesFloatingPointSamples) {
    std::vector<double> levels;
    for (const int volume : {256, 128, 512}) {
        const std::string output = (dir_ / ("mp3vol" + std::to_string(volume) + ".wav")).string();
        const RunResult result = Convert({{Fixtures().audioOnly, {}}},
                                         {{"acodec", "pcm_s16le"}, {"vol", std::to_string(volume)}}, output);
        ASSERT_FALSE(result.failed) << result.message;
        const Samples samples = DecodeAudio(output);
        levels.push_back(ToneLevel(samples, 0, 440.0));
    }
    EXPECT_NEAR(levels[1] / levels[0], 0.5, 0.02);
    EXPECT_GT(levels[2] / levels[0], 1.8); // the fixture is at half scale: doubled it just clips
}

// "async" 1 with audio that starts 0.5 s after the video: the output's audio starts with the video,
// with 0.5 s of silence (also when it is resampled); without "async" it keeps its late start.
TEST_F(AudioPath, LateAudioStartsWithSilenceWhenSynchronised) {
    const std::string source = Tone(0.5);
    struct Case {
        bool synchronised;
        int rate;
    };
    for (const Case c : {Case{true, 44100}, Case{true, 48000}, Case{false, 44100}}) {
        SCOPED_TRACE(testing::Message() << "async " << c.synchronised << " at " << c.rate);
        Options options{{"vcodec", "mpeg4"}, {"acodec", "pcm_s16le"}, {"ar", std::to_string(c.rate)}};
        if (c.synchronised)
            options.push_back({"async", "1"});
        const std::string path =
            (dir_ / ("late" + std::to_string(c.synchronised) + std::to_string(c.rate) + ".mkv")).string();
        const RunResult result =
            Convert({{Fixtures().videoOnly, {}}, {source, {{"itsoffset", "0.5"}}}}, options, path);
        ASSERT_FALSE(result.failed) << result.message;
        const Samples samples = DecodeAudio(path);
        ASSERT_EQ(samples.rate, c.rate);
        const size_t late = static_cast<size_t>(c.rate / 2);
        if (c.synchronised) {
            EXPECT_NEAR(samples.firstTime, 0.0, 0.01);
            ASSERT_GT(samples.Frames(), late + 100);
            int loudest = 0;
            for (size_t i = 0; i + 50 < late; ++i)
                loudest = std::max(loudest, std::abs(static_cast<int>(samples.At(i, 0))));
            EXPECT_EQ(loudest, 0);
            EXPECT_NE(samples.At(late + 100, 1), 0); // the tone follows
            EXPECT_NEAR(static_cast<double>(samples.Frames()), 2.5 * c.rate, 1024);
        } else {
            EXPECT_NEAR(samples.firstTime, 0.5, 0.01);
            EXPECT_NE(samples.At(10, 1), 0);
            EXPECT_NEAR(static_cast<double>(samples.Frames()), 2.0 * c.rate, 1024);
        }
    }
}

// "async" 1 with audio whose first samples lie before the output position: they are discarded,
// also when whole blocks lie before it, so the output starts exactly at the position.
TEST_F(AudioPath, EarlyAudioIsDiscardedWhenSynchronised) {
    const std::string source = Tone(0.5);
    const Samples original = DecodeAudio(source);
    for (const double early : {0.5, 0.12}) {
        SCOPED_TRACE(early);
        const std::string path = (dir_ / ("early" + std::to_string(early) + ".wav")).string();
        const RunResult result = Convert({{source, {{"itsoffset", "-" + std::to_string(early)}}}},
                                         {{"acodec", "pcm_s16le"}, {"async", "1"}}, path);
        ASSERT_FALSE(result.failed) << result.message;
        const Samples samples = DecodeAudio(path);
        const size_t skipped = original.Frames() - samples.Frames();
        EXPECT_NEAR(static_cast<double>(skipped), early * 44100, 2);
        ASSERT_GT(samples.Frames(), 1000u);
        size_t mismatches = 0;
        for (size_t i = 0; i < 1000; ++i)
            mismatches += samples.At(i, 0) != original.At(skipped + i, 0);
        EXPECT_EQ(mismatches, 0u);
    }
}

// 5.1 down to stereo: the left channel takes the front left, centre and left surround, the right
// channel their right counterparts; nothing clips.
TEST_F(AudioPath, SurroundIsMixedDownToStereo) {
    const std::string path = (dir_ / "stereo.wav").string();
    const RunResult result =
        Convert({{Fixtures().surround51, {}}}, {{"acodec", "pcm_s16le"}, {"ac", "2"}}, path);
    ASSERT_FALSE(result.failed) << result.message;
    const Samples samples = DecodeAudio(path);
    ASSERT_EQ(samples.channels, 2);
    EXPECT_EQ(samples.rate, 48000);
    EXPECT_NEAR(static_cast<double>(samples.Frames()) / 48000, fixtures::kFixtureSeconds, 0.05);
    // Channel c of the fixture carries kFixtureToneHz × (c + 1): FL, FR, FC, LFE, surround L, R.
    auto level = [&](int channel, int source) {
        return ToneLevel(samples, channel, 440.0 * (source + 1));
    };
    for (const int source : {0, 2, 4})
        EXPECT_GT(level(0, source), 0.05) << "left lacks source channel " << source;
    for (const int source : {1, 2, 5})
        EXPECT_GT(level(1, source), 0.05) << "right lacks source channel " << source;
    EXPECT_LT(level(0, 1), 0.01);
    EXPECT_LT(level(0, 5), 0.01);
    EXPECT_LT(level(1, 0), 0.01);
    EXPECT_LT(level(1, 4), 0.01);
    const auto [low, high] = std::minmax_element(samples.data.begin(), samples.data.end());
    EXPECT_GT(*low, INT16_MIN);
    EXPECT_LT(*high, INT16_MAX);
}

// 8 kHz mono up to 48 kHz stereo: the same tone in both channels, for the same time.
TEST_F(AudioPath, NarrowMonoIsResampledToWideStereo) {
    const std::string source = Tone(0.5, 8000, 1);
    const std::string path = (dir_ / "wide.wav").string();
    const RunResult result =
        Convert({{source, {}}}, {{"acodec", "pcm_s16le"}, {"ar", "48000"}, {"ac", "2"}}, path);
    ASSERT_FALSE(result.failed) << result.message;
    const Samples samples = DecodeAudio(path);
    ASSERT_EQ(samples.channels, 2);
    ASSERT_EQ(samples.rate, 48000);
    EXPECT_NEAR(static_cast<double>(samples.Frames()) / 48000, 2.0, 0.01);
    for (int channel = 0; channel < 2; ++channel) {
        EXPECT_GT(ToneLevel(samples, channel, 440.0), 0.2);
        EXPECT_LT(ToneLevel(samples, channel, 880.0), 0.01);
    }
    size_t differing = 0;
    for (size_t i = 0; i < samples.Frames(); ++i)
        differing += samples.At(i, 0) != samples.At(i, 1);
    EXPECT_EQ(differing, 0u);
}

size_t OpenDescriptorCount() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                             std::filesystem::directory_iterator{}));
}

// An encoder that refuses its parameters ends the run with the engine's message; nothing is left
// open and no output file stays behind.
TEST_F(AudioPath, RefusingEncoderFailsCleanly) {
    struct Case {
        const char* what;
        Options options;
        const char* output;
    };
    const std::vector<Case> cases{
        {"mp2 at a bit rate it does not have", {{"acodec", "mp2"}, {"ab", "100000"}}, "refused.mp2"},
        {"ac3 with seven channels", {{"acodec", "ac3"}, {"ac", "7"}}, "refused.ac3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = (dir_ / c.output).string();
        const size_t descriptors = OpenDescriptorCount();
        const RunResult result = Convert({{Fixtures().audioOnly, {}}}, c.options, path);
        EXPECT_TRUE(result.failed);
        EXPECT_TRUE(result.message.starts_with("Error while opening encoder for output stream #0.0 (Audio)"))
            << result.message;
        EXPECT_FALSE(std::filesystem::exists(path));
        EXPECT_EQ(OpenDescriptorCount(), descriptors);
    }
}

double Rms(const Samples& samples) {
    double sum = 0;
    for (const int16_t sample : samples.data)
        sum += static_cast<double>(sample) * sample;
    return samples.data.empty() ? 0 : std::sqrt(sum / static_cast<double>(samples.data.size()));
}

// Where the sound starts: the first sample above a tenth of the file's loudest.
size_t SoundStart(const Samples& samples) {
    int loudest = 0;
    for (const int16_t sample : samples.data)
        loudest = std::max(loudest, std::abs(static_cast<int>(sample)));
    for (size_t i = 0; i < samples.data.size(); ++i)
        if (std::abs(static_cast<int>(samples.data[i])) * 10 > loudest)
            return i / static_cast<size_t>(samples.channels);
    return samples.Frames();
}

// "af": the graph runs between the decoder and the encoder; the output is measured against the
// conversion without one. Whatever the filters do to the rate, or how long they hold samples back
// (alimiter's lookahead; loudnorm's window is longer than the whole clip), the output has the
// encoder's rate, the source's length, and its sound where the source has it, with and without
// synchronisation. "vol" still scales the decoded samples, before the graph.
TEST_F(AudioPath, FilterGraphsKeepRateLengthAndStart) {
    const std::string source = Tone(0.4);
    const std::string referencePath = (dir_ / "reference.mkv").string();
    const RunResult made = Convert({{source, {}}}, {{"acodec", "pcm_s16le"}}, referencePath);
    ASSERT_FALSE(made.failed) << made.message;
    const Samples reference = DecodeAudio(referencePath);
    const double referenceSeconds = static_cast<double>(reference.Frames()) / reference.rate;

    struct Case {
        const char* graph;
        Options options;
        int rate;          // the encoder's
        double levelRatio; // RMS against the reference; 0: not compared
    };
    const Case cases[] = {
        {"volume=0.5", {}, 44100, 0.5},
        {"volume=0.5", {{"vol", "512"}}, 44100, 1.0},
        {"aresample=22050", {}, 44100, 1.0},
        {"alimiter=level=disabled:latency=1", {}, 44100, 1.0},
        {"loudnorm", {{"ar", "48000"}}, 48000, 0},
    };
    for (const Case& c : cases) {
        for (const char* sync : {"0", "1"}) {
            SCOPED_TRACE(testing::Message() << c.graph << " " << c.options.size() << " async " << sync);
            Options options = c.options;
            options.insert(options.end(), {{"acodec", "pcm_s16le"}, {"async", sync}, {"af", c.graph}});
            const std::string path = (dir_ / "filtered.mkv").string();
            const RunResult result = Convert({{source, {}}}, options, path);
            ASSERT_FALSE(result.failed) << result.message;
            const Samples filtered = DecodeAudio(path);
            ASSERT_EQ(filtered.rate, c.rate);
            ASSERT_EQ(filtered.channels, reference.channels);
            EXPECT_NEAR(static_cast<double>(filtered.Frames()) / c.rate, referenceSeconds, 1024.0 / c.rate);
            EXPECT_NEAR(filtered.firstTime, reference.firstTime, 0.001);
            EXPECT_LE(static_cast<double>(SoundStart(filtered)) / c.rate,
                      static_cast<double>(SoundStart(reference)) / reference.rate + 0.0005);
            if (c.levelRatio > 0)
                EXPECT_NEAR(Rms(filtered) / Rms(reference), c.levelRatio, 0.02 * c.levelRatio);
            else
                EXPECT_GT(Rms(filtered), 0.05 * Rms(reference));
        }
    }
}

} // namespace
} // namespace tarnel

namespace tarnel {
namespace {

// Joins `copies` copies of `source` into one file with the given options.
RunResult Join(const std::string& source, int copies, const Options& options, const std::string& output) {
    TCustomFFmpeg engine;
    engine.Reset();
    for (int i = 0; i < copies; ++i)
        if (!engine.AddInputFile(source))
            return {true, "input: " + engine.LastError()};
    for (const auto& [name, value] : options)
        engine.SetOption(name, value);
    if (engine.AddOutputFile(output, true) < 0)
        return {true, "output: " + engine.LastError()};
    engine.Start(false);
    return {engine.ErrorOccurred(), engine.ErrorMessage()};
}

// Joined inputs each go through the graph in turn: the graph is flushed at the end of one input and
// built again for the next, so every input is filtered and none is cut short.
TEST_F(AudioPath, JoinedInputsAreAllFiltered) {
    const std::string source = Tone(0.4);
    const Samples original = DecodeAudio(source);
    const std::string path = (dir_ / "joined.wav").string();
    const RunResult result = Join(source, 2, {{"acodec", "pcm_s16le"}, {"af", "volume=0.5"}}, path);
    ASSERT_FALSE(result.failed) << result.message;
    const Samples joined = DecodeAudio(path);
    ASSERT_EQ(joined.rate, original.rate);
    EXPECT_NEAR(static_cast<double>(joined.Frames()), 2.0 * original.Frames(), 1024);
    const size_t half = joined.Frames() / 2;
    for (const size_t from : {size_t{0}, half}) {
        Samples part;
        part.rate = joined.rate;
        part.channels = joined.channels;
        part.data.assign(joined.data.begin() + from * joined.channels,
                         joined.data.begin() + (from + half) * joined.channels);
        EXPECT_NEAR(Rms(part) / Rms(original), 0.5, 0.01) << "from frame " << from;
    }
}

// DV carries each picture's share of sound inside the picture, so the muxer refuses a picture whose
// sound has not arrived. Common sources of any rate must convert to PAL and NTSC DV with their sound.
TEST_F(AudioPath, DvTargetsKeepTheSoundOfCommonSources) {
    const struct {
        const char* name;
        Options options;
    } sources[] = {
        {"h264_aac.mp4", {{"vcodec", "libx264"}, {"acodec", "aac"}, {"ar", "44100"}}},
        {"mpeg4_mp3.avi", {{"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}, {"ar", "44100"}}},
        {"h264_opus.mkv",
         {{"vcodec", "libx264"}, {"r", "30000/1001"}, {"acodec", "libopus"}, {"ar", "48000"}}},
    };
    for (const auto& source : sources) {
        const std::string input = (dir_ / source.name).string();
        const RunResult made = Join(Fixtures().h264AacMp4, 3, source.options, input);
        ASSERT_FALSE(made.failed) << source.name << ": " << made.message;
        const double seconds = InspectMedia(input).duration;
        for (const auto& [target, width, height] :
             {std::tuple{"pal-dv", 720, 576}, std::tuple{"ntsc-dv", 720, 480}}) {
            SCOPED_TRACE(std::string(source.name) + " to " + target);
            const std::string output = (dir_ / (std::string(target) + ".dv")).string();
            const RunResult result = Convert({{input, {}}}, {{"target", target}}, output);
            ASSERT_FALSE(result.failed) << result.message;
            const test::MediaFacts facts = InspectMedia(output);
            const test::StreamFacts* video = facts.First("video");
            const test::StreamFacts* audio = facts.First("audio");
            ASSERT_TRUE(video && audio);
            EXPECT_EQ(video->codec, "dvvideo");
            EXPECT_EQ(video->width, width);
            EXPECT_EQ(video->height, height);
            EXPECT_EQ(audio->codec, "pcm_s16le");
            EXPECT_EQ(audio->sampleRate, 48000);
            EXPECT_EQ(audio->channels, 2);
            EXPECT_NEAR(video->endTime, seconds, 0.15);
            const Samples samples = DecodeAudio(output);
            EXPECT_NEAR(static_cast<double>(samples.Frames()) / 48000, video->endTime, 0.05);
            EXPECT_GT(ToneLevel(samples, 0, 440.0), 0.05) << "the sound is there";
        }
    }
}

} // namespace
} // namespace tarnel
