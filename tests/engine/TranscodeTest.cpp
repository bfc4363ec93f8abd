// Whole runs of the engine over the fixtures, checked by reading the outputs back.
#include "MediaInspect.h"
#include "TestSupport.h"
#include "base/FFmpegLoader.h"
#include "base/LibHandles.h"
#include "base/UnicodeProtocol.h"
#include "engine/FFmpeg.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tarnel {
namespace {

using fixtures::kFixtureFps;
using fixtures::kFixtureSeconds;
using test::Fixtures;
using test::InspectMedia;
using test::MediaFacts;
using test::TempDir;

using Options = std::vector<std::pair<std::string, std::string>>;

constexpr double kTolerance = 0.15; // seconds: a frame or an audio packet either side

const Options kCopyAll = {{"vcodec", "copy"}, {"acodec", "copy"}, {"scodec", "copy"}};

// One run described like a command line: options before the inputs, the inputs, options before
// the output, the output.
struct RunRequest {
    Options inputOptions;
    std::vector<std::string> inputs;
    Options outputOptions;
    std::string output;
    bool join = false;
};

class TranscodeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)) << Loader().LastLoadError(); }

    // Configures `engine` for `request`; false (with a test failure) when a file is refused.
    static bool Configure(TCustomFFmpeg& engine, const RunRequest& request) {
        engine.Reset();
        // Codec threads of the libraries synchronise in ways ThreadSanitizer cannot see.
        engine.SetOption("threads", "1");
        for (const auto& [name, value] : request.inputOptions)
            engine.SetOption(name, value);
        for (const std::string& input : request.inputs) {
            if (!engine.AddInputFile(input)) {
                ADD_FAILURE() << engine.LastError();
                return false;
            }
        }
        for (const auto& [name, value] : request.outputOptions)
            engine.SetOption(name, value);
        // A joined output is added once and takes one entry per input.
        if (engine.AddOutputFile(request.output, request.join) < 0) {
            ADD_FAILURE() << engine.LastError();
            return false;
        }
        return true;
    }

    // Runs in this thread and expects a finished run without error.
    static MediaFacts Convert(const RunRequest& request) {
        TCustomFFmpeg engine;
        if (!Configure(engine, request))
            return {};
        engine.Start(false);
        EXPECT_FALSE(engine.ErrorOccurred()) << engine.ErrorMessage();
        EXPECT_TRUE(engine.IsFinished());
        return InspectMedia(request.output);
    }

    TempDir dir_;
};

// Timestamps (seconds) and key-frame flags of the packets of the first stream of `type`.
struct PacketTimes {
    std::vector<double> times;
    std::vector<bool> keys;
};

PacketTimes ReadPackets(const std::string& path, AVMediaType type) {
    PacketTimes result;
    AVFormatContext* raw = nullptr;
    if (OpenInputContext(&raw, path, nullptr, nullptr) < 0)
        return result;
    InputContextPtr context(raw);
    const int index = av_find_best_stream(raw, type, -1, -1, nullptr, 0);
    if (index < 0)
        return result;
    const double timeBase = av_q2d(raw->streams[index]->time_base);
    PacketPtr packet = MakePacket();
    while (av_read_frame(raw, packet.get()) >= 0) {
        if (packet->stream_index == index && packet->pts != AV_NOPTS_VALUE) {
            result.times.push_back(packet->pts * timeBase);
            result.keys.push_back(packet->flags & AV_PKT_FLAG_KEY);
        }
        av_packet_unref(packet.get());
    }
    return result;
}

// The largest distance between neighbouring presentation times.
double LargestGap(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    double gap = 0;
    for (size_t i = 1; i < times.size(); ++i)
        gap = std::max(gap, times[i] - times[i - 1]);
    return gap;
}

TEST_F(TranscodeTest, StreamCopyIntoOtherContainersKeepsStreamsAndDuration) {
    struct Case {
        std::string input;
        std::string output;
    };
    const Case cases[] = {
        {Fixtures().h264AacMp4, "mp4.mkv"},          {Fixtures().mpeg2Ts, "ts.mkv"},
        {Fixtures().withSubtitles, "subtitles.mkv"}, {Fixtures().audioOnly, "mp3.mka"},
        {Fixtures().audioOnly, "mp3.mp3"},           {Fixtures().videoOnly, "avi.mkv"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        const MediaFacts source = InspectMedia(c.input);
        const MediaFacts copy = Convert({{}, {c.input}, kCopyAll, (dir_ / c.output).string()});
        ASSERT_TRUE(copy.opened);
        ASSERT_EQ(copy.streams.size(), source.streams.size());
        for (size_t i = 0; i < source.streams.size(); ++i) {
            EXPECT_EQ(copy.streams[i].type, source.streams[i].type);
            EXPECT_EQ(copy.streams[i].codec, source.streams[i].codec);
            EXPECT_EQ(copy.streams[i].packets, source.streams[i].packets);
        }
        EXPECT_NEAR(copy.duration, source.duration, kTolerance);
    }
}

TEST_F(TranscodeTest, StreamMapsChooseTheSourcesOfTheWholeRun) {
    // The video of the MP4 with the MP3 file's audio instead of the MP4's own AAC.
    const MediaFacts out = Convert({{},
                                    {Fixtures().audioOnly, Fixtures().h264AacMp4},
                                    {{"vcodec", "copy"}, {"acodec", "copy"}, {"map", "1:0"}, {"map", "0:0"}},
                                    (dir_ / "mapped.mkv").string()});
    ASSERT_TRUE(out.opened);
    ASSERT_EQ(out.streams.size(), 2u);
    ASSERT_NE(out.First("video"), nullptr);
    ASSERT_NE(out.First("audio"), nullptr);
    EXPECT_EQ(out.First("video")->codec, "h264");
    EXPECT_EQ(out.First("audio")->codec, "mp3");
    EXPECT_EQ(out.First("audio")->packets, InspectMedia(Fixtures().audioOnly).streams[0].packets);
}

TEST_F(TranscodeTest, JoinedInputsContinueEachOther) {
    const std::string input = Fixtures().h264AacMp4;
    const std::string output = (dir_ / "joined.mkv").string();
    const MediaFacts source = InspectMedia(input);
    const MediaFacts joined = Convert({{}, {input, input}, kCopyAll, output, true});
    ASSERT_TRUE(joined.opened);
    ASSERT_EQ(joined.streams.size(), source.streams.size());
    for (size_t i = 0; i < source.streams.size(); ++i)
        EXPECT_EQ(joined.streams[i].packets, 2 * source.streams[i].packets) << joined.streams[i].type;
    EXPECT_NEAR(joined.duration, 2 * source.duration, 2 * kTolerance);

    // The second half starts where the first ended: no hole and no overlap at the seam.
    const PacketTimes video = ReadPackets(output, AVMEDIA_TYPE_VIDEO);
    ASSERT_EQ(static_cast<long long>(video.times.size()), 2 * source.First("video")->packets);
    EXPECT_LT(LargestGap(video.times), 1.5 / kFixtureFps);
    std::vector<double> sorted = video.times;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "two pictures at one time";
    const PacketTimes audio = ReadPackets(output, AVMEDIA_TYPE_AUDIO);
    EXPECT_LT(LargestGap(audio.times), 0.05);
}

TEST_F(TranscodeTest, LimitsEndTheRun) {
    const std::string input = Fixtures().h264AacMp4;
    {
        SCOPED_TRACE("t");
        const MediaFacts out = Convert(
            {{}, {input}, {{"vcodec", "copy"}, {"acodec", "copy"}, {"t", "1.2"}}, (dir_ / "t.mkv").string()});
        ASSERT_TRUE(out.opened);
        EXPECT_NEAR(out.duration, 1.2, kTolerance);
        for (const test::StreamFacts& stream : out.streams)
            EXPECT_LE(stream.endTime, 1.2 + kTolerance) << stream.type;
    }
    {
        SCOPED_TRACE("fs");
        const int64_t limit = 60000;
        const std::string output = (dir_ / "fs.mkv").string();
        const MediaFacts out =
            Convert({{}, {input}, {{"vcodec", "copy"}, {"acodec", "copy"}, {"fs", "60000"}}, output});
        ASSERT_TRUE(out.opened);
        const auto size = static_cast<int64_t>(std::filesystem::file_size(output));
        EXPECT_GT(size, limit);
        EXPECT_LT(size, static_cast<int64_t>(std::filesystem::file_size(input)) / 2);
        EXPECT_LT(out.duration, kFixtureSeconds / 2);
    }
    {
        SCOPED_TRACE("vframes");
        const struct {
            const char* codec;
            const char* file;
        } modes[] = {{"copy", "vframes-copy.mkv"}, {"mpeg4", "vframes-mpeg4.mkv"}};
        for (const auto& mode : modes) {
            const MediaFacts out = Convert({{},
                                            {input},
                                            {{"an", "1"}, {"vcodec", mode.codec}, {"vframes", "17"}},
                                            (dir_ / mode.file).string()});
            ASSERT_TRUE(out.opened);
            ASSERT_NE(out.First("video"), nullptr);
            EXPECT_EQ(out.First("video")->packets, 17) << mode.codec;
        }
    }
}

TEST_F(TranscodeTest, ShortestEndsWithTheShorterInput) {
    const std::string shortAudio = (dir_ / "short.mka").string();
    const MediaFacts audio =
        Convert({{}, {Fixtures().audioOnly}, {{"acodec", "copy"}, {"t", "1.5"}}, shortAudio});
    ASSERT_NEAR(audio.duration, 1.5, kTolerance);

    const std::string output = (dir_ / "shortest.mkv").string();
    const MediaFacts out = Convert({{},
                                    {shortAudio, Fixtures().videoOnly},
                                    {{"vcodec", "copy"}, {"acodec", "copy"}, {"shortest", "1"}},
                                    output});
    ASSERT_TRUE(out.opened);
    ASSERT_NE(out.First("video"), nullptr);
    EXPECT_LT(out.First("video")->endTime, 1.5 + 2 * kTolerance);
    EXPECT_LT(out.duration, 1.5 + 2 * kTolerance);
}

TEST_F(TranscodeTest, CopiedVideoStartsOnAKeyFrameUnlessCopyinkf) {
    // 0.4 s into the first one-second group of pictures: the next key frame is at 1 s.
    const std::string input = Fixtures().h264AacMp4;
    const double toKeyFrame = 1.0 - 0.4;
    const std::string plain = (dir_ / "plain.mkv").string();
    const std::string withInitial = (dir_ / "copyinkf.mkv").string();
    Convert({{}, {input}, {{"an", "1"}, {"vcodec", "copy"}, {"ss", "0.4"}}, plain});
    Convert({{}, {input}, {{"an", "1"}, {"vcodec", "copy"}, {"ss", "0.4"}, {"copyinkf", "1"}}, withInitial});

    const PacketTimes fromKey = ReadPackets(plain, AVMEDIA_TYPE_VIDEO);
    ASSERT_FALSE(fromKey.times.empty());
    EXPECT_TRUE(fromKey.keys.front());
    EXPECT_NEAR(*std::min_element(fromKey.times.begin(), fromKey.times.end()), toKeyFrame, kTolerance);

    const PacketTimes all = ReadPackets(withInitial, AVMEDIA_TYPE_VIDEO);
    ASSERT_FALSE(all.keys.empty());
    EXPECT_FALSE(all.keys.front());
    EXPECT_EQ(all.times.size() - fromKey.times.size(), static_cast<size_t>(toKeyFrame * kFixtureFps + 0.5));
}

TEST_F(TranscodeTest, StopFromAnotherThreadLeavesAValidFile) {
    const std::string output = (dir_ / "stopped.mkv").string();
    TCustomFFmpeg engine;
    // Rate emulation makes the 3 s input take 3 s of wall time.
    ASSERT_TRUE(Configure(engine, {{{"re", "1"}}, {Fixtures().h264AacMp4}, kCopyAll, output}));
    std::atomic<int> terminations{0};
    std::atomic<bool> finishedAtTermination{true};
    engine.TerminateCallback = [&](TCustomFFmpeg& e) {
        finishedAtTermination = e.IsFinished();
        ++terminations;
    };
    TConvertThread* worker = engine.Start(true);
    ASSERT_NE(worker, nullptr);
    worker->Resume();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    engine.Stop(true);

    EXPECT_EQ(terminations, 1);
    EXPECT_FALSE(finishedAtTermination);
    EXPECT_FALSE(engine.IsFinished());
    EXPECT_FALSE(engine.ErrorOccurred()) << engine.ErrorMessage();
    const MediaFacts out = InspectMedia(output);
    ASSERT_TRUE(out.opened);
    ASSERT_NE(out.First("video"), nullptr);
    EXPECT_GT(out.First("video")->packets, 0);
    EXPECT_LT(out.First("video")->endTime, kFixtureSeconds - kTolerance);
}

TEST_F(TranscodeTest, APausedRunWritesNothingAndAStopEndsIt) {
    const std::string output = (dir_ / "paused.mkv").string();
    TCustomFFmpeg engine;
    ASSERT_TRUE(Configure(engine, {{{"re", "1"}}, {Fixtures().h264AacMp4}, kCopyAll, output}));
    std::atomic<int> terminations{0};
    engine.TerminateCallback = [&](TCustomFFmpeg&) {
        ++terminations;
    };
    std::atomic<int> reports{0};
    engine.ProgressInterval = 1;
    engine.ProgressCallback = [&](TCustomFFmpeg&, int32_t, int64_t, int64_t, int64_t, float, float, int32_t,
                                  int32_t) {
        ++reports;
    };
    TConvertThread* worker = engine.Start(true);
    ASSERT_NE(worker, nullptr);
    worker->Resume();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    engine.Pause();
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the worker reaches its safe point
    const int reportsWhenPaused = reports;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(reports, reportsWhenPaused);
    EXPECT_TRUE(engine.IsRunning());
    EXPECT_EQ(terminations, 0);

    engine.Stop(true);
    EXPECT_EQ(terminations, 1);
    EXPECT_FALSE(engine.IsFinished());
    const MediaFacts out = InspectMedia(output);
    ASSERT_TRUE(out.opened);
    ASSERT_NE(out.First("video"), nullptr);
    EXPECT_GT(out.First("video")->packets, 0);
}

TEST_F(TranscodeTest, ProgressComesAfterEachIntervalAndOnceFinal) {
    const long long pictures = InspectMedia(Fixtures().h264AacMp4).First("video")->packets;
    const struct {
        int64_t interval;
        bool reportsDuringTheRun;
    } cases[] = {{1, true}, {int64_t{3600} * 1000000, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.interval);
        TCustomFFmpeg engine;
        ASSERT_TRUE(
            Configure(engine, {{}, {Fixtures().h264AacMp4}, kCopyAll, (dir_ / "progress.mkv").string()}));
        engine.ProgressInterval = c.interval;
        std::vector<int> fileIndexes;
        std::vector<int> frames;
        engine.ProgressCallback = [&](TCustomFFmpeg&, int32_t fileIndex, int64_t, int64_t, int64_t, float,
                                      float, int32_t, int32_t frame) {
            fileIndexes.push_back(fileIndex);
            frames.push_back(frame);
        };
        engine.Start(false);
        ASSERT_FALSE(engine.ErrorOccurred()) << engine.ErrorMessage();
        ASSERT_FALSE(fileIndexes.empty());
        EXPECT_EQ(std::count(fileIndexes.begin(), fileIndexes.end(), -1), 1);
        EXPECT_EQ(fileIndexes.back(), -1);
        EXPECT_EQ(std::count(fileIndexes.begin(), fileIndexes.end() - 1, 0),
                  static_cast<std::ptrdiff_t>(fileIndexes.size()) - 1);
        EXPECT_EQ(fileIndexes.size() > 1, c.reportsDuringTheRun);
        EXPECT_EQ(frames.back(), pictures);
        EXPECT_TRUE(std::is_sorted(frames.begin(), frames.end()));
        std::filesystem::remove(dir_ / "progress.mkv");
    }
}

TEST_F(TranscodeTest, OutputWithoutStreamsEndsTheRunWithItsMessage) {
    TCustomFFmpeg engine;
    const std::string output = (dir_ / "nothing.mp3").string();
    ASSERT_TRUE(Configure(engine, {{}, {Fixtures().videoOnly}, {}, output}));
    int terminations = 0;
    engine.TerminateCallback = [&](TCustomFFmpeg&) {
        ++terminations;
    };
    engine.Start(false);
    EXPECT_TRUE(engine.ErrorOccurred());
    EXPECT_EQ(engine.ErrorMessage(), "Output file #0 does not contain any stream");
    EXPECT_FALSE(engine.IsFinished());
    EXPECT_EQ(terminations, 1);
    EXPECT_FALSE(std::filesystem::exists(output));
}

} // namespace
} // namespace tarnel
