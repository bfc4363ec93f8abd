// What the file list keeps for each row: the source and destination, the length, the trim, zoom
// and crop choices, the picture settings and the watermark layers that the editing dialogs set and
// the batch run reads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarnel {

// 0x00BBGGRR, the order in which the colours of stored watermark layers are kept.
using TColor = uint32_t;
constexpr TColor RGBColor(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<TColor>(r) | static_cast<TColor>(g) << 8 | static_cast<TColor>(b) << 16;
}

struct TFontSpec {
    std::string Name = "DejaVu Sans";
    int32_t Size = 12; // points
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    TColor Color = RGBColor(255, 255, 255);
};

// One watermark layer: a text (Kind 0) or a picture (Kind 1). Positions and sizes are pixels of the
// source picture as decoded, before any crop or scaling.
class TWmRec {
public:
    std::string Text;
    TFontSpec Font;
    int32_t TextLeft = 0;
    int32_t TextTop = 0;
    int32_t TextWidth = 0;
    int32_t TextHeight = 0;
    uint32_t TextAlpha = 255;
    TColor BackColor = RGBColor(0, 0, 0);
    bool BackOpaque = false;
    std::string ImageFile;
    int32_t ImageLeft = 0;
    int32_t ImageTop = 0;
    int32_t ImageWidth = 0;
    int32_t ImageHeight = 0;
    uint32_t ImageAlpha = 255;
    uint32_t Kind = 0;
    int32_t StartSecond = 0;
    int32_t EndSecond = 0;
};

struct TlvFilesRecord {
    std::string SourceFile;
    std::string DestFile;
    int32_t LengthSeconds = 0;
    int64_t TrimStart = 0;  // µs
    int64_t TrimLength = 0; // µs; 0 = to the end
    std::string Zoom = "lbox";
    int32_t CropTop = 0;
    int32_t CropLeft = 0;
    int32_t CropBottom = 0;
    int32_t CropRight = 0;
    int32_t CropEditTop = 0;
    int32_t CropEditLeft = 0;
    int32_t CropEditBottom = 0;
    int32_t CropEditRight = 0;
    std::vector<std::unique_ptr<TWmRec>> WaterMarks;
    int32_t Brightness = 255;
    int32_t Contrast = 0;
    int32_t Saturation = 255;
    int32_t Exposure = 0;
    bool ProcessText = false;
    bool ProcessImage = false;

    // The task needs the frame hook: a picture setting differs from unchanged, or the first
    // watermark layer has a text or a picture.
    bool NeedsFrameHook() const;
};

} // namespace tarnel
