// The conversions the engine must make: each row converts a fixture and reads the output back for
// its container, codecs, picture size and duration.
#include "EngineConvert.h"
#include "MediaInspect.h"
#include "TestSupport.h"
#include "base/FFmpegLoader.h"
#include "base/LibHandles.h"
#include "engine/FFmpeg.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace tarnel {
namespace {

using test::ConvertWithEngine;
using test::Fixtures;
using test::InspectMedia;
using test::MediaFacts;
using test::StreamFacts;
using test::TempDir;

using Options = std::vector<std::pair<std::string, std::string>>;

enum class Source { H264Aac, Mp3, Surround51 };

struct Conversion {
    const char* name;
    Source source;
    Options options; // set after the input is added, in this order
    const char* outputName;
    const char* container;  // part of the demuxer's name
    const char* videoCodec; // nullptr: no video stream expected
    int width = 0;
    int height = 0;
    const char* audioCodec;
    std::vector<const char*> encoders; // needed in this build; a missing one skips the row
    bool delayUnmarked = false;        // the container cannot mark the audio encoder's delay as such
};

std::string SourcePath(Source source) {
    switch (source) {
    case Source::H264Aac:
        return Fixtures().h264AacMp4;
    case Source::Mp3:
        return Fixtures().audioOnly;
    case Source::Surround51:
        return Fixtures().surround51;
    }
    return {};
}

bool HasEncoder(const char* name) {
    return avcodec_find_encoder_by_name(name) != nullptr;
}

// The 3GP row takes AMR-NB when this build has its encoder, else AAC.
const char* ThreeGppAudio() {
    return HasEncoder("libopencore_amrnb") ? "libopencore_amrnb" : "aac";
}
const char* ThreeGppAudioCodec() {
    return HasEncoder("libopencore_amrnb") ? "amr_nb" : "aac";
}

std::vector<Conversion> Table() {
    const Options small{{"s", "160x120"}};
    auto with = [&](Options extra) {
        Options all = small;
        all.insert(all.end(), extra.begin(), extra.end());
        return all;
    };
    // clang-format off
    return {
        {"Mp4X264Aac", Source::H264Aac, with({{"vcodec", "libx264"}, {"preset", "ultrafast"}, {"acodec", "aac"}}), "out.mp4", "mp4", "h264", 160, 120, "aac", {"libx264", "aac"}},
        {"AviMpeg4Mp3", Source::H264Aac, with({{"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}}), "out.avi", "avi", "mpeg4", 160, 120, "mp3", {"mpeg4", "libmp3lame"}, true},
        {"Mpeg1Mp2", Source::H264Aac, with({{"vcodec", "mpeg1video"}, {"acodec", "mp2"}, {"f", "mpeg"}}), "out.mpg", "mpeg", "mpeg1video", 160, 120, "mp2", {"mpeg1video", "mp2"}},
        {"PalDvd", Source::H264Aac, {{"target", "pal-dvd"}}, "out.vob", "mpeg", "mpeg2video", 720, 576, "ac3", {"mpeg2video", "ac3"}},
        {"NtscVcd", Source::H264Aac, {{"target", "ntsc-vcd"}}, "out.mpg", "mpeg", "mpeg1video", 352, 240, "mp2", {"mpeg1video", "mp2"}},
        {"PalDv", Source::H264Aac, {{"target", "pal-dv"}}, "out.dv", "dv", "dvvideo", 720, 576, "pcm_s16le", {"dvvideo", "pcm_s16le"}},
        {"AsfWmv2Wma2", Source::H264Aac, with({{"vcodec", "wmv2"}, {"acodec", "wmav2"}}), "out.asf", "asf", "wmv2", 160, 120, "wmav2", {"wmv2", "wmav2"}},
        {"FlvMp3", Source::H264Aac, with({{"vcodec", "flv"}, {"acodec", "libmp3lame"}}), "out.flv", "flv", "flv1", 160, 120, "mp3", {"flv", "libmp3lame"}, true},
        {"ThreeGpH263", Source::H264Aac, {{"s", "176x144"}, {"vcodec", "h263"}, {"acodec", ThreeGppAudio()}, {"ar", "8000"}, {"ac", "1"}}, "out.3gp", "3gp", "h263", 176, 144, ThreeGppAudioCodec(), {"h263"}},
        {"MovMpeg4Aac", Source::H264Aac, with({{"vcodec", "mpeg4"}, {"acodec", "aac"}}), "out.mov", "mov", "mpeg4", 160, 120, "aac", {"mpeg4", "aac"}},
        {"AudioMp3", Source::H264Aac, {{"vn", "1"}, {"acodec", "libmp3lame"}}, "out.mp3", "mp3", nullptr, 0, 0, "mp3", {"libmp3lame"}},
        {"AudioAac", Source::Mp3, {{"acodec", "aac"}}, "out.m4a", "mp4", nullptr, 0, 0, "aac", {"aac"}},
        {"AudioWav", Source::Mp3, {{"acodec", "pcm_s16le"}}, "out.wav", "wav", nullptr, 0, 0, "pcm_s16le", {"pcm_s16le"}},
        {"AudioOggVorbis", Source::Mp3, {{"acodec", "libvorbis"}}, "out.ogg", "ogg", nullptr, 0, 0, "vorbis", {"libvorbis"}},
        {"AudioFlac", Source::Mp3, {{"acodec", "flac"}}, "out.flac", "flac", nullptr, 0, 0, "flac", {"flac"}},
        {"AudioAc3", Source::Surround51, {{"acodec", "ac3"}}, "out.ac3", "ac3", nullptr, 0, 0, "ac3", {"ac3"}},
    };
    // clang-format on
}

double Length(const StreamFacts& stream) {
    return stream.endTime - stream.firstTime;
}

// What a player hears: the decoded samples of the first audio stream, after the trimming the
// container signals (encoder delay, padding), and the average samples per packet.
struct HeardAudio {
    double seconds = 0;
    double frameSeconds = 0;
};

HeardAudio DecodeAudioLength(const std::string& path) {
    HeardAudio heard;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return heard;
    InputContextPtr input(raw);
    avformat_find_stream_info(raw, nullptr);
    const int index = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0)
        return heard;
    const AVCodec* decoder = avcodec_find_decoder(raw->streams[index]->codecpar->codec_id);
    CodecContextPtr codec(avcodec_alloc_context3(decoder));
    avcodec_parameters_to_context(codec.get(), raw->streams[index]->codecpar);
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0)
        return heard;
    FramePtr frame = MakeFrame();
    PacketPtr packet = MakePacket();
    int64_t samples = 0;
    int64_t packets = 0;
    auto receive = [&] {
        while (avcodec_receive_frame(codec.get(), frame.get()) >= 0) {
            samples += frame->nb_samples;
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(raw, packet.get()) >= 0) {
        if (packet->stream_index == index) {
            ++packets;
            if (avcodec_send_packet(codec.get(), packet.get()) >= 0)
                receive();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(codec.get(), nullptr);
    receive();
    heard.seconds = static_cast<double>(samples) / codec->sample_rate;
    heard.frameSeconds = packets > 0 ? heard.seconds / static_cast<double>(packets) : 0;
    return heard;
}

// One frame of the output stream: its average packet duration.
double FrameTime(const StreamFacts& stream) {
    return stream.packets > 0 ? Length(stream) / static_cast<double>(stream.packets) : 0.0;
}

void ExpectSameLength(const StreamFacts& source, const StreamFacts& output, const char* what) {
    EXPECT_NEAR(Length(output), Length(source), FrameTime(output) + 1e-3)
        << what << ": source " << source.firstTime << ".." << source.endTime << ", output "
        << output.firstTime << ".." << output.endTime << " in " << output.packets << " packets";
}

// The samples an encoder puts in front of the audio (its delay), which a player hears when the
// container cannot say to skip them.
double EncoderDelaySeconds(const char* name, int sampleRate) {
    const AVCodec* encoder = avcodec_find_encoder_by_name(name);
    CodecContextPtr codec(avcodec_alloc_context3(encoder));
    codec->sample_rate = sampleRate;
    codec->sample_fmt = encoder->sample_fmts[0];
    codec->time_base = {1, sampleRate};
    av_channel_layout_default(&codec->ch_layout, 2);
    if (avcodec_open2(codec.get(), encoder, nullptr) < 0)
        return 0;
    return static_cast<double>(codec->initial_padding) / sampleRate;
}

class ConversionTable : public ::testing::TestWithParam<Conversion> {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)); }
};

TEST_P(ConversionTable, OutputOpensWithExpectedStreams) {
    const Conversion& row = GetParam();
    for (const char* encoder : row.encoders)
        if (!HasEncoder(encoder))
            GTEST_SKIP() << "encoder " << encoder << " is not in this build";
    TempDir dir;
    const std::string input = SourcePath(row.source);
    const std::string output = (dir / row.outputName).string();
    ASSERT_EQ(ConvertWithEngine(input, row.options, output), "");

    const MediaFacts source = InspectMedia(input);
    const MediaFacts facts = InspectMedia(output);
    ASSERT_TRUE(facts.opened);
    EXPECT_NE(facts.format.find(row.container), std::string::npos) << facts.format;

    const StreamFacts* video = facts.First("video");
    if (row.videoCodec) {
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->codec, row.videoCodec);
        EXPECT_EQ(video->width, row.width);
        EXPECT_EQ(video->height, row.height);
        ExpectSameLength(*source.First("video"), *video, "video");
    } else {
        EXPECT_EQ(video, nullptr);
    }
    const StreamFacts* audio = facts.First("audio");
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->codec, row.audioCodec);
    const HeardAudio sourceAudio = DecodeAudioLength(input);
    const HeardAudio outputAudio = DecodeAudioLength(output);
    const double delay = row.delayUnmarked ? EncoderDelaySeconds(row.encoders.back(), audio->sampleRate) : 0;
    EXPECT_NEAR(outputAudio.seconds, sourceAudio.seconds + delay, outputAudio.frameSeconds + 1e-3);
}

INSTANTIATE_TEST_SUITE_P(Rows, ConversionTable, ::testing::ValuesIn(Table()),
                         [](const ::testing::TestParamInfo<Conversion>& row) { return row.param.name; });

TEST(ConversionTwoPass, SecondPassOutputOpens) {
    ASSERT_TRUE(Loader().LoadSet(kConverterLibraries));
    if (!HasEncoder("libx264"))
        GTEST_SKIP() << "encoder libx264 is not in this build";
    TempDir dir;
    const std::string logPrefix = (dir / "passlog").string();
    const Options common{{"s", "160x120"}, {"vcodec", "libx264"}, {"preset", "ultrafast"},
                         {"b", "200000"},  {"an", "1"},           {"passlogfile", logPrefix}};
    Options first = common;
    first.push_back({"pass", "1"});
    ASSERT_EQ(ConvertWithEngine(Fixtures().h264AacMp4, first, (dir / "pass1.mp4").string()), "");
    bool statisticsWritten = false;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        if (entry.path().filename().string().starts_with("passlog") && entry.file_size() > 0)
            statisticsWritten = true;
    EXPECT_TRUE(statisticsWritten);

    Options second = common;
    second.push_back({"pass", "2"});
    const std::string output = (dir / "pass2.mp4").string();
    ASSERT_EQ(ConvertWithEngine(Fixtures().h264AacMp4, second, output), "");
    const MediaFacts facts = InspectMedia(output);
    ASSERT_TRUE(facts.opened);
    const StreamFacts* video = facts.First("video");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->codec, "h264");
    EXPECT_EQ(video->packets, static_cast<long long>(fixtures::kFixtureSeconds * fixtures::kFixtureFps));
}

// Subtitles decoded and encoded again keep their cues and times.
struct SubtitleConversion {
    const char* name;
    Options options;
    const char* outputName;
    const char* codec;
    bool gapsFilled = false; // the muxer writes an empty sample for every gap between cues
};

class SubtitleTable : public ::testing::TestWithParam<SubtitleConversion> {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)); }
};

TEST_P(SubtitleTable, CuesKeepTheirTimes) {
    const SubtitleConversion& row = GetParam();
    TempDir dir;
    const std::string output = (dir / row.outputName).string();
    ASSERT_EQ(ConvertWithEngine(Fixtures().withSubtitles, row.options, output), "");
    const MediaFacts facts = InspectMedia(output);
    ASSERT_TRUE(facts.opened);
    const StreamFacts* subtitle = facts.First("subtitle");
    ASSERT_NE(subtitle, nullptr);
    EXPECT_EQ(subtitle->codec, row.codec);
    const long long cues = static_cast<long long>(fixtures::kFixtureCues.size());
    EXPECT_EQ(subtitle->packets, row.gapsFilled ? 2 * cues : cues);
    // The fixture's cues lie up to one AAC encoder delay (about 23 ms) later than listed.
    const double first = row.gapsFilled ? 0.0 : fixtures::kFixtureCues.front().startSeconds + 0.012;
    EXPECT_NEAR(subtitle->firstTime, first, 0.03);
    EXPECT_NEAR(subtitle->endTime, fixtures::kFixtureCues.back().endSeconds + 0.012, 0.03);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SubtitleTable,
    ::testing::Values(
        SubtitleConversion{"Srt", {{"vn", "1"}, {"an", "1"}, {"scodec", "srt"}}, "out.srt", "subrip"},
        SubtitleConversion{"Ass", {{"vn", "1"}, {"an", "1"}, {"scodec", "ass"}}, "out.ass", "ass"},
        SubtitleConversion{"MovText",
                           {{"vcodec", "mpeg4"}, {"acodec", "aac"}, {"scodec", "mov_text"}},
                           "out.mp4",
                           "mov_text",
                           true}),
    [](const ::testing::TestParamInfo<SubtitleConversion>& row) { return row.param.name; });

} // namespace
} // namespace tarnel
