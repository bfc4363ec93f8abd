// The batch run of the main window: Start plans a task per ticked row and opens the progress
// window, which starts and stops the run; the run's reports update the rows and that window.
#include "MainWindow.h"
#include "ProgressWindow.h"
#include "SleepInhibitor.h"
#include "core/ProfileFile.h"
#include "core/ShellServices.h"
#include "widgets/FileListView.h"

#include <QLineEdit>
#include <QMetaObject>
#include <QToolButton>

namespace tarnel {

void TfrmMain::ConnectConverter() {
    converter_.SetPreviewBitmap(true);
    // The hook draws on the conversion threads: the records of the run's rows stay as they are
    // while the modal progress window is open.
    TBatchRunListener& host = *this;
    batch_ = std::make_unique<TBatchRun>(converter_, services_, host,
                                         [this](TBitmap& frame, const TlvFilesRecord& row, int64_t pts) {
                                             renderer_.Render(frame, row, pts);
                                         });
    converter_.OnPreviewBitmap = [this](TCustomFFConverter&, const TPreviewInfo& info) {
        PreviewReport(info);
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

    std::vector<TBatchRow> rows;
    for (int i = 0; i < lvFiles_->RowCount(); ++i)
        rows.push_back({i, &lvFiles_->Row(i)->Record(), lvFiles_->Row(i)->Checked()});
    TProfileFile profiles(global_->ProfileFile());
    TMappingContext context{*settings_, profiles, services_};
    renderer_.Reset();
    const TBatchPlan& plan = batch_->Prepare(rows, settings_->FormatCode(), context);
    for (const TBatchSkip& skip : plan.Skipped)
        AddLogLine(QString::fromStdString("Skipped " + skip.Reason));

    if (!plan.TaskRows.empty()) {
        if (!progress_)
            progress_ = std::make_unique<TfrmProgress>(
                *batch_, [this] { return LatestPreviewFrame(); }, *settings_, services_, this);
        runJobs_ = settings_->Jobs();
        progress_->SetRun(static_cast<int>(plan.TaskRows.size()), runJobs_);
        // The session stays awake while the progress window runs the batch, and no longer.
        TSleepInhibitor awake;
        const auto files = static_cast<int>(plan.TaskRows.size());
        awake.Hold(QString("Converting %1 file%2").arg(files).arg(files == 1 ? "" : "s"));
        progress_->exec();
    }
    ReportProblemsOfTheRun();
}

// After the run: the files that were skipped or failed, with their reasons, in one warning; then
// the loudness and quality figures of the converted files, when they were measured.
void TfrmMain::ReportProblemsOfTheRun() {
    const std::string text = batch_->Summary().ProblemsText();
    if (!text.empty())
        services_.ShowMessage("These files were not converted:\n" + text, "Warning", TMessageIcon::Warning);
    const std::string figures = batch_->Summary().FiguresText();
    if (!figures.empty())
        services_.ShowMessage("Measured in the converted files:\n" + figures, "Tarnel",
                              TMessageIcon::Information);
}

// On any thread: the run's reports are delivered on the main thread.
void TfrmMain::ReportsWaiting() {
    QMetaObject::invokeMethod(
        this, [this] { batch_->DeliverReports(); }, Qt::QueuedConnection);
}

void TfrmMain::TaskProgress(const TProgressInfo& info) {
    const int32_t row = batch_->Plan().RowOfTask(info.TaskIndex);
    if (row < 0 || row >= lvFiles_->RowCount())
        return;
    if (info.Phase != TTaskPhase::Converting) {
        const QString phase = QString::fromStdString(TaskPhaseText(info.Phase));
        lvFiles_->Row(row)->setText(TFileListView::colProgress, phase);
        lvFiles_->viewport()->update();
        if (progress_)
            progress_->ShowMeasuring(
                info.TaskIndex, phase,
                static_cast<int>(info.CurrentDuration * 100 / std::max<int64_t>(1, info.TotalDuration)),
                lvFiles_->Row(row)->text(TFileListView::colSource));
        return;
    }
    const int64_t percent = info.TotalDuration > 0 ? info.CurrentDuration * 100 / info.TotalDuration : -1;
    lvFiles_->Row(row)->setText(TFileListView::colProgress,
                                percent >= 0
                                    ? QString::number(percent) + "%"
                                    : QString::fromStdString(SecondsToClock(info.CurrentDuration / 1000000)));
    lvFiles_->viewport()->update();
    if (progress_)
        progress_->ShowProgress(info.TaskIndex, static_cast<int>(batch_->Plan().TaskRows.size()),
                                info.CurrentDuration, info.TotalDuration, info.TotalSize,
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

void TfrmMain::TaskEnded(const TFileResult& result) {
    if (result.Outcome == TFileOutcome::Failed)
        AddLogLine(QString::fromStdString(result.Reason()));
    if (progress_)
        progress_->TaskEnded(result.Task);
    if (result.Outcome != TFileOutcome::Converted)
        return;
    if (result.Row >= 0 && result.Row < lvFiles_->RowCount()) {
        lvFiles_->Row(result.Row)->setText(TFileListView::colProgress, "100%");
        lvFiles_->viewport()->update();
    }
    if (progress_ && runJobs_ == 1)
        progress_->SetBar(100);
}

// The progress window's after-conversion choices; the folder as the Open button opens it.
TAfterActions TfrmMain::AfterActions() {
    TAfterActions actions;
    if (progress_ && progress_->OpenFolderTicked() && edtOutput_->text().size() > 2)
        actions.OpenFolder = settings_->OutputFolder();
    actions.PowerOff = progress_ && progress_->ShutDownTicked();
    return actions;
}

void TfrmMain::RunEnded(const TBatchSummary&) {
    for (QToolButton* button : {btnAdd_, btnRemove_, btnClear_, btnStart_})
        button->setEnabled(true);
    if (progress_)
        progress_->FinishRun();
}

} // namespace tarnel
