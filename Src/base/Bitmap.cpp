#include "base/Bitmap.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

namespace tarnel {

void TBitmap::SetSize(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == width_ && height == height_)
        return;
    if (width > (INT_MAX - 3) / kBytesPerPixel)
        throw std::length_error("TBitmap: width too large");
    width_ = width;
    height_ = height;
    rowSize_ = RowSizeFor(width);
    pixels_.assign(static_cast<size_t>(rowSize_) * static_cast<size_t>(height), 0);
}

void TBitmap::Assign(const TBitmap& other) {
    if (&other == this)
        return;
    width_ = other.width_;
    height_ = other.height_;
    rowSize_ = other.rowSize_;
    pixels_ = other.pixels_;
}

void TBitmap::Clear() {
    std::fill(pixels_.begin(), pixels_.end(), uint8_t{0});
}

} // namespace tarnel
