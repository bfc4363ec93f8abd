#include "player/PlayerTypes.h"

namespace tarnel {

// The Windows drivers of the original design map onto the Linux drivers SDL has; the default
// leaves the choice (and the environment) to SDL.
const char* AudioDriverName(TAudioDriver driver) {
    switch (driver) {
    case adDirectSound:
        return "pulseaudio";
    case adWaveOut:
        return "alsa";
    default:
        return "";
    }
}

const char* VideoDriverName(TVideoDriver driver) {
    switch (driver) {
    case vdDirectDraw:
    case vdGDI:
        return "x11";
    default:
        return "";
    }
}

const char* PlayStateName(TPlayState state) {
    static const char* const names[] = {"play", "pause", "resume", "step", "stop", "end"};
    const int index = static_cast<int>(state);
    return index >= 0 && index < 6 ? names[index] : "unknown";
}

} // namespace tarnel
