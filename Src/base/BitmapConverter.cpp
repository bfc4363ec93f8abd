#include "base/BitmapConverter.h"

#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace tarnel {

namespace {

// Buffer rows aligned for the scaler's vector code; extra bytes at the end for its over-reads.
constexpr int kBufferAlign = 32;
constexpr size_t kBufferPadding = 64;

bool UsablePicture(const uint8_t* const data[4], const int linesize[4], AVPixelFormat fmt, int width,
                   int height) {
    return data && linesize && data[0] && fmt != AV_PIX_FMT_NONE && width > 0 && height > 0;
}

// Replaces the cached scaler unless it already does this conversion. sws_getCachedContext frees
// the old context whenever it returns another one.
SwsContext* CachedScaler(SwsContextPtr& scaler, int srcWidth, int srcHeight, AVPixelFormat srcFormat,
                         int dstWidth, int dstHeight, AVPixelFormat dstFormat) {
    scaler.reset(sws_getCachedContext(scaler.release(), srcWidth, srcHeight, srcFormat, dstWidth, dstHeight,
                                      dstFormat, SWS_BICUBIC, nullptr, nullptr, nullptr));
    return scaler.get();
}

void CopyRows(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride, size_t rowBytes,
              int rows) {
    for (int y = 0; y < rows; ++y)
        std::memcpy(dst + y * dstStride, src + y * srcStride, rowBytes);
}

size_t PixelBytes(int width) {
    return static_cast<size_t>(width) * TBitmap::kBytesPerPixel;
}

} // namespace

void BitmapConverter::Reset() {
    bitmap_.SetSize(0, 0);
    buffer_.reset();
    bufferCapacity_ = 0;
    std::memset(bufferData_, 0, sizeof(bufferData_));
    std::memset(bufferLinesize_, 0, sizeof(bufferLinesize_));
    toBitmapScaler_.reset();
    fromBitmapScaler_.reset();
}

bool BitmapConverter::PrepareBuffer(int width, int height) {
    const int size = av_image_get_buffer_size(kBitmapFormat, width, height, kBufferAlign);
    if (size < 0)
        return false;
    const size_t needed = static_cast<size_t>(size) + kBufferPadding;
    if (needed > bufferCapacity_) {
        buffer_.reset(static_cast<uint8_t*>(av_malloc(needed)));
        bufferCapacity_ = buffer_ ? needed : 0;
        if (!buffer_)
            return false;
    }
    return av_image_fill_arrays(bufferData_, bufferLinesize_, buffer_.get(), kBitmapFormat, width, height,
                                kBufferAlign) >= 0;
}

void BitmapConverter::CopyBufferToBitmap() {
    CopyRows(bufferData_[0], bufferLinesize_[0], bitmap_.Bits(), bitmap_.RowSize(),
             PixelBytes(bitmap_.Width()), bitmap_.Height());
}

void BitmapConverter::CopyBitmapToBuffer(const TBitmap& bitmap) {
    CopyRows(bitmap.Bits(), bitmap.RowSize(), bufferData_[0], bufferLinesize_[0], PixelBytes(bitmap.Width()),
             bitmap.Height());
}

bool BitmapConverter::ToBitmap(const uint8_t* const data[4], const int linesize[4], AVPixelFormat fmt,
                               int width, int height) {
    if (!UsablePicture(data, linesize, fmt, width, height))
        return false;
    bitmap_.SetSize(width, height);

    const bool copyAsIs =
        fmt == kBitmapFormat && width % 2 == 0 && height % 2 == 0 && linesize[0] == bitmap_.RowSize();
    if (copyAsIs) {
        CopyRows(data[0], linesize[0], bitmap_.Bits(), bitmap_.RowSize(), PixelBytes(width), height);
        return true;
    }

    if (!PrepareBuffer(width, height))
        return false;
    SwsContext* scaler = CachedScaler(toBitmapScaler_, width, height, fmt, width, height, kBitmapFormat);
    if (!scaler)
        return false;
    if (sws_scale(scaler, data, linesize, 0, height, bufferData_, bufferLinesize_) <= 0)
        return false;
    CopyBufferToBitmap();
    return true;
}

bool BitmapConverter::ToBitmap(const AVFrame* frame) {
    if (!frame)
        return false;
    return ToBitmap(frame->data, frame->linesize, static_cast<AVPixelFormat>(frame->format), frame->width,
                    frame->height);
}

bool BitmapConverter::FromBitmap(const TBitmap& bitmap, uint8_t* const data[4], const int linesize[4],
                                 AVPixelFormat fmt, int width, int height) {
    if (bitmap.Empty() || !UsablePicture(data, linesize, fmt, width, height))
        return false;

    const bool sameSize = bitmap.Width() == width && bitmap.Height() == height;
    if (fmt == kBitmapFormat && sameSize) {
        CopyRows(bitmap.Bits(), bitmap.RowSize(), data[0], linesize[0], PixelBytes(width), height);
        return true;
    }

    // The scaler reads from the aligned buffer rather than from the bitmap's 4-byte-padded rows.
    if (!PrepareBuffer(bitmap.Width(), bitmap.Height()))
        return false;
    CopyBitmapToBuffer(bitmap);
    SwsContext* scaler =
        CachedScaler(fromBitmapScaler_, bitmap.Width(), bitmap.Height(), kBitmapFormat, width, height, fmt);
    if (!scaler)
        return false;
    return sws_scale(scaler, bufferData_, bufferLinesize_, 0, bitmap.Height(), data, linesize) > 0;
}

bool BitmapConverter::FromBitmap(const TBitmap& bitmap, AVFrame* frame) {
    if (!frame)
        return false;
    return FromBitmap(bitmap, frame->data, frame->linesize, static_cast<AVPixelFormat>(frame->format),
                      frame->width, frame->height);
}

} // namespace tarnel
