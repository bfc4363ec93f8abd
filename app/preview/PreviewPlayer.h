// The preview player of a window: a TFFPlayer playing into a native panel, the transport buttons
// enabled by the play state, the seek bar (a press seeks there; position reports leave the thumb
// alone for a moment after a seek), the volume bar and the mute button bound to their settings,
// the pictures of the player's hook handed to the GUI thread, and closing that waits for the
// player. The main window and the trim, crop and watermark dialogs each have one.
// Split by feature: PreviewPlayer.cpp (opening, playing, states, pictures) and
// PreviewPlayerBars.cpp (the seek and volume bars and mute).
#pragma once

#include "player/FFPlayer.h"

#include <QImage>
#include <QObject>
#include <cstdint>
#include <mutex>
#include <string>

class QTimer;
class QToolButton;

namespace tarnel {

class TMainSettings;
class TPreviewPanel;
class TTrackBar2;

// Closed: no file open. Ended: the file played to its end and waits at its start, paused.
enum class TPreviewState { Closed, Playing, Paused, Ended };

class TPreviewPlayer : public QObject {
    Q_OBJECT
public:
    // The host's widgets for the player, laid out by the host; any may be null. The host connects
    // Play's click itself (what Play opens is the host's choice); the rest the player connects.
    struct TControls {
        QToolButton* Play = nullptr;     // enabled unless playing
        QToolButton* Pause = nullptr;    // enabled while playing
        QToolButton* Stop = nullptr;     // enabled while playing or paused
        QToolButton* Snapshot = nullptr; // enabled as Stop is
        TTrackBar2* SeekBar = nullptr;   // enabled as Stop is; one position a pixel
        TTrackBar2* VolumeBar = nullptr; // 0..128, the stored volume
        QToolButton* Mute = nullptr;
    };

    // How long position reports leave the seek bar's thumb where a seek put it.
    static constexpr int kSeekHoldMs = 300;
    // How often a seek that waits for the one before asks whether that is done.
    static constexpr int kSeekRetryMs = 20;

    TPreviewPlayer(TPreviewPanel& panel, TMainSettings& settings, const TControls& controls,
                   QObject* parent = nullptr);
    ~TPreviewPlayer() override;

    // Loads the media libraries from the program's folder unless they are loaded; whether they are.
    bool LoadLibraries();
    // Opens `file` and plays it in the panel; false, and Closed, when it does not open.
    bool Open(const std::string& file);
    // Plays on after Pause or after the end of the file; after Stop, opens the last file again.
    void Play();
    void Pause();
    // Closes the file, waiting for the player's threads: SDL is shared by the whole program, and
    // the next player must not start while this one still shuts it down.
    void Stop();

    // Shows `position` (µs) on the seek bar and holds the thumb there until SeekToBar.
    void ShowOnSeekBar(int64_t position);
    // Seeks to the time the held thumb shows, then lets position reports move it again after
    // kSeekHoldMs. Nothing happens when the thumb is not held.
    void SeekToBar();
    bool SeekBarHeld() const;

    // Shows the stored volume and mute and gives them to the player, without writing them back
    // (at start-up, and after another window changed them).
    void ShowVolumeSettings();
    bool Muted() const { return player_.Mute(); }

    // With true, a copy of every picture the player shows arrives on the GUI thread as
    // PictureArrived, except at the end of the file and while closed.
    void HandOverPictures(bool on);

    TPreviewState State() const { return state_; }
    int64_t Duration() const { return duration_; } // µs, of the file opened last; 0 when unknown
    TFFPlayer& Player() { return player_; }
    const TFFPlayer& Player() const { return player_; }
    TPreviewPanel& Panel() { return panel_; }

signals:
    // All on the GUI thread. `duration` (µs) as the player reports it; sizes -1 without video.
    void Opened(int64_t duration, int frameWidth, int frameHeight);
    // µs; only while playing or paused.
    void PositionChanged(int64_t position);
    void StateChanged(TPreviewState state);
    // A deep copy (Format_BGR888) of the picture shown at `pts` (µs).
    void PictureArrived(const QImage& picture, int64_t pts);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ConnectButtons();
    void ConnectPlayer();
    void FileOpened(int64_t duration, int frameWidth, int frameHeight);
    void PositionReported(int64_t pts);
    void PlayStateReported(TPlayState state);
    void RewindAtTheEnd();
    void SetState(TPreviewState state);
    void EnableControls();
    bool FileOpen() const;

    // Pictures (PreviewPlayer.cpp).
    void AcceptPictures(bool accept);
    void HookPicture(const TBitmap& bitmap, int64_t pts); // on the player's video thread
    void DeliverPicture();

    // The bars and mute (PreviewPlayerBars.cpp).
    void PrepareBars();
    void ResetSeekBar();
    void ShowTimeOnBar(int64_t position);
    void SeekHeldPosition();
    void SeekWhenReady();
    bool SeekBarMouse(QEvent* event);
    bool VolumeBarMouse(QEvent* event);
    void VolumeMoved();
    void ToggleMute();
    void ShowMute();

    TPreviewPanel& panel_;
    TMainSettings& settings_;
    const TControls controls_;
    TFFPlayer player_;
    std::string file_;
    TPreviewState state_ = TPreviewState::Closed;
    int64_t duration_ = 0;
    bool thumbHeld_ = false;   // a press on the seek bar or ShowOnSeekBar placed the thumb
    QTimer* seekHold_;         // running for kSeekHoldMs after a seek
    QTimer* seekRetry_;        // running while a seek waits for the one before
    int64_t lastSeek_ = -1;    // µs, the target of the last seek asked for during the hold
    int64_t waitingSeek_ = -1; // µs, the target of a seek not handed to the player yet

    std::mutex pictureMutex_;
    bool acceptingPictures_ = false; // guarded by pictureMutex_
    bool deliveryPosted_ = false;    // guarded by pictureMutex_
    QImage pendingPicture_;          // guarded by pictureMutex_
    int64_t pendingPts_ = 0;         // guarded by pictureMutex_
};

} // namespace tarnel
