// What the player shows, read back from SDL's software renderer: the picture's place and size
// under the aspect rules, and the waveform of files without video.
#include "player/PlayerDisplay.h"

#include "EngineConvert.h"
#include "PlayerSupport.h"
#include "TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <thread>

namespace tarnel {
namespace {

using namespace std::chrono_literals;
using test::Fixtures;
using test::RecordingPlayer;
using test::TempDir;

// Rows [first, last) of `rows` all equal `value`.
bool RowsAre(const std::vector<bool>& rows, int first, int last, bool value) {
    return std::all_of(rows.begin() + first, rows.begin() + last, [&](bool row) { return row == value; });
}

TEST(PlayerDisplay, PictureRectFollowsTheAspectRules) {
    struct Case {
        float playerAspect;
        AVRational sampleAspect;
        int width, height, areaWidth, areaHeight;
        DisplayRect expected;
    };
    const Case cases[] = {
        {0, {64, 45}, 720, 576, 640, 480, {0, 60, 640, 360}},         // 16:9 picture letterboxed
        {-1, {64, 45}, 720, 576, 640, 480, {0, 0, 640, 480}},         // stretched over the area
        {0, {0, 1}, 320, 240, 640, 480, {0, 0, 640, 480}},            // unknown sample aspect counts as 1
        {4.0f / 3, {64, 45}, 720, 576, 800, 450, {100, 0, 600, 450}}, // forced 4:3, pillarboxed
        {0, {1, 1}, 101, 100, 300, 300, {0, 2, 300, 296}},            // odd results lose their lowest bit
    };
    for (const Case& c : cases) {
        const double aspect =
            DisplayAspect(c.playerAspect, c.areaWidth, c.areaHeight, c.sampleAspect, c.width, c.height);
        const DisplayRect rect = PictureRect(c.areaWidth, c.areaHeight, aspect);
        EXPECT_EQ(rect.X, c.expected.X) << c.width << "x" << c.height << " aspect " << c.playerAspect;
        EXPECT_EQ(rect.Y, c.expected.Y) << c.width << "x" << c.height << " aspect " << c.playerAspect;
        EXPECT_EQ(rect.Width, c.expected.Width) << c.width << "x" << c.height << " aspect " << c.playerAspect;
        EXPECT_EQ(rect.Height, c.expected.Height)
            << c.width << "x" << c.height << " aspect " << c.playerAspect;
    }
}

TEST(PlayerDisplay, WidePictureIsLetterboxedAndAspectMinusOneFillsTheArea) {
    TempDir dir;
    RecordingPlayer rec; // loads the libraries the conversion below needs
    const std::string wide = (dir / "pal-wide.mp4").string();
    ASSERT_EQ(test::ConvertWithEngine(Fixtures().videoOnly,
                                      {{"s", "720x576"}, {"aspect", "16:9"}, {"vcodec", "mpeg4"}, {"t", "2"}},
                                      wide),
              "");
    rec.player.SetScreenWidth(640);
    rec.player.SetScreenHeight(480);
    ASSERT_TRUE(rec.Open(wide)) << rec.player.LastError();
    ASSERT_TRUE(rec.WaitForPosition(300000));
    rec.player.Pause();
    std::this_thread::sleep_for(300ms);

    TBitmap screen;
    ASSERT_TRUE(rec.player.CaptureDisplay(screen));
    ASSERT_EQ(screen.Width(), 640);
    ASSERT_EQ(screen.Height(), 480);
    std::vector<bool> rows = test::NonBlackRows(screen);
    EXPECT_TRUE(RowsAre(rows, 0, 60, false));
    EXPECT_TRUE(RowsAre(rows, 60, 420, true));
    EXPECT_TRUE(RowsAre(rows, 420, 480, false));

    rec.player.SetAspectRatio(-1);
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(rec.player.CaptureDisplay(screen));
    rows = test::NonBlackRows(screen);
    EXPECT_TRUE(RowsAre(rows, 0, 480, true));
}

TEST(PlayerDisplay, AudioOnlyFileShowsAWhiteWaveformOnBlackOneBandPerChannel) {
    RecordingPlayer rec;
    rec.player.SetScreenWidth(320);
    rec.player.SetScreenHeight(240);
    ASSERT_TRUE(rec.Open(Fixtures().audioOnly)) << rec.player.LastError();
    ASSERT_TRUE(rec.WaitForPosition(1000000));

    TBitmap screen;
    ASSERT_TRUE(rec.player.CaptureDisplay(screen));
    ASSERT_EQ(screen.Width(), 320);
    ASSERT_EQ(screen.Height(), 240);
    int white = 0, other = 0;
    std::vector<int> whiteInRow(240);
    for (int y = 0; y < 240; ++y) {
        const uint8_t* row = screen.ScanLine(y);
        for (int x = 0; x < 320 * 3; x += 3) {
            const bool isWhite = row[x] == 255 && row[x + 1] == 255 && row[x + 2] == 255;
            const bool isBlack = row[x] == 0 && row[x + 1] == 0 && row[x + 2] == 0;
            white += isWhite;
            other += !isWhite && !isBlack;
            whiteInRow[y] += isWhite;
        }
    }
    EXPECT_EQ(other, 0);
    EXPECT_EQ(whiteInRow[120], 320); // the line between the two channels' bands
    // Each band holds a tone drawn around its centre line (rows 60 and 180), at most 45% of the
    // band's height away from it.
    const auto bandWhite = [&](int first, int last) {
        int sum = 0;
        for (int y = first; y < last; ++y)
            sum += whiteInRow[y];
        return sum;
    };
    EXPECT_GT(bandWhite(1, 120), 320);
    EXPECT_GT(bandWhite(121, 240), 320);
    EXPECT_EQ(bandWhite(0, 6) + bandWhite(115, 120) + bandWhite(121, 126) + bandWhite(235, 240), 0);
}

} // namespace
} // namespace tarnel
