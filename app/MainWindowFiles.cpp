// The file list of the main window: Add, Remove, Clear.
#include "MainWindow.h"
#include "core/FileAdmission.h"
#include "core/FileFilters.h"
#include "core/OutputNaming.h"
#include "core/ProfileFile.h"
#include "core/ShellServices.h"
#include "widgets/FileListView.h"

#include <QToolButton>
#include <algorithm>
#include <filesystem>

namespace tarnel {

namespace fs = std::filesystem;

void TfrmMain::btnAddClick() {
    if (!converter_.LoadLibraries(LibraryFolder()))
        return;
    const std::vector<std::string> chosen = services_.ChooseFilesToOpen(MediaFileFilters());
    if (!chosen.empty())
        AddFiles(chosen);
}

void TfrmMain::AddFiles(const std::vector<std::string>& files) {
    if (!converter_.LoadLibraries(LibraryFolder()))
        return;
    converter_.ClearTasks();
    const std::string zoom = settings_->ProfileZoom(settings_->FormatCode());
    std::vector<TRefusedFile> refused;
    for (const std::string& file : files) {
        if (lvFiles_->HasRow(QString::fromStdString(file))) {
            refused.push_back({file, "is in the list already"});
            continue;
        }
        if (std::string reason = RefusalBeforeReading(file); !reason.empty()) {
            refused.push_back({file, reason});
            continue;
        }
        TInputOptions input;
        input.FileName = file;
        const int task = converter_.AddTask(file, &input);
        if (task < 0) {
            refused.push_back({file, NotMediaReason(converter_.LastError())});
            continue;
        }

        auto record = std::make_unique<TlvFilesRecord>();
        record->SourceFile = file;
        record->Zoom = zoom;
        TFileStreamInfo info;
        if (TAVProbe* probe = converter_.InputProbe(task, 0); probe && probe->FileStreamInfo(info))
            record->LengthSeconds = static_cast<int32_t>(info.Duration / 1000000);
        const QString length = QString::number(record->LengthSeconds);
        auto* row = new TFileRow(std::move(record));
        row->setText(TFileListView::colSource, QString::fromStdString(file));
        row->setToolTip(TFileListView::colSource, QString::fromStdString(file));
        row->setText(TFileListView::colLength, length);
        row->setText(TFileListView::colTrimmedLength, length);
        row->setText(TFileListView::colProgress, {});
        row->SetChecked(true);
        if (lvFiles_->RowCount() == 0)
            lvFiles_->ShowReportView();
        lvFiles_->addTopLevelItem(row);
        converter_.RemoveTask(task);
        converter_.ClearTasks();
        lvFiles_->SelectRow(0);
    }
    const bool hasRows = lvFiles_->RowCount() > 0;
    for (QWidget* button : {btnStart_, btnStartBig_, btnClear_, btnRemove_})
        button->setEnabled(hasRows);
    ShowDestinations();
    lvFiles_->viewport()->update();
    if (const std::string message = RefusalMessage(refused); !message.empty())
        services_.ShowMessage(message, "Warning", TMessageIcon::Warning);
    if (playRequested_ && hasRows) {
        playRequested_ = false;
        PlayClick();
    }
}

// Each row's output name as Start will give it: the profile's extension in the output folder, with
// "_(new)" or the next free number; the ticked rows before it count as taken.
void TfrmMain::ShowDestinations() {
    const int32_t code = settings_->FormatCode();
    TProfileFile profiles(global_->ProfileFile());
    const std::string extension = "." + profiles.FileExt(code);
    std::vector<std::string> taken;
    for (int i = 0; i < lvFiles_->RowCount(); ++i) {
        TFileRow& row = *lvFiles_->Row(i);
        const std::string destination =
            MakeOutputFileName(row.Record().SourceFile, extension, *settings_, services_, taken);
        if (row.Checked())
            taken.push_back(destination);
        row.Record().DestFile = destination;
        row.setText(TFileListView::colDestination,
                    QString::fromStdString(fs::path(destination).filename().string()));
        row.setToolTip(TFileListView::colDestination, QString::fromStdString(destination));
    }
}

void TfrmMain::btnRemoveClick() {
    const std::vector<int> selected = lvFiles_->SelectedIndexes();
    if (selected.empty())
        return;
    for (auto index = selected.rbegin(); index != selected.rend(); ++index)
        delete lvFiles_->takeTopLevelItem(*index);
    const int count = lvFiles_->RowCount();
    if (count > 0) {
        lvFiles_->SelectRow(std::min(selected.front(), count - 1));
        ShowDestinations();
    } else {
        lvFiles_->ShowListView();
        StopPreview();
    }
    lvFiles_->viewport()->update();
}

void TfrmMain::btnClearClick() {
    if (lvFiles_->RowCount() == 0)
        return;
    converter_.ClearTasks();
    lvFiles_->clear();
    lvFiles_->ShowListView();
    StopPreview();
    lvFiles_->viewport()->update();
}

} // namespace tarnel
