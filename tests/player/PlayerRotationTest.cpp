// Phone videos stored as landscape pictures with a display matrix play upright: the size reported
// at open, the hook's picture, the snapshot and the screen all show the turned picture.
#include "LogCapture.h"
#include "PlayerSupport.h"
#include "TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <ostream>

namespace tarnel {
namespace {

using test::RecordingPlayer;

struct Box {
    int left = 0, top = 0, right = 0, bottom = 0; // right and bottom exclusive
};

std::ostream& operator<<(std::ostream& out, const Box& box) {
    return out << "[" << box.left << "," << box.top << " .. " << box.right << "," << box.bottom << ")";
}

// Edges of the bright quadrant may blur by a pixel or two through the encoder.
bool Near(const Box& a, const Box& b) {
    constexpr int kSlack = 2;
    return std::abs(a.left - b.left) <= kSlack && std::abs(a.top - b.top) <= kSlack &&
           std::abs(a.right - b.right) <= kSlack && std::abs(a.bottom - b.bottom) <= kSlack;
}

// The bounding box of the bright pixels of a 24-bit bitmap (empty when there are none).
Box BrightBox(const TBitmap& bitmap) {
    Box box{bitmap.Width(), bitmap.Height(), 0, 0};
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width(); ++x) {
            if (row[x * 3 + 1] < 128)
                continue;
            box.left = std::min(box.left, x);
            box.top = std::min(box.top, y);
            box.right = std::max(box.right, x + 1);
            box.bottom = std::max(box.bottom, y + 1);
        }
    }
    return box;
}

const fixtures::RealWorldSet& RealWorld() {
    static const fixtures::RealWorldSet set =
        fixtures::EnsureRealWorldFixtures(fixtures::DefaultFixtureDir());
    return set;
}

TEST(PlayerRotation, RotatedVideoIsShownHookedAndSnappedUpright) {
    struct Case {
        std::string fixtures::RealWorldSet::*file;
        const char* name;
        int width, height;    // upright
        int brightColumn;     // 0 left, 1 right
        int brightRow;        // 0 top, 1 bottom
        int keptAngleNotices; // log lines saying the picture stays as stored
    };
    const Case cases[] = {
        {&fixtures::RealWorldSet::rotated90, "rotated90", 240, 320, 1, 0, 0},
        {&fixtures::RealWorldSet::rotated180, "rotated180", 320, 240, 1, 1, 0},
        {&fixtures::RealWorldSet::rotated270, "rotated270", 240, 320, 0, 1, 0},
        {&fixtures::RealWorldSet::rotated45, "rotated45", 320, 240, 0, 0, 1},
    };
    constexpr int kArea = 320; // a square screen: upright pictures are pillarboxed, others letterboxed
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Box bright{c.brightColumn * c.width / 2, c.brightRow * c.height / 2,
                         (c.brightColumn + 1) * c.width / 2, (c.brightRow + 1) * c.height / 2};
        test::LogCapture log(llWarning);
        RecordingPlayer rec;
        std::mutex hookMutex;
        Box hooked;
        rec.player.SetHook(true);
        rec.player.OnHook = [&](TCustomPlayer&, TBitmap& bitmap, int64_t) {
            std::lock_guard lock(hookMutex);
            hooked = BrightBox(bitmap);
        };
        rec.player.SetScreenWidth(kArea);
        rec.player.SetScreenHeight(kArea);
        ASSERT_TRUE(rec.Open(RealWorld().*c.file)) << rec.player.LastError();
        EXPECT_EQ(rec.openWidth, c.width);
        EXPECT_EQ(rec.openHeight, c.height);
        ASSERT_TRUE(rec.WaitForPosition(500000));

        {
            std::lock_guard lock(hookMutex);
            EXPECT_TRUE(Near(hooked, bright)) << "hook " << hooked << " expected " << bright;
        }
        const TBitmap& snapshot = rec.player.CurrentFrame();
        EXPECT_EQ(snapshot.Width(), c.width);
        EXPECT_EQ(snapshot.Height(), c.height);
        EXPECT_TRUE(Near(BrightBox(snapshot), bright))
            << "snapshot " << BrightBox(snapshot) << " expected " << bright;

        TBitmap screen;
        ASSERT_TRUE(rec.player.CaptureDisplay(screen));
        const int x = (kArea - c.width) / 2, y = (kArea - c.height) / 2;
        const Box shown{bright.left + x, bright.top + y, bright.right + x, bright.bottom + y};
        EXPECT_TRUE(Near(BrightBox(screen), shown))
            << "screen " << BrightBox(screen) << " expected " << shown;
        EXPECT_EQ(log.Count("not a quarter turn"), c.keptAngleNotices);
    }
}

} // namespace
} // namespace tarnel
