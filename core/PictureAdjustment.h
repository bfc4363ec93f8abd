// The picture settings of a row applied to a 24-bit bitmap in place: the tone-and-colour pass
// (brightness, contrast and saturation together) and the exposure pass. Both are table driven.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace tarnel {

class TBitmap;

// The tables of the tone-and-colour pass for brightness b, contrast c and saturation s.
struct TToneTables {
    std::array<uint8_t, 256> Contrast{};
    std::array<uint8_t, 256> Tone{};
    std::array<int32_t, 256> Saturation{};
    std::array<int32_t, 766> Grey{};
};
TToneTables MakeToneTables(int32_t brightness, int32_t contrast, int32_t saturation);
std::array<uint8_t, 256> MakeExposureTable(int32_t exposure);

void ToneAndColourPass(TBitmap& bitmap, int32_t brightness, int32_t contrast, int32_t saturation);
void ExposurePass(TBitmap& bitmap, int32_t exposure);

// The four settings of a row; the defaults are the values that count as unchanged.
struct TPictureSettings {
    int32_t Brightness = 255;
    int32_t Contrast = 0;
    int32_t Saturation = 255;
    int32_t Exposure = 0;
};
// Whether any setting differs from its unchanged value.
bool PictureAdjusted(const TPictureSettings& settings);
// The tone-and-colour pass when brightness, contrast or saturation is changed, then the exposure
// pass when exposure is.
void AdjustPicture(TBitmap& bitmap, const TPictureSettings& settings);

// Blends a 24-bit overlay onto the frame with its top-left corner at (x, y), cut at the frame's
// edges; each channel becomes ((256 − alpha) × frame + alpha × overlay) >> 8.
void BlendOverlay(TBitmap& frame, const TBitmap& overlay, int32_t x, int32_t y, uint32_t alpha);
// The same blend with a coverage byte per overlay pixel (rows of the overlay's width, 0 = the
// frame shows through, 255 = as above): each pixel blends with alpha × coverage / 255.
void BlendOverlay(TBitmap& frame, const TBitmap& overlay, const std::vector<uint8_t>& coverage, int32_t x,
                  int32_t y, uint32_t alpha);

} // namespace tarnel
