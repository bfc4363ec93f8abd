// What the main window's buttons and menus do, and when they are enabled.
#include "AboutDialog.h"
#include "CropDialog.h"
#include "MainWindow.h"
#include "PreferencesDialog.h"
#include "SettingsDialog.h"
#include "TrimDialog.h"
#include "WatermarkDialog.h"
#include "widgets/CatalogueList.h"
#include "widgets/FileListView.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

namespace tarnel {

void TfrmMain::ConnectSignals() {
    connect(btnAdd_, &QToolButton::clicked, this, [this] { btnAddClick(); });
    connect(btnRemove_, &QToolButton::clicked, this, [this] { btnRemoveClick(); });
    connect(btnClear_, &QToolButton::clicked, this, [this] { btnClearClick(); });
    FlatButtonMenu(btnEdit_, mnuEdit_);
    connect(btnOpen_, &QPushButton::clicked, this, [this] { OpenOutputFolder(); });
    connect(btnBrowse_, &QPushButton::clicked, this, [this] { btnBrowseClick(); });
    connect(btnSettings_, &QToolButton::clicked, this, [this] { ShowSettingsDialog(); });
    connect(btnFormatSettings_, &QPushButton::clicked, this, [this] {
        lstFormat_->SaveGroupStates(*settings_);
        ShowSettingsDialog();
    });
    for (QToolButton* start : {btnStart_, btnStartBig_})
        connect(start, &QToolButton::clicked, this, [this] { btnStartClick(); });
    connect(actEditStart_, &QAction::triggered, this, [this] { btnStartClick(); });
    connect(actEditInfo_, &QAction::triggered, this, [this] { ShowFileInformation(); });
    connect(actEditTrim_, &QAction::triggered, this, [this] { EditTrim(); });
    connect(actEditCrop_, &QAction::triggered, this, [this] { EditCrop(); });
    connect(actEditEffect_, &QAction::triggered, this, [this] { EditWatermark(); });
    for (QAction* action : mnuFile_->actions())
        if (action->text() == "&Start")
            connect(action, &QAction::triggered, this, [this] { btnStartClick(); });

    connect(lvFiles_, &TFileListView::FilesDropped, this, [this](const QStringList& files) {
        std::vector<std::string> paths;
        for (const QString& file : files)
            paths.push_back(file.toStdString());
        AddFiles(paths);
    });
    connect(lvFiles_, &TFileListView::TicksChanged, this, [this] { ShowDestinations(); });
    connect(lvFiles_, &TFileListView::ContextMenuRequested, this,
            [this](const QPoint& at) { mnuEdit_->popup(at); });

    connect(btnFormatArrow_, &QToolButton::clicked, this, [this] {
        if (lstFormat_->isVisible())
            HideCatalogue();
        else
            OpenCatalogue(true);
    });
    connect(lstFormat_, &TCatalogueList::ProfileChosen, this, &TfrmMain::ChooseProfile);
    connect(lstFormat_, &TCatalogueList::GroupToggled, this, [this] {
        if (lstFormat_->isVisible())
            FitCatalogue();
    });
    connect(qApp, &QApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state != Qt::ApplicationActive)
            HideCatalogue();
    });
    qApp->installEventFilter(this);

    for (QAction* action : mnuHelp_->actions())
        if (action->text() == "&About")
            connect(action, &QAction::triggered, this, [this] {
                TfrmAbout about(*global_, services_, this);
                about.exec();
                ForgetHeaderHover();
            });
}

void TfrmMain::ShowSettingsDialog() {
    if (!settingsDialog_)
        settingsDialog_ = std::make_unique<TfrmSettings>(
            *settings_, global_->ProfileFile(), services_, [this] { FillCatalogue(); }, this);
    settingsDialog_->exec();
    ForgetHeaderHover();
    ShowDestinations(); // the dialog may have chosen another profile
}

void TfrmMain::ShowPreferences() {
    if (!preferences_)
        preferences_ = std::make_unique<TfrmPreference>(*settings_, services_, this);
    preferences_->exec();
    ForgetHeaderHover();
}

TFileRow* TfrmMain::RowToEdit(bool& selectedFirst) {
    selectedFirst = false;
    if (lvFiles_->RowCount() == 0)
        return nullptr;
    if (lvFiles_->SelectedIndex() < 0) {
        lvFiles_->SelectRow(0);
        lvFiles_->setFocus();
        selectedFirst = true;
    }
    return lvFiles_->Row(lvFiles_->SelectedIndex());
}

void TfrmMain::EditTrim() {
    StopPreview();
    bool selectedFirst = false;
    TFileRow* row = RowToEdit(selectedFirst);
    if (!row)
        return;
    if (!trimDialog_)
        trimDialog_ = std::make_unique<TfrmTrim>(*settings_, this);
    trimDialog_->Edit(*row, selectedFirst);
    SaveFileList();
}

void TfrmMain::EditCrop() {
    StopPreview();
    bool selectedFirst = false;
    TFileRow* row = RowToEdit(selectedFirst);
    if (!row)
        return;
    {
        TfrmCrop crop(*settings_, this);
        crop.Edit(*row);
    }
    SaveFileList();
    ShowVolumeSettings(); // the dialog may have changed the volume and mute
}

void TfrmMain::EditWatermark() {
    StopPreview();
    bool selectedFirst = false;
    TFileRow* row = RowToEdit(selectedFirst);
    if (!row)
        return;
    TfrmWaterMark watermark(*settings_, services_, global_->HelpUrl() + "/watermark", this);
    watermark.Edit(*row);
    SaveFileList();
}

// The entries that work on the selected row are enabled only when there is one.
void TfrmMain::UpdateEditMenu() {
    const bool rowSelected = lvFiles_->RowCount() > 0 && lvFiles_->SelectedIndex() >= 0;
    for (QAction* action : {actEditCrop_, actEditTrim_, actEditEffect_, actEditInfo_, actEditRemove_,
                            actEditClear_, actEditStart_})
        action->setEnabled(rowSelected);
}

} // namespace tarnel
