// Names shared by the player and its hosts: play states, driver choices and the event records
// that travel from the playback threads to the host.
#pragma once

#include "base/Bitmap.h"

#include <cstdint>
#include <functional>

namespace tarnel {

enum TPlayState : int32_t { psPlay, psPause, psResume, psStep, psStop, psEnd };

enum TAudioDriver { adDefault, adDirectSound, adWaveOut };
enum TVideoDriver { vdDefault, vdDirectDraw, vdGDI };

// The SDL driver name for a choice; empty lets SDL choose.
const char* AudioDriverName(TAudioDriver driver);
const char* VideoDriverName(TVideoDriver driver);
// "play", "pause", "resume", "step", "stop", "end".
const char* PlayStateName(TPlayState state);

class TCustomPlayer;

// ADuration and APTS are microseconds; the handler of OnFileOpen may set the screen size.
using TFileOpenEvent = std::function<void(TCustomPlayer& sender, int64_t duration, int frameWidth,
                                          int frameHeight, int& screenWidth, int& screenHeight)>;
using THookEvent = std::function<void(TCustomPlayer& sender, TBitmap& bitmap, int64_t pts)>;
using TPositionEvent = std::function<void(TCustomPlayer& sender, int64_t pts)>;
using TPlayStateEvent = std::function<void(TCustomPlayer& sender, TPlayState state)>;

// One record of the event ring.
struct PlayerEvent {
    enum : int32_t { NoEvent = 0, PositionEvent = 1, StateEvent = 2, StopEvent = 3 };
    int32_t Kind = NoEvent;
    TPlayState State = psPlay;
    int64_t Pts = 0;
};

} // namespace tarnel
