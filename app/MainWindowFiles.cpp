// The file list of the main window: Add, Remove, Clear.
#include "MainWindow.h"
#include "core/FileAdmission.h"
#include "core/FileFilters.h"
#include "core/OutputNaming.h"
#include "core/ProfileFile.h"
#include "core/SavedList.h"
#include "core/ShellServices.h"
#include "widgets/FileListView.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QProgressDialog>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

namespace tarnel {

namespace fs = std::filesystem;

void TfrmMain::AddFolderClick() {
    if (!converter_.LoadLibraries(LibraryFolder()))
        return;
    const std::string folder = services_.ChooseFolderToAdd();
    if (!folder.empty())
        AddFiles({folder});
}

void TfrmMain::btnAddClick() {
    if (!converter_.LoadLibraries(LibraryFolder()))
        return;
    const std::vector<std::string> chosen = services_.ChooseFilesToOpen(MediaFileFilters());
    if (!chosen.empty())
        AddFiles(chosen);
}

void TfrmMain::AddFiles(const std::vector<std::string>& names) {
    if (!converter_.LoadLibraries(LibraryFolder()))
        return;
    converter_.ClearTasks();
    std::vector<std::string> listed;
    for (int i = 0; i < lvFiles_->RowCount(); ++i)
        listed.push_back(lvFiles_->Row(i)->Record().SourceFile);
    const TAdmission admission = AdmitWithProgress(names, listed);

    const std::string zoom = settings_->ProfileZoom(settings_->FormatCode());
    for (const TAdmittedFile& admitted : admission.Admitted) {
        auto record = std::make_unique<TlvFilesRecord>();
        record->SourceFile = admitted.File;
        record->Zoom = zoom;
        record->LengthSeconds = admitted.LengthSeconds;
        AddRow(std::move(record), true);
    }
    if (!admission.Admitted.empty())
        lvFiles_->SelectRow(0);
    const bool hasRows = lvFiles_->RowCount() > 0;
    for (QWidget* button : {btnStart_, btnStartBig_, btnClear_, btnRemove_})
        button->setEnabled(hasRows);
    ShowDestinations();
    lvFiles_->viewport()->update();
    if (const std::string message = RefusalMessage(admission.Refused); !message.empty())
        services_.ShowMessage(message, "Warning", TMessageIcon::Warning);
    if (playRequested_ && hasRows) {
        playRequested_ = false;
        PlayClick();
    }
}

TFileRow& TfrmMain::AddRow(std::unique_ptr<TlvFilesRecord> record, bool checked) {
    const QString source = QString::fromStdString(record->SourceFile);
    const QString length = QString::number(record->LengthSeconds);
    const int64_t trimmed = record->TrimLength > 0 ? record->TrimLength / 1000000 : record->LengthSeconds;
    auto* row = new TFileRow(std::move(record));
    row->setText(TFileListView::colSource, source);
    row->setToolTip(TFileListView::colSource, source);
    row->setText(TFileListView::colLength, length);
    row->setText(TFileListView::colTrimmedLength, QString::number(trimmed));
    row->setText(TFileListView::colProgress, {});
    row->SetChecked(checked);
    if (lvFiles_->RowCount() == 0)
        lvFiles_->ShowReportView();
    lvFiles_->addTopLevelItem(row);
    return *row;
}

// Reads the files on a thread of their own while the window stays responsive; a folder of many
// files shows how far it got and may be cancelled (what was read by then is added).
TAdmission TfrmMain::AdmitWithProgress(const std::vector<std::string>& names,
                                       const std::vector<std::string>& listed) {
    std::atomic<bool> cancel{false};
    TAdmissionProgress progress;
    TAdmission admission;
    QEventLoop loop;
    std::thread reader([&] {
        TFFConverter reading;
        reading.LoadLibraries(LibraryFolder());
        admission = AdmitFiles(names, listed, reading, cancel, progress);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    QProgressDialog dialog("Reading the files…", "Cancel", 0, 0, this);
    dialog.setWindowTitle("Add");
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(kAddProgressDelayMs);
    QTimer poll;
    connect(&poll, &QTimer::timeout, &dialog, [&] {
        const size_t total = progress.Total;
        if (total == 0) {
            dialog.setLabelText(QString("Looking for files… %1 found").arg(progress.Found.load()));
            dialog.setValue(0);
            return;
        }
        dialog.setMaximum(static_cast<int>(total));
        dialog.setValue(static_cast<int>(progress.Checked.load()));
        dialog.setLabelText(QString("Reading file %1 of %2").arg(progress.Checked.load()).arg(total));
    });
    connect(&dialog, &QProgressDialog::canceled, &dialog, [&] { cancel = true; });
    poll.start(50);
    loop.exec();
    reader.join();
    return admission;
}

// Each row's output name as Start will give it: the profile's extension in the output folder, with
// "_(new)" or the next free number; the ticked rows before it count as taken.
void TfrmMain::ShowDestinations() {
    const int32_t code = settings_->FormatCode();
    TProfileFile profiles(global_->ProfileFile());
    const std::string extension = "." + profiles.FileExt(code);
    if (lvFiles_->RowCount() == 0)
        return SaveFileList();
    // The folder as the batch will use it (made, or the default when it cannot be), once.
    const std::string folder = FolderOrDefault(
        settings_->OutputFolder(), [this](const std::string& usable) { settings_->SetOutputFolder(usable); },
        services_);
    std::vector<std::string> taken;
    for (int i = 0; i < lvFiles_->RowCount(); ++i) {
        TFileRow& row = *lvFiles_->Row(i);
        const std::string destination =
            FreeOutputName(folder + fs::path(row.Record().SourceFile).stem().string(), extension, taken);
        if (row.Checked())
            taken.push_back(destination);
        row.Record().DestFile = destination;
        row.setText(TFileListView::colDestination,
                    QString::fromStdString(fs::path(destination).filename().string()));
        row.setToolTip(TFileListView::colDestination, QString::fromStdString(destination));
    }
    SaveFileList();
}

std::string TfrmMain::SavedListPath() const {
    return TGlobalObject::GetSpecialFolder(TSpecialFolder::Settings) + kSavedListName;
}

// Every change of the list is saved at once (written on the saver's thread), so a crash or a kill
// loses none of it.
void TfrmMain::SaveFileList() {
    if (!listSaver_)
        listSaver_ = std::make_unique<TListSaver>(SavedListPath(), [this](const std::string& error) {
            QMetaObject::invokeMethod(
                this,
                [this, error] {
                    AddLogLine(QString::fromStdString("The file list was not saved: " + error));
                },
                Qt::QueuedConnection);
        });
    TListRows rows;
    for (int i = 0; i < lvFiles_->RowCount(); ++i)
        rows.emplace_back(&lvFiles_->Row(i)->Record(), lvFiles_->Row(i)->Checked());
    listSaver_->Save(rows);
}

// The rows of the last run come back; a file that is gone is marked, and Start skips it with its
// reason. A list that cannot be read is kept beside and the list starts empty.
void TfrmMain::RestoreFileList() {
    TLoadedList loaded = LoadList(SavedListPath());
    for (TSavedRow& saved : loaded.Rows) {
        const std::string source = saved.Record->SourceFile;
        TFileRow& row = AddRow(std::move(saved.Record), saved.Checked);
        std::error_code error;
        if (!fs::exists(source, error)) {
            row.setText(TFileListView::colProgress, "Missing");
            row.setToolTip(TFileListView::colProgress, QString::fromStdString(source + " is gone"));
        }
    }
    if (lvFiles_->RowCount() > 0) {
        lvFiles_->SelectRow(0);
        for (QWidget* button : {btnStart_, btnStartBig_, btnClear_, btnRemove_})
            button->setEnabled(true);
        ShowDestinations();
    }
    if (!loaded.Problem.empty()) {
        const std::string message = "The saved file list could not be read: " + loaded.Problem + "." +
                                    (loaded.KeptAs.empty() ? "" : " It is kept as " + loaded.KeptAs + ".") +
                                    " The list starts empty.";
        services_.ShowMessage(message, "Warning", TMessageIcon::Warning);
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
        SaveFileList();
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
    SaveFileList();
    lvFiles_->viewport()->update();
}

} // namespace tarnel
