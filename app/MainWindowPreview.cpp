// The preview panel of the main window on its preview player: what Play opens, Previous and Next,
// the time labels, the look of the seek and volume bars, and snapshots.
#include "MainWindow.h"
#include "Snapshots.h"
#include "TrackBar2.h"
#include "base/FFmpegLoader.h"
#include "core/ProgressEstimate.h"
#include "core/ShellServices.h"
#include "preview/PreviewPlayer.h"
#include "skin/SkinPictures.h"
#include "widgets/FileListView.h"
#include "widgets/PreviewPanel.h"

#include <QLabel>
#include <QPainter>
#include <QToolButton>
#include <cmath>

namespace tarnel {

namespace {

const QColor kBarBackground(24, 52, 91);
const QColor kPlayed(118, 152, 202);
const QColor kRest(36, 75, 123);
// The position label ends in the separator before the duration label beside it.
const QString kTimeSeparator = " / ";
const QString kNoTime = "00:00:00";

// Whole seconds, rounded to the nearest (halves to even).
int64_t RoundedSeconds(int64_t microseconds) {
    return static_cast<int64_t>(std::nearbyint(microseconds / 1e6));
}

QString Clock(int64_t microseconds) {
    return QString::fromStdString(SecondsToClock(RoundedSeconds(microseconds)));
}

void FillBetween(QPainter& painter, int left, int top, int right, int bottom, const QColor& color) {
    if (right > left && bottom > top)
        painter.fillRect(QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)), color);
}

} // namespace

void TfrmMain::ConnectPreview() {
    preview_ = std::make_unique<TPreviewPlayer>(*pnlPreview_, *settings_,
                                                TPreviewPlayer::TControls{.Play = btnPlay_,
                                                                          .Pause = btnPause_,
                                                                          .Stop = btnStop_,
                                                                          .Snapshot = btnSnapshot_,
                                                                          .SeekBar = trcPreview_,
                                                                          .VolumeBar = trcVolume_,
                                                                          .Mute = btnMute_});
    connect(preview_.get(), &TPreviewPlayer::Opened, this, &TfrmMain::PreviewOpened);
    connect(preview_.get(), &TPreviewPlayer::PositionChanged, this,
            [this](int64_t pts) { lblTime_->setText(Clock(pts) + kTimeSeparator); });
    connect(preview_.get(), &TPreviewPlayer::StateChanged, this, [this](TPreviewState state) {
        if (state == TPreviewState::Closed || state == TPreviewState::Ended)
            ShowPreviewTimesAtRest();
    });

    connect(btnPlay_, &QToolButton::clicked, this, [this] { PlayClick(); });
    connect(btnPrevious_, &QToolButton::clicked, this, [this] { PreviousClick(); });
    connect(btnNext_, &QToolButton::clicked, this, [this] { NextClick(); });
    connect(btnSnapshot_, &QToolButton::clicked, this, [this] { SnapshotClick(); });
    connect(lvFiles_, &QTreeWidget::itemClicked, this, [this] { UpdatePreviousNext(); });
    connect(lvFiles_, &QTreeWidget::itemDoubleClicked, this, [this] { PlayClick(); });

    connect(trcPreview_, &TTrackBar2::DrawingTrack, this,
            [this](QPainter& painter) { DrawSeekTrack(painter); });
    connect(trcPreview_, &TTrackBar2::DrawingThumb, this,
            [this](QPainter& painter, int x, int y) { DrawSeekThumb(painter, x, y); });
    connect(trcVolume_, &TTrackBar2::DrawingTrack, this,
            [this](QPainter& painter) { DrawVolumeTrack(painter); });
    connect(trcVolume_, &TTrackBar2::DrawingThumb, this,
            [this](QPainter& painter, int x, int y) { DrawVolumeThumb(painter, x, y); });
}

TFFPlayer& TfrmMain::Player() {
    return preview_->Player();
}

bool TfrmMain::Muted() const {
    return preview_->Muted();
}

int TfrmMain::PreviewIndex() const {
    const int selected = lvFiles_->SelectedIndex();
    return selected < 0 ? 0 : selected;
}

void TfrmMain::UpdatePreviousNext() {
    const int i = PreviewIndex();
    btnPrevious_->setEnabled(i > 0);
    btnNext_->setEnabled(i < lvFiles_->RowCount() - 1);
}

void TfrmMain::PlayClick() {
    UpdatePreviousNext();
    if (preview_->State() == TPreviewState::Paused) {
        preview_->Play();
        return;
    }
    if (!preview_->LoadLibraries()) {
        AddLogLine(QString::fromStdString(Loader().LastLoadError()));
        return;
    }
    if (lvFiles_->RowCount() == 0) {
        playRequested_ = true;
        btnAddClick();
        return;
    }
    if (lvFiles_->SelectedIndex() < 0)
        lvFiles_->SelectRow(0);
    preview_->Open(lvFiles_->Row(lvFiles_->SelectedIndex())->Record().SourceFile);
}

void TfrmMain::StopPreview() {
    preview_->Stop();
}

void TfrmMain::PreviousClick() {
    UpdatePreviousNext();
    const int i = PreviewIndex();
    if (i <= 0)
        return;
    lvFiles_->SelectRow(i - 1);
    PlayClick();
}

void TfrmMain::NextClick() {
    UpdatePreviousNext();
    const int i = PreviewIndex();
    if (i + 1 >= lvFiles_->RowCount())
        return;
    lvFiles_->SelectRow(i + 1);
    PlayClick();
}

void TfrmMain::SnapshotClick() {
    TBitmap& frame = Player().CurrentFrame();
    if (frame.Width() <= 0)
        return;
    QImage full;
    {
        std::lock_guard lock(frame.CanvasLock());
        full = QImage(frame.Bits(), frame.Width(), frame.Height(), frame.RowSize(), QImage::Format_BGR888)
                   .copy();
    }
    // The panel-size picture: the frame stretched over the whole panel (the shape is not kept).
    const QImage small = full.scaled(pnlPreview_->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    services_.OpenUrl(SaveSnapshotPictures(full, small, *settings_, services_));
}

void TfrmMain::PreviewOpened(int64_t duration, int frameWidth, int frameHeight) {
    AddLogLine(QString::fromStdString(Player().Probe().InfoText()));
    AddLogLine(QString::asprintf("duration: %f, frame size: %dx%d", duration / 1e6, frameWidth, frameHeight));
    lblDuration_->setText(Clock(duration));
}

// Stopped, and at the end of the file (Play opens it again), the times show zero.
void TfrmMain::ShowPreviewTimesAtRest() {
    lblTime_->setText(kNoTime + kTimeSeparator);
    lblDuration_->setText(kNoTime);
}

void TfrmMain::DrawSeekTrack(QPainter& painter) {
    painter.drawPixmap(1, 2, skin::SeekTrack(trcPreview_->width() - 2));
}

void TfrmMain::DrawSeekThumb(QPainter& painter, int x, int y) {
    const QPixmap track = skin::SeekTrack(trcPreview_->width() - 2);
    FillBetween(painter, 0, 0, track.width(), trcPreview_->height(), kBarBackground);
    painter.drawPixmap(1, 2, track);
    FillBetween(painter, 5, 6, x + 10, y + 7, kPlayed);
    FillBetween(painter, x + 13, 5, trcPreview_->width(), y + 8, kRest);
    painter.drawPixmap(x + 2, y - 6, skin::SeekThumb());
}

void TfrmMain::DrawVolumeTrack(QPainter& painter) {
    painter.drawPixmap(1, 4, skin::VolumeTrack(trcVolume_->width() - 2));
}

void TfrmMain::DrawVolumeThumb(QPainter& painter, int x, int y) {
    FillBetween(painter, 4, 12, x + 2, y + 9, kPlayed);
    FillBetween(painter, x + 13, y + 9, trcVolume_->width() - 4, y + 13, kRest);
    painter.drawPixmap(x, y, skin::VolumeThumb());
}

} // namespace tarnel
