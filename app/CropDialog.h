// The crop dialog: margins cut off the picture with a frame over the playing file, and the
// picture settings of the row, with the cropped and adjusted result shown beside the input.
#pragma once

#include "base/Bitmap.h"
#include "core/CropGeometry.h"
#include "core/PictureAdjustment.h"

#include <QDialog>
#include <QImage>
#include <memory>

class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QSpinBox;
class QTabWidget;
class QToolButton;
class QVBoxLayout;

namespace tarnel {

class TFileRow;
class TMainSettings;
class TPictureView;
class TPreviewPanel;
class TPreviewPlayer;
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

    void DefaultClick();
    void EffectResetClick();
    void OkClick();
    // Draws the latest picture from the player into both previews: the input as it is, the output
    // adjusted and cropped.
    void RefreshPreviews();

    TRectTracker& Tracker() { return *tracker_; }
    TPreviewPlayer& Preview() { return *preview_; }
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

private:
    QHBoxLayout* BuildSourceRow();
    QHBoxLayout* BuildPreviews();
    QVBoxLayout* BuildPlayerControls();
    QTabWidget* BuildPages();
    QHBoxLayout* BuildButtons();
    QHBoxLayout* BuildEffectRow(QWidget* page, int index);
    QWidget* BuildEffectPage();
    QWidget* BuildCropPage();
    void ConnectPreview();
    void ShowFileName(const std::string& path);
    void ShowVideo();
    void ShowNoVideo();
    void PlaceFrame(const TBox& frame);
    void FrameDragged();
    void ShowMargins(const TMargins& margins);
    void RecomputeCrop();
    void CloseDown();

    TFileRow* row_ = nullptr;
    TBox picture_;
    int videoWidth_ = 0;
    int videoHeight_ = 0;
    TMargins crop_;
    TBox frameAtPress_;
    bool frameMoving_ = false;
    bool frameDragging_ = false;
    bool showingMargins_ = false;

    QImage latest_;    // the player's latest picture (Format_BGR888)
    TBitmap adjusted_; // the latest picture with the row's picture settings

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
    std::unique_ptr<TPreviewPlayer> preview_;
};

} // namespace tarnel
