// The pipelined run (reading and decoding on a thread of their own) against the sequential one: the
// same job gives the same bytes, stops and pauses where the encoder side is, and a decoding error on
// the reading thread ends or marks the run as it does without the pipeline.
#include "MediaInspect.h"
#include "TestSupport.h"
#include "base/Bitmap.h"
#include "base/FFmpegLoader.h"
#include "engine/FFmpeg.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tarnel {
namespace {

using namespace std::chrono_literals;
using test::Fixtures;
using test::TempDir;
using Options = std::vector<std::pair<std::string, std::string>>;

std::vector<char> ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

struct Job {
    const char* name;
    std::vector<std::string> (*inputs)();
    Options options;
    bool join = false;
    bool twoPass = false;
    bool hook = false; // a frame hook that paints a counter-dependent band into each picture
};

struct Result {
    std::string error;
    bool finished = false;
};

// The codec threads stay at one so that ThreadSanitizer sees every thread it has to.
Result RunJob(const Job& job, const Options& extra, bool pipelined, const std::string& output,
              const std::function<void(TCustomFFmpeg&)>& prepare = nullptr) {
    TCustomFFmpeg engine;
    engine.Reset();
    engine.SetOption("threads", "1");
    engine.SetPipeline(pipelined);
    for (const std::string& input : job.inputs())
        if (!engine.AddInputFile(input))
            return {"input: " + engine.LastError()};
    for (const auto& [name, value] : job.options)
        engine.SetOption(name, value);
    for (const auto& [name, value] : extra)
        engine.SetOption(name, value);
    if (job.hook)
        engine.HookCallback = [](TCustomFFmpeg&, TBitmap& bitmap, bool&, bool& update, int64_t,
                                 int32_t counter) {
            const int row = counter % bitmap.Height();
            uint8_t* line = bitmap.ScanLine(row);
            for (int x = 0; x < bitmap.Width() * 3; ++x)
                line[x] = static_cast<uint8_t>(255 - line[x]);
            update = true;
        };
    if (prepare)
        prepare(engine);
    if (engine.AddOutputFile(output, job.join) < 0)
        return {"output: " + engine.LastError()};
    engine.Start(false);
    // A pipelined run must have had its reading thread, or the comparison proves nothing.
    EXPECT_EQ(engine.Pipelined(), pipelined);
    return {engine.ErrorOccurred() ? engine.ErrorMessage() : std::string(), engine.IsFinished()};
}

// Runs the job (both passes of a two-pass job) and returns the output's bytes.
std::vector<char> Convert(const Job& job, bool pipelined, const TempDir& dir) {
    const std::string tag = pipelined ? "pipelined" : "sequential";
    const std::string output = (dir / (tag + ".mp4")).string();
    if (job.twoPass) {
        const Options first{{"pass", "1"}, {"passlogfile", (dir / (tag + "-log")).string()}};
        const Result pass = RunJob(job, first, pipelined, (dir / (tag + "-pass1.mp4")).string());
        EXPECT_EQ(pass.error, "") << tag;
    }
    const Options second =
        job.twoPass ? Options{{"pass", "2"}, {"passlogfile", (dir / (tag + "-log")).string()}} : Options{};
    const Result result = RunJob(job, second, pipelined, output);
    EXPECT_EQ(result.error, "") << tag;
    EXPECT_TRUE(result.finished) << tag;
    return ReadAll(output);
}

std::vector<std::string> AudioVideo() {
    return {Fixtures().h264AacMp4};
}
std::vector<std::string> VideoOnly() {
    return {Fixtures().videoOnly};
}
std::vector<std::string> Rotated() {
    return {test::RealWorldFixtures().rotated90};
}
std::vector<std::string> TwoSegments() {
    return {Fixtures().h264AacMp4, Fixtures().videoOnly};
}

const Options kMpeg4Aac{{"vcodec", "mpeg4"}, {"acodec", "aac"}, {"s", "160x120"}};

std::vector<Job> Jobs() {
    return {
        {"VideoOnly", VideoOnly, {{"vcodec", "mpeg4"}, {"s", "176x144"}}},
        {"AudioVideo", AudioVideo, kMpeg4Aac},
        {"StartAndDuration",
         AudioVideo,
         {{"vcodec", "mpeg4"}, {"acodec", "aac"}, {"ss", "0.7"}, {"t", "1.3"}}},
        {"CropAndHook",
         AudioVideo,
         {{"vcodec", "mpeg4"}, {"an", "1"}, {"croptop", "16"}},
         false,
         false,
         true},
        {"FilterGraph", AudioVideo, {{"vcodec", "mpeg4"}, {"acodec", "aac"}, {"vf", "pad=352:256:16:8"}}},
        {"Rotated", Rotated, kMpeg4Aac},
        {"Joined", TwoSegments, {{"vcodec", "mpeg4"}, {"an", "1"}, {"s", "160x120"}}, true},
        {"TwoPass",
         AudioVideo,
         {{"vcodec", "libx264"}, {"preset", "ultrafast"}, {"b", "150000"}, {"acodec", "aac"}},
         false,
         true},
    };
}

class PipelineOutput : public ::testing::TestWithParam<Job> {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)); }
};

TEST_P(PipelineOutput, IsByteIdenticalToTheSequentialRun) {
    TempDir dir;
    const std::vector<char> sequential = Convert(GetParam(), false, dir);
    const std::vector<char> pipelined = Convert(GetParam(), true, dir);
    ASSERT_GT(sequential.size(), 1000u);
    EXPECT_TRUE(sequential == pipelined)
        << sequential.size() << " bytes sequential, " << pipelined.size() << " pipelined";
}

INSTANTIATE_TEST_SUITE_P(Jobs, PipelineOutput, ::testing::ValuesIn(Jobs()),
                         [](const ::testing::TestParamInfo<Job>& job) {
                             return std::string(job.param.name);
                         });

class Pipeline : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)); }
    TempDir dir_;
};

long long VideoPackets(const std::string& path) {
    const test::MediaFacts facts = test::InspectMedia(path);
    const test::StreamFacts* video = facts.First("video");
    return video ? video->packets : -1;
}

// Every encoded picture goes through the preview; a stop asked for in it ends the encoder side at
// the next safe point, so the pipelined run writes as many pictures as the sequential one.
TEST_F(Pipeline, StopMidRunEndsWhereTheSequentialRunEnds) {
    const Job job{"Stop", AudioVideo, kMpeg4Aac};
    long long written[2] = {};
    for (const bool pipelined : {false, true}) {
        const std::string output = (dir_ / (pipelined ? "p.mp4" : "s.mp4")).string();
        const Result result = RunJob(job, {}, pipelined, output, [](TCustomFFmpeg& engine) {
            engine.PreviewInterval = 0;
            engine.SetPreviewFlags(2);
            engine.PreviewCallback = [calls = 0](TCustomFFmpeg& e, TBitmap&, int64_t, int32_t) mutable {
                if (++calls == 20)
                    e.Stop(false);
            };
        });
        EXPECT_FALSE(result.finished);
        written[pipelined] = VideoPackets(output);
    }
    EXPECT_GE(written[0], 20);
    EXPECT_LT(written[0], 60);
    EXPECT_EQ(written[1], written[0]);
}

TEST_F(Pipeline, PauseHoldsTheEncoderSideAndResumeFinishesTheSameFile) {
    const Job job{"Pause", AudioVideo, kMpeg4Aac};
    const std::string reference = (dir_ / "reference.mp4").string();
    ASSERT_EQ(RunJob(job, {}, false, reference).error, "");

    TCustomFFmpeg engine;
    engine.Reset();
    engine.SetOption("threads", "1");
    engine.SetPipeline(true);
    ASSERT_TRUE(engine.AddInputFile(Fixtures().h264AacMp4));
    for (const auto& [name, value] : kMpeg4Aac)
        engine.SetOption(name, value);
    std::atomic<int> encoded{0};
    std::atomic<bool> terminated{false};
    engine.PreviewInterval = 0;
    engine.SetPreviewFlags(2);
    engine.PreviewCallback = [&](TCustomFFmpeg& e, TBitmap&, int64_t, int32_t) {
        if (++encoded == 10)
            e.Pause();
    };
    engine.TerminateCallback = [&](TCustomFFmpeg&) {
        terminated = true;
    };
    const std::string output = (dir_ / "paused.mp4").string();
    ASSERT_GT(engine.AddOutputFile(output), 0);
    engine.Start(true)->Resume();
    for (int i = 0; i < 400 && encoded < 10; ++i)
        std::this_thread::sleep_for(5ms);
    ASSERT_GE(encoded.load(), 10);
    std::this_thread::sleep_for(100ms);
    const int held = encoded;
    EXPECT_LE(held, 11);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(encoded.load(), held);
    EXPECT_FALSE(terminated);
    engine.Resume();
    for (int i = 0; i < 4000 && !terminated; ++i)
        std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(terminated);
    EXPECT_TRUE(engine.IsFinished());
    EXPECT_TRUE(ReadAll(output) == ReadAll(reference));
}

// Damaged bytes in the middle of the pictures: the decoder fails on the reading thread, and the run
// reports it as the sequential run does: an error with -xerror, else a finished file.
TEST_F(Pipeline, DecodingErrorReachesTheRunAsWithoutThePipeline) {
    std::vector<char> bytes = ReadAll(Fixtures().h264AacMp4);
    for (size_t i = bytes.size() * 2 / 5; i < bytes.size() / 2; i += 7)
        bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
    const std::string damaged = (dir_ / "damaged.mp4").string();
    std::ofstream(damaged, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    static std::string input;
    input = damaged;
    const Job job{
        "Damaged", [] { return std::vector<std::string>{input}; }, {{"vcodec", "mpeg4"}, {"an", "1"}}};
    for (const bool exitOnError : {false, true}) {
        const Options extra = exitOnError ? Options{{"xerror", ""}} : Options{};
        const std::string sequentialOutput = (dir_ / "s.mp4").string();
        const std::string pipelinedOutput = (dir_ / "p.mp4").string();
        const Result sequential = RunJob(job, extra, false, sequentialOutput);
        const Result pipelined = RunJob(job, extra, true, pipelinedOutput);
        EXPECT_EQ(pipelined.error, sequential.error) << exitOnError;
        EXPECT_EQ(pipelined.finished, sequential.finished) << exitOnError;
        if (exitOnError) {
            EXPECT_EQ(sequential.error, "Error while decoding stream #0.0 (Video)");
        } else {
            EXPECT_EQ(sequential.error, "");
            EXPECT_TRUE(ReadAll(pipelinedOutput) == ReadAll(sequentialOutput));
        }
    }
}

} // namespace
} // namespace tarnel
