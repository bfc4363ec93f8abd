// The tone-and-colour pass, the exposure pass and the overlay blend (with and without coverage), on
// the numbers that define them.
#include "core/PictureAdjustment.h"

#include "base/Bitmap.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace tarnel {
namespace {

// A one-row bitmap of the given pixels (blue, green, red each).
std::unique_ptr<TBitmap> Row(const std::vector<std::array<uint8_t, 3>>& pixels) {
    auto bitmap = std::make_unique<TBitmap>(static_cast<int>(pixels.size()), 1);
    for (size_t i = 0; i < pixels.size(); ++i)
        std::copy(pixels[i].begin(), pixels[i].end(), bitmap->ScanLine(0) + i * 3);
    return bitmap;
}

std::unique_ptr<TBitmap> Filled(int width, int height, uint8_t value) {
    auto bitmap = std::make_unique<TBitmap>(width, height);
    std::fill(bitmap->Bits(), bitmap->Bits() + bitmap->ByteSize(), value);
    return bitmap;
}

std::array<uint8_t, 3> Pixel(const TBitmap& bitmap, int x, int y = 0) {
    const uint8_t* p = bitmap.ScanLine(y) + x * 3;
    return {p[0], p[1], p[2]};
}

using Bgr = std::array<uint8_t, 3>;

TEST(PictureAdjustmentTest, ToneAndColourPass) {
    const struct {
        int b, c, s;
        Bgr in, out;
    } cases[] = {
        {256, 0, 256, {10, 200, 100}, {10, 200, 100}}, // the identity
        {256, 0, 256, {0, 255, 128}, {0, 255, 128}},
        {255, 0, 255, {10, 200, 100}, {9, 199, 99}},
        {255, 0, 255, {255, 255, 255}, {254, 254, 254}},
        {0, 0, 256, {10, 200, 100}, {1, 1, 1}}, // every channel becomes C[1]
        {256, 0, 0, {10, 200, 100}, {103, 103, 103}},
        {256, 0, 512, {10, 200, 100}, {0, 255, 97}},
        {256, -100, 256, {10, 200, 100}, {170, 170, 170}}, // flat
    };
    for (const auto& c : cases) {
        const auto bitmap = Row({c.in});
        ToneAndColourPass(*bitmap, c.b, c.c, c.s);
        EXPECT_EQ(Pixel(*bitmap, 0), c.out) << c.b << " " << c.c << " " << c.s;
    }
}

TEST(PictureAdjustmentTest, ContrastTable) {
    const TToneTables plus = MakeToneTables(256, 50, 256);
    EXPECT_EQ(plus.Contrast[0], 0);
    EXPECT_EQ(plus.Contrast[100], 71);
    EXPECT_EQ(plus.Contrast[170], 170);
    EXPECT_EQ(plus.Contrast[200], 212);
    const TToneTables minus = MakeToneTables(256, -50, 256);
    EXPECT_EQ(minus.Contrast[0], 50);
    EXPECT_EQ(minus.Contrast[100], 121);
    EXPECT_EQ(minus.Contrast[255], 230);
    EXPECT_EQ(MakeToneTables(256, 100, 256).Contrast, MakeToneTables(256, 99, 256).Contrast)
        << "100 acts as 99";
}

TEST(PictureAdjustmentTest, ExposureTable) {
    const struct {
        int x;
        std::vector<std::pair<int, int>> levels;
    } cases[] = {{128, {{0, 0}, {64, 139}, {128, 208}, {255, 255}}},
                 {512, {{0, 0}, {16, 110}, {64, 228}, {128, 252}, {255, 255}}},
                 {-64, {{0, 0}, {64, 10}, {128, 46}, {200, 135}, {255, 255}}},
                 {-255, {{0, 0}, {100, 0}, {249, 0}, {250, 11}, {254, 203}, {255, 255}}}};
    for (const auto& c : cases) {
        const std::array<uint8_t, 256> table = MakeExposureTable(c.x);
        for (const auto& [in, out] : c.levels)
            EXPECT_EQ(table[in], out) << "x " << c.x << " level " << in;
    }
    const auto bitmap = Row({{64, 128, 255}});
    ExposurePass(*bitmap, 128);
    EXPECT_EQ(Pixel(*bitmap, 0), (Bgr{139, 208, 255})) << "blue, green and red alike";
}

TEST(PictureAdjustmentTest, BlendOverlay) {
    const struct {
        uint32_t alpha;
        uint8_t frame, overlay, out;
    } formula[] = {{0, 100, 200, 100}, {255, 0, 255, 254}, {255, 255, 0, 0}, {128, 100, 200, 150}};
    for (const auto& f : formula) {
        const auto frame = Filled(4, 4, f.frame);
        const auto overlay = Filled(2, 2, f.overlay);
        BlendOverlay(*frame, *overlay, 1, 1, f.alpha);
        EXPECT_EQ(Pixel(*frame, 1, 1)[0], f.out) << f.alpha;
        EXPECT_EQ(Pixel(*frame, 0, 0)[0], f.frame) << "outside the overlay";
    }

    // Clipping: which frame pixels an overlay of 50 × 3 at each place changes.
    const struct {
        int x, y;
        int firstChanged, lastChanged; // frame columns on row 1, -1 for none
    } clips[] = {{-10, 0, 0, 39}, {30, 0, 30, 39}, {40, 0, -1, -1}, {-50, 0, -1, -1},
                 {0, -2, 0, 39},  {0, 9, 0, 39},   {0, 10, -1, -1}};
    for (const auto& c : clips) {
        const auto frame = Filled(40, 10, 0);
        const auto overlay = Filled(50, 3, 0);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 50; ++x)
                overlay->ScanLine(y)[x * 3] = static_cast<uint8_t>((x + 1) * 4);
        BlendOverlay(*frame, *overlay, c.x, c.y, 255);
        int first = -1, last = -1;
        const int row = std::clamp(c.y, 0, 9);
        for (int x = 0; x < 40; ++x)
            if (frame->ScanLine(row)[x * 3] != 0) {
                first = first < 0 ? x : first;
                last = x;
            }
        EXPECT_EQ(first, c.firstChanged) << c.x << "," << c.y;
        EXPECT_EQ(last, c.lastChanged) << c.x << "," << c.y;
        if (c.x == -10) {
            EXPECT_EQ(frame->ScanLine(0)[0], (255 * 44) >> 8) << "overlay column 10 lands on column 0";
        }
    }
}

// Each overlay pixel blends with alpha × coverage / 255, rounded; the coverage rows follow the
// overlay when it is cut at the frame's edges.
TEST(PictureAdjustmentTest, BlendOverlayWithCoverage) {
    const struct {
        uint32_t alpha;
        uint8_t coverage, out; // frame 100, overlay 200
    } formula[] = {{255, 0, 100}, {255, 255, 199}, {128, 255, 150}, {255, 128, 150}, {128, 128, 125}};
    for (const auto& f : formula) {
        const auto frame = Filled(4, 4, 100);
        const auto overlay = Filled(2, 2, 200);
        BlendOverlay(*frame, *overlay, std::vector<uint8_t>(4, f.coverage), 1, 1, f.alpha);
        EXPECT_EQ(Pixel(*frame, 1, 1), (Bgr{f.out, f.out, f.out})) << f.alpha << " " << int{f.coverage};
        EXPECT_EQ(Pixel(*frame, 0, 0)[0], 100) << "outside the overlay";
    }

    // A 3 × 3 overlay covered only at its middle pixel, placed one pixel up and left of the frame.
    const auto frame = Filled(4, 4, 0);
    const auto overlay = Filled(3, 3, 255);
    std::vector<uint8_t> coverage(9, 0);
    coverage[4] = 255;
    BlendOverlay(*frame, *overlay, coverage, -1, -1, 255);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(Pixel(*frame, x, y)[0], x == 0 && y == 0 ? 254 : 0) << x << "," << y;
}

} // namespace
} // namespace tarnel
