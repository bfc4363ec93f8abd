// The main window: menus and buttons, the file list, the profile catalogue, the preview panel and
// the output folder. Split by feature: MainWindow.cpp (creation, show, close), MainWindowLayout.cpp
// (controls and their places), MainWindowFiles.cpp (Add, Remove, Clear), MainWindowCatalogue.cpp
// (the profile field and its drop-down list).
#pragma once

#include "base/Bitmap.h"
#include "converter/FFConverter.h"
#include "core/BatchRun.h"
#include "core/FileAdmission.h"
#include "core/GlobalObject.h"
#include "core/MainSettings.h"
#include "core/SavedList.h"
#include "player/FFPlayer.h"
#include "render/FrameHookRenderer.h"

#include <QImage>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QAction;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPainter;
class QPushButton;
class QToolButton;

namespace tarnel {

class TCatalogueList;
class TFileListView;
class TFileRow;
class TPreviewPanel;
class TPreviewPlayer;
class TTrackBar2;
class TfrmFileInfo;
class TfrmPreference;
class TfrmProgress;
class TfrmSettings;
class TfrmTrim;
class TShellServices;

class TfrmMain : public QWidget, private TBatchRunListener {
    Q_OBJECT
public:
    static constexpr int kWidth = 914;
    static constexpr int kHeight = 566;

    explicit TfrmMain(TShellServices& services, QWidget* parent = nullptr);
    ~TfrmMain() override;

    TGlobalObject& Global() { return *global_; }
    TMainSettings& Settings() { return *settings_; }
    TShellServices& Services() { return services_; }
    TFFConverter& Converter() { return converter_; }
    TFileListView& FileList() { return *lvFiles_; }
    TCatalogueList& Catalogue() { return *lstFormat_; }
    QLineEdit& ProfileField() { return *edtFormat_; }
    QLineEdit& OutputFolderField() { return *edtOutput_; }
    TTrackBar2& VolumeBar() { return *trcVolume_; }
    TTrackBar2& SeekBar() { return *trcPreview_; }
    TPreviewPlayer& Preview() { return *preview_; }
    TFFPlayer& Player();
    QToolButton& MuteButton() { return *btnMute_; }
    QMenu& EditMenu() { return *mnuEdit_; }
    bool Muted() const;
    QStringList LogLines() const;
    void AddLogLine(const QString& line);

    // Add: the open dialog, then AddFiles with the chosen files.
    void btnAddClick();
    // File › Add Folder…: every media file in a chosen folder and its subfolders.
    void AddFolderClick();
    // Adds files as Add does after its dialog, and every file in the folders among them; also used
    // for names given on the command line and dropped on the list. What is not added is named in
    // one message with its reason.
    void AddFiles(const std::vector<std::string>& names);
    // Removes the selected rows.
    void btnRemoveClick();
    // Reads `names` (files and folders) for the list on another thread, showing progress.
    TAdmission AdmitWithProgress(const std::vector<std::string>& names,
                                 const std::vector<std::string>& listed);
    static constexpr int kAddProgressDelayMs = 500;
    TFileRow& AddRow(std::unique_ptr<TlvFilesRecord> record, bool checked);
    std::string SavedListPath() const;
    void SaveFileList();
    void RestoreFileList();
    // Each row's Destination File as Start will name it.
    void ShowDestinations();
    void btnClearClick();
    // Start: a task per ticked row, then the progress window until the run ends.
    void btnStartClick();
    void btnBrowseClick();
    void ShowFileInformation();
    void ShowSettingsDialog();
    void ShowPreferences();
    // Edit menu "&Trim", "&Crop" and "&Video Effect && Water Mark": the dialog for the selected
    // row (row 0 when none is), after the preview stops.
    void EditTrim();
    void EditCrop();
    void EditWatermark();
    TfrmTrim* TrimDialog() { return trimDialog_.get(); }
    TfrmSettings* SettingsDialog() { return settingsDialog_.get(); }
    TfrmPreference* Preferences() { return preferences_.get(); }
    TfrmProgress* ProgressWindow() { return progress_.get(); }
    const TBatchPlan& Plan() const { return batch_->Plan(); }
    // A progress report of the batch run: the task's row and the progress window show it.
    void TaskProgress(const TProgressInfo& info) override;
    // The conversion component's preview pictures (on the main thread).
    void PreviewReport(const TPreviewInfo& info);
    QImage LatestPreviewFrame();
    // The preview panel: Play plays on after Pause, else opens the selected row (row 0 when none
    // is); on an empty list it runs Add first.
    void PlayClick();
    // Stop: also before a batch, Remove, Clear and the editing dialogs.
    void StopPreview();
    void PreviousClick();
    void NextClick();
    void SnapshotClick();
    void OpenCatalogue(bool resize);
    void HideCatalogue();
    void FitCatalogue();
    // Rereads "FormatName" and refills the catalogue list (show, and after the settings dialog).
    void FillCatalogue();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateGlobalObject();
    void LoadMediaLibraries();
    void BuildLayout();
    void BuildMenus();
    QWidget* BuildHeader();
    void SetTabOrder();
    void ForgetHeaderHover();
    QHBoxLayout* BuildToolbar();
    // The preview panel with the seek bar, the transport buttons, volume and the time under it.
    QWidget* BuildPreviewColumn();
    // The profile and output-folder rows with the big Start button.
    QGridLayout* BuildBottomRows();
    void ConnectSignals();
    void ApplyFolderFallbacks();
    void UpdateEditMenu();
    // The selected row for an editing dialog; selects row 0 when none is. Null on an empty list.
    TFileRow* RowToEdit(bool& selectedFirst);
    void ShowVolumeSettings();
    void ChooseProfile(const QString& caption, int code);
    void OpenOutputFolder();
    void ConnectConverter();
    int TickedRowCount() const;
    void ReportProblemsOfTheRun();
    // The rest of the batch run's side (MainWindowBatch.cpp).
    void ReportsWaiting() override;
    void TaskEnded(const TFileResult& result) override;
    TAfterActions AfterActions() override;
    void RunEnded(const TBatchSummary& summary) override;
    void ConnectPreview();
    int PreviewIndex() const;
    void UpdatePreviousNext();
    void PreviewOpened(int64_t duration, int frameWidth, int frameHeight);
    void ShowPreviewTimesAtRest();
    void DrawSeekTrack(QPainter& painter);
    void DrawSeekThumb(QPainter& painter, int x, int y);
    void DrawVolumeTrack(QPainter& painter);
    void DrawVolumeThumb(QPainter& painter, int x, int y);
    bool CatalogueOwns(QObject* object) const;
    std::string LibraryFolder() const;
    void FlatButtonMenu(QToolButton* button, QMenu* menu);

    TShellServices& services_;
    std::unique_ptr<TGlobalObject> global_;
    std::unique_ptr<TMainSettings> settings_;
    TFFConverter converter_;
    TFrameHookRenderer renderer_;
    std::unique_ptr<TBatchRun> batch_; // destroyed before the renderer, which its tasks draw with
    int runJobs_ = 1;
    std::unique_ptr<TfrmProgress> progress_;
    std::unique_ptr<TfrmFileInfo> fileInfo_;
    std::unique_ptr<TfrmSettings> settingsDialog_;
    std::unique_ptr<TfrmPreference> preferences_;
    std::unique_ptr<TfrmTrim> trimDialog_;
    std::mutex previewMutex_; // guards the pixels of previewFrame_
    std::unique_ptr<TBitmap> previewFrame_;
    std::unique_ptr<TBitmap> spareFrame_;
    bool shownOnce_ = false;
    bool closing_ = false;
    bool playRequested_ = false; // Play on an empty list: the files Add adds play

    // Menus
    QMenu* mnuFile_ = nullptr;
    QMenu* mnuEdit_ = nullptr;
    QMenu* mnuHelp_ = nullptr;
    QAction* actEditCrop_ = nullptr;
    QAction* actEditTrim_ = nullptr;
    QAction* actEditEffect_ = nullptr;
    QAction* actEditInfo_ = nullptr;
    QAction* actEditRemove_ = nullptr;
    QAction* actEditClear_ = nullptr;
    QAction* actEditStart_ = nullptr;

    // Controls
    QLabel* lblTitle_ = nullptr;
    QToolButton* btnAdd_ = nullptr;
    QToolButton* btnRemove_ = nullptr;
    QToolButton* btnClear_ = nullptr;
    QToolButton* btnSettings_ = nullptr;
    QToolButton* btnEdit_ = nullptr;
    QToolButton* btnStart_ = nullptr;
    QToolButton* btnStartBig_ = nullptr;
    TFileListView* lvFiles_ = nullptr;
    TPreviewPanel* pnlPreview_ = nullptr;
    QLabel* imgStill_ = nullptr;
    QToolButton* btnPrevious_ = nullptr;
    QToolButton* btnPlay_ = nullptr;
    QToolButton* btnPause_ = nullptr;
    QToolButton* btnStop_ = nullptr;
    QToolButton* btnNext_ = nullptr;
    QToolButton* btnSnapshot_ = nullptr;
    QToolButton* btnMute_ = nullptr;
    TTrackBar2* trcPreview_ = nullptr;
    TTrackBar2* trcVolume_ = nullptr;
    QLabel* lblTime_ = nullptr;
    QLabel* lblDuration_ = nullptr;
    QLineEdit* edtFormat_ = nullptr;
    QToolButton* btnFormatArrow_ = nullptr;
    QPushButton* btnFormatSettings_ = nullptr;
    TCatalogueList* lstFormat_ = nullptr;
    QLineEdit* edtOutput_ = nullptr;
    QPushButton* btnBrowse_ = nullptr;
    QPushButton* btnOpen_ = nullptr;
    QPlainTextEdit* memLog_ = nullptr;
    std::unique_ptr<TPreviewPlayer> preview_; // made after the controls; goes before settings_
    std::unique_ptr<TListSaver> listSaver_;   // made at the first save; flushed first on destruction
};

} // namespace tarnel
