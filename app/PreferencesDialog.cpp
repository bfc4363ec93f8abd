#include "PreferencesDialog.h"

#include "core/FolderSetting.h"
#include "core/GlobalObject.h"
#include "core/MainSettings.h"
#include "core/ShellServices.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>

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

QLabel* Caption(QWidget* parent, const char* text, int x, int y, int width = 150) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(x, y, width, 22);
    return label;
}

QCheckBox* Box(QWidget* parent, const char* text, const char* name, int x, int y) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(name);
    box->setGeometry(x, y, 100, 22);
    return box;
}

} // namespace

TfrmPreference::TfrmPreference(TMainSettings& settings, TShellServices& services, QWidget* parent)
    : QDialog(parent)
    , settings_(settings)
    , services_(services) {
    setObjectName("frmPreference");
    setWindowTitle("Preference");
    setFixedSize(480, 420);

    auto* snapshot = new QGroupBox("Snapshot", this);
    snapshot->setGeometry(12, 10, 456, 230);
    Caption(snapshot, "Snapshot folder:", 14, 26);
    edtFolder_ = new QLineEdit(snapshot);
    edtFolder_->setObjectName("edtFolder");
    edtFolder_->setReadOnly(true);
    edtFolder_->setGeometry(14, 50, 270, 24);
    auto* brows = new QPushButton("&Brows", snapshot);
    brows->setGeometry(292, 50, 72, 24);
    auto* open = new QPushButton("&Open", snapshot);
    open->setGeometry(370, 50, 72, 24);

    Caption(snapshot, "Snapshot size:", 14, 84);
    chkSmall_ = Box(snapshot, "Small Size", "chkSmall", 170, 84);
    chkFull_ = Box(snapshot, "Full Size", "chkFull", 290, 84);
    Caption(snapshot, "Snapshot format:", 14, 110);
    chkBmp_ = Box(snapshot, "BMP", "chkBmp", 170, 110);
    chkJpg_ = Box(snapshot, "JPG", "chkJpg", 290, 110);

    Caption(snapshot, "Jpg Compression Quality:", 14, 140, 170);
    spnQuality_ = new QSpinBox(snapshot);
    spnQuality_->setObjectName("spnQuality");
    spnQuality_->setGeometry(190, 140, 64, 24);
    spnQuality_->setRange(1, 100);
    spnQuality_->setSingleStep(1);
    spnQuality_->setToolTip(kQualityHint);
    trcQuality_ = new QSlider(Qt::Horizontal, snapshot);
    trcQuality_->setObjectName("trcQuality");
    trcQuality_->setGeometry(262, 138, 180, 28);
    trcQuality_->setRange(1, 100);
    trcQuality_->setPageStep(2);
    trcQuality_->setSingleStep(1);
    trcQuality_->setTickInterval(10);
    trcQuality_->setTickPosition(QSlider::TicksBelow);
    auto* note = new QLabel("(The higher the value, the better the image quality.)", snapshot);
    note->setGeometry(14, 176, 420, 22);

    auto* priorityBox = new QGroupBox("Work priority", this);
    priorityBox->setGeometry(12, 250, 456, 70);
    priority_ = new QButtonGroup(this);
    const char* const entries[] = {"Idle", "Normal", "Lower", "Lowest"};
    for (int i = 0; i < 4; ++i) {
        auto* radio = new QRadioButton(entries[i], priorityBox);
        radio->setGeometry(20 + i * 108, 30, 100, 24);
        priority_->addButton(radio, i);
    }

    auto* jobsLabel = new QLabel("Simultaneous conversions:", this);
    jobsLabel->setGeometry(14, 332, 180, 24);
    spnJobs_ = new QSpinBox(this);
    spnJobs_->setObjectName("spnJobs");
    spnJobs_->setRange(1, TMainSettings::MaximumJobs());
    spnJobs_->setGeometry(196, 332, 60, 24);

    auto* defaults = new QPushButton("&Default", this);
    defaults->setGeometry(12, 376, 88, 28);
    auto* ok = new QPushButton("&Ok", this);
    ok->setGeometry(284, 376, 88, 28);
    ok->setDefault(true);
    auto* cancel = new QPushButton("&Cancel", this);
    cancel->setGeometry(380, 376, 88, 28);

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
    setFixedSize(480, 420);
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
}

void TfrmPreference::OkClick() {
    const std::string folder = edtFolder_->text().toStdString();
    settings_.SetSnapshotFolder(folder.empty() ? TGlobalObject::DefaultOutputFolder() : folder);
    settings_.SetSnapshotChoices(chkFull_->isChecked(), chkSmall_->isChecked(), chkBmp_->isChecked(),
                                 chkJpg_->isChecked(), spnQuality_->value());
    settings_.SetPriority(Priority());
    settings_.SetJobs(spnJobs_->value());
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
