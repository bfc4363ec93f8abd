#include "ProgressWindow.h"

#include "Snapshots.h"
#include "core/BatchRun.h"
#include "skin/SkinPictures.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace tarnel {

namespace {

const QColor kPreviewBackground(166, 202, 240);
constexpr int kRunningListHeight = 120;

// A value follows its caption; a long one does not widen the window.
QLabel* Value(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

double SteadySeconds() {
    static QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.nsecsElapsed() / 1e9;
}

} // namespace

TfrmProgress::TfrmProgress(TBatchRun& run, std::function<QImage()> latestFrame, TMainSettings& settings,
                           TShellServices& services, QWidget* parent)
    : QDialog(parent)
    , run_(run)
    , latestFrame_(std::move(latestFrame))
    , settings_(settings)
    , services_(services)
    , preview_(kPreviewWidth, kPreviewHeight, QImage::Format_RGB888) {
    setObjectName("frmProgress");
    setWindowTitle("Progress");
    setModal(true);

    imgPreview_ = new QLabel(this);
    imgPreview_->setObjectName("imgPreview");
    imgPreview_->setFixedSize(kPreviewWidth, kPreviewHeight);
    preview_.fill(kPreviewBackground);
    imgPreview_->setPixmap(QPixmap::fromImage(preview_));
    lblPictureFile_ = new QLabel(this);
    lblPictureFile_->setObjectName("lblPictureFile");
    lblPictureFile_->setAlignment(Qt::AlignCenter);
    lblPictureFile_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    // One line tall whether or not it holds a name yet, so the window keeps its height.
    lblPictureFile_->setFixedHeight(lblPictureFile_->fontMetrics().height() + 2);
    lblPictureFile_->hide();

    chkShutDown_ = new QCheckBox("Shut down computer after conversion", this);
    chkShutDown_->setObjectName("chkShutDown");
    chkOpenFolder_ = new QCheckBox("Open the output folder after conversion", this);
    chkOpenFolder_->setObjectName("chkOpenFolder");

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(24, 16, 24, 4);
    page->setSpacing(0);
    page->addWidget(imgPreview_);
    page->addWidget(lblPictureFile_);
    page->addSpacing(14);
    page->addLayout(BuildFigures());
    page->addSpacing(6);
    page->addLayout(BuildBarRow());
    page->addSpacing(8);
    page->addWidget(chkShutDown_);
    page->addWidget(chkOpenFolder_);
    page->addSpacing(6);
    page->addLayout(BuildButtonRow());
    page->addWidget(BuildRunningList());
    page->addStretch(1);
    setFixedSize(DesignedSize());

    connect(btnSnapshot_, &QToolButton::clicked, this, &TfrmProgress::SnapshotClick);
    timer_.setInterval(100);
    connect(&timer_, &QTimer::timeout, this, &TfrmProgress::DrawPreview);
}

// The captions and values of the running task.
QGridLayout* TfrmProgress::BuildFigures() {
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);
    grid->setColumnMinimumWidth(0, 96);
    grid->setColumnStretch(1, 1);
    const std::pair<const char*, const char*> rows[] = {{"Current Time:", "lblCurrentTime"},
                                                        {"Length:", "lblLength"},
                                                        {"File Size:", "lblFileSize"},
                                                        {"Progress:", "lblProgress"},
                                                        {"File:", "lblFile"}};
    QLabel** values[] = {&lblCurrentTime_, &lblLength_, &lblFileSize_, &lblProgress_, &lblFile_};
    for (int row = 0; row < 5; ++row) {
        grid->addWidget(new QLabel(rows[row].first, this), row, 0);
        *values[row] = Value(this, rows[row].second);
        grid->addWidget(*values[row], row, 1);
        grid->setRowMinimumHeight(row, 20);
    }
    return grid;
}

QHBoxLayout* TfrmProgress::BuildBarRow() {
    barProgress_ = new QProgressBar(this);
    barProgress_->setObjectName("barProgress");
    barProgress_->setRange(0, 100);
    barProgress_->setTextVisible(true);
    // 20 high, or as high as its percentage needs; its own hint varies with the style's state.
    barProgress_->setFixedHeight(std::max(20, barProgress_->fontMetrics().height() + 4));
    lblTimeLeft_ = new QLabel(this);
    lblTimeLeft_->setObjectName("lblTimeLeft");
    lblTimeLeft_->setMinimumWidth(90);
    lblTimeLeft_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    row->addWidget(barProgress_, 1);
    row->addWidget(lblTimeLeft_);
    return row;
}

QHBoxLayout* TfrmProgress::BuildButtonRow() {
    btnSnapshot_ = new QToolButton(this);
    btnSnapshot_->setObjectName("btnSnapshot");
    btnSnapshot_->setIcon(skin::ButtonPicture(skin::TButtonPicture::Snapshot, 24));
    btnSnapshot_->setIconSize(QSize(24, 24));
    btnSnapshot_->setToolTip("Save snapshot picture");
    btnSnapshot_->setAutoRaise(true);
    btnSnapshot_->setMinimumSize(30, 28);
    btnPause_ = new QPushButton("Pause", this);
    btnPause_->setObjectName("btnPause");
    btnResume_ = new QPushButton("Resume", this);
    btnResume_->setObjectName("btnResume");
    btnCancel_ = new QPushButton("Cancel", this);
    btnCancel_->setObjectName("btnCancel");
    connect(btnPause_, &QPushButton::clicked, this, &TfrmProgress::PauseClick);
    connect(btnResume_, &QPushButton::clicked, this, &TfrmProgress::ResumeClick);
    connect(btnCancel_, &QPushButton::clicked, this, &QDialog::reject);
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    row->addWidget(btnSnapshot_);
    row->addStretch(1);
    for (QPushButton* button : {btnPause_, btnResume_, btnCancel_}) {
        button->setMinimumSize(80, 26);
        row->addWidget(button);
    }
    return row;
}

// The running files, listed under the buttons while more than one file converts at a time.
QWidget* TfrmProgress::BuildRunningList() {
    runningArea_ = new QWidget(this);
    auto* area = new QVBoxLayout(runningArea_);
    area->setContentsMargins(0, 10, 0, 10);
    lvRunning_ = new QTreeWidget(runningArea_);
    lvRunning_->setObjectName("lvRunning");
    lvRunning_->setFixedHeight(kRunningListHeight); // it scrolls
    lvRunning_->setRootIsDecorated(false);
    lvRunning_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lvRunning_->setHeaderLabels({"File", "Progress", "Time left"});
    lvRunning_->setColumnWidth(0, 210);
    lvRunning_->setColumnWidth(1, 70);
    area->addWidget(lvRunning_);
    runningArea_->hide();
    return runningArea_;
}

// 420 × 460, or 600 high with the list of running files; more when a larger font needs it.
QSize TfrmProgress::DesignedSize() const {
    return QSize(420, runningArea_->isVisibleTo(this) ? 600 : 460).expandedTo(sizeHint());
}

double TfrmProgress::Now() const {
    return SteadySeconds();
}

void TfrmProgress::SetRun(int taskCount, int jobs) {
    taskCount_ = taskCount;
    jobs_ = std::max(1, jobs);
}

void TfrmProgress::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    runningArea_->setVisible(jobs_ > 1);
    lblPictureFile_->setVisible(jobs_ > 1);
    lblPictureFile_->clear();
    // The name under the picture takes its room from the list, which scrolls: the window keeps
    // its designed height.
    lvRunning_->setFixedHeight(kRunningListHeight - (jobs_ > 1 ? lblPictureFile_->height() : 0));
    setFixedSize(DesignedSize());
    lvRunning_->clear();
    running_.clear();
    taskFiles_.clear();
    tasksEnded_ = 0;
    for (QLabel* label : {lblCurrentTime_, lblFileSize_, lblLength_, lblProgress_, lblFile_, lblTimeLeft_})
        label->clear();
    chkOpenFolder_->setChecked(true);
    ShowPaused(false);
    preview_.fill(kPreviewBackground);
    imgPreview_->setPixmap(QPixmap::fromImage(preview_));
    timer_.start();
    barProgress_->setRange(0, 100);
    barProgress_->setValue(0);
    finishing_ = false;
    estimateTask_ = -1;
    run_.Start(jobs_);
}

// Closing in any way stops the run and waits for its end (its final report then closes nothing);
// the final report of a run that has ended closes it quietly.
void TfrmProgress::done(int result) {
    timer_.stop();
    if (!finishing_) {
        finishing_ = true;
        run_.Stop(true);
        WaitForTheEnd();
        finishing_ = false;
    }
    QDialog::done(result);
}

// The stopped tasks' reports come soon after the stop; a run that never ends is left to the host.
void TfrmProgress::WaitForTheEnd() {
    QElapsedTimer waited;
    waited.start();
    while (!run_.Ended() && !run_.WaitForReports(std::chrono::milliseconds(50)) && waited.elapsed() < 10000) {
    }
}

void TfrmProgress::FinishRun() {
    if (finishing_)
        return;
    finishing_ = true;
    if (isVisible())
        accept();
    finishing_ = false;
}

void TfrmProgress::PauseClick() {
    if (paused_)
        return;
    run_.Pause();
    estimate_.Pause(Now());
    for (auto& [task, running] : running_)
        running.Estimate.Pause(Now());
    ShowPaused(true);
}

void TfrmProgress::ResumeClick() {
    if (!paused_)
        return;
    run_.Resume();
    estimate_.Resume(Now());
    for (auto& [task, running] : running_)
        running.Estimate.Resume(Now());
    ShowPaused(false);
}

// Pause while running, Resume while paused; the title says that the run is paused.
void TfrmProgress::ShowPaused(bool paused) {
    paused_ = paused;
    btnPause_->setEnabled(!paused);
    btnResume_->setEnabled(paused);
    setWindowTitle(paused ? "Progress - Paused" : "Progress");
}

void TfrmProgress::SetBar(int percent) {
    if (barProgress_->maximum() == 0)
        barProgress_->setRange(0, 100);
    barProgress_->setValue(percent);
}

bool TfrmProgress::ShutDownTicked() const {
    return chkShutDown_->isChecked();
}

bool TfrmProgress::OpenFolderTicked() const {
    return chkOpenFolder_->isChecked();
}

QString TfrmProgress::ShortFileName(const QString& name) {
    if (name.size() < 51)
        return name;
    const QString suffix = QFileInfo(name).suffix();
    return name.left(44) + ".." + (suffix.isEmpty() ? QString() : "." + suffix);
}

void TfrmProgress::ShowProgress(int taskIndex, int taskCount, int64_t currentUs, int64_t totalUs,
                                int64_t totalBytes, const QString& fileName) {
    lblCurrentTime_->setText(QString::number(currentUs / 1000000) + " Second");
    lblLength_->setText(totalUs > 0 ? QString::number(totalUs / 1000000) + " Second" : QString("unknown"));
    lblFileSize_->setText(QString::number(totalBytes / 1000) + " kb");
    lblProgress_->setText("[" + QString::number(taskIndex + 1) + "/" + QString::number(taskCount) + "]");
    lblFile_->setText(ShortFileName(fileName));
    taskFiles_[taskIndex] = fileName;
    if (jobs_ > 1) {
        ShowRunningTask(taskIndex, currentUs, totalUs, fileName);
        return;
    }
    if (taskIndex != estimateTask_) {
        estimateTask_ = taskIndex;
        estimate_.Start(Now());
    }
    estimate_.Update(currentUs, totalUs, Now());
    const int percent = estimate_.Percent();
    if (percent >= 0) {
        SetBar(percent);
    } else {
        barProgress_->setRange(0, 0); // unknown length: the bar shows that work goes on
    }
    const double left = estimate_.SecondsLeft();
    lblTimeLeft_->setText(left >= 0 ? QString::fromStdString(SecondsToClock(std::llround(left))) + " left"
                                    : QString());
}

void TfrmProgress::ShowMeasuring(int taskIndex, const QString& phase, int percent, const QString& fileName) {
    lblFile_->setText(ShortFileName(fileName));
    taskFiles_[taskIndex] = fileName;
    if (jobs_ > 1) {
        auto [found, added] = running_.try_emplace(taskIndex);
        if (added) {
            found->second.Estimate.Start(Now());
            found->second.Item =
                new QTreeWidgetItem(lvRunning_, {QFileInfo(fileName).fileName(), QString(), QString()});
            found->second.Item->setToolTip(0, fileName);
        }
        found->second.Item->setText(1, QString::number(percent) + "%");
        found->second.Item->setText(2, phase);
        return;
    }
    SetBar(percent);
    lblTimeLeft_->setText(phase);
}

// One row per running file; the bar and the time left are those of the whole run.
void TfrmProgress::ShowRunningTask(int taskIndex, int64_t currentUs, int64_t totalUs,
                                   const QString& fileName) {
    auto [found, added] = running_.try_emplace(taskIndex);
    TRunningTask& task = found->second;
    if (added) {
        task.Estimate.Start(Now());
        task.Item = new QTreeWidgetItem(lvRunning_, {QFileInfo(fileName).fileName(), QString(), QString()});
        task.Item->setToolTip(0, fileName);
    }
    task.Estimate.Update(currentUs, totalUs, Now());
    const int percent = task.Estimate.Percent();
    const double left = task.Estimate.SecondsLeft();
    task.Item->setText(1, percent >= 0 ? QString::number(percent) + "%" : QString("unknown"));
    task.Item->setText(2, left >= 0 ? QString::fromStdString(SecondsToClock(std::llround(left))) : QString());
    ShowWholeRun();
}

void TfrmProgress::TaskEnded(int taskIndex) {
    const auto found = running_.find(taskIndex);
    if (found != running_.end()) {
        delete found->second.Item;
        running_.erase(found);
    }
    ++tasksEnded_;
    if (jobs_ > 1)
        ShowWholeRun();
}

// The whole run: ended tasks count in full, running ones by their share; the time left is that
// of the slowest running file.
void TfrmProgress::ShowWholeRun() {
    if (taskCount_ <= 0)
        return;
    double done = tasksEnded_;
    double slowest = -1;
    for (const auto& [index, task] : running_) {
        done += std::max(0, task.Estimate.Percent()) / 100.0;
        slowest = std::max(slowest, task.Estimate.SecondsLeft());
    }
    SetBar(static_cast<int>(std::min(100.0, done * 100.0 / taskCount_)));
    lblTimeLeft_->setText(
        slowest >= 0 ? QString::fromStdString(SecondsToClock(std::llround(slowest))) + " left" : QString());
}

QStringList TfrmProgress::RunningFiles() const {
    QStringList rows;
    for (int i = 0; i < lvRunning_->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = lvRunning_->topLevelItem(i);
        rows << item->text(0) + " " + item->text(1) + " " + item->text(2);
    }
    return rows;
}

// Largest rectangle of the frame's shape in the area: the full width with bars above and below, or
// the full height with bars left and right.
QRect TfrmProgress::FitFrame(QSize frame, QRect area) {
    const double a = static_cast<double>(frame.width()) / area.width();
    const double b = static_cast<double>(frame.height()) / area.height();
    if (a >= b) {
        const int c = static_cast<int>(std::nearbyint((area.height() - frame.height() / a) / 2));
        return QRect(area.left(), area.top() + c, area.width(), area.height() - 2 * c);
    }
    const int c = static_cast<int>(std::nearbyint((area.width() - frame.width() / b) / 2));
    return QRect(area.left() + c, area.top(), area.width() - 2 * c, area.height());
}

void TfrmProgress::DrawPreview() {
    const QImage frame = latestFrame_ ? latestFrame_() : QImage();
    if (frame.width() <= 0 || frame.height() <= 0)
        return;
    preview_.fill(kPreviewBackground);
    QPainter painter(&preview_);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(FitFrame(frame.size(), preview_.rect()), frame);
    painter.end();
    imgPreview_->setPixmap(QPixmap::fromImage(preview_));
    const auto file = taskFiles_.find(run_.LatestPictureTask());
    if (lblPictureFile_->isVisibleTo(this) && file != taskFiles_.end())
        lblPictureFile_->setText(ShortFileName(QFileInfo(file->second).fileName()));
}

QString TfrmProgress::PictureFile() const {
    return lblPictureFile_->isVisibleTo(this) ? lblPictureFile_->text() : QString();
}

void TfrmProgress::SnapshotClick() {
    const QImage full = latestFrame_ ? latestFrame_() : QImage();
    if (full.isNull())
        return;
    SaveSnapshotPictures(full, preview_, settings_, services_);
}

} // namespace tarnel
