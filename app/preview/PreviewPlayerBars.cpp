// The preview player's seek bar, volume bar and mute button. The hosts draw the bars; the player
// takes over their mouse handling.
#include "TrackBar2.h"
#include "core/MainSettings.h"
#include "preview/PreviewPlayer.h"
#include "skin/SkinPictures.h"
#include "widgets/DialogBars.h"

#include <QMouseEvent>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>
#include <cmath>
#include <utility>

namespace tarnel {

namespace {

constexpr int kMaxVolume = 128;
// The pixels at a bar's right end that its thumb takes: the pointer's x counts against the rest.
constexpr int kVolumeThumbRoom = 20;

int SeekSpan(const TTrackBar2& bar) {
    return bar.width() - static_cast<int>(std::lround(skin::SeekThumb().width() / 2.0));
}

bool IsMouseEvent(const QEvent& event) {
    switch (event.type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
        return true;
    default:
        return false;
    }
}

bool LeftPress(const QMouseEvent& mouse) {
    return (mouse.type() == QEvent::MouseButtonPress || mouse.type() == QEvent::MouseButtonDblClick) &&
           mouse.button() == Qt::LeftButton;
}

bool LeftDrag(const QMouseEvent& mouse) {
    return mouse.type() == QEvent::MouseMove && (mouse.buttons() & Qt::LeftButton);
}

int PointerX(const QMouseEvent& mouse) {
    return static_cast<int>(mouse.position().x());
}

} // namespace

void TPreviewPlayer::PrepareBars() {
    // A seek's hold is over: the same place may be sought again.
    connect(seekHold_, &QTimer::timeout, this, [this] { lastSeek_ = -1; });
    connect(seekRetry_, &QTimer::timeout, this, &TPreviewPlayer::SeekWhenReady);
    if (TTrackBar2* bar = controls_.SeekBar)
        bar->installEventFilter(this);
    if (TTrackBar2* bar = controls_.VolumeBar) {
        bar->SetMin(0);
        bar->SetMax(kMaxVolume);
        bar->installEventFilter(this);
        connect(bar, &TTrackBar2::Changed, this, &TPreviewPlayer::VolumeMoved);
    }
}

// The bars' own mouse handling would place their thumbs by their own geometry: the player does it.
bool TPreviewPlayer::eventFilter(QObject* watched, QEvent* event) {
    if (!IsMouseEvent(*event))
        return QObject::eventFilter(watched, event);
    if (controls_.SeekBar && watched == controls_.SeekBar)
        return SeekBarMouse(event);
    if (controls_.VolumeBar && watched == controls_.VolumeBar)
        return VolumeBarMouse(event);
    return QObject::eventFilter(watched, event);
}

// --- The seek bar -------------------------------------------------------------------------------------

// A press puts the thumb under the pointer and seeks there; a drag moves the thumb, and the release
// seeks to where it was let go.
bool TPreviewPlayer::SeekBarMouse(QEvent* event) {
    const auto& mouse = static_cast<const QMouseEvent&>(*event);
    TTrackBar2& bar = *controls_.SeekBar;
    if (LeftPress(mouse)) {
        thumbHeld_ = true;
        bar.SetPositionL(BarPositionAt(bar, PointerX(mouse), SeekSpan(bar)));
        SeekHeldPosition();
    } else if (LeftDrag(mouse) && thumbHeld_) {
        bar.SetPositionL(BarPositionAt(bar, PointerX(mouse), SeekSpan(bar)));
    } else if (mouse.type() == QEvent::MouseButtonRelease && mouse.button() == Qt::LeftButton) {
        SeekToBar();
    }
    return true;
}

void TPreviewPlayer::ResetSeekBar() {
    thumbHeld_ = false;
    seekHold_->stop();
    seekRetry_->stop();
    lastSeek_ = -1;
    waitingSeek_ = -1;
    if (TTrackBar2* bar = controls_.SeekBar) {
        bar->SetMax(bar->width());
        bar->SetPositionL(0);
    }
}

void TPreviewPlayer::ShowTimeOnBar(int64_t position) {
    TTrackBar2* bar = controls_.SeekBar;
    if (bar && duration_ > 0)
        bar->SetPositionL(static_cast<int>(static_cast<int64_t>(bar->Max()) * position / duration_));
}

void TPreviewPlayer::ShowOnSeekBar(int64_t position) {
    thumbHeld_ = true;
    ShowTimeOnBar(position);
}

void TPreviewPlayer::SeekToBar() {
    if (!std::exchange(thumbHeld_, false))
        return;
    SeekHeldPosition();
}

bool TPreviewPlayer::SeekBarHeld() const {
    return thumbHeld_ || waitingSeek_ >= 0 || seekHold_->isActive();
}

// Seeks to the thumb's time and holds the thumb for kSeekHoldMs: position reports from before the
// seek would pull it back.
void TPreviewPlayer::SeekHeldPosition() {
    TTrackBar2* bar = controls_.SeekBar;
    if (!bar || bar->Max() <= 0 || !FileOpen())
        return;
    const int64_t target =
        std::llround(static_cast<double>(bar->PositionL()) / bar->Max() * static_cast<double>(duration_));
    if (target != lastSeek_) {
        waitingSeek_ = target;
        SeekWhenReady();
    }
    lastSeek_ = target;
    seekHold_->start();
}

// The player drops a seek asked for while it still carries out the one before: the latest target
// waits for that one to be done.
void TPreviewPlayer::SeekWhenReady() {
    if (waitingSeek_ < 0 || !FileOpen()) {
        waitingSeek_ = -1;
        return;
    }
    if (!player_.SeekDone().IsSet()) {
        seekRetry_->start();
        return;
    }
    player_.Seek(std::exchange(waitingSeek_, -1), 0, false);
    seekHold_->start();
}

// --- Volume and mute ----------------------------------------------------------------------------------

bool TPreviewPlayer::VolumeBarMouse(QEvent* event) {
    const auto& mouse = static_cast<const QMouseEvent&>(*event);
    TTrackBar2& bar = *controls_.VolumeBar;
    if (LeftPress(mouse) || LeftDrag(mouse))
        bar.SetPositionL(BarPositionAt(bar, PointerX(mouse), bar.width() - kVolumeThumbRoom));
    return true;
}

void TPreviewPlayer::VolumeMoved() {
    const int volume = controls_.VolumeBar->PositionL();
    player_.SetAudioVolume(volume);
    settings_.SetVolume(volume);
}

void TPreviewPlayer::ShowVolumeSettings() {
    if (TTrackBar2* bar = controls_.VolumeBar) {
        {
            const QSignalBlocker quiet(bar); // showing is not changing
            bar->SetPositionL(settings_.VolumeShown());
        }
        player_.SetAudioVolume(bar->PositionL());
    }
    player_.SetMute(settings_.Mute());
    ShowMute();
}

void TPreviewPlayer::ToggleMute() {
    player_.SetMute(!player_.Mute());
    settings_.SetMute(player_.Mute());
    ShowMute();
}

void TPreviewPlayer::ShowMute() {
    if (controls_.Mute)
        controls_.Mute->setIcon(skin::MutePicture(player_.Mute()));
}

} // namespace tarnel
