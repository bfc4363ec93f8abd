#include "base/FFmpegException.h"
#include "base/FFmpegLoader.h"
#include "base/MainThread.h"
#include "engine/FFmpeg.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace tarnel;
using namespace std::chrono_literals;

namespace {

// An engine whose conversion is a loop over safe points, so the life cycle can be driven without
// media: it counts iterations until a stop is requested, or fails at once when told to.
class LoopingEngine : public TCustomFFmpeg {
public:
    LoopingEngine() {
        Reset();
        TerminateCallback = [this](TCustomFFmpeg& engine) {
            EXPECT_EQ(&engine, this);
            EXPECT_FALSE(engine.IsRunning());
            EXPECT_TRUE(engine.IsTerminated());
            ++terminations;
        };
    }
    // Stands in for opened files, so Start's checks can be met without media.
    void SetFileCounts(int inputs, int outputs) {
        inputFileCount_ = inputs;
        outputFileCount_ = outputs;
    }

    std::atomic<int> iterations{0};
    std::atomic<int> terminations{0};
    bool failWith = false;

protected:
    void Transcode() override {
        if (failWith)
            throw FFmpegException("Could not open codec");
        while (!CheckStopAndPause()) {
            ++iterations;
            std::this_thread::sleep_for(1ms);
        }
        SetFinished(!StopRequested());
    }
};

template <typename Condition>
bool Eventually(Condition condition) {
    for (int i = 0; i < 2000; ++i) {
        if (condition())
            return true;
        std::this_thread::sleep_for(5ms);
    }
    return condition();
}

class EngineLifecycle : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)) << Loader().LastLoadError(); }
};

TEST_F(EngineLifecycle, ConstructionAppliesTheDefaults) {
    LoopingEngine engine;
    const TOptionState& o = engine.Options();
    EXPECT_EQ(o.AudioSampleRate, 44100);
    EXPECT_EQ(o.AudioChannels, 2);
    EXPECT_EQ(o.AudioVolume, 256);
    EXPECT_EQ(o.IntraDcPrecision, 8);
    EXPECT_EQ(o.RecordingTime, INT64_MAX);
    EXPECT_EQ(o.VideoSync, -1);
    EXPECT_EQ(o.TopFieldFirst, -1);
    EXPECT_FLOAT_EQ(o.AudioQScale, -99999.0f);
    EXPECT_FLOAT_EQ(o.MuxMaxDelay, 0.7f);
    EXPECT_EQ(o.MaxFrames[0], INT32_MAX);
    EXPECT_EQ(engine.ProgressInterval, 500000);
    EXPECT_EQ(engine.PreviewInterval, 100000);
    EXPECT_EQ(engine.TotalDuration(), -1);
}

TEST_F(EngineLifecycle, TypedSettersIgnoreUnsetValues) {
    LoopingEngine engine;
    engine.SetStartTime(AV_NOPTS_VALUE);
    engine.SetRecordingTime(AV_NOPTS_VALUE);
    engine.SetAudioVolume(-1);
    engine.SetMuxDelay(0);
    EXPECT_EQ(engine.Options().StartTime, 0);
    EXPECT_EQ(engine.Options().RecordingTime, INT64_MAX);
    EXPECT_EQ(engine.TotalDuration(), -1);
    EXPECT_EQ(engine.Options().AudioVolume, 256);
    EXPECT_FLOAT_EQ(engine.Options().MuxMaxDelay, 0.7f);

    engine.SetStartTime(1500000);
    engine.SetRecordingTime(4000000);
    engine.SetAudioVolume(512);
    engine.AddMetadata("title", "Clip");
    EXPECT_EQ(engine.Options().StartTime, 1500000);
    EXPECT_EQ(engine.Options().RecordingTime, 4000000);
    EXPECT_EQ(engine.TotalDuration(), 4000000);
    EXPECT_EQ(engine.Options().AudioVolume, 512);
    ASSERT_EQ(engine.PendingMetadata().size(), 1u);
    engine.Defaults(); // pending metadata belongs to the next output, not to the option state
    EXPECT_EQ(engine.PendingMetadata().size(), 1u);
}

TEST_F(EngineLifecycle, StartWithoutFilesTerminatesOnceWithTheMessage) {
    struct Case {
        int inputs;
        int outputs;
        const char* message;
    };
    for (const Case& c : {Case{1, 0, "At least one output file must be specified"},
                          Case{0, 1, "At least one input file must be specified"}}) {
        LoopingEngine engine;
        engine.SetFileCounts(c.inputs, c.outputs);
        EXPECT_EQ(engine.Start(true), nullptr);
        EXPECT_EQ(engine.terminations, 1);
        EXPECT_TRUE(engine.ErrorOccurred());
        EXPECT_EQ(engine.ErrorMessage(), c.message);
        EXPECT_TRUE(engine.IsTerminated());
        EXPECT_FALSE(engine.IsFinished());
        // A terminated engine does not start again.
        EXPECT_EQ(engine.Start(true), nullptr);
        EXPECT_EQ(engine.terminations, 1);
    }
}

TEST_F(EngineLifecycle, SecondStartWhileRunningReturnsNull) {
    LoopingEngine engine;
    engine.SetFileCounts(1, 1);
    TConvertThread* thread = engine.Start(true);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(engine.Start(true), nullptr);
    thread->Resume();
    ASSERT_TRUE(Eventually([&] { return engine.iterations > 0; }));
    engine.Stop(true);
    EXPECT_EQ(engine.terminations, 1);
    EXPECT_FALSE(engine.IsFinished());
    EXPECT_FALSE(engine.ErrorOccurred());
    EXPECT_EQ(engine.Thread(), nullptr);
}

TEST_F(EngineLifecycle, PauseHoldsTheWorkerAndStopFromAnotherThreadReleasesIt) {
    LoopingEngine engine;
    engine.SetFileCounts(1, 1);
    engine.Start(true)->Resume();
    ASSERT_TRUE(Eventually([&] { return engine.iterations > 0; }));

    engine.Pause();
    // The worker finishes at most the iteration it is in, then waits at its next safe point.
    const int atPause = engine.iterations;
    std::this_thread::sleep_for(50ms);
    const int held = engine.iterations;
    EXPECT_LE(held, atPause + 1);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(engine.iterations, held);

    engine.Resume();
    EXPECT_TRUE(Eventually([&] { return engine.iterations > held; }));

    engine.Pause();
    std::thread controller([&] { engine.Stop(true); });
    controller.join();
    EXPECT_EQ(engine.terminations, 1);
    EXPECT_TRUE(engine.IsTerminated());
    EXPECT_FALSE(engine.IsRunning());
    EXPECT_FALSE(engine.IsFinished());
}

TEST_F(EngineLifecycle, FailureDuringTheRunIsReportedAndStillTerminates) {
    LoopingEngine engine;
    engine.failWith = true;
    engine.SetFileCounts(1, 1);
    EXPECT_EQ(engine.Start(false), nullptr); // runs in this thread
    EXPECT_EQ(engine.terminations, 1);
    EXPECT_TRUE(engine.ErrorOccurred());
    EXPECT_EQ(engine.ErrorMessage(), "Could not open codec");
    EXPECT_FALSE(engine.IsFinished());
    EXPECT_EQ(engine.InputFileCount(), 0); // freed after the run
}

TEST_F(EngineLifecycle, StopOrTerminateReportsAnEngineThatNeverStarted) {
    LoopingEngine engine;
    std::thread::id terminatedOn;
    engine.TerminateCallback = [&](TCustomFFmpeg&) {
        terminatedOn = std::this_thread::get_id();
        ++engine.terminations;
    };
    engine.StopOrTerminate(true);
    EXPECT_EQ(engine.terminations, 1);
    EXPECT_NE(terminatedOn, std::this_thread::get_id());
    engine.StopOrTerminate(true);
    EXPECT_EQ(engine.terminations, 1);
}

TEST_F(EngineLifecycle, WaitingStopKeepsMainThreadCallsFlowing) {
    LoopingEngine engine;
    bool ranOnMainThread = false;
    engine.TerminateCallback = [&](TCustomFFmpeg&) {
        // Hands work to the main thread, which is blocked in Stop(true) below.
        CallInMainThread([&] { ranOnMainThread = IsMainThread(); });
        ++engine.terminations;
    };
    engine.SetFileCounts(1, 1);
    engine.Start(true)->Resume();
    ASSERT_TRUE(Eventually([&] { return engine.iterations > 0; }));
    engine.Stop(true);
    EXPECT_TRUE(ranOnMainThread);
    EXPECT_EQ(engine.terminations, 1);
}

TEST_F(EngineLifecycle, DestroyingARunningEngineStopsIt) {
    std::atomic<int> terminations{0};
    {
        LoopingEngine engine;
        engine.TerminateCallback = [&](TCustomFFmpeg&) {
            ++terminations;
        };
        engine.SetFileCounts(1, 1);
        engine.Start(true)->Resume();
        ASSERT_TRUE(Eventually([&] { return engine.iterations > 0; }));
    }
    EXPECT_EQ(terminations, 1);
}

} // namespace
