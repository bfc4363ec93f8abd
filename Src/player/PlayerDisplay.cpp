#include "player/PlayerDisplay.h"

#include "base/FFmpegLogger.h"

#include <cstring>

namespace tarnel {

PlayerDisplay::PlayerDisplay(SDL_Window* window)
    : window_(window) {}

PlayerDisplay::~PlayerDisplay() {
    for (int slot = 0; slot < kPictureSlots; ++slot)
        FreeOverlay(slot);
    if (renderer_)
        SDL_DestroyRenderer(renderer_);
    // A window made from the host's native window is only let go of: SDL does not destroy the
    // native window it did not create.
    if (window_)
        SDL_DestroyWindow(window_);
}

bool PlayerDisplay::SetVideoMode(int width, int height) {
    if (width <= 0 || height <= 0) {
        Logger().Log(this, llError, "SDL: could not set video mode.");
        return false;
    }
    if (!window_) {
        window_ = SDL_CreateWindow("Tarnel", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width, height,
                                   SDL_WINDOW_RESIZABLE);
        ownWindow_ = window_ != nullptr;
    } else if (ownWindow_) {
        SDL_SetWindowSize(window_, width, height);
    }
    if (window_ && !renderer_)
        renderer_ = SDL_CreateRenderer(window_, -1, 0);
    if (!window_ || !renderer_) {
        Logger().Log(this, llError, "SDL: could not set video mode.");
        return false;
    }
    areaWidth_ = width;
    areaHeight_ = height;
    return true;
}

bool PlayerDisplay::AllocateOverlay(int slot, int width, int height) {
    FreeOverlay(slot);
    if (!renderer_ || width <= 0 || height <= 0)
        return false;
    Overlay& overlay = overlays_[slot];
    overlay.texture =
        SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_YV12, SDL_TEXTUREACCESS_STREAMING, width, height);
    if (!overlay.texture)
        return false;
    overlay.width = width;
    overlay.height = height;
    return true;
}

void PlayerDisplay::FreeOverlay(int slot) {
    Overlay& overlay = overlays_[slot];
    if (overlay.texture)
        SDL_DestroyTexture(overlay.texture);
    overlay = Overlay{};
}

void PlayerDisplay::UploadOverlay(int slot, const AVFrame* picture) {
    Overlay& overlay = overlays_[slot];
    if (!overlay.texture || !picture || picture->width != overlay.width || picture->height != overlay.height)
        return;
    SDL_UpdateYUVTexture(overlay.texture, nullptr, picture->data[0], picture->linesize[0], picture->data[1],
                         picture->linesize[1], picture->data[2], picture->linesize[2]);
}

void PlayerDisplay::ShowOverlay(int slot, const DisplayRect& rect) {
    Overlay& overlay = overlays_[slot];
    if (!renderer_ || !overlay.texture)
        return;
    // SDL 2 keeps no picture between presents, so the bars beside the picture are painted black.
    ClearArea();
    const SDL_Rect target{rect.X, rect.Y, rect.Width, rect.Height};
    SDL_RenderCopy(renderer_, overlay.texture, nullptr, &target);
    Present();
}

void PlayerDisplay::ClearArea() {
    if (!renderer_)
        return;
    SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    SDL_RenderClear(renderer_);
}

void PlayerDisplay::FillWhite(const std::vector<SDL_Rect>& rects) {
    if (!renderer_ || rects.empty())
        return;
    SDL_SetRenderDrawColor(renderer_, 255, 255, 255, 255);
    SDL_RenderFillRects(renderer_, rects.data(), static_cast<int>(rects.size()));
}

void PlayerDisplay::Present() {
    if (renderer_)
        SDL_RenderPresent(renderer_);
}

bool PlayerDisplay::ReadPixels(TBitmap& bitmap) {
    if (!renderer_)
        return false;
    int width = 0, height = 0;
    if (SDL_GetRendererOutputSize(renderer_, &width, &height) != 0 || width <= 0 || height <= 0)
        return false;
    bitmap.SetSize(width, height);
    return SDL_RenderReadPixels(renderer_, nullptr, SDL_PIXELFORMAT_BGR24, bitmap.Bits(), bitmap.RowSize()) ==
           0;
}

} // namespace tarnel
