// Drawing decoded bitmap subtitles into the player's planar 4:2:0 pictures: the palette conversion
// from the decoder's RGBA to YUVA and the alpha blending of one subtitle rectangle.
#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace tarnel {

// One palette colour in YUVA, studio range (Y 16..235, U and V 16..240).
struct YuvaColor {
    int Y = 0;
    int U = 0;
    int V = 0;
    int A = 0;
};

// A converted palette entry is one native 32-bit word like the decoder's 0xAARRGGBB entries:
// bits 31..24 alpha, 23..16 Y, 15..8 U (Cb), 7..0 V (Cr).
uint32_t PackYuva(const YuvaColor& color);
YuvaColor UnpackYuva(uint32_t packed);

// Converts one decoder palette entry (native 0xAARRGGBB) to a packed YUVA entry with the
// ITU-R BT.601 studio-range matrix in 10-bit fixed point; alpha is kept.
uint32_t RgbaToYuva(uint32_t argb);

// Converts the first nb_colors (at most 256) palette entries of a bitmap rectangle (data[1]) in
// place. Rectangles of other types are left alone.
void ConvertPaletteToYuva(AVSubtitleRect& rect);

// Alpha-blends a bitmap rectangle whose palette is already YUVA into `picture` (planar 4:2:0:
// data[0] Y, data[1] U, data[2] V; chroma planes of (width + 1) / 2 × (height + 1) / 2), clipped
// to the picture. Palette indices at or beyond nb_colors count as transparent. True when at least
// one pixel of the picture lies under the rectangle.
bool BlendSubtitleRect(AVFrame& picture, const AVSubtitleRect& rect);

} // namespace tarnel
