#include "MediaInspect.h"
#include "TestSupport.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLoader.h"
#include "base/MainThread.h"
#include "converter/FFConverter.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <thread>

using namespace tarnel;
using namespace std::chrono_literals;

namespace {

// Collects terminate reports from whichever thread delivers them.
struct Reports {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<TTerminateInfo> all;
    std::vector<std::thread::id> threads;

    void Add(const TTerminateInfo& info) {
        std::lock_guard lock(mutex);
        all.push_back(info);
        threads.push_back(std::this_thread::get_id());
        changed.notify_all();
    }
    // Waits (keeping main-thread calls running) until the final report has come.
    bool WaitForFinal() {
        for (int i = 0; i < 3000; ++i) {
            {
                std::lock_guard lock(mutex);
                for (const auto& report : all)
                    if (report.TaskIndex == -1)
                        return true;
            }
            ProcessMessages();
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }
    std::vector<int> Indexes() {
        std::lock_guard lock(mutex);
        std::vector<int> indexes;
        for (const auto& report : all)
            indexes.push_back(report.TaskIndex);
        return indexes;
    }
};

class Converter : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(converter_.LoadLibraries("")) << converter_.LastError();
        converter_.SetTriggerEventInMainThread(false);
        converter_.OnTerminate = [this](TCustomFFConverter&, const TTerminateInfo& info) {
            reports_.Add(info);
        };
    }

    // A task copying the fixture into a new file; `slow` plays the input at its own pace.
    int AddCopyTask(bool slow = false, bool withOutput = true) {
        TInputOptions input;
        if (slow)
            input.ExtOptions = "re=1";
        const int index = converter_.AddTask(test::Fixtures().h264AacMp4, &input);
        EXPECT_GE(index, 0) << converter_.LastError();
        if (withOutput) {
            TOutputOptions output;
            output.VideoCodec = "copy";
            output.AudioCodec = "copy";
            EXPECT_TRUE(converter_.SetOutputFile(
                index, (dir_ / ("out" + std::to_string(index) + ".mkv")).string(), &output))
                << converter_.LastError();
        }
        return index;
    }

    test::TempDir dir_;
    TFFConverter converter_;
    Reports reports_;
};

TEST_F(Converter, ThreeTasksOneAtATimeReportInTaskOrderThenTheFinalReport) {
    // Each task's final progress report comes before the next task starts, so the task indexes of
    // the reports never go down when tasks run one at a time.
    std::mutex progressMutex;
    std::vector<int> progressTasks;
    converter_.OnProgress = [&](TCustomFFConverter&, PProgressInfo info) {
        std::lock_guard lock(progressMutex);
        progressTasks.push_back(info->TaskIndex);
    };
    for (int i = 0; i < 3; ++i)
        AddCopyTask();
    converter_.StartTask(1);
    ASSERT_TRUE(reports_.WaitForFinal());
    converter_.ClearTasks();
    ASSERT_EQ(reports_.all.size(), 4u);
    EXPECT_TRUE(std::is_sorted(progressTasks.begin(), progressTasks.end()));
    EXPECT_EQ(std::set<int>(progressTasks.begin(), progressTasks.end()), (std::set<int>{0, 1, 2}));
    std::vector<int> indexes = reports_.Indexes();
    std::sort(indexes.begin(), indexes.end());
    EXPECT_EQ(indexes, (std::vector<int>{-1, 0, 1, 2}));
    for (const auto& report : reports_.all) {
        EXPECT_TRUE(report.Finished) << report.TaskIndex;
        EXPECT_FALSE(report.Failed) << report.ErrorMessage;
    }
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(test::InspectMedia((dir_ / ("out" + std::to_string(i) + ".mkv")).string()).streams.size(),
                  2u);
}

TEST_F(Converter, TwoAtATimeEveryTaskReportComesBeforeTheFinalReport) {
    // A handler that takes its time over task reports: the final report must still wait for them.
    converter_.OnTerminate = [this](TCustomFFConverter&, const TTerminateInfo& info) {
        if (info.TaskIndex >= 0)
            std::this_thread::sleep_for(60ms);
        reports_.Add(info);
    };
    for (int i = 0; i < 4; ++i)
        AddCopyTask();
    converter_.StartTask(2);
    ASSERT_TRUE(reports_.WaitForFinal());
    converter_.ClearTasks();
    const std::vector<int> indexes = reports_.Indexes();
    ASSERT_EQ(indexes.size(), 5u);
    EXPECT_EQ(indexes.back(), -1);
    EXPECT_EQ(std::set<int>(indexes.begin(), indexes.end() - 1), (std::set<int>{0, 1, 2, 3}));
}

TEST_F(Converter, ForegroundRunsEveryHandlerInTheCallingThread) {
    AddCopyTask();
    AddCopyTask(false, false); // no output: fails at once, the next task still runs
    AddCopyTask();
    converter_.StartTask(0);
    EXPECT_EQ(reports_.Indexes(), (std::vector<int>{0, 1, 2, -1}));
    for (std::thread::id thread : reports_.threads)
        EXPECT_EQ(thread, std::this_thread::get_id());
    EXPECT_TRUE(reports_.all[1].Failed);
    EXPECT_FALSE(reports_.all[1].Finished);
    EXPECT_EQ(reports_.all[1].ErrorMessage, "At least one output file must be specified");
    EXPECT_TRUE(reports_.all[2].Finished);
}

TEST_F(Converter, StopDuringTheFirstOfThreeReportsEveryTaskOnceThenTheFinalReport) {
    std::atomic<bool> started{false};
    converter_.OnProgress = [&](TCustomFFConverter&, PProgressInfo) {
        started = true;
    };
    converter_.SetProgressInterval(100);
    for (int i = 0; i < 3; ++i)
        AddCopyTask(true);
    converter_.StartTask(1);
    for (int i = 0; i < 1000 && !started; ++i)
        std::this_thread::sleep_for(5ms);
    converter_.Pause();
    converter_.Stop(true); // a paused task is resumed so it can stop
    ASSERT_TRUE(reports_.WaitForFinal());
    converter_.ClearTasks();
    std::vector<int> indexes = reports_.Indexes();
    std::sort(indexes.begin(), indexes.end());
    EXPECT_EQ(indexes, (std::vector<int>{-1, 0, 1, 2}));
    for (const auto& report : reports_.all) {
        if (report.TaskIndex >= 0) {
            EXPECT_FALSE(report.Finished) << report.TaskIndex;
        }
    }
    // The stopped task still wrote a file that opens.
    EXPECT_TRUE(test::InspectMedia((dir_ / "out0.mkv").string()).opened);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out1.mkv") &&
                 test::InspectMedia((dir_ / "out1.mkv").string()).streams.empty());
}

TEST_F(Converter, WorkingStateRefusesChangesUntilTheRunIsComplete) {
    AddCopyTask(true);
    converter_.StartTask(1);
    EXPECT_THROW(converter_.AddTask(test::Fixtures().audioOnly), FFmpegException);
    try {
        converter_.ClearTasks();
        ADD_FAILURE() << "ClearTasks accepted during a run";
    } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), "Cannot ClearTasks while working.");
    }
    try {
        converter_.StartTask(1);
        ADD_FAILURE() << "StartTask accepted during a run";
    } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), "Cannot StartTask while working.");
    }
    converter_.Stop(true);
    ASSERT_TRUE(reports_.WaitForFinal());
    EXPECT_NO_THROW(converter_.ClearTasks());
    EXPECT_EQ(converter_.TaskCount(), 0);
}

TEST_F(Converter, EmptyListGivesTheFinalReportAtOnce) {
    converter_.StartTask(1);
    ASSERT_TRUE(reports_.WaitForFinal());
    EXPECT_EQ(reports_.Indexes(), (std::vector<int>{-1}));
    EXPECT_NO_THROW(converter_.ClearTasks());
}

TEST_F(Converter, DestroyingTheComponentWhileTasksRunReportsEveryTask) {
    auto reports = std::make_shared<Reports>();
    {
        TFFConverter converter;
        converter.SetTriggerEventInMainThread(false);
        converter.OnTerminate = [reports](TCustomFFConverter&, const TTerminateInfo& info) {
            reports->Add(info);
        };
        for (int i = 0; i < 2; ++i) {
            TInputOptions input;
            input.ExtOptions = "re=1";
            const int index = converter.AddTask(test::Fixtures().h264AacMp4, &input);
            ASSERT_GE(index, 0);
            TOutputOptions output;
            output.VideoCodec = output.AudioCodec = "copy";
            ASSERT_TRUE(converter.SetOutputFile(index, (dir_ / ("d" + std::to_string(i) + ".mkv")).string(),
                                                &output));
        }
        converter.StartTask(2);
        std::this_thread::sleep_for(100ms);
    }
    std::vector<int> indexes = reports->Indexes();
    std::sort(indexes.begin(), indexes.end());
    EXPECT_EQ(indexes, (std::vector<int>{-1, 0, 1}));
}

TEST_F(Converter, HookUpdateAndStopHook) {
    struct Case {
        bool update;
        bool stopHook;
        int expectedCalls; // -1: every picture
    };
    for (const Case& c : {Case{false, false, -1}, Case{true, true, 1}}) {
        std::atomic<int> calls{0};
        converter_.OnCustomHook = [&](TCustomFFConverter&, PHookInfo info) {
            ++calls;
            EXPECT_TRUE(info->Update);
            EXPECT_FALSE(info->StopHook);
            ASSERT_NE(info->Bitmap, nullptr);
            EXPECT_EQ(info->Bitmap->Width(), 320);
            info->Update = c.update;
            info->StopHook = c.stopHook;
        };
        const int index = converter_.AddTask(test::Fixtures().videoOnly);
        TOutputOptions output;
        output.VideoCodec = "mpeg4";
        output.CustomHook = true;
        ASSERT_TRUE(converter_.SetOutputFile(index, (dir_ / "hook.avi").string(), &output))
            << converter_.LastError();
        converter_.StartTask(0);
        if (c.expectedCalls < 0)
            EXPECT_GE(calls, 70); // every decoded picture of the 3 s clip
        else
            EXPECT_EQ(calls, c.expectedCalls);
        converter_.ClearTasks();
    }
}

TEST_F(Converter, PreviewBitmapsAndProgressReachTheMainThread) {
    converter_.SetTriggerEventInMainThread(true);
    converter_.SetPreviewBitmap(true);
    converter_.SetProgressInterval(50);
    EXPECT_EQ(converter_.ProgressInterval(), 100);
    converter_.SetProgressInterval(101);
    EXPECT_EQ(converter_.ProgressInterval(), 101);
    std::atomic<int> previews{0};
    std::vector<int> fileIndexes;
    bool offMainThread = false;
    converter_.OnPreviewBitmap = [&](TCustomFFConverter&, const TPreviewInfo& info) {
        offMainThread |= !IsMainThread();
        EXPECT_EQ(info.Bitmap->Width(), 320);
        ++previews;
    };
    converter_.OnProgress = [&](TCustomFFConverter&, PProgressInfo info) {
        offMainThread |= !IsMainThread();
        fileIndexes.push_back(info->FileIndex);
    };
    const int index = converter_.AddTask(test::Fixtures().videoOnly);
    TOutputOptions output;
    output.VideoCodec = "mpeg4";
    ASSERT_TRUE(converter_.SetOutputFile(index, (dir_ / "preview.avi").string(), &output));
    converter_.StartTask(1);
    ASSERT_TRUE(reports_.WaitForFinal());
    EXPECT_FALSE(offMainThread);
    EXPECT_GE(previews, 1);
    ASSERT_FALSE(fileIndexes.empty());
    EXPECT_EQ(fileIndexes.back(), -1);
}

TEST_F(Converter, RecordsBecomeEngineOptions) {
    // The pending-entry example: the main audio stream and the first new one get aac, the second
    // new one mp2; "vfilters" is taken as "vf".
    const int index = AddCopyTask(false, false);
    TOutputOptions output;
    output.VideoCodec = "mpeg4";
    output.FrameSize = "160x120";
    output.ExtOptions = "acodec=aac\nnewaudio=\nacodec=mp2\r\nnewaudio=<CRLF>vfilters=hflip";
    output.Metadata.Title = "Clip";
    ASSERT_TRUE(converter_.SetOutputFile(index, (dir_ / "streams.mkv").string(), &output))
        << converter_.LastError();
    EXPECT_EQ(output.FileName, (dir_ / "streams.mkv").string());
    converter_.StartTask(0);
    ASSERT_FALSE(reports_.all.empty());
    EXPECT_FALSE(reports_.all[0].Failed) << reports_.all[0].ErrorMessage;
    const test::MediaFacts facts = test::InspectMedia((dir_ / "streams.mkv").string());
    ASSERT_EQ(facts.streams.size(), 4u);
    EXPECT_EQ(facts.streams[0].codec, "mpeg4");
    EXPECT_EQ(facts.streams[0].width, 160);
    EXPECT_EQ(facts.streams[1].codec, "aac");
    EXPECT_EQ(facts.streams[2].codec, "aac");
    EXPECT_EQ(facts.streams[3].codec, "mp2");
}

TEST_F(Converter, BadRecordsFailWithTheEnginesMessage) {
    TInputOptions input;
    EXPECT_EQ(converter_.AddTask((dir_ / "missing.mp4").string(), &input), -1);
    EXPECT_EQ(converter_.LastError(), (dir_ / "missing.mp4").string() + ": No such file or directory");
    EXPECT_EQ(input.FileName, (dir_ / "missing.mp4").string());
    EXPECT_EQ(converter_.TaskCount(), 0);

    const int index = AddCopyTask(false, false);
    TOutputOptions output;
    output.FrameSize = "huge";
    EXPECT_FALSE(converter_.SetOutputFile(index, (dir_ / "x.mkv").string(), &output));
    EXPECT_EQ(converter_.LastError(), "Incorrect frame size");
    ASSERT_NE(converter_.InputProbe(index, 0), nullptr);
    EXPECT_EQ(converter_.InputProbe(index, 1), nullptr);
}

} // namespace
