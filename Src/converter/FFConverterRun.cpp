// Running the component's tasks: starting them (in the caller's thread or on worker threads),
// pausing, stopping, and the four events with their records, locks and delivery threads.
#include "base/FFmpegException.h"
#include "base/MainThread.h"
#include "converter/FFConverter.h"

#include <chrono>
#include <utility>

namespace tarnel {

void TCustomFFConverter::StartTask(int count) {
    std::unique_lock lock(terminateLock_);
    RefuseWhileWorking("StartTask");
    finished_ = 0;
    next_ = 0;
    remaining_ = TaskCount();
    allDone_ = false;
    background_ = count > 0;
    working_ = true;
    if (remaining_ == 0) {
        // Nothing to run: the final report comes at once, so the run is complete.
        lock.unlock();
        IssueTerminateReport({-1, true, false, {}});
        lock.lock();
        allDone_ = true;
        return;
    }
    if (background_) {
        // Tasks that end quickly report under the same lock, so they wait until all are started.
        for (int started = 0; started < count && remaining_ > 0; ++started) {
            if (TFFmpeg* task = TakeNextTaskLocked())
                Launch(*task);
        }
        return;
    }
    while (TFFmpeg* task = TakeNextTaskLocked()) {
        lock.unlock();
        Launch(*task); // reports its end through DoTerminate, which takes the lock
        lock.lock();
    }
}

TFFmpeg* TCustomFFConverter::TakeNextTaskLocked() {
    if (remaining_ <= 0 || next_ >= TaskCount())
        return nullptr;
    remaining_ -= 1;
    TFFmpeg* task = tasks_[next_].get();
    next_ += 1;
    task->ProgressInterval = int64_t{progressIntervalMs_} * 1000;
    return task;
}

void TCustomFFConverter::Launch(TFFmpeg& task) {
    if (TConvertThread* thread = task.Start(background_, threadPriority_))
        thread->Resume();
}

void TCustomFFConverter::Pause() {
    if (!background_)
        return;
    for (auto& task : tasks_)
        task->Pause();
}

void TCustomFFConverter::Resume() {
    if (!background_)
        return;
    for (auto& task : tasks_)
        task->Resume();
}

void TCustomFFConverter::Stop(bool wait) {
    {
        std::lock_guard opening(openingMutex_);
        if (opening_)
            opening_->Stop(false);
    }
    probe_.Stop();
    {
        std::lock_guard lock(terminateLock_);
        remaining_ = 0;
        // Without a run there is nothing more to stop, and AddTask may be changing the task list.
        if (!working_)
            return;
    }
    for (auto& task : tasks_)
        task->StopOrTerminate(wait);
}

void TCustomFFConverter::DeliverInMainThread(const std::function<void()>& delivery) {
    if (triggerInMainThread_)
        CallInMainThread(delivery);
    else
        delivery();
}

void TCustomFFConverter::DoCustomHook(TFFmpeg& task, TBitmap& bitmap, bool& stopHook, bool& update,
                                      int64_t pts, int32_t frameNumber) {
    if (!OnCustomHook_)
        return;
    std::lock_guard lock(hookLock_);
    hookInfo_ = {IndexOf(task), &bitmap, frameNumber, pts, update, stopHook};
    {
        std::lock_guard canvas(bitmap.CanvasLock());
        OnCustomHook_(*this, &hookInfo_);
    }
    update = hookInfo_.Update;
    stopHook = hookInfo_.StopHook;
}

void TCustomFFConverter::DoPreviewBitmap(TFFmpeg& task, TBitmap& bitmap, int64_t pts, int32_t frameNumber) {
    if (!OnPreviewBitmap_)
        return;
    std::lock_guard lock(previewLock_);
    previewInfo_ = {IndexOf(task), &bitmap, frameNumber, pts};
    DeliverInMainThread([this] { OnPreviewBitmap_(*this, previewInfo_); });
}

void TCustomFFConverter::DoProgress(TFFmpeg& task, int32_t fileIndex, int64_t totalDuration,
                                    int64_t outputTime, int64_t outputSize, float bitRate, float quality,
                                    int32_t fps, int32_t frameNumber) {
    if (!OnProgress_)
        return;
    std::lock_guard lock(progressLock_);
    progressInfo_ = {IndexOf(task), fileIndex,  frameNumber, fps,          quality,
                     bitRate,       outputSize, outputTime,  totalDuration};
    DeliverInMainThread([this] { OnProgress_(*this, &progressInfo_); });
}

// In a measuring phase the durations are the share measured, out of one second.
void TCustomFFConverter::DoPassProgress(TFFmpeg& task, TTaskPhase phase, double fraction) {
    if (!OnProgress_)
        return;
    std::lock_guard lock(progressLock_);
    progressInfo_ = {};
    progressInfo_.TaskIndex = IndexOf(task);
    progressInfo_.CurrentDuration = static_cast<int64_t>(fraction * 1000000);
    progressInfo_.TotalDuration = 1000000;
    progressInfo_.Phase = phase;
    DeliverInMainThread([this] { OnProgress_(*this, &progressInfo_); });
}

void TCustomFFConverter::DoTerminate(TFFmpeg& task) {
    TTerminateInfo info{IndexOf(task), task.IsFinished(), task.ErrorOccurred(),
                        task.ErrorOccurred() ? task.ErrorMessage() : std::string()};
    task.MeasureOutputQuality(info);
    if (task.Passes.LoudnessTarget != 0) {
        info.LoudnessTarget = task.Passes.LoudnessTarget;
        info.Loudness = task.MeasuredLoudness();
    }
    const TTerminateInfo finalReport{-1, true, false, {}};
    std::unique_lock lock(terminateLock_);
    finished_ += 1;
    const bool runComplete = remaining_ < 1 && finished_ >= TaskCount();
    if (background_) {
        // Issued under the lock, so the final report always comes after every task's report.
        IssueTerminateReport(info);
        if (runComplete) {
            IssueTerminateReport(finalReport);
            allDone_ = true;
        } else if (TFFmpeg* next = TakeNextTaskLocked()) {
            Launch(*next);
        }
        return;
    }
    // Foreground: one task at a time in the caller's thread; the handlers run without the lock so
    // they may call back into the component.
    lock.unlock();
    IssueTerminateReport(info);
    if (runComplete) {
        IssueTerminateReport(finalReport);
        lock.lock();
        allDone_ = true;
    }
}

// Background mode: each report runs on a thread of its own with its own copy of the record, so a
// handler that takes long (or waits for the main thread) never holds up the conversions. Each
// report's thread waits until the report issued before it was handled: the handlers see the
// reports in the order the tasks ended, and the final report last.
void TCustomFFConverter::IssueTerminateReport(const TTerminateInfo& info) {
    if (!OnTerminate_)
        return;
    if (!background_) {
        OnTerminate_(*this, info);
        return;
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto handled = std::make_shared<std::promise<void>>();
    std::lock_guard lock(reportThreadsMutex_);
    std::shared_future<void> previous = std::exchange(lastReport_, handled->get_future().share());
    reportThreads_.push_back({std::thread([this, info, done, previous, handled, handler = OnTerminate_] {
                                  if (previous.valid())
                                      previous.wait();
                                  handler(*this, info);
                                  handled->set_value();
                                  *done = true;
                              }),
                              done});
}

// A report handler may hand work to the main thread; waiting there keeps those calls running.
void TCustomFFConverter::JoinReportThreads() {
    std::vector<TReportThread> threads;
    {
        std::lock_guard lock(reportThreadsMutex_);
        threads.swap(reportThreads_);
    }
    for (TReportThread& report : threads) {
        while (!*report.Done) {
            ProcessMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        report.Thread.join();
    }
}

} // namespace tarnel
