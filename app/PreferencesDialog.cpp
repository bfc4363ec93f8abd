#include "PreferencesDialog.h"

#include "core/FolderSetting.h"
#include "core/GlobalObject.h"
#include "core/MainSettings.h"
#include "core/ShellServices.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

namespace tarnel {

const char* const TfrmPreference::kQualityHint = "Use Compression Quality to set the compression quality of "
                                                 "the \r\nJPEG image when writing out a snapshot jpeg "
                                                 "image. Higher compression \r\nresults in a poorer picture "
                                                 "quality, but a smaller file size. \r\n\r\n The higher "
                                                 "the Compression Quality value (up to a maximum of 100), "
                                                 "\r\nthe better the image quality, but the larger the "
                                                 "file size. \r\nThe lower the Compression Quality value (to "
                                                 "a minimum of 1),\r\n the smaller the resulting file "
                                                 "size, but at the expense of picture quality.";

namespace {

QCheckBox* Box(const char* text, const char* name) {
    auto* box = new QCheckBox(text);
    box->setObjectName(name);
    return box;
}

QPushButton* Button(const char* text) {
    auto* button = new QPushButton(text);
    button->setMinimumSize(72, 24);
    return button;
}

} // namespace

TfrmPreference::TfrmPreference(TMainSettings& settings, TShellServices& services, QWidget* parent)
    : QDialog(parent)
    , settings_(settings)
    , services_(services) {
    setObjectName("frmPreference");
    setWindowTitle("Preference");

    auto* snapshot = new QGroupBox("Snapshot");
    auto* snapshotGrid = new QGridLayout(snapshot);
    snapshotGrid->setColumnMinimumWidth(0, 150);
    snapshotGrid->setColumnMinimumWidth(1, 110);
    snapshotGrid->addWidget(new QLabel("Snapshot folder:"), 0, 0, 1, 4);
    edtFolder_ = new QLineEdit;
    edtFolder_->setObjectName("edtFolder");
    edtFolder_->setReadOnly(true);
    auto* brows = Button("&Brows");
    auto* open = Button("&Open");
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(edtFolder_, 1);
    folderRow->addWidget(brows);
    folderRow->addWidget(open);
    snapshotGrid->addLayout(folderRow, 1, 0, 1, 4);

    snapshotGrid->addWidget(new QLabel("Snapshot size:"), 2, 0);
    chkSmall_ = Box("Small Size", "chkSmall");
    chkFull_ = Box("Full Size", "chkFull");
    snapshotGrid->addWidget(chkSmall_, 2, 1);
    snapshotGrid->addWidget(chkFull_, 2, 2, 1, 2);
    snapshotGrid->addWidget(new QLabel("Snapshot format:"), 3, 0);
    chkBmp_ = Box("BMP", "chkBmp");
    chkJpg_ = Box("JPG", "chkJpg");
    snapshotGrid->addWidget(chkBmp_, 3, 1);
    snapshotGrid->addWidget(chkJpg_, 3, 2, 1, 2);

    snapshotGrid->addWidget(new QLabel("Jpg Compression Quality:"), 4, 0);
    spnQuality_ = new QSpinBox;
    spnQuality_->setObjectName("spnQuality");
    spnQuality_->setRange(1, 100);
    spnQuality_->setSingleStep(1);
    spnQuality_->setToolTip(kQualityHint);
    trcQuality_ = new QSlider(Qt::Horizontal);
    trcQuality_->setObjectName("trcQuality");
    trcQuality_->setRange(1, 100);
    trcQuality_->setPageStep(2);
    trcQuality_->setSingleStep(1);
    trcQuality_->setTickInterval(10);
    trcQuality_->setTickPosition(QSlider::TicksBelow);
    auto* qualityRow = new QHBoxLayout;
    qualityRow->addWidget(spnQuality_);
    qualityRow->addWidget(trcQuality_, 1);
    snapshotGrid->addLayout(qualityRow, 4, 1, 1, 3);
    snapshotGrid->addWidget(new QLabel("(The higher the value, the better the image quality.)"), 5, 0, 1, 4);

    auto* priorityBox = new QGroupBox("Work priority");
    auto* priorityRow = new QHBoxLayout(priorityBox);
    priority_ = new QButtonGroup(this);
    const char* const entries[] = {"Idle", "Normal", "Lower", "Lowest"};
    for (int i = 0; i < 4; ++i) {
        auto* radio = new QRadioButton(entries[i]);
        priorityRow->addWidget(radio);
        priority_->addButton(radio, i);
    }

    spnJobs_ = new QSpinBox;
    spnJobs_->setObjectName("spnJobs");
    spnJobs_->setRange(1, TMainSettings::MaximumJobs());
    auto* jobsRow = new QHBoxLayout;
    jobsRow->addWidget(new QLabel("Simultaneous conversions:"));
    jobsRow->addWidget(spnJobs_);
    jobsRow->addStretch(1);
    chkMeasureQuality_ =
        Box("Measure picture quality (PSNR, SSIM) of each converted video", "chkMeasureQuality");

    auto* defaults = new QPushButton("&Default");
    auto* ok = new QPushButton("&Ok");
    ok->setDefault(true);
    auto* cancel = new QPushButton("&Cancel");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(defaults);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    for (QPushButton* button : {defaults, ok, cancel})
        button->setMinimumSize(88, 28);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(12, 10, 12, 14);
    page->addWidget(snapshot);
    page->addWidget(priorityBox);
    page->addLayout(jobsRow);
    page->addWidget(chkMeasureQuality_);
    page->addStretch(1);
    page->addLayout(buttons);
    // Its designed size; a larger font or scale makes it grow instead of clipping a caption.
    page->setSizeConstraint(QLayout::SetMinimumSize);
    resize(480, 420);

    connect(brows, &QPushButton::clicked, this, &TfrmPreference::BrowsClick);
    connect(open, &QPushButton::clicked, this, &TfrmPreference::OpenClick);
    connect(defaults, &QPushButton::clicked, this, &TfrmPreference::DefaultClick);
    connect(ok, &QPushButton::clicked, this, &TfrmPreference::OkClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(chkFull_, &QCheckBox::clicked, this, [this] { KeepOneTicked(chkFull_, chkSmall_); });
    connect(chkSmall_, &QCheckBox::clicked, this, [this] { KeepOneTicked(chkSmall_, chkFull_); });
    connect(chkBmp_, &QCheckBox::clicked, this, [this] { KeepOneTicked(chkBmp_, chkJpg_); });
    connect(chkJpg_, &QCheckBox::clicked, this, [this] {
        KeepOneTicked(chkJpg_, chkBmp_);
        UpdateQualityEnabling();
    });
    connect(trcQuality_, &QSlider::valueChanged, this, [this](int value) {
        if (value >= 1 && value <= 100)
            spnQuality_->setValue(value);
    });
    connect(spnQuality_, &QSpinBox::valueChanged, this, [this](int value) {
        if (value >= 1 && value <= 100)
            trcQuality_->setValue(value);
    });
}

void TfrmPreference::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    LoadSettings();
}

void TfrmPreference::LoadSettings() {
    resize(480, 420); // the designed size; the layout keeps it from clipping a caption
    std::string folder = settings_.SnapshotFolder();
    if (!FolderUsable(folder)) {
        folder = TGlobalObject::FallbackOutputFolder();
        settings_.SetSnapshotFolder(folder);
    }
    edtFolder_->setText(QString::fromStdString(folder));
    // A box is never unticked here: one left unticked from an earlier showing stays so unless its
    // setting is on.
    const std::pair<QCheckBox*, bool> boxes[] = {{chkFull_, settings_.SnapFullSize()},
                                                 {chkSmall_, settings_.SnapSmallSize()},
                                                 {chkBmp_, settings_.SnapBmp()},
                                                 {chkJpg_, settings_.SnapJpg()}};
    for (const auto& [box, on] : boxes)
        if (on)
            box->setChecked(true);
    UpdateQualityEnabling();
    spnQuality_->setValue(settings_.JpegQuality());
    trcQuality_->setValue(settings_.JpegQuality());
    if (QAbstractButton* entry = priority_->button(settings_.Priority()))
        entry->setChecked(true);
    spnJobs_->setValue(settings_.Jobs());
    chkMeasureQuality_->setChecked(settings_.MeasureQuality());
}

void TfrmPreference::UpdateQualityEnabling() {
    spnQuality_->setEnabled(chkJpg_->isChecked());
    trcQuality_->setEnabled(chkJpg_->isChecked());
}

void TfrmPreference::KeepOneTicked(QCheckBox* clicked, QCheckBox* other) {
    if (!clicked->isChecked() && !other->isChecked())
        clicked->setChecked(true);
}

int TfrmPreference::Priority() const {
    return priority_->checkedId();
}

void TfrmPreference::DefaultClick() {
    edtFolder_->setText(QString::fromStdString(TGlobalObject::DefaultOutputFolder()));
    chkBmp_->setChecked(true);
    chkJpg_->setChecked(false);
    chkFull_->setChecked(true);
    chkSmall_->setChecked(false);
    UpdateQualityEnabling();
    priority_->button(1)->setChecked(true);
    spnQuality_->setValue(20);
    spnJobs_->setValue(1);
    chkMeasureQuality_->setChecked(false);
}

void TfrmPreference::OkClick() {
    const std::string folder = edtFolder_->text().toStdString();
    settings_.SetSnapshotFolder(folder.empty() ? TGlobalObject::DefaultOutputFolder() : folder);
    settings_.SetSnapshotChoices(chkFull_->isChecked(), chkSmall_->isChecked(), chkBmp_->isChecked(),
                                 chkJpg_->isChecked(), spnQuality_->value());
    settings_.SetPriority(Priority());
    settings_.SetJobs(spnJobs_->value());
    settings_.SetMeasureQuality(chkMeasureQuality_->isChecked());
    accept();
}

void TfrmPreference::BrowsClick() {
    const std::string shown = edtFolder_->text().toStdString();
    const std::string folder =
        SetFolderFromChooser(services_.ChooseOutputFolder(shown), shown, services_,
                             [this](const std::string& chosen) { settings_.SetSnapshotFolder(chosen); });
    if (!folder.empty())
        edtFolder_->setText(QString::fromStdString(folder));
}

void TfrmPreference::OpenClick() {
    const std::string folder = settings_.SnapshotFolder();
    if (edtFolder_->text().size() > 2)
        services_.OpenUrl(folder);
}

} // namespace tarnel
