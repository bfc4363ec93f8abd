// The batch run of the main window: Start builds a task per ticked row and opens the progress
// window; the component's reports update the rows and that window and end the run.
#include "MainWindow.h"
#include "ProgressWindow.h"
#include "core/ProfileFile.h"
#include "core/ShellServices.h"
#include "widgets/FileListView.h"

#include <QMetaObject>
#include <QTimer>
#include <QToolButton>

namespace tarnel {

void TfrmMain::ConnectConverter() {
    converter_.SetPreviewBitmap(true);
    // On the conversion thread: the records of the run's rows stay as they are while the modal
    // progress window is open.
    converter_.OnCustomHook = [this](TCustomFFConverter&, PHookInfo info) {
        if (info && info->Bitmap && info->TaskIndex >= 0 &&
            static_cast<size_t>(info->TaskIndex) < hookRecords_.size())
            renderer_.Render(*info->Bitmap, *hookRecords_[static_cast<size_t>(info->TaskIndex)], info->PTS);
    };
    converter_.OnProgress = [this](TCustomFFConverter&, PProgressInfo info) {
        ProgressReport(*info);
    };
    converter_.OnPreviewBitmap = [this](TCustomFFConverter&, const TPreviewInfo& info) {
        PreviewReport(info);
    };
    // Termination reports come on threads of their own: each is handed to the main thread as a copy,
    // with the run it belongs to.
    converter_.OnTerminate = [this](TCustomFFConverter&, const TTerminateInfo& info) {
        const int run = runId_.load();
        QMetaObject::invokeMethod(
            this, [this, info, run] { TerminateReport(info, run); }, Qt::QueuedConnection);
    };
}

int TfrmMain::TickedRowCount() const {
    int count = 0;
    for (int i = 0; i < lvFiles_->RowCount(); ++i)
        count += lvFiles_->Row(i)->Checked() ? 1 : 0;
    return count;
}

void TfrmMain::btnStartClick() {
    ApplyPrioritySetting(converter_, settings_->Priority());
    if (TickedRowCount() == 0) {
        services_.ShowMessage("Please select a file by clicking the check box!", "Warning",
                              TMessageIcon::Warning);
        return;
    }
    StopPreview();
    converter_.SetPreview(true);
    ++runId_;
    afterActionsDone_ = false;
    runEnded_ = false;
    finalReportWaiting_ = false;
    reportedTasks_.clear();
    failures_.clear();
    convertedCount_ = 0;
    lastTaskFinished_ = false;

    std::vector<TBatchRow> rows;
    for (int i = 0; i < lvFiles_->RowCount(); ++i)
        rows.push_back({i, &lvFiles_->Row(i)->Record(), lvFiles_->Row(i)->Checked()});
    TProfileFile profiles(global_->ProfileFile());
    TMappingContext context{*settings_, profiles, services_};
    plan_ = BuildBatch(converter_, rows, settings_->FormatCode(), context);
    TaskRows = plan_.TaskRows;
    hookRecords_.clear();
    for (int32_t row : TaskRows)
        hookRecords_.push_back(&lvFiles_->Row(row)->Record());
    renderer_.Reset();
    for (const TBatchSkip& skip : plan_.Skipped)
        AddLogLine(QString::fromStdString("Skipped " + skip.Reason));

    if (!TaskRows.empty()) {
        if (!progress_)
            progress_ = std::make_unique<TfrmProgress>(
                converter_, [this] { return LatestPreviewFrame(); }, *settings_, services_, this);
        runJobs_ = settings_->Jobs();
        progress_->SetRun(static_cast<int>(TaskRows.size()), runJobs_);
        progress_->exec();
    }
    ReportProblemsOfTheRun();
}

// After the run: the files that were skipped or failed, with their reasons, in one warning.
void TfrmMain::ReportProblemsOfTheRun() {
    std::string text = SkippedFilesText(plan_);
    for (const std::string& failure : failures_)
        text += (text.empty() ? "" : "\n") + failure;
    if (!text.empty())
        services_.ShowMessage("These files were not converted:\n" + text, "Warning", TMessageIcon::Warning);
}

void TfrmMain::ProgressReport(const TProgressInfo& info) {
    const int32_t row = plan_.RowOfTask(info.TaskIndex);
    if (row < 0 || row >= lvFiles_->RowCount())
        return;
    const int64_t percent = info.TotalDuration > 0 ? info.CurrentDuration * 100 / info.TotalDuration : -1;
    lvFiles_->Row(row)->setText(TFileListView::colProgress,
                                percent >= 0
                                    ? QString::number(percent) + "%"
                                    : QString::fromStdString(SecondsToClock(info.CurrentDuration / 1000000)));
    lvFiles_->viewport()->update();
    if (progress_)
        progress_->ShowProgress(info.TaskIndex, static_cast<int>(TaskRows.size()), info.CurrentDuration,
                                info.TotalDuration, info.TotalSize,
                                lvFiles_->Row(row)->text(TFileListView::colSource));
}

void TfrmMain::PreviewReport(const TPreviewInfo& info) {
    // A picture without pixels leaves the last one in place.
    if (!info.Bitmap || info.Bitmap->Width() <= 0 || info.Bitmap->Height() <= 0 || !previewFrame_)
        return;
    std::lock_guard lock(previewMutex_);
    previewFrame_->Assign(*info.Bitmap);
}

QImage TfrmMain::LatestPreviewFrame() {
    std::lock_guard lock(previewMutex_);
    if (!previewFrame_ || previewFrame_->Empty())
        return {};
    return QImage(previewFrame_->Bits(), previewFrame_->Width(), previewFrame_->Height(),
                  previewFrame_->RowSize(), QImage::Format_BGR888)
        .copy();
}

void TfrmMain::TerminateReport(const TTerminateInfo& info, int run) {
    if (run != runId_.load())
        return;
    if (info.TaskIndex >= 0) {
        TaskReport(info);
        reportedTasks_.insert(info.TaskIndex);
        RunAfterActionsAtTheEnd();
        if (finalReportWaiting_ && reportedTasks_.size() >= TaskRows.size())
            EndRun();
        return;
    }
    // Each task's report comes before the final one, but on a thread of its own, so it may reach
    // the main thread after it: the run ends once every task has been reported (or after a while).
    if (reportedTasks_.size() >= TaskRows.size()) {
        EndRun();
    } else if (!finalReportWaiting_) {
        finalReportWaiting_ = true;
        QTimer::singleShot(2000, this, [this, run] {
            if (run == runId_.load())
                EndRun();
        });
    }
}

void TfrmMain::TaskReport(const TTerminateInfo& info) {
    const int32_t row = plan_.RowOfTask(info.TaskIndex);
    if (info.Failed) {
        RemoveFailedOutput(plan_, info);
        const QString file = row >= 0 && row < lvFiles_->RowCount() ? lvFiles_->Row(row)->text(0) : QString();
        failures_.push_back(file.toStdString() + ": " + info.ErrorMessage);
        AddLogLine(file + ": " + QString::fromStdString(info.ErrorMessage));
    }
    if (progress_)
        progress_->TaskEnded(info.TaskIndex);
    if (!info.Finished)
        return;
    ++convertedCount_;
    if (row >= 0 && row < lvFiles_->RowCount()) {
        lvFiles_->Row(row)->setText(TFileListView::colProgress, "100%");
        lvFiles_->viewport()->update();
    }
    if (progress_ && runJobs_ == 1)
        progress_->SetBar(100);
    if (info.TaskIndex + 1 == static_cast<int>(TaskRows.size()))
        lastTaskFinished_ = true;
}

// The after-conversion choices, once: when the last task has finished and, with tasks side by
// side, every other task has ended too.
void TfrmMain::RunAfterActionsAtTheEnd() {
    if (afterActionsDone_ || !lastTaskFinished_ || reportedTasks_.size() < TaskRows.size())
        return;
    afterActionsDone_ = true;
    if (progress_ && progress_->OpenFolderTicked())
        OpenOutputFolder();
    if (progress_ && progress_->ShutDownTicked())
        services_.PowerOff();
}

void TfrmMain::EndRun() {
    if (runEnded_)
        return;
    runEnded_ = true;
    const size_t failed = failures_.size() + plan_.Skipped.size();
    services_.Notify("Tarnel", std::to_string(convertedCount_) + " files converted, " +
                                   std::to_string(failed) + " failed");
    for (QToolButton* button : {btnAdd_, btnRemove_, btnClear_, btnStart_})
        button->setEnabled(true);
    converter_.ClearTasks();
    if (progress_)
        progress_->FinishRun();
}

} // namespace tarnel
