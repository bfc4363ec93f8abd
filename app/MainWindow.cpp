#include "MainWindow.h"

#include "ErrorDisplay.h"
#include "FileInfoDialog.h"
#include "PreferencesDialog.h"
#include "ProgressWindow.h"
#include "SettingsDialog.h"
#include "TarnelApplication.h"
#include "TrackBar2.h"
#include "TrimDialog.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "core/FolderSetting.h"
#include "core/ShellServices.h"
#include "preview/PreviewPlayer.h"
#include "skin/SkinPictures.h"
#include "widgets/CatalogueList.h"
#include "widgets/FileListView.h"
#include "widgets/PreviewPanel.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>
#include <QToolButton>
#include <filesystem>

namespace tarnel {

namespace fs = std::filesystem;

TfrmMain::TfrmMain(TShellServices& services, QWidget* parent)
    : QWidget(parent)
    , services_(services)
    , renderer_([](const std::string& warning) { Logger().Log(nullptr, llWarning, warning); }) {
    CreateGlobalObject();
    BuildLayout();
    ConnectSignals();
    ConnectConverter();
    ConnectPreview();
    LoadMediaLibraries();
    RestoreFileList();
}

TfrmMain::~TfrmMain() {
    listSaver_.reset(); // the last change reaches the disk
    converter_.OnCustomHook = nullptr;
    converter_.OnProgress = nullptr;
    converter_.OnTerminate = nullptr;
    converter_.OnPreviewBitmap = nullptr;
    converter_.Stop(true);
}

void TfrmMain::CreateGlobalObject() {
    global_ = std::make_unique<TGlobalObject>();
    const std::string folder = TGlobalObject::GetSpecialFolder(TSpecialFolder::Settings);
    global_->SetSettingsFile(folder + TGlobalObject::kSettingsFileName);
    std::string problem;
    global_->SetProfileFile(TGlobalObject::PrepareProfileFile(folder, problem));
    settings_ = std::make_unique<TMainSettings>(global_->SettingsFile());
    SetApplicationTitle(QString::fromStdString(global_->AppTitle()));
    if (auto* app = dynamic_cast<TTarnelApplication*>(QApplication::instance())) {
        auto display = std::make_shared<TErrorDisplay>(services_, [this] { return global_->AppTitle(); });
        app->SetErrorHandler([display](std::exception_ptr error) { display->Show(error); });
    }
    if (!problem.empty())
        QTimer::singleShot(0, this, [this, problem] { AddLogLine(QString::fromStdString(problem)); });
}

std::string TfrmMain::LibraryFolder() const {
    return TGlobalObject::ExecutableFolder() + "LibAV";
}

void TfrmMain::LoadMediaLibraries() {
    if (!preview_->LoadLibraries())
        AddLogLine(QString::fromStdString(Loader().LastLoadError()));
}

void TfrmMain::AddLogLine(const QString& line) {
    memLog_->appendPlainText(line);
}

QStringList TfrmMain::LogLines() const {
    return memLog_->toPlainText().split('\n', Qt::SkipEmptyParts);
}

void TfrmMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shownOnce_)
        return;
    shownOnce_ = true;

    imgStill_->hide();
    {
        std::lock_guard lock(previewMutex_);
        previewFrame_ = std::make_unique<TBitmap>();
    }
    spareFrame_ = std::make_unique<TBitmap>();
    btnPrevious_->setEnabled(false);
    btnNext_->setEnabled(false);

    ApplyFolderFallbacks();
    edtOutput_->setText(QString::fromStdString(settings_->OutputFolder()));
    edtFormat_->setTextMargins(4, 2, 0, 0);

    if (lvFiles_->RowCount() > 0)
        lvFiles_->ShowReportView();
    else
        lvFiles_->ShowListView();

    global_->SetVersionText(TGlobalObject::GetFileVersionText());
    const QString title = QString::fromStdString(global_->AppTitle() + global_->VersionText());
    lblTitle_->setText(title);
    setWindowTitle(title.trimmed());
    FillCatalogue();
}

// An output or snapshot folder that cannot be written is replaced, without a message, by the
// fallback folder, which is written back.
void TfrmMain::ApplyFolderFallbacks() {
    if (!FolderUsable(settings_->OutputFolder()))
        settings_->SetOutputFolder(TGlobalObject::FallbackOutputFolder());
    if (!FolderUsable(settings_->SnapshotFolder()))
        settings_->SetSnapshotFolder(TGlobalObject::FallbackOutputFolder());
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (closing_) {
        event->accept();
        return;
    }
    if (!services_.AskYesNo("Do you really want to exit?", "Warning")) {
        event->ignore();
        return;
    }
    lstFormat_->SaveGroupStates(*settings_);
    converter_.OnCustomHook = nullptr;
    converter_.OnProgress = nullptr;
    converter_.OnTerminate = nullptr;
    converter_.Stop(true);
    StopPreview();
    {
        std::lock_guard lock(previewMutex_);
        previewFrame_.reset();
    }
    spareFrame_.reset();
    closing_ = true;
    event->accept();
}

void TfrmMain::btnBrowseClick() {
    const std::string chosen = services_.ChooseOutputFolder(edtOutput_->text().toStdString());
    const std::string shown =
        SetFolderFromChooser(chosen, edtOutput_->text().toStdString(), services_,
                             [this](const std::string& folder) { settings_->SetOutputFolder(folder); });
    if (!shown.empty()) {
        edtOutput_->setText(QString::fromStdString(shown));
        ShowDestinations();
    }
}

void TfrmMain::ShowFileInformation() {
    if (!fileInfo_)
        fileInfo_ = std::make_unique<TfrmFileInfo>(this);
    const int row = lvFiles_->SelectedIndex();
    fileInfo_->ShowFile(lvFiles_->RowCount() > 0 && row >= 0 ? lvFiles_->Row(row)->Record().SourceFile
                                                             : std::string());
    fileInfo_->exec();
}

void TfrmMain::OpenOutputFolder() {
    const std::string folder = settings_->OutputFolder();
    if (edtOutput_->text().size() > 2)
        services_.OpenUrl(folder);
}

void TfrmMain::ShowVolumeSettings() {
    preview_->ShowVolumeSettings();
}

} // namespace tarnel
