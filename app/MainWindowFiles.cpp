// The file list of the main window: Add, Remove, Clear.
#include "MainWindow.h"
#include "core/FileFilters.h"
#include "core/OutputNaming.h"
#include "core/ProfileFile.h"
#include "core/ShellServices.h"
#include "widgets/FileListView.h"

#include <QToolButton>
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
    const int32_t code = settings_->FormatCode();
    TProfileFile profiles(global_->ProfileFile());
    const std::string suffix = "_ipod." + profiles.FileExt(code);
    const std::string zoom = settings_->ProfileZoom(code);

    for (const std::string& file : files) {
        std::error_code ec;
        if (fs::is_directory(file, ec) || lvFiles_->HasRow(QString::fromStdString(file)))
            continue;
        const std::string destination = MakeOutputFileName(file, suffix, *settings_, services_);
        TInputOptions input;
        input.FileName = file;
        const int task = converter_.AddTask(file, &input);
        if (task < 0)
            continue;

        btnStart_->setEnabled(true);
        btnStartBig_->setEnabled(true);
        auto record = std::make_unique<TlvFilesRecord>();
        record->SourceFile = file;
        record->DestFile = destination;
        record->Zoom = zoom;
        TFileStreamInfo info;
        if (TAVProbe* probe = converter_.InputProbe(task, 0); probe && probe->FileStreamInfo(info))
            record->LengthSeconds = static_cast<int32_t>(info.Duration / 1000000);
        const QString length = QString::number(record->LengthSeconds);
        auto* row = new TFileRow(std::move(record));
        row->setText(TFileListView::colSource, QString::fromStdString(file));
        row->setText(TFileListView::colLength, length);
        row->setText(TFileListView::colTrimmedLength, length);
        row->setText(TFileListView::colDestination,
                     QString::fromStdString(fs::path(destination).filename().string()));
        row->setText(TFileListView::colProgress, {});
        row->SetChecked(true);
        if (lvFiles_->RowCount() == 0)
            lvFiles_->ShowReportView();
        lvFiles_->addTopLevelItem(row);

        btnClear_->setEnabled(true);
        btnRemove_->setEnabled(true);
        converter_.RemoveTask(task);
        converter_.ClearTasks();
        lvFiles_->SelectRow(0);
        lvFiles_->viewport()->update();
    }
    if (playRequested_ && lvFiles_->RowCount() > 0) {
        playRequested_ = false;
        PlayClick();
    }
}

void TfrmMain::btnRemoveClick() {
    const int index = lvFiles_->SelectedIndex();
    if (index < 0)
        return;
    delete lvFiles_->takeTopLevelItem(index);
    const int count = lvFiles_->RowCount();
    if (count > 0) {
        lvFiles_->SelectRow(index < count ? index : count - 1);
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
