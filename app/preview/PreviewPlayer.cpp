#include "preview/PreviewPlayer.h"

#include "TrackBar2.h"
#include "core/GlobalObject.h"
#include "widgets/PreviewPanel.h"

#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <utility>

namespace tarnel {

namespace {

// The libraries' seek flag for any picture, key picture or not.
constexpr uint8_t kSeekAnyPicture = 4;

} // namespace

TPreviewPlayer::TPreviewPlayer(TPreviewPanel& panel, TMainSettings& settings, const TControls& controls,
                               QObject* parent)
    : QObject(parent)
    , panel_(panel)
    , settings_(settings)
    , controls_(controls)
    , seekHold_(new QTimer(this))
    , seekRetry_(new QTimer(this)) {
    seekHold_->setSingleShot(true);
    seekHold_->setInterval(kSeekHoldMs);
    seekRetry_->setSingleShot(true);
    seekRetry_->setInterval(kSeekRetryMs);
    ConnectPlayer();
    ConnectButtons();
    PrepareBars();
    ShowVolumeSettings();
    EnableControls();
}

// Quietly, as the host may be going away too: the reports that still arrive while the player
// closes are dropped, and no signal is sent.
TPreviewPlayer::~TPreviewPlayer() {
    state_ = TPreviewState::Closed;
    AcceptPictures(false);
    player_.Close(true);
}

void TPreviewPlayer::ConnectButtons() {
    if (controls_.Pause)
        connect(controls_.Pause, &QToolButton::clicked, this, &TPreviewPlayer::Pause);
    if (controls_.Stop)
        connect(controls_.Stop, &QToolButton::clicked, this, &TPreviewPlayer::Stop);
    if (controls_.Mute)
        connect(controls_.Mute, &QToolButton::pressed, this, &TPreviewPlayer::ToggleMute);
}

// The file-open, position and state events arrive on the GUI thread; the hook runs on the
// player's video thread.
void TPreviewPlayer::ConnectPlayer() {
    player_.OnFileOpen = [this](TCustomPlayer&, int64_t duration, int frameWidth, int frameHeight,
                                int& screenWidth, int& screenHeight) {
        // The player draws in the panel window's own pixels, which a scaled screen multiplies.
        const qreal scale = panel_.devicePixelRatioF();
        screenWidth = qRound(panel_.width() * scale);
        screenHeight = qRound(panel_.height() * scale);
        FileOpened(duration, frameWidth, frameHeight);
    };
    player_.OnPosition = [this](TCustomPlayer&, int64_t pts) {
        PositionReported(pts);
    };
    player_.OnState = [this](TCustomPlayer&, TPlayState state) {
        PlayStateReported(state);
    };
    player_.OnHook = [this](TCustomPlayer&, TBitmap& bitmap, int64_t pts) {
        HookPicture(bitmap, pts);
    };
}

bool TPreviewPlayer::LoadLibraries() {
    return player_.LibrariesLoaded() || player_.LoadLibraries(TGlobalObject::ExecutableFolder() + "LibAV");
}

bool TPreviewPlayer::Open(const std::string& file) {
    file_ = file;
    // Reports of the file open before arrive while the player closes it; they are dropped.
    const TPreviewState before = std::exchange(state_, TPreviewState::Closed);
    const uintptr_t window = PlayerWindowHandle(panel_);
    panel_.SetPlayerOwnsPicture(window != 0);
    AcceptPictures(true);
    const bool opened = LoadLibraries() && player_.Open(file, window);
    if (!opened) {
        AcceptPictures(false);
        panel_.SetPlayerOwnsPicture(false);
        ResetSeekBar();
    }
    state_ = before;
    SetState(opened ? TPreviewState::Playing : TPreviewState::Closed);
    return opened;
}

void TPreviewPlayer::Play() {
    switch (state_) {
    case TPreviewState::Playing:
        return;
    case TPreviewState::Paused:
    case TPreviewState::Ended:
        player_.Resume();
        AcceptPictures(true);
        SetState(TPreviewState::Playing);
        return;
    case TPreviewState::Closed:
        if (!file_.empty())
            Open(file_);
        return;
    }
}

void TPreviewPlayer::Pause() {
    if (state_ != TPreviewState::Playing)
        return;
    player_.Pause();
    SetState(TPreviewState::Paused);
}

void TPreviewPlayer::Stop() {
    const TPreviewState before = std::exchange(state_, TPreviewState::Closed);
    AcceptPictures(false);
    player_.Close(true);
    panel_.SetPlayerOwnsPicture(false);
    ResetSeekBar();
    state_ = before;
    SetState(TPreviewState::Closed);
}

void TPreviewPlayer::FileOpened(int64_t duration, int frameWidth, int frameHeight) {
    duration_ = std::max<int64_t>(0, duration);
    ResetSeekBar();
    ShowVolumeSettings();
    emit Opened(duration, frameWidth, frameHeight);
}

void TPreviewPlayer::PositionReported(int64_t pts) {
    if (!FileOpen())
        return;
    if (!SeekBarHeld())
        ShowTimeOnBar(pts);
    emit PositionChanged(pts);
}

void TPreviewPlayer::PlayStateReported(TPlayState state) {
    if (state == psEnd && FileOpen())
        RewindAtTheEnd();
}

// At the end the file goes back to its start and waits there, paused; the picture shown last stays.
void TPreviewPlayer::RewindAtTheEnd() {
    AcceptPictures(false);
    player_.Seek(0, kSeekAnyPicture, false);
    player_.Pause();
    ResetSeekBar();
    SetState(TPreviewState::Ended);
}

bool TPreviewPlayer::FileOpen() const {
    return state_ == TPreviewState::Playing || state_ == TPreviewState::Paused;
}

void TPreviewPlayer::SetState(TPreviewState state) {
    const bool changed = state != state_;
    state_ = state;
    EnableControls();
    if (changed)
        emit StateChanged(state);
}

void TPreviewPlayer::EnableControls() {
    const auto enable = [](QWidget* control, bool enabled) {
        if (control)
            control->setEnabled(enabled);
    };
    enable(controls_.Play, state_ != TPreviewState::Playing);
    enable(controls_.Pause, state_ == TPreviewState::Playing);
    enable(controls_.Stop, FileOpen());
    enable(controls_.Snapshot, FileOpen());
    enable(controls_.SeekBar, FileOpen() && duration_ > 0);
}

// --- Pictures from the hook ------------------------------------------------------------------------

void TPreviewPlayer::HandOverPictures(bool on) {
    player_.SetHook(on);
}

void TPreviewPlayer::AcceptPictures(bool accept) {
    std::lock_guard lock(pictureMutex_);
    acceptingPictures_ = accept;
    if (!accept)
        pendingPicture_ = {};
}

// A copy of the picture waits under the lock; one queued call at a time takes the latest to the
// GUI thread, so pictures the GUI thread has no time for are dropped, not queued.
void TPreviewPlayer::HookPicture(const TBitmap& bitmap, int64_t pts) {
    if (bitmap.Empty())
        return;
    QImage copy =
        QImage(bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.RowSize(), QImage::Format_BGR888)
            .copy();
    std::lock_guard lock(pictureMutex_);
    if (!acceptingPictures_)
        return;
    pendingPicture_ = std::move(copy);
    pendingPts_ = pts;
    if (std::exchange(deliveryPosted_, true))
        return;
    QMetaObject::invokeMethod(this, &TPreviewPlayer::DeliverPicture, Qt::QueuedConnection);
}

void TPreviewPlayer::DeliverPicture() {
    QImage picture;
    int64_t pts = 0;
    {
        std::lock_guard lock(pictureMutex_);
        deliveryPosted_ = false;
        picture = std::exchange(pendingPicture_, QImage());
        pts = pendingPts_;
    }
    if (!picture.isNull())
        emit PictureArrived(picture, pts);
}

} // namespace tarnel
