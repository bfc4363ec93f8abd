// The player's SDL video output: a window (the host's native window, or one of its own), a
// renderer and one streaming YV12 texture per picture slot. Lives on the play thread; every SDL
// video call happens there.
#pragma once

#include "base/Bitmap.h"
#include "player/PlaybackSession.h"

#include <SDL.h>
#include <array>
#include <vector>

namespace tarnel {

struct DisplayRect {
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;
};

// The aspect ratio a picture is shown with: `playerAspect` when > 0, the area's own when < 0 (and
// the area is not empty), else the sample aspect (1 when unknown) x width / height.
double DisplayAspect(float playerAspect, int areaWidth, int areaHeight, AVRational sampleAspect, int width,
                     int height);
// The picture's rectangle in an area: as high as the area (or as wide, when that is too wide),
// even sizes, centred.
DisplayRect PictureRect(int areaWidth, int areaHeight, double aspect);

class PlayerDisplay {
public:
    // `window`: the SDL window made from the host's native window, owned by the display from now
    // on; null makes a window of the display's own at the first video mode.
    explicit PlayerDisplay(SDL_Window* window);
    ~PlayerDisplay();
    PlayerDisplay(const PlayerDisplay&) = delete;
    PlayerDisplay& operator=(const PlayerDisplay&) = delete;

    bool HasSurface() const { return renderer_ != nullptr; }
    // Makes the surface `width` x `height` (the video area). False (and logged) when SDL refuses;
    // the old surface stays.
    bool SetVideoMode(int width, int height);
    int AreaWidth() const { return areaWidth_; }
    int AreaHeight() const { return areaHeight_; }

    bool AllocateOverlay(int slot, int width, int height);
    void FreeOverlay(int slot);
    bool HasOverlay(int slot) const { return overlays_[slot].texture != nullptr; }
    void UploadOverlay(int slot, const AVFrame* picture);
    // Clears the area and shows the overlay in `rect`.
    void ShowOverlay(int slot, const DisplayRect& rect);

    // Drawing for the waveform: a black area, white rectangles, then Present.
    void ClearArea();
    void FillWhite(const std::vector<SDL_Rect>& rects);
    void Present();

    // The pixels on screen (the renderer's output) as a bitmap. False without a surface.
    bool ReadPixels(TBitmap& bitmap);

private:
    struct Overlay {
        SDL_Texture* texture = nullptr;
        int width = 0;
        int height = 0;
    };

    SDL_Window* window_ = nullptr;
    bool ownWindow_ = false;
    SDL_Renderer* renderer_ = nullptr;
    std::array<Overlay, kPictureSlots> overlays_{};
    int areaWidth_ = 0;
    int areaHeight_ = 0;
};

} // namespace tarnel
