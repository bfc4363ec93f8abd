#include "base/BitmapConverter.h"

#include "base/LibHandles.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <ostream>
#include <vector>

namespace tarnel {
namespace {

// 100% colour bars in BT.601 studio range and the RGB they stand for.
struct Bar {
    uint8_t y, u, v;
    uint8_t r, g, b;
};
constexpr std::array<Bar, 8> kBars{{
    {235, 128, 128, 255, 255, 255}, // white
    {210, 16, 146, 255, 255, 0},    // yellow
    {170, 166, 16, 0, 255, 255},    // cyan
    {145, 54, 34, 0, 255, 0},       // green
    {106, 202, 222, 255, 0, 255},   // magenta
    {81, 90, 240, 255, 0, 0},       // red
    {41, 240, 110, 0, 0, 255},      // blue
    {16, 128, 128, 0, 0, 0},        // black
}};
constexpr int kRgbTolerance = 6;
constexpr int kYuvTolerance = 4;

int BarAt(int x, int width) {
    return x * static_cast<int>(kBars.size()) / width;
}
int BarCentre(size_t bar, int width) {
    return static_cast<int>((2 * bar + 1) * static_cast<size_t>(width) / (2 * kBars.size()));
}

FramePtr MakePicture(AVPixelFormat fmt, int width, int height) {
    FramePtr frame = MakeFrame();
    frame->format = fmt;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return nullptr;
    return frame;
}

FramePtr MakeBarsYuv(int width, int height) {
    FramePtr frame = MakePicture(AV_PIX_FMT_YUV420P, width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            frame->data[0][y * frame->linesize[0] + x] = kBars[BarAt(x, width)].y;
    const int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
    for (int y = 0; y < chromaHeight; ++y)
        for (int x = 0; x < chromaWidth; ++x) {
            const Bar& bar = kBars[BarAt(std::min(2 * x, width - 1), width)];
            frame->data[1][y * frame->linesize[1] + x] = bar.u;
            frame->data[2][y * frame->linesize[2] + x] = bar.v;
        }
    return frame;
}

void ExpectBarsInBitmap(const TBitmap& bitmap) {
    const int y = bitmap.Height() / 2;
    for (size_t i = 0; i < kBars.size(); ++i) {
        const int x = BarCentre(i, bitmap.Width());
        const uint8_t* pixel = bitmap.ScanLine(y) + 3 * x;
        SCOPED_TRACE(testing::Message() << "bar " << i << " at x " << x);
        EXPECT_NEAR(pixel[0], kBars[i].b, kRgbTolerance);
        EXPECT_NEAR(pixel[1], kBars[i].g, kRgbTolerance);
        EXPECT_NEAR(pixel[2], kBars[i].r, kRgbTolerance);
    }
}

void ExpectBarsInYuv(const AVFrame& frame) {
    const int y = frame.height / 2;
    for (size_t i = 0; i < kBars.size(); ++i) {
        const int x = BarCentre(i, frame.width);
        SCOPED_TRACE(testing::Message() << "bar " << i << " at x " << x);
        EXPECT_NEAR(frame.data[0][y * frame.linesize[0] + x], kBars[i].y, kYuvTolerance);
        EXPECT_NEAR(frame.data[1][y / 2 * frame.linesize[1] + x / 2], kBars[i].u, kYuvTolerance);
        EXPECT_NEAR(frame.data[2][y / 2 * frame.linesize[2] + x / 2], kBars[i].v, kYuvTolerance);
    }
}

struct Size {
    int width;
    int height;
};

// One converter for every size, so that the cached scalers and the buffer must follow each change.
TEST(BitmapConverter, ColourBarsSurviveTheTripToTheBitmapAndBack) {
    BitmapConverter converter;
    for (const Size size : {Size{64, 32}, Size{101, 45}, Size{333, 7}, Size{64, 32}}) {
        SCOPED_TRACE(testing::Message() << size.width << "x" << size.height);
        FramePtr source = MakeBarsYuv(size.width, size.height);
        ASSERT_TRUE(source);
        ASSERT_TRUE(converter.ToBitmap(source.get()));

        const TBitmap& bitmap = converter.Bitmap();
        ASSERT_EQ(bitmap.Width(), size.width);
        ASSERT_EQ(bitmap.Height(), size.height);
        EXPECT_EQ(bitmap.RowSize() % 4, 0);
        EXPECT_GE(bitmap.RowSize(), 3 * size.width);
        EXPECT_LT(bitmap.RowSize(), 3 * size.width + 4);
        ExpectBarsInBitmap(bitmap);

        FramePtr back = MakePicture(AV_PIX_FMT_YUV420P, size.width, size.height);
        ASSERT_TRUE(back);
        ASSERT_TRUE(converter.FromBitmap(bitmap, back.get()));
        ExpectBarsInYuv(*back);
    }
}

TEST(BitmapConverter, FromBitmapScalesToThePictureSize) {
    BitmapConverter converter;
    FramePtr source = MakeBarsYuv(64, 32);
    ASSERT_TRUE(converter.ToBitmap(source.get()));
    FramePtr larger = MakePicture(AV_PIX_FMT_YUV420P, 128, 48);
    ASSERT_TRUE(converter.FromBitmap(converter.Bitmap(), larger.get()));
    ExpectBarsInYuv(*larger);
}

struct BgrCase {
    int width;
    int height;
    int extraStride; // bytes added to the bitmap's row size
};
std::ostream& operator<<(std::ostream& os, const BgrCase& c) {
    return os << c.width << "x" << c.height << " stride +" << c.extraStride;
}

class BitmapConverterBgr : public ::testing::TestWithParam<BgrCase> {};

// BGR24 pictures reach the bitmap byte for byte, whether copied as they are (even size, the
// bitmap's stride) or passed through the scaler, and come back the same way.
TEST_P(BitmapConverterBgr, KeepsEveryByte) {
    const auto [width, height, extraStride] = GetParam();
    const int stride = TBitmap::RowSizeFor(width) + extraStride;
    std::vector<uint8_t> picture(static_cast<size_t>(stride) * height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < 3 * width; ++x)
            picture[y * stride + x] = static_cast<uint8_t>(x * 7 + y * 13);
    const uint8_t* data[4] = {picture.data()};
    const int linesize[4] = {stride};

    BitmapConverter converter;
    ASSERT_TRUE(converter.ToBitmap(data, linesize, AV_PIX_FMT_BGR24, width, height));
    const TBitmap& bitmap = converter.Bitmap();
    ASSERT_EQ(bitmap.Width(), width);
    ASSERT_EQ(bitmap.Height(), height);
    for (int y = 0; y < height; ++y)
        ASSERT_EQ(0, std::memcmp(bitmap.ScanLine(y), &picture[y * stride], 3 * width)) << "row " << y;

    std::vector<uint8_t> back(picture.size(), 0);
    uint8_t* backData[4] = {back.data()};
    ASSERT_TRUE(converter.FromBitmap(bitmap, backData, linesize, AV_PIX_FMT_BGR24, width, height));
    for (int y = 0; y < height; ++y)
        ASSERT_EQ(0, std::memcmp(&back[y * stride], &picture[y * stride], 3 * width)) << "row " << y;
}

INSTANTIATE_TEST_SUITE_P(Cases, BitmapConverterBgr,
                         ::testing::Values(BgrCase{64, 32, 0}, BgrCase{66, 10, 0}, BgrCase{64, 32, 32},
                                           BgrCase{63, 31, 0}, BgrCase{5, 3, 0}));

TEST(BitmapConverter, RefusesUnusablePictures) {
    BitmapConverter converter;
    FramePtr source = MakeBarsYuv(16, 16);
    const uint8_t* const* data = source->data;
    EXPECT_FALSE(converter.ToBitmap(data, source->linesize, AV_PIX_FMT_YUV420P, 0, 16));
    EXPECT_FALSE(converter.ToBitmap(data, source->linesize, AV_PIX_FMT_YUV420P, 16, -1));
    EXPECT_FALSE(converter.ToBitmap(data, source->linesize, AV_PIX_FMT_NONE, 16, 16));
    EXPECT_FALSE(converter.ToBitmap(nullptr));
    const uint8_t* noPlanes[4] = {};
    EXPECT_FALSE(converter.ToBitmap(noPlanes, source->linesize, AV_PIX_FMT_YUV420P, 16, 16));

    TBitmap empty;
    FramePtr target = MakePicture(AV_PIX_FMT_YUV420P, 16, 16);
    EXPECT_FALSE(converter.FromBitmap(empty, target.get()));
}

TEST(BitmapConverter, ResetEmptiesTheBitmapAndStaysUsable) {
    BitmapConverter converter;
    FramePtr source = MakeBarsYuv(64, 32);
    ASSERT_TRUE(converter.ToBitmap(source.get()));
    converter.Reset();
    EXPECT_TRUE(converter.Bitmap().Empty());
    EXPECT_EQ(converter.Bitmap().Width(), 0);
    ASSERT_TRUE(converter.ToBitmap(source.get()));
    ExpectBarsInBitmap(converter.Bitmap());
}

TEST(TBitmap, AssignCopiesSizeAndPixels) {
    TBitmap a(5, 2);
    EXPECT_EQ(a.RowSize(), 16);
    EXPECT_EQ(a.ByteSize(), 32u);
    a.ScanLine(1)[14] = 200;
    TBitmap b;
    b.Assign(a);
    EXPECT_EQ(b.Width(), 5);
    EXPECT_EQ(b.Height(), 2);
    EXPECT_EQ(b.ScanLine(1)[14], 200);
    a.ScanLine(1)[14] = 1;
    EXPECT_EQ(b.ScanLine(1)[14], 200);
}

} // namespace
} // namespace tarnel
