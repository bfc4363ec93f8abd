// The crop dialog: margins cut off the picture with a frame over the playing file, and the
// picture settings of the row, with the cropped and adjusted result shown beside the input.
#pragma once

#include "base/Bitmap.h"
#include "core/CropGeometry.h"
#include "core/PictureAdjustment.h"
#include "player/FFPlayer.h"

#include <QDialog>
#include <atomic>
#include <memory>
#include <mutex>

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;
class QTabWidget;
class QTimer;
class QToolButton;

namespace tarnel {

class TFileRow;
class TMainSettings;
class TPictureView;
class TPreviewPanel;
class TRectTracker;
class TTrackBar2;

class TfrmCrop : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPreviewWidth = 420;
    static constexpr int kPreviewHeight = 303;

    explicit TfrmCrop(TMainSettings& settings, QWidget* parent = nullptr);
    ~TfrmCrop() override;

    // Opens the row's file and shows the dialog modally.
    int Edit(TFileRow& row);
    // Opens the file and fills the dialog from the row, without showing it modally.
    bool Load(TFileRow& row);

    void PlayClick();
    void PauseClick();
    void StopClick();
    void DefaultClick();
    void EffectResetClick();
    void MuteClick();
    void OkClick();
    // Draws the latest picture into both previews (the 100 ms timer does this while playing).
    void RefreshPreviews();

    TRectTracker& Tracker() { return *tracker_; }
    TFFPlayer& Player() { return player_; }
    TBox PictureBox() const { return picture_; }
    TMargins Margins() const;
    TMargins Crop() const { return crop_; }
    TPictureSettings Effects() const;
    void SetEffects(const TPictureSettings& effects);
    // Moves the crop frame as a drag would, ending at `frame` (form coordinates).
    void DragFrameTo(const TBox& frame, bool moving);
    TPictureView& OutputPreview() { return *imgOutput_; }
    TPictureView& InputPreview() { return *imgPreview_; }
    TTrackBar2& VolumeBar() { return *trcVolume_; }
    bool HasPicture() const;

protected:
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildPreviews();
    void BuildPlayerControls();
    void BuildPages();
    void BuildButtons();
    QWidget* BuildEffectPage();
    QWidget* BuildCropPage();
    bool OpenFile();
    void ShowFileName(const std::string& path);
    void ShowVideo();
    void ShowNoVideo();
    void FileOpened(int64_t duration);
    void Position(int64_t pts);
    void State(TPlayState state);
    void SetPlaying(bool playing);
    void HookPicture(const TBitmap& bitmap);
    void PlaceFrame(const TBox& frame);
    void FrameDragged();
    void ShowMargins(const TMargins& margins);
    void RecomputeCrop();
    void CloseDown();
    uintptr_t PanelHandle() const;

    TMainSettings& settings_;
    TFFPlayer player_;
    TFileRow* row_ = nullptr;
    TBox picture_;
    int videoWidth_ = 0;
    int videoHeight_ = 0;
    TMargins crop_;
    TBox frameAtPress_;
    bool frameMoving_ = false;
    bool frameDragging_ = false;
    bool showingMargins_ = false;
    std::atomic<bool> stopped_{true};
    std::atomic<bool> paused_{true};
    bool pressed_ = false;
    int64_t durationUs_ = 0;

    // Written by the player's video thread, read by the timer.
    std::mutex frameMutex_;
    std::unique_ptr<TBitmap> frameCopy_;
    bool frameFresh_ = false;
    // The timer's own copy, adjusted and cropped on the main thread.
    TBitmap shownFrame_;
    TBitmap adjusted_;

    TPictureView* imgPreview_;
    TPictureView* imgOutput_;
    TRectTracker* tracker_;
    TPreviewPanel* pan1_;
    QLabel* lblFileName_;
    TTrackBar2* trcPreview_;
    TTrackBar2* trcVolume_;
    QToolButton* btnPlay_;
    QToolButton* btnPause_;
    QToolButton* btnStop_;
    QToolButton* btnMute_;
    QLabel* lblTime_;
    QLabel* lblPTS_;
    QTabWidget* pages_;
    QSpinBox* spedUp_;
    QSpinBox* spedDown_;
    QSpinBox* spedLeft_;
    QSpinBox* spedRight_;
    TTrackBar2* effectBars_[4];
    QSpinBox* effectSpins_[4];
    QComboBox* cmbZoom_;
    QCheckBox* chkText_;
    QCheckBox* chkImage_;
    QTimer* timer_;
};

} // namespace tarnel
