// Turns a decoded picture into a 24-bit BGR bitmap and a bitmap back into a picture. Used by the
// engine's preview and RGB hook and by the player's hook and snapshots. Not thread-safe: each user
// owns its converter.
#pragma once

#include "base/Bitmap.h"
#include "base/LibHandles.h"

#include <cstddef>
#include <cstdint>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace tarnel {

class BitmapConverter {
public:
    static constexpr AVPixelFormat kBitmapFormat = AV_PIX_FMT_BGR24;

    BitmapConverter() = default;
    BitmapConverter(const BitmapConverter&) = delete;
    BitmapConverter& operator=(const BitmapConverter&) = delete;

    // Frees the bitmap's pixels, the picture buffer and both scaler contexts.
    void Reset();

    // Sizes the bitmap to width x height and fills it with the picture. A BGR24 picture of even
    // size whose stride is the bitmap's row size is copied as it is; anything else is converted
    // (bicubic) through the converter's own buffer. False when the arguments are unusable or no
    // scaler exists for the format.
    bool ToBitmap(const uint8_t* const data[4], const int linesize[4], AVPixelFormat fmt, int width,
                  int height);
    bool ToBitmap(const AVFrame* frame);

    // Writes the bitmap into the picture (which the caller owns and which must be writable), scaled
    // to width x height when the sizes differ. False when the arguments are unusable or no scaler
    // exists for the format.
    bool FromBitmap(const TBitmap& bitmap, uint8_t* const data[4], const int linesize[4], AVPixelFormat fmt,
                    int width, int height);
    bool FromBitmap(const TBitmap& bitmap, AVFrame* frame);

    TBitmap& Bitmap() { return bitmap_; }
    const TBitmap& Bitmap() const { return bitmap_; }

private:
    // Lays a BGR24 picture of the size over the buffer, growing the buffer when it is too small.
    bool PrepareBuffer(int width, int height);
    void CopyBufferToBitmap();
    void CopyBitmapToBuffer(const TBitmap& bitmap);

    TBitmap bitmap_;
    LibraryMemPtr<uint8_t> buffer_;
    size_t bufferCapacity_ = 0;
    uint8_t* bufferData_[4] = {};
    int bufferLinesize_[4] = {};
    SwsContextPtr toBitmapScaler_;
    SwsContextPtr fromBitmapScaler_;
};

} // namespace tarnel
