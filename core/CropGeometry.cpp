#include "CropGeometry.h"

#include <algorithm>
#include <cmath>

namespace tarnel {

namespace {

int Round(double value) {
    return static_cast<int>(std::lround(value));
}

int Scaled(int margin, int source, int shown) {
    if (shown <= 0 || source == shown)
        return margin - margin % 2;
    const int value = Round(static_cast<double>(margin) * source / shown);
    return 2 * (value / 2);
}

} // namespace

TBox FitPicture(int width, int height, int areaWidth, int areaHeight) {
    if (width <= 0 || height <= 0 || areaWidth <= 0 || areaHeight <= 0)
        return {};
    const double w = width, h = height, W = areaWidth, H = areaHeight;
    if (w / W >= h / H) {
        const double shown = h * W / w;
        return {0, Round((H - shown) / 2), areaWidth, std::max(1, Round(shown))};
    }
    const double shown = w * H / h;
    return {Round((W - shown) / 2), 0, std::max(1, Round(shown)), areaHeight};
}

TBox KeepFrameInside(const TBox& frame, const TBox& atPress, bool moving, const TBox& picture) {
    TBox b = frame;
    if (moving) {
        b.Width = std::min(b.Width, picture.Width);
        b.Height = std::min(b.Height, picture.Height);
        b.Left = std::clamp(b.Left, picture.Left, picture.Right() - b.Width);
        b.Top = std::clamp(b.Top, picture.Top, picture.Bottom() - b.Height);
        return b;
    }
    if (b.Left < picture.Left) {
        b.Left = picture.Left;
        b.Width = atPress.Right() - b.Left;
    }
    if (b.Top < picture.Top) {
        b.Top = picture.Top;
        b.Height = atPress.Bottom() - b.Top;
    }
    if (b.Right() > picture.Right())
        b.Width = picture.Right() - b.Left;
    if (b.Bottom() > picture.Bottom())
        b.Height = picture.Bottom() - b.Top;
    return b;
}

TMargins MarginsOf(const TBox& frame, const TBox& picture) {
    return {std::max(0, frame.Top - picture.Top), std::max(0, picture.Bottom() - frame.Bottom()),
            std::max(0, frame.Left - picture.Left), std::max(0, picture.Right() - frame.Right())};
}

TBox FrameFor(const TMargins& m, const TBox& picture) {
    return {picture.Left + m.Left, picture.Top + m.Top, picture.Width - m.Left - m.Right,
            picture.Height - m.Top - m.Bottom};
}

TMargins SourceCrop(const TMargins& m, int videoWidth, int videoHeight, int pictureWidth, int pictureHeight) {
    return {Scaled(m.Top, videoHeight, pictureHeight), Scaled(m.Bottom, videoHeight, pictureHeight),
            Scaled(m.Left, videoWidth, pictureWidth), Scaled(m.Right, videoWidth, pictureWidth)};
}

} // namespace tarnel
