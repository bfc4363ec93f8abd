// The progress window of a batch: a live picture of the conversion (named after its file while
// several run side by side), the figures of the task that runs, the after-conversion choices,
// snapshot, Pause, Resume and Cancel. Opening it starts the batch run; closing it in any way stops
// the run and waits for its end, so that the run's summary names the stopped files.
#pragma once

#include "core/ProgressEstimate.h"

#include <QDialog>
#include <QImage>
#include <QTimer>
#include <functional>
#include <map>

class QCheckBox;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tarnel {

class TBatchRun;
class TMainSettings;
class TShellServices;

class TfrmProgress : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPreviewWidth = 372;
    static constexpr int kPreviewHeight = 210;

    // `latestFrame` gives the newest conversion picture (a null image while there is none).
    TfrmProgress(TBatchRun& run, std::function<QImage()> latestFrame, TMainSettings& settings,
                 TShellServices& services, QWidget* parent = nullptr);

    // The figures of a progress report: the task (0-based) of `taskCount`, the source's name.
    void ShowProgress(int taskIndex, int taskCount, int64_t currentUs, int64_t totalUs, int64_t totalBytes,
                      const QString& fileName);
    void SetBar(int percent);
    // A measuring pass before or after a file's conversion: `phase` says which, `percent` how far.
    void ShowMeasuring(int taskIndex, const QString& phase, int percent, const QString& fileName);
    // The run about to start: its number of tasks and how many run side by side. With more than
    // one, the window lists every running file and its bar shows the whole run.
    void SetRun(int taskCount, int jobs);
    // A task's final report: it leaves the list of running files.
    void TaskEnded(int taskIndex);
    // The running files as listed: name, percent, time left.
    QStringList RunningFiles() const;
    bool ShutDownTicked() const;
    bool OpenFolderTicked() const;
    // Closes the window once the run has ended (the final report), without stopping anything.
    void FinishRun();

    // The rectangle of the largest `frame`-shaped picture centred in `area` (rounded halves to even).
    static QRect FitFrame(QSize frame, QRect area);
    // The "File:" text: the name when shorter than 51 characters, else its first 44, "..", and the
    // extension with its dot.
    static QString ShortFileName(const QString& name);
    // The picture as the window shows it (372 × 210, with its bars).
    const QImage& PreviewPicture() const { return preview_; }

    void PauseClick();
    void ResumeClick();
    bool Paused() const { return paused_; }
    // The file the picture comes from, as shown under it; empty while one file runs at a time.
    QString PictureFile() const;
    void SnapshotClick();

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    struct TRunningTask {
        TProgressEstimate Estimate;
        QTreeWidgetItem* Item = nullptr;
    };
    QGridLayout* BuildFigures();
    QHBoxLayout* BuildBarRow();
    QHBoxLayout* BuildButtonRow();
    QWidget* BuildRunningList();
    QSize DesignedSize() const;
    void DrawPreview();
    double Now() const;
    void ShowRunningTask(int taskIndex, int64_t currentUs, int64_t totalUs, const QString& fileName);
    void ShowWholeRun();
    void ShowPaused(bool paused);
    void WaitForTheEnd();

    TBatchRun& run_;
    std::function<QImage()> latestFrame_;
    TMainSettings& settings_;
    TShellServices& services_;
    QImage preview_;
    QTimer timer_;
    TProgressEstimate estimate_;
    int estimateTask_ = -1;
    bool finishing_ = false;
    bool paused_ = false;
    std::map<int, QString> taskFiles_; // the source of each task that reported
    int jobs_ = 1;
    int taskCount_ = 0;
    int tasksEnded_ = 0;
    std::map<int, TRunningTask> running_;
    QWidget* runningArea_;
    QTreeWidget* lvRunning_;

    QLabel* imgPreview_;
    QLabel* lblPictureFile_;
    QLabel* lblCurrentTime_;
    QLabel* lblLength_;
    QLabel* lblFileSize_;
    QLabel* lblProgress_;
    QLabel* lblFile_;
    QLabel* lblTimeLeft_;
    QProgressBar* barProgress_;
    QCheckBox* chkShutDown_;
    QCheckBox* chkOpenFolder_;
    QToolButton* btnSnapshot_;
    QPushButton* btnPause_;
    QPushButton* btnResume_;
    QPushButton* btnCancel_;
};

} // namespace tarnel
