// A 24-bit BGR picture in memory: rows top-down, each padded to a multiple of 4 bytes, with a lock
// that whoever draws on it holds. The shell wraps the memory as a QImage (Format_BGR888) without
// copying.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tarnel {

class TBitmap {
public:
    static constexpr int kBytesPerPixel = 3;

    TBitmap() = default;
    TBitmap(int width, int height) { SetSize(width, height); }
    // Not copyable by accident: a bitmap handed to an event handler is the owner's; copies are
    // made on purpose with Assign.
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    // Negative sizes count as 0; a size too large to address throws std::length_error. The pixels keep their
    // bytes when the size stays the same; a new size starts black.
    void SetSize(int width, int height);
    // Takes the other bitmap's size and pixels (not its lock).
    void Assign(const TBitmap& other);
    // All pixels (and padding) black.
    void Clear();

    int Width() const { return width_; }
    int Height() const { return height_; }
    // Bytes per row (the stride): width x 3 rounded up to a multiple of 4.
    int RowSize() const { return rowSize_; }
    size_t ByteSize() const { return pixels_.size(); }
    bool Empty() const { return pixels_.empty(); }

    uint8_t* Bits() { return pixels_.data(); }
    const uint8_t* Bits() const { return pixels_.data(); }
    // Row y, 0 at the top; y must be in 0 .. Height() - 1.
    uint8_t* ScanLine(int y) { return pixels_.data() + static_cast<size_t>(y) * rowSize_; }
    const uint8_t* ScanLine(int y) const { return pixels_.data() + static_cast<size_t>(y) * rowSize_; }

    static int RowSizeFor(int width) { return (width * kBytesPerPixel + 3) & ~3; }

    // The canvas lock: held while a handler draws on the bitmap.
    std::mutex& CanvasLock() { return canvasLock_; }
    void Lock() { canvasLock_.lock(); }
    void Unlock() { canvasLock_.unlock(); }

private:
    int width_ = 0;
    int height_ = 0;
    int rowSize_ = 0;
    std::vector<uint8_t> pixels_;
    std::mutex canvasLock_;
};

} // namespace tarnel
