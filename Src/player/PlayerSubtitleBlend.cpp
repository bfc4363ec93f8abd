#include "player/PlayerSubtitleBlend.h"

#include <algorithm>

namespace tarnel {

namespace {

constexpr int kFixedBits = 10;
constexpr int kFixedHalf = 1 << (kFixedBits - 1);
constexpr int kMaxPaletteColors = AVPALETTE_COUNT;

constexpr int Fixed(double coefficient) {
    return static_cast<int>(coefficient * (1 << kFixedBits) + (coefficient < 0 ? -0.5 : 0.5));
}

struct ColorRow {
    int R, G, B, Offset;
};

constexpr ColorRow kLuma{Fixed(0.25678822), Fixed(0.5041294), Fixed(0.09790588), 16};
constexpr ColorRow kBlueDifference{Fixed(-0.14822651), Fixed(-0.2909892), Fixed(0.4392157), 128};
constexpr ColorRow kRedDifference{Fixed(0.4392157), Fixed(-0.36779043), Fixed(-0.07142525), 128};

int Apply(const ColorRow& row, int r, int g, int b) {
    return ((row.R * r + row.G * g + row.B * b + kFixedHalf) >> kFixedBits) + row.Offset;
}

// What an index outside the palette shows: nothing.
constexpr YuvaColor kTransparent{16, 128, 128, 0};

// The part of the picture covered by the rectangle: columns [Left, Right), rows [Top, Bottom).
struct Area {
    int Left, Top, Right, Bottom;
    bool Empty() const { return Left >= Right || Top >= Bottom; }
};

Area ClipToPicture(const AVFrame& picture, const AVSubtitleRect& rect) {
    const int64_t right = static_cast<int64_t>(rect.x) + rect.w;
    const int64_t bottom = static_cast<int64_t>(rect.y) + rect.h;
    return Area{std::max(rect.x, 0), std::max(rect.y, 0),
                static_cast<int>(std::min<int64_t>(right, picture.width)),
                static_cast<int>(std::min<int64_t>(bottom, picture.height))};
}

class RectColors {
public:
    explicit RectColors(const AVSubtitleRect& rect)
        : rect_(rect)
        , palette_(reinterpret_cast<const uint32_t*>(rect.data[1]))
        , colors_(std::clamp(rect.nb_colors, 0, kMaxPaletteColors)) {}

    // The colour at picture position (x, y), which lies inside the rectangle.
    YuvaColor At(int x, int y) const {
        const int index =
            rect_.data[0][static_cast<ptrdiff_t>(y - rect_.y) * rect_.linesize[0] + (x - rect_.x)];
        return index < colors_ ? UnpackYuva(palette_[index]) : kTransparent;
    }

private:
    const AVSubtitleRect& rect_;
    const uint32_t* palette_;
    int colors_;
};

uint8_t& PixelAt(AVFrame& picture, int plane, int x, int y) {
    return picture.data[plane][static_cast<ptrdiff_t>(y) * picture.linesize[plane] + x];
}

void BlendLuma(AVFrame& picture, const RectColors& colors, const Area& area) {
    for (int y = area.Top; y < area.Bottom; ++y) {
        for (int x = area.Left; x < area.Right; ++x) {
            const YuvaColor color = colors.At(x, y);
            uint8_t& pixel = PixelAt(picture, 0, x, y);
            pixel = static_cast<uint8_t>(((255 - color.A) * pixel + color.A * color.Y) / 255);
        }
    }
}

// Each chroma sample covers a 2×2 block of pixels; the rectangle may cover 4, 2 or 1 of them.
void BlendChromaBlock(AVFrame& picture, const RectColors& colors, const Area& area, int blockX, int blockY) {
    const int left = std::max(2 * blockX, area.Left);
    const int right = std::min(2 * blockX + 2, area.Right);
    const int top = std::max(2 * blockY, area.Top);
    const int bottom = std::min(2 * blockY + 2, area.Bottom);
    int sumA = 0, sumU = 0, sumV = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            const YuvaColor color = colors.At(x, y);
            sumA += color.A;
            sumU += color.U;
            sumV += color.V;
        }
    }
    const int covered = (right - left) * (bottom - top);
    const int shift = covered == 4 ? 2 : covered == 2 ? 1 : 0;
    const int alpha = sumA >> shift;
    const auto blend = [&](uint8_t& old, int sum) {
        old = static_cast<uint8_t>(((old << shift) * (255 - alpha) + sum * alpha) / (255 << shift));
    };
    blend(PixelAt(picture, 1, blockX, blockY), sumU);
    blend(PixelAt(picture, 2, blockX, blockY), sumV);
}

void BlendChroma(AVFrame& picture, const RectColors& colors, const Area& area) {
    for (int blockY = area.Top / 2; blockY <= (area.Bottom - 1) / 2; ++blockY) {
        for (int blockX = area.Left / 2; blockX <= (area.Right - 1) / 2; ++blockX)
            BlendChromaBlock(picture, colors, area, blockX, blockY);
    }
}

bool Drawable(const AVSubtitleRect& rect) {
    return rect.type == SUBTITLE_BITMAP && rect.data[0] && rect.data[1] && rect.w > 0 && rect.h > 0 &&
           rect.linesize[0] >= rect.w;
}

} // namespace

uint32_t PackYuva(const YuvaColor& color) {
    return static_cast<uint32_t>(color.A & 0xFF) << 24 | static_cast<uint32_t>(color.Y & 0xFF) << 16 |
           static_cast<uint32_t>(color.U & 0xFF) << 8 | static_cast<uint32_t>(color.V & 0xFF);
}

YuvaColor UnpackYuva(uint32_t packed) {
    return YuvaColor{static_cast<int>(packed >> 16 & 0xFF), static_cast<int>(packed >> 8 & 0xFF),
                     static_cast<int>(packed & 0xFF), static_cast<int>(packed >> 24)};
}

uint32_t RgbaToYuva(uint32_t argb) {
    const int r = static_cast<int>(argb >> 16 & 0xFF);
    const int g = static_cast<int>(argb >> 8 & 0xFF);
    const int b = static_cast<int>(argb & 0xFF);
    return PackYuva(YuvaColor{Apply(kLuma, r, g, b), Apply(kBlueDifference, r, g, b),
                              Apply(kRedDifference, r, g, b), static_cast<int>(argb >> 24)});
}

void ConvertPaletteToYuva(AVSubtitleRect& rect) {
    if (rect.type != SUBTITLE_BITMAP || !rect.data[1])
        return;
    auto* palette = reinterpret_cast<uint32_t*>(rect.data[1]);
    const int colors = std::clamp(rect.nb_colors, 0, kMaxPaletteColors);
    std::transform(palette, palette + colors, palette, RgbaToYuva);
}

bool BlendSubtitleRect(AVFrame& picture, const AVSubtitleRect& rect) {
    if (!Drawable(rect) || !picture.data[0] || !picture.data[1] || !picture.data[2])
        return false;
    const Area area = ClipToPicture(picture, rect);
    if (area.Empty())
        return false;
    const RectColors colors(rect);
    BlendLuma(picture, colors, area);
    BlendChroma(picture, colors, area);
    return true;
}

} // namespace tarnel
