// The geometry of the crop dialog, free of any window: fitting a picture into a preview, the crop
// frame kept inside the picture, and margins in preview pixels turned into a crop in source pixels.
#pragma once

#include <cstdint>

namespace tarnel {

struct TBox {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    int Right() const { return Left + Width; }
    int Bottom() const { return Top + Height; }
    bool operator==(const TBox&) const = default;
};

struct TMargins {
    int Top = 0;
    int Bottom = 0;
    int Left = 0;
    int Right = 0;
    bool operator==(const TMargins&) const = default;
};

// Where a picture of `width` × `height` shows in an area of `areaWidth` × `areaHeight` (offsets
// from the area's corner): the full width centred vertically when the picture is relatively wider,
// else the full height centred horizontally. Empty for an empty picture or area.
TBox FitPicture(int width, int height, int areaWidth, int areaHeight);

// The crop frame after a drag step, kept inside `picture`: a moved frame is shifted back with its
// size kept; a resized frame has each edge that left the picture put back on the picture's edge
// while the opposite edge stays where it was when the drag started (`atPress`).
TBox KeepFrameInside(const TBox& frame, const TBox& atPress, bool moving, const TBox& picture);

// The margins of `frame` inside `picture`; negative margins count as 0.
TMargins MarginsOf(const TBox& frame, const TBox& picture);
// The frame that leaves `margins` inside `picture`.
TBox FrameFor(const TMargins& margins, const TBox& picture);

// Preview margins scaled to source pixels (vertical by video height / picture height, horizontal by
// video width / picture width), rounded and made even downwards.
TMargins SourceCrop(const TMargins& margins, int videoWidth, int videoHeight, int pictureWidth,
                    int pictureHeight);

} // namespace tarnel
