// The preview panel of the main window: the player in the black panel, its buttons, the seek and
// volume bars, mute, the time labels and snapshots.
#include "MainWindow.h"
#include "Snapshots.h"
#include "TrackBar2.h"
#include "base/FFmpegLoader.h"
#include "core/ProgressEstimate.h"
#include "core/ShellServices.h"
#include "skin/SkinPictures.h"
#include "widgets/FileListView.h"
#include "widgets/PreviewPanel.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QThread>
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
    connect(btnPlay_, &QToolButton::clicked, this, [this] { PlayClick(); });
    connect(btnPause_, &QToolButton::clicked, this, [this] { PauseClick(); });
    connect(btnStop_, &QToolButton::clicked, this, [this] { StopPreview(); });
    connect(btnPrevious_, &QToolButton::clicked, this, [this] { PreviousClick(); });
    connect(btnNext_, &QToolButton::clicked, this, [this] { NextClick(); });
    connect(btnSnapshot_, &QToolButton::clicked, this, [this] { SnapshotClick(); });
    connect(btnMute_, &QToolButton::pressed, this, [this] { MuteClick(); });
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
    connect(trcVolume_, &TTrackBar2::Changed, this, [this] {
        player_.SetAudioVolume(trcVolume_->PositionL());
        if (!showingSettings_)
            settings_->SetVolume(trcVolume_->PositionL());
    });
    trcPreview_->installEventFilter(this);
    trcVolume_->installEventFilter(this);

    player_.OnFileOpen = [this](TCustomPlayer&, int64_t duration, int frameWidth, int frameHeight,
                                int& screenWidth, int& screenHeight) {
        PlayerFileOpen(duration, frameWidth, frameHeight, screenWidth, screenHeight);
    };
    player_.OnPosition = [this](TCustomPlayer&, int64_t pts) {
        PlayerPosition(pts);
    };
    player_.OnState = [this](TCustomPlayer&, TPlayState state) {
        PlayerState(state);
    };
}

// The player draws into the panel's own window where the desktop has X11 windows; elsewhere (the
// offscreen platform of the tests) it opens a window of its own.
uintptr_t TfrmMain::PanelHandle() const {
    return PlayerWindowHandle(*pnlPreview_);
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
    atEnd_ = false;
    if (paused_) {
        paused_ = false;
        btnPause_->setEnabled(true);
        btnPlay_->setEnabled(false);
        btnSnapshot_->setEnabled(true);
        if (player_.IsPaused())
            player_.Resume();
        return;
    }
    if (!player_.LibrariesLoaded() && !player_.LoadLibraries(LibraryFolder())) {
        AddLogLine(QString::fromStdString(Loader().LastLoadError()));
        return;
    }
    reportedPanel_ = true;
    if (lvFiles_->RowCount() == 0) {
        playRequested_ = true;
        btnAddClick();
        return;
    }
    if (lvFiles_->SelectedIndex() < 0)
        lvFiles_->SelectRow(0);
    for (QToolButton* button : {btnStop_, btnPlay_, btnPause_, btnSnapshot_})
        button->setEnabled(false);
    pnlPreview_->SetPlayerOwnsPicture(PanelHandle() != 0);
    player_.Open(lvFiles_->Row(lvFiles_->SelectedIndex())->Record().SourceFile, PanelHandle());
    for (QToolButton* button : {btnStop_, btnPause_, btnSnapshot_})
        button->setEnabled(true);
    btnPlay_->setEnabled(false);
}

void TfrmMain::PauseClick() {
    if (paused_)
        return;
    if (!player_.IsPaused())
        player_.Pause();
    paused_ = true;
    btnPlay_->setEnabled(true);
    btnPause_->setEnabled(false);
    btnStop_->setEnabled(true);
    btnSnapshot_->setEnabled(true);
}

void TfrmMain::StopPreview() {
    if (player_.IsPaused())
        player_.Resume();
    player_.Close(true);
    trcPreview_->SetPositionL(0);
    trcPreview_->setEnabled(false);
    paused_ = false;
    btnPlay_->setEnabled(true);
    for (QToolButton* button : {btnStop_, btnPause_, btnSnapshot_})
        button->setEnabled(false);
    lblTime_->setText(kNoTime + kTimeSeparator);
    lblDuration_->setText(kNoTime);
    pnlPreview_->SetPlayerOwnsPicture(false);
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

void TfrmMain::MuteClick() {
    muted_ = !muted_;
    player_.SetMute(muted_);
    settings_->SetMute(muted_);
    btnMute_->setIcon(skin::MutePicture(muted_));
}

void TfrmMain::SnapshotClick() {
    TBitmap& frame = player_.CurrentFrame();
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

void TfrmMain::PlayerFileOpen(int64_t duration, int frameWidth, int frameHeight, int& screenWidth,
                              int& screenHeight) {
    AddLogLine(QString::fromStdString(player_.Probe().InfoText()));
    AddLogLine(QString::asprintf("duration: %f, frame size: %dx%d", duration / 1e6, frameWidth, frameHeight));
    if (reportedPanel_) {
        screenWidth = pnlPreview_->width();
        screenHeight = pnlPreview_->height();
    }
    duration_ = duration;
    lblDuration_->setText(Clock(duration));
    trcPreview_->SetTickInterval(1);
    trcPreview_->SetMax(trcPreview_->width());
    trcPreview_->setEnabled(duration > 0);
    player_.SetAudioVolume(trcVolume_->PositionL());
    player_.SetMute(settings_->Mute());
    seekDrag_ = true;
    trcPreview_->SetPositionL(0);
    seekDrag_ = false;
}

void TfrmMain::PlayerPosition(int64_t pts) {
    // After the end the panel shows the stopped state; the last position reports may still come.
    if (atEnd_)
        return;
    lblTime_->setText(Clock(pts) + kTimeSeparator);
    if (seekDrag_ || duration_ <= 0)
        return;
    trcPreview_->SetPositionL(static_cast<int>(static_cast<int64_t>(trcPreview_->Max()) * pts / duration_));
}

// At the end of the file the preview goes back to the start and waits, paused.
void TfrmMain::PlayerState(TPlayState state) {
    if (state != psEnd)
        return;
    atEnd_ = true;
    trcPreview_->SetPositionL(0);
    player_.Seek(0, 4, false);
    player_.Pause();
    paused_ = false;
    btnPlay_->setEnabled(true);
    for (QToolButton* button : {btnPause_, btnStop_, btnSnapshot_})
        button->setEnabled(false);
    trcPreview_->setEnabled(false);
    lblTime_->setText(kNoTime + kTimeSeparator);
    lblDuration_->setText(kNoTime);
}

// Dragging the bars: the seek bar follows the pointer while the button is down and seeks on release;
// the volume bar follows the pointer.
bool TfrmMain::PreviewBarEvent(QObject* watched, QEvent* event) {
    const bool seekBar = watched == trcPreview_;
    TTrackBar2& bar = seekBar ? *trcPreview_ : *trcVolume_;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (seekBar && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            seekDrag_ = true;
        break;
    case QEvent::MouseMove: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (!(mouse->buttons() & Qt::LeftButton))
            break;
        const double span = bar.width() - (seekBar ? 6 : 20);
        if (span > 0)
            bar.SetPositionL(static_cast<int>(std::trunc(mouse->position().x() / span * bar.Max())));
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (seekBar && seekDrag_ && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            if (bar.Max() > 0)
                player_.Seek(static_cast<int64_t>(std::trunc(static_cast<double>(bar.PositionL()) /
                                                             bar.Max() * static_cast<double>(duration_))),
                             0, false);
            QThread::msleep(300);
            seekDrag_ = false;
        }
        break;
    default:
        break;
    }
    return false;
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
