#include "LogCapture.h"
#include "TestSupport.h"
#include "base/FFUtils.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "base/UnicodeProtocol.h"
#include "probe/AVProbe.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace tarnel {
namespace {

namespace fs = std::filesystem;
using test::Fixtures;

class ProbeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)) << Loader().LastLoadError(); }

    test::LogCapture log_;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The first line that starts with `prefix`, or "" when there is none.
std::string LineStartingWith(const std::string& text, const std::string& prefix) {
    for (const std::string& line : Lines(text)) {
        if (line.rfind(prefix, 0) == 0)
            return line;
    }
    return {};
}

std::vector<int64_t> Counters(const TAVProbe& probe) {
    return {probe.FileSize(),         probe.StreamCount(),      probe.ProgramCount(),
            probe.AudioStreamCount(), probe.VideoStreamCount(), probe.SubtitleStreamCount(),
            probe.AudioStreamIndex(), probe.VideoStreamIndex(), probe.SubtitleStreamIndex()};
}

const std::vector<int64_t> kClosedCounters(9, -1);

TEST_F(ProbeTest, WithoutAFileEveryQueryWarnsAndLeavesRecordsReset) {
    TAVProbe probe;
    EXPECT_EQ(Counters(probe), kClosedCounters);
    EXPECT_EQ(probe.InfoText(), "");
    TFileStreamInfo file;
    file.Title = "stale";
    EXPECT_FALSE(probe.FileStreamInfo(file));
    EXPECT_EQ(file.Duration, -1);
    EXPECT_EQ(file.Title, "");
    TAudioStreamInfo audio;
    EXPECT_FALSE(probe.AudioStreamInfo(-1, audio));
    EXPECT_EQ(audio.Channels, -1);
    EXPECT_FALSE(probe.IsVideoStream(0));
    EXPECT_EQ(probe.LastError(), "file not loaded.");
    const auto lines = log_.Lines();
    ASSERT_EQ(lines.size(), 4u);
    for (const test::LogLine& line : lines) {
        EXPECT_EQ(line.sender, &probe);
        EXPECT_EQ(line.level, llWarning);
        EXPECT_EQ(line.text, "file not loaded.");
    }
}

TEST_F(ProbeTest, DescribesTheMp4) {
    const std::string path = Fixtures().h264AacMp4;
    TAVProbe probe;
    ASSERT_TRUE(probe.Open(path)) << probe.LastError();
    EXPECT_EQ(probe.FileName(), path);
    EXPECT_NE(probe.FormatName().find("mp4"), std::string::npos) << probe.FormatName();
    EXPECT_EQ(probe.FileSize(), static_cast<int64_t>(fs::file_size(path)));
    EXPECT_EQ(probe.StreamCount(), 2);
    EXPECT_EQ(probe.VideoStreamCount(), 1);
    EXPECT_EQ(probe.AudioStreamCount(), 1);
    EXPECT_EQ(probe.SubtitleStreamCount(), 0);
    EXPECT_EQ(probe.SubtitleStreamIndex(), -1);
    const int video = probe.VideoStreamIndex();
    const int audio = probe.AudioStreamIndex();
    EXPECT_TRUE(probe.IsVideoStream(video));
    EXPECT_FALSE(probe.IsAudioStream(video));
    EXPECT_TRUE(probe.IsAudioStream(audio));
    EXPECT_FALSE(probe.IsVideoStream(audio));

    TFileStreamInfo file;
    ASSERT_TRUE(probe.FileStreamInfo(file));
    EXPECT_NEAR(file.Duration / 1e6, fixtures::kFixtureSeconds, 0.1);
    EXPECT_GE(file.StartTime, 0);
    EXPECT_GT(file.BitRate, 0);

    TVideoStreamInfo v;
    ASSERT_TRUE(probe.VideoStreamInfo(-1, v));
    EXPECT_EQ(v.Width, fixtures::kFixtureWidth);
    EXPECT_EQ(v.Height, fixtures::kFixtureHeight);
    EXPECT_EQ(v.FrameRateNum / v.FrameRateDen, fixtures::kFixtureFps);
    EXPECT_EQ(v.PixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(v.Codec.rfind("h264(", 0), 0u) << v.Codec;
    EXPECT_NEAR(v.Duration / 1e6, fixtures::kFixtureSeconds, 0.1);

    TAudioStreamInfo a;
    ASSERT_TRUE(probe.AudioStreamInfo(audio, a));
    EXPECT_EQ(a.Channels, 2);
    EXPECT_EQ(a.SampleRate, 44100);
    EXPECT_EQ(a.SampleFormat, AV_SAMPLE_FMT_FLTP);
    EXPECT_EQ(a.Codec.rfind("aac(", 0), 0u) << a.Codec;
    EXPECT_GT(a.BitRate, 0);

    const std::string text = probe.InfoText();
    const std::vector<std::string> lines = Lines(text);
    ASSERT_GE(lines.size(), 8u) << text;
    EXPECT_EQ(lines[0], "File Name: " + path);
    EXPECT_EQ(lines[1], "Format Name: " + probe.FormatName());
    EXPECT_EQ(lines[2].rfind("Format Long Name: ", 0), 0u);
    EXPECT_EQ(lines[3], "File Size: " + FileSizeText(probe.FileSize()));
    EXPECT_EQ(lines[4], "Duration: " + TimestampText(file.Duration));
    EXPECT_EQ(LineStartingWith(text, "StartTime: "),
              Format("StartTime: %d.%06d", static_cast<int>(file.StartTime / 1000000),
                     static_cast<int>(file.StartTime % 1000000)));
    EXPECT_EQ(LineStartingWith(text, "Bit Rate: "), Format("Bit Rate: %d kb/s", file.BitRate / 1000));

    const std::string videoLine = LineStartingWith(text, Format("Stream #%d", video));
    EXPECT_NE(videoLine.find(": Video: h264"), std::string::npos) << videoLine;
    EXPECT_NE(videoLine.find("320x240"), std::string::npos) << videoLine;
    EXPECT_NE(videoLine.find(", 25 fps, 25 tbr"), std::string::npos) << videoLine;
    EXPECT_NE(videoLine.find(", Duration: " + TimestampText(v.Duration)), std::string::npos) << videoLine;
    const std::string audioLine = LineStartingWith(text, Format("Stream #%d", audio));
    EXPECT_NE(audioLine.find(": Audio: aac"), std::string::npos) << audioLine;
    EXPECT_NE(audioLine.find("44100 Hz"), std::string::npos) << audioLine;
    EXPECT_EQ(audioLine.find(" fps"), std::string::npos) << audioLine;
}

TEST_F(ProbeTest, CountsEachKindOfStream) {
    struct Case {
        std::string path;
        int audio, video, subtitle;
    };
    const Case cases[] = {
        {Fixtures().audioOnly, 1, 0, 0},
        {Fixtures().videoOnly, 0, 1, 0},
        {Fixtures().surround51, 1, 0, 0},
        {Fixtures().withSubtitles, 1, 1, 1},
    };
    for (const Case& c : cases) {
        TAVProbe probe;
        ASSERT_TRUE(probe.Open(c.path)) << probe.LastError();
        EXPECT_EQ(probe.AudioStreamCount(), c.audio) << c.path;
        EXPECT_EQ(probe.VideoStreamCount(), c.video) << c.path;
        EXPECT_EQ(probe.SubtitleStreamCount(), c.subtitle) << c.path;
        EXPECT_EQ(probe.StreamCount(), c.audio + c.video + c.subtitle) << c.path;
        EXPECT_EQ(probe.AudioStreamIndex() >= 0, c.audio > 0) << c.path;
        EXPECT_EQ(probe.VideoStreamIndex() >= 0, c.video > 0) << c.path;
        EXPECT_EQ(probe.SubtitleStreamIndex() >= 0, c.subtitle > 0) << c.path;
    }
}

TEST_F(ProbeTest, SurroundAc3HasSixChannels) {
    TAVProbe probe;
    ASSERT_TRUE(probe.Open(Fixtures().surround51)) << probe.LastError();
    TAudioStreamInfo audio;
    ASSERT_TRUE(probe.AudioStreamInfo(-1, audio));
    EXPECT_EQ(audio.Channels, 6);
    EXPECT_EQ(audio.SampleRate, 48000);
    EXPECT_EQ(audio.Codec.rfind("ac3(", 0), 0u) << audio.Codec;
}

TEST_F(ProbeTest, SubtitleStreamHasItsOwnLine) {
    TAVProbe probe;
    ASSERT_TRUE(probe.Open(Fixtures().withSubtitles)) << probe.LastError();
    const int index = probe.SubtitleStreamIndex();
    ASSERT_GE(index, 0);
    EXPECT_FALSE(probe.IsAudioStream(index));
    EXPECT_FALSE(probe.IsVideoStream(index));
    const std::string line = LineStartingWith(probe.InfoText(), Format("Stream #%d", index));
    EXPECT_NE(line.find(": Subtitle: subrip"), std::string::npos) << line;
    EXPECT_EQ(line.find(" fps"), std::string::npos) << line;
}

TEST_F(ProbeTest, WrongStreamIndexesAreErrorsAndLeaveTheRecordReset) {
    TAVProbe probe;
    ASSERT_TRUE(probe.Open(Fixtures().h264AacMp4)) << probe.LastError();
    const int video = probe.VideoStreamIndex();
    const int audio = probe.AudioStreamIndex();
    struct Case {
        bool audioRecord;
        int index;
        std::string error;
    };
    const Case cases[] = {
        {false, audio, Format("stream #%d is not video stream.", audio)},
        {true, video, Format("stream #%d is not audio stream.", video)},
        {true, 2, "stream index #2 is invalid."},
        {false, 99, "stream index #99 is invalid."},
    };
    for (const Case& c : cases) {
        log_.Clear();
        TAudioStreamInfo a;
        TVideoStreamInfo v;
        v.Width = a.Channels = 7;
        const bool filled =
            c.audioRecord ? probe.AudioStreamInfo(c.index, a) : probe.VideoStreamInfo(c.index, v);
        EXPECT_FALSE(filled) << c.error;
        EXPECT_EQ(c.audioRecord ? a.Channels : v.Width, -1) << c.error;
        EXPECT_EQ(probe.LastError(), c.error);
        const auto lines = log_.Lines();
        ASSERT_EQ(lines.size(), 1u) << c.error;
        EXPECT_EQ(lines[0].level, llError);
        EXPECT_EQ(lines[0].text, c.error);
    }
    for (int bad : {-1, 2}) {
        EXPECT_FALSE(probe.IsAudioStream(bad));
        EXPECT_EQ(probe.LastError(), Format("stream index #%d is invalid.", bad));
    }

    TAVProbe videoOnly;
    ASSERT_TRUE(videoOnly.Open(Fixtures().videoOnly)) << videoOnly.LastError();
    TAudioStreamInfo none;
    EXPECT_FALSE(videoOnly.AudioStreamInfo(-1, none));
    EXPECT_EQ(videoOnly.LastError(), "no audio stream.");
    EXPECT_EQ(none.SampleRate, -1);
    EXPECT_EQ(none.Codec, "");
}

TEST_F(ProbeTest, FailedOpensLeaveTheProbeClosed) {
    test::TempDir dir;
    const std::string missing = (dir / "missing.mp4").string();
    struct Case {
        std::string file, format, error;
        bool logged;
    };
    const Case cases[] = {
        {missing, "", ErrorText(missing, AVERROR(ENOENT)), true},
        {Fixtures().h264AacMp4, "nope", "Unknown input format: nope", false},
    };
    for (const Case& c : cases) {
        TAVProbe probe;
        ASSERT_TRUE(probe.Open(Fixtures().surround51, "ac3")) << probe.LastError();
        log_.Clear();
        EXPECT_FALSE(probe.Open(c.file, c.format)) << c.error;
        EXPECT_EQ(probe.LastError(), c.error);
        EXPECT_EQ(Counters(probe), kClosedCounters) << c.error;
        EXPECT_EQ(probe.FileName(), "");
        EXPECT_EQ(probe.ForcedFormat(), "");
        EXPECT_EQ(log_.Lines().size(), c.logged ? 1u : 0u) << c.error;
    }
}

TEST_F(ProbeTest, CloseForgetsTheFileAndTheProbeCanBeReused) {
    TAVProbe probe;
    ASSERT_TRUE(probe.Open(Fixtures().h264AacMp4)) << probe.LastError();
    probe.Close();
    EXPECT_EQ(Counters(probe), kClosedCounters);
    EXPECT_EQ(probe.FormatName(), "");
    ASSERT_TRUE(probe.Open(Fixtures().surround51, "ac3")) << probe.LastError();
    EXPECT_EQ(probe.ForcedFormat(), "ac3");
    EXPECT_EQ(probe.FormatName(), "ac3");
    EXPECT_EQ(probe.StreamCount(), 1);
    EXPECT_EQ(probe.VideoStreamIndex(), -1);
    EXPECT_EQ(probe.AudioStreamIndex(), 0);
    probe.Close();
    EXPECT_EQ(probe.ForcedFormat(), "");
}

TEST_F(ProbeTest, AttachedContextStaysWithItsOpener) {
    AVFormatContext* raw = nullptr;
    ASSERT_EQ(OpenInputContext(&raw, Fixtures().withSubtitles, nullptr, nullptr), 0);
    InputContextPtr input(raw);
    ASSERT_GE(avformat_find_stream_info(input.get(), nullptr), 0);
    {
        TAVProbe probe;
        probe.Attach(input.get());
        EXPECT_EQ(probe.FileName(), Fixtures().withSubtitles);
        EXPECT_EQ(probe.StreamCount(), 3);
        EXPECT_EQ(probe.ForcedFormat(), "");
        probe.Attach(nullptr);
        EXPECT_EQ(Counters(probe), kClosedCounters);
        probe.Attach(input.get());
    } // the probe goes; the context must still be usable by its opener
    AVPacket* packet = av_packet_alloc();
    EXPECT_GE(av_read_frame(input.get(), packet), 0);
    av_packet_free(&packet);
}

// A context made by hand, for what the fixtures cannot carry.
class HandMadeContext {
public:
    HandMadeContext()
        : context_(avformat_alloc_context()) {}
    AVFormatContext* get() const { return context_.get(); }
    AVStream* AddStream(AVMediaType type, AVRational timeBase) {
        AVStream* stream = avformat_new_stream(context_.get(), nullptr);
        stream->codecpar->codec_type = type;
        stream->time_base = timeBase;
        return stream;
    }

private:
    FormatContextPtr context_;
};

TEST_F(ProbeTest, WithoutAByteStreamTheSizeComesFromTheDisk) {
    const std::string path = Fixtures().audioOnly;
    HandMadeContext context;
    context.get()->url = av_strdup(path.c_str());
    TAVProbe probe;
    probe.Attach(context.get());
    EXPECT_EQ(probe.FileName(), path);
    EXPECT_EQ(probe.FileSize(), static_cast<int64_t>(fs::file_size(path)));
}

TEST_F(ProbeTest, ZeroTimeBaseDenominatorConvertsWithoutChangingTheStream) {
    struct Case {
        AVRational timeBase;
        int64_t start, duration;
        int64_t startUs, durationUs;
    };
    const Case cases[] = {
        {{1000, 0}, 2, 3, 2'000'000, 3'000'000}, // numerator as denominator: ticks of one second
        {{0, 0}, 2, 3, 0, 0},                    // 0/1: every time is 0
        {{1, 90000}, 90000, 270000, 1'000'000, 3'000'000},
    };
    for (const Case& c : cases) {
        HandMadeContext context;
        AVStream* stream = context.AddStream(AVMEDIA_TYPE_VIDEO, c.timeBase);
        stream->start_time = c.start;
        stream->duration = c.duration;
        TAVProbe probe;
        probe.Attach(context.get());
        TVideoStreamInfo info;
        ASSERT_TRUE(probe.VideoStreamInfo(0, info)) << probe.LastError();
        EXPECT_EQ(info.StartPTS, c.start);
        EXPECT_EQ(info.StartTime, c.startUs);
        EXPECT_EQ(info.DurationPTS, c.duration);
        EXPECT_EQ(info.Duration, c.durationUs);
        const std::string line = LineStartingWith(probe.InfoText(), "Stream #0");
        EXPECT_NE(line.find(", Duration: " + TimestampText(c.durationUs)), std::string::npos) << line;
        // The opener's stream keeps its own time base.
        EXPECT_EQ(stream->time_base.num, c.timeBase.num);
        EXPECT_EQ(stream->time_base.den, c.timeBase.den);
    }
}

TEST_F(ProbeTest, UnsetTimesStayMinusOneAndShowAsNotAvailable) {
    HandMadeContext context;
    context.AddStream(AVMEDIA_TYPE_AUDIO, {1, 48000});
    context.get()->duration = AV_NOPTS_VALUE;
    context.get()->start_time = AV_NOPTS_VALUE;
    TAVProbe probe;
    probe.Attach(context.get());
    TAudioStreamInfo audio;
    ASSERT_TRUE(probe.AudioStreamInfo(-1, audio));
    EXPECT_EQ(audio.StartTime, -1);
    EXPECT_EQ(audio.Duration, -1);
    const std::string text = probe.InfoText();
    EXPECT_EQ(LineStartingWith(text, "Duration: "), "Duration: N/A");
    EXPECT_EQ(LineStartingWith(text, "StartTime: "), "");
    EXPECT_EQ(LineStartingWith(text, "Bit Rate: "), "Bit Rate: N/A");
    const std::string line = LineStartingWith(text, "Stream #0");
    EXPECT_NE(line.find(", 1/48000: "), std::string::npos) << line;
    EXPECT_EQ(line.find("StartTime"), std::string::npos) << line;
    EXPECT_EQ(line.substr(line.size() - 15), ", Duration: N/A") << line;
}

TEST_F(ProbeTest, VideoRatesFollowTheRateRule) {
    struct Case {
        AVRational average, timeBase;
        std::string expected;
    };
    const Case cases[] = {
        {{25, 1}, {1, 25}, ", 25 fps, 25 tbr, 25 tbn"},
        {{30000, 1001}, {1, 90000}, ", 29.97 fps, 29.97 tbr, 90k tbn"},
        {{0, 1}, {1, 1000}, ", 1k tbn"},
    };
    for (const Case& c : cases) {
        HandMadeContext context;
        AVStream* stream = context.AddStream(AVMEDIA_TYPE_VIDEO, c.timeBase);
        stream->avg_frame_rate = stream->r_frame_rate = c.average;
        TAVProbe probe;
        probe.Attach(context.get());
        const std::string line = LineStartingWith(probe.InfoText(), "Stream #0");
        EXPECT_NE(line.find(c.expected + ", Duration"), std::string::npos) << line;
    }
}

TEST_F(ProbeTest, MetadataBlocksTranslateId3KeysAndSkipLanguage) {
    HandMadeContext context;
    av_dict_set(&context.get()->metadata, "TIT2", "A title", 0);
    av_dict_set(&context.get()->metadata, "TPE1", "Someone", 0);
    av_dict_set(&context.get()->metadata, "language", "eng", 0);
    av_dict_set(&context.get()->metadata, "mood", "calm", 0);
    AVStream* onlyLanguage = context.AddStream(AVMEDIA_TYPE_AUDIO, {1, 44100});
    av_dict_set(&onlyLanguage->metadata, "language", "ger", 0);
    AVStream* tagged = context.AddStream(AVMEDIA_TYPE_AUDIO, {1, 44100});
    av_dict_set(&tagged->metadata, "TALB", "An album", 0);
    av_dict_set(&context.get()->metadata, "title", "Plain", 0);
    TAVProbe probe;
    probe.Attach(context.get());
    const std::vector<std::string> lines = Lines(probe.InfoText());
    const std::vector<std::string> expectedTail = {
        "Metadata:",
        "  title           : A title",
        "  artist          : Someone",
        "  mood            : calm",
        "  title           : Plain",
    };
    auto at = std::find(lines.begin(), lines.end(), "Metadata:");
    ASSERT_NE(at, lines.end());
    EXPECT_EQ(std::vector<std::string>(at, at + 5), expectedTail);
    at += 5;
    ASSERT_EQ(lines.end() - at, 4);
    EXPECT_EQ(at[0].rfind("Stream #0(ger), 1/44100: Audio", 0), 0u) << at[0];
    EXPECT_EQ(at[1].rfind("Stream #1, 1/44100: Audio", 0), 0u) << at[1];
    EXPECT_EQ(at[2], "  Metadata:");
    EXPECT_EQ(at[3], "    album           : An album");

    TFileStreamInfo file;
    ASSERT_TRUE(probe.FileStreamInfo(file));
    EXPECT_EQ(file.Title, "Plain");
    TAudioStreamInfo audio;
    ASSERT_TRUE(probe.AudioStreamInfo(-1, audio));
    EXPECT_EQ(audio.Language, "ger");
}

TEST_F(ProbeTest, ProgramsListTheirStreamsFirst) {
    HandMadeContext context;
    context.AddStream(AVMEDIA_TYPE_AUDIO, {1, 44100});
    context.AddStream(AVMEDIA_TYPE_VIDEO, {1, 25});
    AVProgram* program = av_new_program(context.get(), 7);
    av_program_add_stream_index(context.get(), 7, 1);
    av_dict_set(&program->metadata, "service_name", "News", 0);
    av_dict_set(&program->metadata, "service_provider", "Station", 0);
    TAVProbe probe;
    probe.Attach(context.get());
    EXPECT_EQ(probe.ProgramCount(), 1);
    std::vector<std::string> lines = Lines(probe.InfoText());
    auto at = std::find(lines.begin(), lines.end(), "Program 7 Station@News");
    ASSERT_NE(at, lines.end());
    ASSERT_EQ(lines.end() - at, 6);
    EXPECT_EQ(at[1], "  Metadata:");
    EXPECT_EQ(at[2], "    service_name    : News");
    EXPECT_EQ(at[3], "    service_provider: Station");
    EXPECT_EQ(at[4].rfind("Stream #1, 1/25: Video", 0), 0u) << at[4];
    EXPECT_EQ(at[5].rfind("Stream #0, 1/44100: Audio", 0), 0u) << at[5];
}

TEST_F(ProbeTest, MissingLibrariesAreRefused) {
    struct Case {
        TLibraryNo library;
        std::string message;
    };
    const Case cases[] = {
        {lnAVCodec, "LibAVCodec not loaded."},
        {lnAVFormat, "LibAVFormat not loaded."},
        {lnSwScale, "LibSwScale not loaded."},
    };
    for (const Case& c : cases) {
        Loader().UnloadOne(c.library);
        TAVProbe probe;
        try {
            probe.Open(Fixtures().h264AacMp4);
            ADD_FAILURE() << "no exception for " << c.message;
        } catch (const FFmpegException& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
        EXPECT_THROW(probe.Attach(nullptr), FFmpegException);
        ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)) << Loader().LastLoadError();
    }
}

} // namespace
} // namespace tarnel
