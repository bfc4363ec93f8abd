#include "BatchRun.h"

#include "FilesRecord.h"
#include "ShellServices.h"

#include <algorithm>
#include <filesystem>
#include <sys/statvfs.h>

namespace tarnel {

namespace {

constexpr unsigned long long kNearlyFull = 1024 * 1024; // bytes free

const TlvFilesRecord* RecordOfRow(const std::vector<TBatchRow>& rows, int32_t index) {
    const auto row = std::find_if(rows.begin(), rows.end(),
                                  [index](const TBatchRow& each) { return each.Index == index; });
    return row != rows.end() ? row->Record : nullptr;
}

TFileOutcome OutcomeOf(const TTerminateInfo& info) {
    if (info.Failed)
        return TFileOutcome::Failed;
    return info.Finished ? TFileOutcome::Converted : TFileOutcome::Stopped;
}

// A disk that filled up is named: the library only says that writing failed.
std::string WithFullDisk(const std::string& message, const std::string& output) {
    const std::string folder = std::filesystem::path(output).parent_path().string();
    struct statvfs disk {};
    if (::statvfs(folder.c_str(), &disk) != 0 || disk.f_bavail * disk.f_frsize >= kNearlyFull)
        return message;
    return message + " (the disk holding " + folder + " is full)";
}

std::string MessageOf(TFileOutcome outcome, const TTerminateInfo& info, const std::string& output) {
    if (outcome == TFileOutcome::Failed)
        return WithFullDisk(info.ErrorMessage, output);
    return outcome == TFileOutcome::Stopped ? "stopped before its end; the unfinished output was removed"
                                            : "";
}

} // namespace

std::string TaskPhaseText(TTaskPhase phase) {
    switch (phase) {
    case TTaskPhase::MeasuringLoudness:
        return "Measuring loudness\u2026";
    case TTaskPhase::MeasuringQuality:
        return "Measuring quality\u2026";
    case TTaskPhase::Converting:
        break;
    }
    return "Converting";
}

TBatchRun::TBatchRun(TFFConverter& converter, TShellServices& services, TBatchRunListener& listener,
                     TFrameHookWork frameHook)
    : converter_(converter)
    , services_(services)
    , listener_(listener)
    , frameHook_(std::move(frameHook)) {
    if (frameHook_)
        converter_.OnCustomHook = [this](TCustomFFConverter&, PHookInfo info) {
            DrawFrame(*info);
        };
    converter_.OnProgress = [this](TCustomFFConverter&, PProgressInfo info) {
        Queue(*info);
    };
    converter_.OnTerminate = [this](TCustomFFConverter&, const TTerminateInfo& info) {
        Queue(info);
    };
}

// No report thread may call a run that is gone.
TBatchRun::~TBatchRun() {
    if (started_ && !ended_) {
        converter_.Stop(true);
        converter_.ClearTasks(); // waits for the report threads
    }
    StopWatchingPictures();
    converter_.OnCustomHook = nullptr;
    converter_.OnProgress = nullptr;
    converter_.OnTerminate = nullptr;
}

const TBatchPlan& TBatchRun::Prepare(const std::vector<TBatchRow>& rows, int32_t code,
                                     TMappingContext& context) {
    FinishUnendedRun();
    Reset();
    plan_ = BuildBatch(converter_, rows, code, context);
    for (int32_t row : plan_.TaskRows)
        records_.push_back(RecordOfRow(rows, row));
    taskEnded_.assign(records_.size(), false);
    for (const TBatchSkip& skip : plan_.Skipped) {
        TFileResult skipped{TFileOutcome::Skipped, skip.Row, -1, skip.File, {}, skip.Reason};
        skipped.Existing = skip.Existing;
        summary_.Add(skipped);
    }
    return plan_;
}

// Stopped, with every report of it delivered: the component's report threads are done once its
// tasks are cleared.
void TBatchRun::FinishUnendedRun() {
    if (!started_ || ended_)
        return;
    converter_.Stop(true);
    converter_.ClearTasks();
    DeliverReports();
}

void TBatchRun::Reset() {
    {
        std::lock_guard lock(mutex_);
        reports_.clear();
    }
    plan_ = {};
    records_.clear();
    taskEnded_.clear();
    summary_ = {};
    started_ = false;
    stopped_ = false;
    ended_ = false;
}

bool TBatchRun::Start(int jobs) {
    if (started_ || plan_.TaskRows.empty())
        return false;
    started_ = true;
    WatchPictures();
    converter_.StartTask(std::max(1, jobs));
    return true;
}

// The host's picture handler, which the run passes each picture on to, noting its task. Set and
// put back while no task runs.
void TBatchRun::WatchPictures() {
    pictureTask_ = -1;
    if (!converter_.OnPreviewBitmap || hostPictures_)
        return;
    hostPictures_ = converter_.OnPreviewBitmap;
    converter_.OnPreviewBitmap = [this](TCustomFFConverter& sender, const TPreviewInfo& info) {
        hostPictures_(sender, info);
        pictureTask_ = info.TaskIndex;
    };
}

void TBatchRun::StopWatchingPictures() {
    if (!hostPictures_)
        return;
    converter_.OnPreviewBitmap = std::move(hostPictures_);
    hostPictures_ = nullptr;
}

void TBatchRun::Pause() {
    converter_.Pause();
}

void TBatchRun::Resume() {
    converter_.Resume();
}

void TBatchRun::Stop(bool wait) {
    if (!started_ || ended_)
        return;
    stopped_ = true;
    converter_.Stop(wait);
}

// On a conversion or report thread: the record is copied, the host woken.
void TBatchRun::Queue(const TReport& report) {
    {
        std::lock_guard lock(mutex_);
        if (ReplaceWaitingProgressLocked(report))
            return; // the host is woken already
        reports_.push_back(report);
    }
    arrived_.notify_all();
    listener_.ReportsWaiting();
}

// A task's newer progress report takes the place of one still waiting; a task's progress reports
// all come before its final report, so the order stays.
bool TBatchRun::ReplaceWaitingProgressLocked(const TReport& report) {
    const auto* progress = std::get_if<TProgressInfo>(&report);
    if (!progress)
        return false;
    for (TReport& waiting : reports_) {
        auto* older = std::get_if<TProgressInfo>(&waiting);
        if (older && older->TaskIndex == progress->TaskIndex) {
            *older = *progress;
            return true;
        }
    }
    return false;
}

std::optional<TBatchRun::TReport> TBatchRun::TakeReport() {
    std::lock_guard lock(mutex_);
    if (reports_.empty())
        return std::nullopt;
    TReport report = std::move(reports_.front());
    reports_.pop_front();
    return report;
}

bool TBatchRun::DeliverReports() {
    while (std::optional<TReport> report = TakeReport()) {
        if (started_ && !ended_) // reports after the end change nothing
            std::visit([this](const auto& info) { Deliver(info); }, *report);
    }
    return ended_;
}

bool TBatchRun::WaitForReports(std::chrono::milliseconds timeout) {
    {
        std::unique_lock lock(mutex_);
        arrived_.wait_for(lock, timeout, [this] { return !reports_.empty(); });
    }
    return DeliverReports();
}

// The component leaves the size of the output at 0: the partial file tells how much is written.
void TBatchRun::Deliver(const TProgressInfo& info) {
    if (plan_.RowOfTask(info.TaskIndex) < 0)
        return;
    TProgressInfo withSize = info;
    if (withSize.TotalSize <= 0) {
        std::error_code unknown;
        const auto task = static_cast<size_t>(info.TaskIndex);
        const TOutputClaim* claim = task < plan_.Claims.size() ? plan_.Claims[task].get() : nullptr;
        const std::uintmax_t size = std::filesystem::file_size(
            claim && claim->Held() ? claim->Partial() : plan_.Outputs[task], unknown);
        withSize.TotalSize = unknown ? 0 : static_cast<int64_t>(size);
    }
    listener_.TaskProgress(withSize);
}

// The component reports the end of the run after every task's report.
void TBatchRun::Deliver(const TTerminateInfo& info) {
    if (info.TaskIndex < 0)
        End();
    else
        EndTask(info);
}

// Each task counts once, whatever repeats its report.
void TBatchRun::EndTask(const TTerminateInfo& info) {
    const auto task = static_cast<size_t>(info.TaskIndex);
    if (task >= taskEnded_.size() || taskEnded_[task])
        return;
    taskEnded_[task] = true;
    const std::string naming = SettleOutput(plan_, info);
    const TFileOutcome outcome = naming.empty() ? OutcomeOf(info) : TFileOutcome::Failed;
    TFileResult result{outcome,
                       plan_.TaskRows[task],
                       info.TaskIndex,
                       records_[task]->SourceFile,
                       plan_.Outputs[task],
                       naming.empty() ? MessageOf(outcome, info, plan_.Outputs[task]) : naming};
    if (outcome == TFileOutcome::Converted) {
        result.LoudnessTarget = info.LoudnessTarget;
        result.Loudness = info.Loudness;
        result.QualityMeasured = info.QualityMeasured;
        result.Quality = info.Quality;
        result.QualityError = info.QualityError;
    }
    summary_.Add(result);
    listener_.TaskEnded(result);
}

void TBatchRun::End() {
    ended_ = true;
    if (!stopped_ && summary_.Stopped.empty() && !summary_.Converted.empty()) {
        const TAfterActions actions = listener_.AfterActions();
        if (!actions.OpenFolder.empty())
            services_.OpenUrl(actions.OpenFolder);
        if (actions.PowerOff)
            services_.PowerOff();
    }
    services_.Notify("Tarnel", summary_.CountsText());
    converter_.ClearTasks();
    StopWatchingPictures();
    listener_.RunEnded(summary_);
}

void TBatchRun::DrawFrame(const THookInfo& info) const {
    if (info.Bitmap && info.TaskIndex >= 0 && static_cast<size_t>(info.TaskIndex) < records_.size())
        frameHook_(*info.Bitmap, *records_[static_cast<size_t>(info.TaskIndex)], info.PTS);
}

} // namespace tarnel
