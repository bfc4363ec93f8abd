#include "PictureAdjustment.h"

#include "base/Bitmap.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace tarnel {

namespace {

int32_t Clamp(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, 0, 255));
}

// Round half to even, as the pixel tables are specified.
int64_t Round(double value) {
    return static_cast<int64_t>(std::nearbyint(value));
}

// The part of an overlay placed at (x, y) that lies on the frame: its size and where it starts in
// the frame and in the overlay.
struct TOverlaySpan {
    int64_t Width = 0, Height = 0;
    int64_t FrameRow = 0, FrameCol = 0;
    int64_t OverlayRow = 0, OverlayCol = 0;
    bool Empty() const { return Width <= 0 || Height <= 0; }
};

TOverlaySpan OverlaySpan(const TBitmap& frame, const TBitmap& overlay, int32_t x, int32_t y) {
    const auto span = [](int64_t at, int64_t length, int64_t limit) {
        if (at >= 0)
            return at + length < limit ? length : limit - at;
        const int64_t visible = length + at;
        return visible < limit ? visible : limit;
    };
    TOverlaySpan s;
    s.Height = span(y, overlay.Height(), frame.Height());
    s.Width = span(x, overlay.Width(), frame.Width());
    s.FrameRow = std::max<int64_t>(y, 0);
    s.OverlayRow = y < 0 ? -static_cast<int64_t>(y) : 0;
    s.FrameCol = std::max<int64_t>(x, 0);
    s.OverlayCol = x < 0 ? -static_cast<int64_t>(x) : 0;
    return s;
}

uint8_t Mix(uint8_t frame, uint8_t overlay, uint32_t alpha) {
    return static_cast<uint8_t>(((256 - alpha) * frame + alpha * overlay) >> 8);
}

} // namespace

TToneTables MakeToneTables(int32_t brightness, int32_t contrast, int32_t saturation) {
    TToneTables t;
    const int32_t c = contrast == 100 ? 99 : contrast;
    const double k = c > 0 ? 1.0 / std::cos(c * std::numbers::pi / 200.0) : std::cos(c * 0.015708);
    for (int i = 0; i < 256; ++i)
        t.Contrast[i] = static_cast<uint8_t>(Clamp(Round((i - 170) * k + 170)));
    for (int j = 0; j < 256; ++j)
        t.Tone[j] = t.Contrast[Clamp((static_cast<int64_t>(brightness) * (j - 1) + 256) / 256)];
    for (int v = 0; v < 256; ++v)
        t.Saturation[v] =
            static_cast<int32_t>((static_cast<uint32_t>(saturation) * static_cast<uint32_t>(v + 1)) >> 8);
    for (int n = 0; n <= 765; ++n) {
        const int g = n / 3;
        t.Grey[n] = g - t.Saturation[g];
    }
    return t;
}

void ToneAndColourPass(TBitmap& bitmap, int32_t brightness, int32_t contrast, int32_t saturation) {
    const TToneTables t = MakeToneTables(brightness, contrast, saturation);
    // Grey + saturated value covers every sum the tables can give; the clamp to 0…255 and the tone
    // lookup become one lookup in a table over that whole span.
    const auto [minGrey, maxGrey] = std::minmax_element(t.Grey.begin(), t.Grey.end());
    const auto [minSaturated, maxSaturated] = std::minmax_element(t.Saturation.begin(), t.Saturation.end());
    const int32_t lowest = *minGrey + *minSaturated;
    const int32_t highest = *maxGrey + *maxSaturated;
    std::vector<uint8_t> toneOf(static_cast<size_t>(highest - lowest + 1));
    for (int32_t v = lowest; v <= highest; ++v)
        toneOf[static_cast<size_t>(v - lowest)] = t.Tone[Clamp(v)];
    const uint8_t* tone = toneOf.data() - lowest;
    const int width = bitmap.Width();
    for (int y = 0; y < bitmap.Height(); ++y) {
        uint8_t* pixel = bitmap.ScanLine(y);
        for (int x = 0; x < width; ++x, pixel += 3) {
            const int32_t d = t.Grey[pixel[0] + pixel[1] + pixel[2]];
            const int32_t b = d + t.Saturation[pixel[0]];
            const int32_t g = d + t.Saturation[pixel[1]];
            const int32_t r = d + t.Saturation[pixel[2]];
            pixel[0] = tone[b];
            pixel[1] = tone[g];
            pixel[2] = tone[r];
        }
    }
}

std::array<uint8_t, 256> MakeExposureTable(int32_t exposure) {
    std::array<uint8_t, 256> table{};
    const double x = exposure;
    for (int i = 0; i < 256; ++i) {
        const int64_t e = Round(256.0 * (1.0 - std::exp((i / -128.0) * (x / 128.0))));
        const int64_t rest = 255 - i;
        const int64_t value = x >= 0 ? i + ((e * rest) >> 8) : i - (((-e) * rest) >> 8);
        table[i] = static_cast<uint8_t>(Clamp(value));
    }
    return table;
}

void ExposurePass(TBitmap& bitmap, int32_t exposure) {
    const std::array<uint8_t, 256> table = MakeExposureTable(exposure);
    const int bytes = bitmap.Width() * 3;
    for (int y = 0; y < bitmap.Height(); ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int i = 0; i < bytes; ++i)
            row[i] = table[row[i]];
    }
}

void BlendOverlay(TBitmap& frame, const TBitmap& overlay, int32_t x, int32_t y, uint32_t alpha) {
    const TOverlaySpan s = OverlaySpan(frame, overlay, x, y);
    if (s.Empty())
        return;
    const uint32_t a = std::min<uint32_t>(alpha, 255);
    for (int64_t r = 0; r < s.Height; ++r) {
        uint8_t* target = frame.ScanLine(static_cast<int>(s.FrameRow + r)) + s.FrameCol * 3;
        const uint8_t* source = overlay.ScanLine(static_cast<int>(s.OverlayRow + r)) + s.OverlayCol * 3;
        for (int64_t i = 0; i < s.Width * 3; ++i)
            target[i] = Mix(target[i], source[i], a);
    }
}

void BlendOverlay(TBitmap& frame, const TBitmap& overlay, const std::vector<uint8_t>& coverage, int32_t x,
                  int32_t y, uint32_t alpha) {
    const TOverlaySpan s = OverlaySpan(frame, overlay, x, y);
    if (s.Empty() || coverage.size() < static_cast<size_t>(overlay.Width()) * overlay.Height())
        return;
    const uint32_t a = std::min<uint32_t>(alpha, 255);
    for (int64_t r = 0; r < s.Height; ++r) {
        uint8_t* target = frame.ScanLine(static_cast<int>(s.FrameRow + r)) + s.FrameCol * 3;
        const uint8_t* source = overlay.ScanLine(static_cast<int>(s.OverlayRow + r)) + s.OverlayCol * 3;
        const uint8_t* cover = coverage.data() + (s.OverlayRow + r) * overlay.Width() + s.OverlayCol;
        for (int64_t i = 0; i < s.Width; ++i) {
            // Rounded so that full coverage gives exactly `a` and none leaves the frame untouched.
            const uint32_t pixelAlpha = (a * cover[i] + 127) / 255;
            for (int c = 0; c < 3; ++c)
                target[i * 3 + c] = Mix(target[i * 3 + c], source[i * 3 + c], pixelAlpha);
        }
    }
}

bool PictureAdjusted(const TPictureSettings& s) {
    const TPictureSettings unchanged;
    return s.Brightness != unchanged.Brightness || s.Contrast != unchanged.Contrast ||
           s.Saturation != unchanged.Saturation || s.Exposure != unchanged.Exposure;
}

void AdjustPicture(TBitmap& bitmap, const TPictureSettings& s) {
    const TPictureSettings unchanged;
    if (s.Brightness != unchanged.Brightness || s.Contrast != unchanged.Contrast ||
        s.Saturation != unchanged.Saturation)
        ToneAndColourPass(bitmap, s.Brightness, s.Contrast, s.Saturation);
    if (s.Exposure != unchanged.Exposure)
        ExposurePass(bitmap, s.Exposure);
}

} // namespace tarnel
