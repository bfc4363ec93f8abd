// The crop dialog's geometry: the picture fitted into the preview, the frame kept inside it and
// preview margins turned into an even crop in source pixels.
#include "core/CropGeometry.h"

#include <gtest/gtest.h>

namespace tarnel {
namespace {

TEST(CropGeometryTest, PicturesFitIntoThePreview) {
    const struct {
        int w, h;
        TBox expected;
    } cases[] = {
        {1280, 720, {0, 33, 420, 236}}, // wider than the preview: full width, centred vertically
        {320, 240, {8, 0, 404, 303}},   // 4:3 is taller than 420 × 303: full height
        {420, 303, {0, 0, 420, 303}},
        {0, 240, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FitPicture(c.w, c.h, 420, 303), c.expected) << c.w << "x" << c.h;
}

TEST(CropGeometryTest, MarginsBecomeAnEvenSourceCrop) {
    // 1280 × 720 shown at 420 × 236: 10 preview pixels at the top are 30.5, rounded 31, made even 30.
    EXPECT_EQ(SourceCrop({10, 0, 0, 0}, 1280, 720, 420, 236), (TMargins{30, 0, 0, 0}));
    // 10 × 576 / 303 = 19.0 gives 18; the horizontal margins scale by the widths.
    EXPECT_EQ(SourceCrop({10, 10, 21, 0}, 720, 576, 420, 303), (TMargins{18, 18, 36, 0}));
    // Equal sizes keep the margins, made even.
    EXPECT_EQ(SourceCrop({3, 4, 5, 6}, 420, 303, 420, 303), (TMargins{2, 4, 4, 6}));
    // Without a picture nothing is cut.
    EXPECT_EQ(SourceCrop({0, 0, 0, 0}, 0, 0, 0, 0), (TMargins{}));
}

TEST(CropGeometryTest, TheFrameStaysInsideThePicture) {
    const TBox picture{20, 95, 420, 236};
    const TBox atPress{100, 150, 200, 100};
    const struct {
        const char* what;
        TBox frame;
        bool moving;
        TBox expected;
    } cases[] = {
        {"moved past the left and top keeps its size", {-30, 50, 200, 100}, true, {20, 95, 200, 100}},
        {"moved past the right and bottom keeps its size", {400, 300, 200, 100}, true, {240, 231, 200, 100}},
        {"a move inside is kept", {120, 160, 200, 100}, true, {120, 160, 200, 100}},
        {"left edge past the picture", {0, 150, 300, 100}, false, {20, 150, 280, 100}},
        {"left and top edges past it", {0, 60, 300, 190}, false, {20, 95, 280, 155}},
        {"right edge past it", {100, 150, 400, 100}, false, {100, 150, 340, 100}},
        {"bottom edge past it", {100, 150, 200, 250}, false, {100, 150, 200, 181}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KeepFrameInside(c.frame, atPress, c.moving, picture), c.expected) << c.what;
}

TEST(CropGeometryTest, MarginsAndFramesAreTwoViewsOfTheSameCut) {
    const TBox picture{20, 95, 420, 236};
    const TMargins margins{10, 20, 30, 40};
    const TBox frame = FrameFor(margins, picture);
    EXPECT_EQ(frame, (TBox{50, 105, 350, 206}));
    EXPECT_EQ(MarginsOf(frame, picture), margins);
    EXPECT_EQ(MarginsOf({0, 0, 500, 400}, picture), TMargins{}) << "negative margins count as 0";
}

} // namespace
} // namespace tarnel
