// The batch run without a window: real conversions of the generated clips with profile 404 (AVI,
// MPEG-4 and MP3), shell services and a host that write down what reaches them.
#include "core/BatchRun.h"

#include "MediaInspect.h"
#include "PictureDecode.h"
#include "TestSupport.h"
#include "base/Bitmap.h"
#include "core/FilesRecord.h"
#include "core/MainSettings.h"
#include "core/ProfileFile.h"
#include "core/ShellServices.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

namespace tarnel {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int32_t kAviProfile = 404;

class TRecordingShell final : public TShellServices {
public:
    void ShowMessage(const std::string& text, const std::string&, TMessageIcon) override {
        Messages.push_back(text);
    }
    bool AskYesNo(const std::string& text, const std::string&) override {
        Messages.push_back(text);
        return false;
    }
    std::vector<std::string> ChooseFilesToOpen(const std::vector<TFileFilter>&) override { return {}; }
    void OpenUrl(const std::string& url) override { OpenedUrls.push_back(url); }
    std::string ChooseOutputFolder(const std::string&) override { return {}; }
    bool PowerOff() override {
        ++PowerOffs;
        return true;
    }
    void Notify(const std::string& title, const std::string& text) override {
        Notifications.push_back(title + ": " + text);
    }

    std::vector<std::string> Messages;
    std::vector<std::string> OpenedUrls;
    int PowerOffs = 0;
    std::vector<std::string> Notifications; // "title: text"
};

// The host's side: what reached it, in order, and on which threads.
class TRecordingHost final : public TBatchRunListener {
public:
    void TaskProgress(const TProgressInfo& info) override {
        Note("progress " + std::to_string(info.TaskIndex));
        Sizes[info.TaskIndex].push_back(info.TotalSize);
    }
    void TaskEnded(const TFileResult& result) override {
        Note("ended " + std::to_string(result.Task));
        Ended.push_back(result);
    }
    TAfterActions AfterActions() override {
        ++AfterActionsAsked;
        return Actions;
    }
    void RunEnded(const TBatchSummary&) override { Note("run ended"); }

    size_t Count(const std::string& event) const { return std::count(Events.begin(), Events.end(), event); }
    size_t FirstPosition(const std::string& event) const {
        return static_cast<size_t>(std::find(Events.begin(), Events.end(), event) - Events.begin());
    }
    size_t LastPosition(const std::string& event) const {
        return static_cast<size_t>(Events.rend() - std::find(Events.rbegin(), Events.rend(), event)) - 1;
    }

    TAfterActions Actions;
    int AfterActionsAsked = 0;
    std::vector<std::string> Events;
    std::vector<TFileResult> Ended;
    std::map<int32_t, std::vector<int64_t>> Sizes; // each task's output sizes as reported
    std::set<std::thread::id> Threads;

private:
    void Note(const std::string& event) {
        Events.push_back(event);
        Threads.insert(std::this_thread::get_id());
    }
};

class BatchRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(converter_.LoadLibraries("")) << converter_.LastError();
        converter_.SetTriggerEventInMainThread(false);
        settings_.SetOutputFolder(out_.string());
        host_.Actions = {out_.string(), true};
    }

    // A ticked row per copy of the clip; `missing` more rows name files that do not exist.
    std::vector<TBatchRow> Rows(int copies, int missing = 0) {
        records_.resize(static_cast<size_t>(copies + missing));
        std::vector<TBatchRow> rows;
        for (int i = 0; i < copies + missing; ++i) {
            const fs::path file = home_.Home() / ("clip" + std::to_string(i) + ".mp4");
            if (i < copies)
                fs::copy_file(test::Fixtures().h264AacMp4, file, fs::copy_options::overwrite_existing);
            records_[static_cast<size_t>(i)].SourceFile = file.string();
            rows.push_back({i, &records_[static_cast<size_t>(i)], true});
        }
        return rows;
    }
    const TBatchPlan& Prepare(const std::vector<TBatchRow>& rows) {
        return run_.Prepare(rows, kAviProfile, context_);
    }
    // Delivers reports until the run has ended; false when it did not within a minute.
    bool DeliverUntilTheEnd() {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (!run_.WaitForReports(100ms))
            if (std::chrono::steady_clock::now() > deadline)
                return false;
        return true;
    }
    bool RunToTheEnd(int jobs) { return run_.Start(jobs) && DeliverUntilTheEnd(); }

    test::TPrivateHome home_;
    const fs::path out_ = home_.Home() / "out";
    TMainSettings settings_{home_.SettingsFile().string()};
    TProfileFile profiles_{TARNEL_DATA_DIR "/tarnelformat.ini"};
    TRecordingShell services_;
    TMappingContext context_{settings_, profiles_, services_};
    TFFConverter converter_;
    TRecordingHost host_;
    std::vector<TlvFilesRecord> records_;
    TFrameHookWork drawFrame_; // set before the run starts
    TBatchRun run_{converter_, services_, host_,
                   [this](TBitmap& frame, const TlvFilesRecord& row, int64_t pts) {
                       if (drawFrame_)
                           drawFrame_(frame, row, pts);
                   }};
};

TEST_F(BatchRunTest, ConvertedFailedAndSkippedFilesEachComeWithTheirReason) {
    const std::vector<TBatchRow> rows = Rows(2, 1);
    records_[1].CropLeft = records_[1].CropRight = 200; // more than the 320 pixels of the picture
    const TBatchPlan& plan = Prepare(rows);
    ASSERT_EQ(plan.TaskRows, (std::vector<int32_t>{0, 1}));
    ASSERT_TRUE(RunToTheEnd(1));

    const TBatchSummary& summary = run_.Summary();
    ASSERT_EQ(summary.Converted.size(), 1u);
    EXPECT_EQ(summary.Converted[0].File, records_[0].SourceFile);
    EXPECT_GT(fs::file_size(summary.Converted[0].Output), 10000u);
    ASSERT_EQ(summary.Failed.size(), 1u);
    EXPECT_EQ(summary.Failed[0].Row, 1);
    EXPECT_THAT(summary.Failed[0].Reason(), ::testing::StartsWith(records_[1].SourceFile + ": "));
    EXPECT_THAT(summary.Failed[0].Message, ::testing::HasSubstr("filters"));
    EXPECT_FALSE(fs::exists(plan.Outputs[1])) << "a failed output is removed";
    ASSERT_EQ(summary.Skipped.size(), 1u);
    EXPECT_EQ(summary.Skipped[0].Row, 2);
    EXPECT_THAT(summary.Skipped[0].Reason(), ::testing::StartsWith(records_[2].SourceFile + ": "));
    EXPECT_TRUE(summary.Stopped.empty());
    EXPECT_EQ(summary.ProblemsText(), summary.Skipped[0].Reason() + "\n" + summary.Failed[0].Reason());

    EXPECT_EQ(services_.OpenedUrls, std::vector<std::string>{out_.string()});
    EXPECT_EQ(services_.PowerOffs, 1);
    EXPECT_EQ(services_.Notifications, std::vector<std::string>{"Tarnel: 1 files converted, 2 failed"});
    EXPECT_EQ(converter_.TaskCount(), 0);

    // Nothing left to convert: the next plan does not start, and nothing runs at an end.
    Prepare({rows[2]});
    EXPECT_FALSE(run_.Start(1));
    EXPECT_EQ(run_.Summary().Skipped.size(), 1u);
    EXPECT_TRUE(run_.Summary().Converted.empty());
    EXPECT_EQ(services_.Notifications.size(), 1u);
}

// Two at a time, with a host too busy to take a report before the run's final one was made: it
// hears each task's progress before its end, the ends in the order the component made them, all on
// its own thread; the end comes last and the after-actions once.
TEST_F(BatchRunTest, ReportsReachTheHostInOrderOnItsThread) {
    Prepare(Rows(4));
    std::mutex issuedMutex;
    std::condition_variable finalIssued;
    std::vector<int32_t> issued; // guarded by issuedMutex; task reports as the component made them
    bool finalMade = false;      // guarded by issuedMutex
    const TTerminateEvent deliver = converter_.OnTerminate;
    converter_.OnTerminate = [&](TCustomFFConverter& converter, const TTerminateInfo& info) {
        deliver(converter, info);
        std::lock_guard lock(issuedMutex);
        if (info.TaskIndex >= 0)
            issued.push_back(info.TaskIndex);
        else
            finalMade = true;
        finalIssued.notify_all();
    };
    ASSERT_TRUE(run_.Start(2));
    {
        std::unique_lock lock(issuedMutex);
        ASSERT_TRUE(finalIssued.wait_for(lock, 60s, [&] { return finalMade; }));
    }
    ASSERT_TRUE(DeliverUntilTheEnd());

    std::vector<int32_t> ended;
    for (const TFileResult& result : host_.Ended)
        ended.push_back(result.Task);
    {
        std::lock_guard lock(issuedMutex);
        EXPECT_EQ(ended, issued);
    }
    for (int task = 0; task < 4; ++task) {
        const std::string progress = "progress " + std::to_string(task);
        ASSERT_GT(host_.Count(progress), 0u) << task;
        EXPECT_LT(host_.LastPosition(progress), host_.FirstPosition("ended " + std::to_string(task)))
            << "no progress after the task's end";
    }
    EXPECT_EQ(host_.Count("run ended"), 1u);
    EXPECT_EQ(host_.Events.back(), "run ended");
    EXPECT_EQ(host_.Threads, std::set<std::thread::id>{std::this_thread::get_id()});
    EXPECT_EQ(run_.Summary().Converted.size(), 4u);
    EXPECT_EQ(host_.AfterActionsAsked, 1);
    EXPECT_EQ(services_.OpenedUrls, std::vector<std::string>{out_.string()}) << "the folder opens once";
    EXPECT_EQ(services_.Notifications, std::vector<std::string>{"Tarnel: 4 files converted, 0 failed"});
}

// The first report of a task counts: here a failure repeated from many threads before the task
// even ran, which removes its output. Reports after the end change nothing.
TEST_F(BatchRunTest, ATasksFirstReportCountsAndTheRunEndsOnce) {
    const TBatchPlan& plan = Prepare(Rows(2));
    ASSERT_TRUE(run_.Start(1));
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([this] { converter_.OnTerminate(converter_, {1, false, true, "broken"}); });
    for (std::thread& thread : threads)
        thread.join();
    ASSERT_TRUE(DeliverUntilTheEnd());
    EXPECT_EQ(host_.Ended.size(), 2u) << "each task ends once";
    ASSERT_EQ(run_.Summary().Failed.size(), 1u);
    EXPECT_EQ(run_.Summary().Failed[0].Message, "broken");
    EXPECT_FALSE(fs::exists(plan.Outputs[1])) << "what the task wrote after its failure is gone too";
    EXPECT_EQ(services_.OpenedUrls.size(), 1u);

    converter_.OnTerminate(converter_, {-1, true, false, {}});
    converter_.OnTerminate(converter_, {0, true, false, {}});
    EXPECT_TRUE(run_.DeliverReports());
    EXPECT_EQ(host_.Ended.size(), 2u);
    EXPECT_EQ(host_.Count("run ended"), 1u);
    EXPECT_EQ(services_.OpenedUrls.size(), 1u);
    EXPECT_EQ(services_.Notifications.size(), 1u);
}

// Stopped while the first of three files is at its second second: every file counts as stopped,
// the first one's unfinished output is removed, the problems name all three, and nothing runs after
// the run but the notification.
TEST_F(BatchRunTest, AStoppedRunRemovesItsUnfinishedOutputsAndRunsNoAfterActions) {
    const std::vector<TBatchRow> rows = Rows(3);
    for (TlvFilesRecord& record : records_)
        record.Brightness = 128; // through the frame hook, where the test holds the conversion
    std::mutex mutex;
    std::condition_variable changed;
    bool holding = false, released = false; // guarded by mutex
    drawFrame_ = [&](TBitmap&, const TlvFilesRecord&, int64_t pts) {
        std::unique_lock lock(mutex);
        if (pts < 1000000 || released)
            return;
        holding = true;
        changed.notify_all();
        changed.wait_for(lock, 30s, [&] { return released; });
    };
    const TBatchPlan& plan = Prepare(rows);
    ASSERT_TRUE(run_.Start(1));
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 30s, [&] { return holding; }));
    }
    const std::string partial = plan.Claims[0]->Partial();
    ASSERT_TRUE(fs::exists(partial)) << "the first file is being written";
    EXPECT_FALSE(fs::exists(plan.Outputs[0])) << "under its partial name";
    run_.Stop(false);
    {
        std::lock_guard lock(mutex);
        released = true;
    }
    changed.notify_all();
    ASSERT_TRUE(DeliverUntilTheEnd());

    EXPECT_EQ(run_.Summary().Stopped.size(), 3u);
    EXPECT_TRUE(run_.Summary().Converted.empty());
    EXPECT_TRUE(run_.Summary().Failed.empty());
    for (const std::string& output : plan.Outputs)
        EXPECT_FALSE(fs::exists(output)) << output;
    EXPECT_FALSE(fs::exists(partial));
    std::vector<std::string> problems, expected;
    std::istringstream text(run_.Summary().ProblemsText());
    for (std::string line; std::getline(text, line);)
        problems.push_back(line);
    for (const TBatchRow& row : rows)
        expected.push_back(row.Record->SourceFile +
                           ": stopped before its end; the unfinished output was removed");
    EXPECT_THAT(problems, ::testing::UnorderedElementsAreArray(expected));
    EXPECT_EQ(host_.AfterActionsAsked, 0);
    EXPECT_TRUE(services_.OpenedUrls.empty());
    EXPECT_EQ(services_.PowerOffs, 0);
    EXPECT_EQ(services_.Notifications, std::vector<std::string>{"Tarnel: 0 files converted, 0 failed"});
}

// Stopped after every file was converted but before the host heard the end: the files are kept,
// and a stopped run runs no after-conversion action.
TEST_F(BatchRunTest, AStopAfterTheLastFileRunsNoAfterActions) {
    const TBatchPlan& plan = Prepare(Rows(2));
    std::mutex mutex;
    std::condition_variable finalIssued;
    bool finalMade = false; // guarded by mutex
    const TTerminateEvent deliver = converter_.OnTerminate;
    converter_.OnTerminate = [&](TCustomFFConverter& converter, const TTerminateInfo& info) {
        deliver(converter, info);
        std::lock_guard lock(mutex);
        finalMade = finalMade || info.TaskIndex < 0;
        finalIssued.notify_all();
    };
    ASSERT_TRUE(run_.Start(2));
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(finalIssued.wait_for(lock, 60s, [&] { return finalMade; }));
    }
    run_.Stop(true);
    ASSERT_TRUE(DeliverUntilTheEnd());
    EXPECT_EQ(run_.Summary().Converted.size(), 2u);
    for (const std::string& output : plan.Outputs)
        EXPECT_TRUE(fs::exists(output)) << output;
    EXPECT_EQ(host_.AfterActionsAsked, 0);
    EXPECT_TRUE(services_.OpenedUrls.empty());
    EXPECT_EQ(services_.PowerOffs, 0);
}

// Each progress report carries the size of the output so far: it grows and ends at the file's size.
TEST_F(BatchRunTest, ProgressReportsTheGrowingSizeOfTheOutput) {
    const std::vector<TBatchRow> rows = Rows(1);
    records_[0].Brightness = 128; // through the frame hook, which slows the conversion down
    drawFrame_ = [](TBitmap&, const TlvFilesRecord&, int64_t) {
        std::this_thread::sleep_for(10ms);
    };
    const TBatchPlan& plan = Prepare(rows);
    ASSERT_TRUE(run_.Start(1));
    while (!run_.Ended()) {
        std::this_thread::sleep_for(20ms); // reports between deliveries replace each other
        run_.DeliverReports();
    }
    const std::vector<int64_t>& sizes = host_.Sizes[0];
    ASSERT_GE(sizes.size(), 2u);
    EXPECT_TRUE(std::is_sorted(sizes.begin(), sizes.end()));
    EXPECT_LT(sizes.front(), sizes.back());
    EXPECT_LE(static_cast<uintmax_t>(sizes.back()), fs::file_size(plan.Outputs[0]));
}

// The frame hook draws each task's pictures with its own row's record; here it blacks them out.
TEST_F(BatchRunTest, EachTaskIsDrawnWithItsOwnRow) {
    const std::vector<TBatchRow> rows = Rows(2);
    records_[1].Brightness = 128; // only the second row needs the hook
    std::mutex mutex;
    std::set<const TlvFilesRecord*> drawn; // guarded by mutex
    drawFrame_ = [&](TBitmap& frame, const TlvFilesRecord& row, int64_t) {
        std::memset(frame.Bits(), 0, frame.ByteSize());
        std::lock_guard lock(mutex);
        drawn.insert(&row);
    };
    const TBatchPlan& plan = Prepare(rows);
    ASSERT_TRUE(RunToTheEnd(2));
    EXPECT_EQ(drawn, std::set<const TlvFilesRecord*>{&records_[1]});
    const auto level = [](const std::string& file) {
        const std::vector<test::DecodedPicture> pictures = test::DecodePictures(file);
        const test::DecodedPicture& middle = pictures.at(pictures.size() / 2);
        const std::vector<double> mean = middle.Mean(0, 0, middle.width, middle.height);
        return (mean[0] + mean[1] + mean[2]) / 3;
    };
    EXPECT_LT(level(plan.Outputs[1]), 10);
    EXPECT_GT(level(plan.Outputs[0]), 40);
}

} // namespace
} // namespace tarnel
