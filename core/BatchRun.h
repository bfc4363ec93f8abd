// One batch run, shared by the desktop program and tarnel-cli convert: it plans a task per ticked
// row, runs the tasks on the conversion component, hands the component's reports to the host's
// thread in the order they came, removes the outputs of failed and stopped tasks, ends exactly
// once, and then runs the after-conversion actions through the shell services. The host keeps only
// what it shows.
#pragma once

#include "BatchPlan.h"
#include "BatchSummary.h"
#include "converter/FFConverter.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <variant>
#include <vector>

namespace tarnel {

class TShellServices;
struct TlvFilesRecord;

// What to do after a run that converted files and was not stopped.
struct TAfterActions {
    std::string OpenFolder; // opened in the desktop's file manager when not empty
    bool PowerOff = false;
};

// The host's side of a run. ReportsWaiting may come on any thread; everything else comes on the
// host's thread, inside TBatchRun::DeliverReports, in the order of the reports.
class TBatchRunListener {
public:
    virtual ~TBatchRunListener() = default;
    // Reports wait for DeliverReports: wake the host (post to its thread), never call the run here.
    virtual void ReportsWaiting() {}
    // The report's TotalSize is the output's size so far.
    virtual void TaskProgress(const TProgressInfo&) {}
    // A task's final report; the output of a failed or stopped task is removed already.
    virtual void TaskEnded(const TFileResult&) {}
    // Asked once, at the end of a run that converted files and was not stopped (Stop was not called
    // and no task was stopped).
    virtual TAfterActions AfterActions() { return {}; }
    // After the after-actions and the notification; the component's tasks are cleared by then.
    virtual void RunEnded(const TBatchSummary&) {}
};

// "Measuring loudness…", "Measuring quality…", "Converting".
std::string TaskPhaseText(TTaskPhase phase);

// What the frame hook draws into a decoded picture (at `ptsUs`) of a row's task. Called on the
// conversion threads, for tasks side by side at the same time.
using TFrameHookWork = std::function<void(TBitmap& frame, const TlvFilesRecord& row, int64_t ptsUs)>;

class TBatchRun {
public:
    // Takes the component's hook, progress and terminate events for as long as the run exists.
    TBatchRun(TFFConverter& converter, TShellServices& services, TBatchRunListener& listener,
              TFrameHookWork frameHook = {});
    ~TBatchRun();
    TBatchRun(const TBatchRun&) = delete;
    TBatchRun& operator=(const TBatchRun&) = delete;

    // Plans the next run with profile `code` (BuildBatch); the skipped rows are in the summary at
    // once. A run still going is stopped and ended first. The rows' records must stay as they are
    // until the run ends. Errors of the profile's values (std::invalid_argument) are not caught.
    const TBatchPlan& Prepare(const std::vector<TBatchRow>& rows, int32_t code, TMappingContext& context);
    // Starts the planned tasks, `jobs` side by side (at least one); false when there is none.
    bool Start(int jobs);
    void Pause();
    void Resume();
    // Running tasks close their outputs, the others never start; the end still comes through
    // DeliverReports. The unfinished outputs are removed, and no after-conversion action runs.
    void Stop(bool wait);

    // On the host's thread: hands the waiting reports to the listener; true once the run has ended.
    bool DeliverReports();
    // For hosts without an event loop: waits up to `timeout` for a report, then delivers.
    bool WaitForReports(std::chrono::milliseconds timeout);

    bool Ended() const { return ended_; }
    // The task whose picture the component handed to the host last; -1 before the first.
    int LatestPictureTask() const { return pictureTask_; }
    const TBatchPlan& Plan() const { return plan_; }
    const TBatchSummary& Summary() const { return summary_; }

private:
    using TReport = std::variant<TProgressInfo, TTerminateInfo>;

    void Queue(const TReport& report);
    bool ReplaceWaitingProgressLocked(const TReport& report);
    std::optional<TReport> TakeReport();
    void Deliver(const TProgressInfo& info);
    void Deliver(const TTerminateInfo& info);
    void EndTask(const TTerminateInfo& info);
    void End();
    void DrawFrame(const THookInfo& info) const;
    void FinishUnendedRun();
    void Reset();
    void WatchPictures();
    void StopWatchingPictures();

    TFFConverter& converter_;
    TShellServices& services_;
    TBatchRunListener& listener_;
    const TFrameHookWork frameHook_;

    // The host's thread only.
    TBatchPlan plan_;
    std::vector<const TlvFilesRecord*> records_; // of each task; also read by the hook, so written
                                                 // only while no task runs
    std::vector<bool> taskEnded_;
    TBatchSummary summary_;
    bool started_ = false;
    bool stopped_ = false; // Stop was called
    bool ended_ = false;

    TPreviewBitmapEvent hostPictures_; // the host's picture handler while the run watches it
    std::atomic<int> pictureTask_{-1};

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<TReport> reports_; // guarded by mutex_; at most one progress report per task
};

} // namespace tarnel
