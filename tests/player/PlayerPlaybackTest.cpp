// Playing real files with SDL's dummy drivers: states, positions, pause, step, seek, snapshots,
// stream choice and failures.
#include "EngineConvert.h"
#include "PlayerSupport.h"
#include "TestSupport.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace tarnel {
namespace {

using namespace std::chrono_literals;
using test::Fixtures;
using test::RecordingPlayer;
using test::TempDir;

TEST(PlayerPlayback, PlaysOneFileThroughPlayEndAndStop) {
    RecordingPlayer rec;
    ASSERT_TRUE(rec.Open(Fixtures().h264AacMp4)) << rec.player.LastError();
    EXPECT_NEAR(rec.openDuration, 3000000, 100000);
    EXPECT_EQ(rec.openWidth, 320);
    EXPECT_EQ(rec.openHeight, 240);
    EXPECT_TRUE(rec.player.Probe().IsOpen());
    ASSERT_TRUE(rec.WaitForState(psEnd, 15s));
    rec.player.Close(true);
    ASSERT_TRUE(rec.WaitForState(psStop, 5s));
    EXPECT_FALSE(rec.player.Probe().IsOpen());

    const std::vector<TPlayState> states = rec.States();
    EXPECT_EQ(states.front(), psPlay);
    EXPECT_EQ(states.back(), psStop);
    EXPECT_EQ(rec.Count(psEnd), 1);
    const std::vector<int64_t> positions = rec.Positions();
    ASSERT_GE(positions.size(), 10u);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_NEAR(positions.back(), 3000000, 100000);
}

TEST(PlayerPlayback, EndIsPostedAgainAfterSeekingBack) {
    RecordingPlayer rec;
    ASSERT_TRUE(rec.Open(Fixtures().h264AacMp4)) << rec.player.LastError();
    ASSERT_TRUE(rec.WaitForState(psEnd, 15s));
    rec.player.Seek(2500000, 0, true);
    ASSERT_TRUE(rec.WaitForState(psEnd, 15s, 2));
}

TEST(PlayerPlayback, PauseTwicePostsOnePauseAndResumeWhileRunningPostsNothing) {
    RecordingPlayer rec;
    ASSERT_TRUE(rec.Open(Fixtures().h264AacMp4)) << rec.player.LastError();
    ASSERT_TRUE(rec.WaitForState(psPlay));
    rec.player.Resume();
    EXPECT_FALSE(rec.player.IsPaused());
    rec.player.Pause();
    rec.player.Pause();
    EXPECT_TRUE(rec.player.IsPaused());
    ASSERT_TRUE(rec.WaitForState(psPause));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(rec.Count(psPause), 1);
    EXPECT_EQ(rec.Count(psResume), 0);
    rec.player.Resume();
    ASSERT_TRUE(rec.WaitForState(psResume));
    EXPECT_FALSE(rec.player.IsPaused());
}

// A pause before the first picture is shown, as a quick press of Pause after Play gives, must not
// leave the pictures waiting for ever once the file is resumed.
TEST(PlayerPlayback, PauseRightAfterOpeningThenResumePlaysOn) {
    RecordingPlayer rec;
    rec.player.OnFileOpen = [](TCustomPlayer&, int64_t, int, int, int& screenWidth, int& screenHeight) {
        screenWidth = 370; // a panel of the main window's size
        screenHeight = 240;
    };
    ASSERT_TRUE(rec.Open(Fixtures().h264AacMp4)) << rec.player.LastError();
    rec.player.Pause();
    rec.player.Resume();
    EXPECT_TRUE(rec.WaitForPosition(1000000, 5s)) << "positions stopped after resuming";
    EXPECT_TRUE(rec.WaitForState(psEnd, 10s));
}

TEST(PlayerPlayback, StepFrameOnPausedFileShowsTheNextPictureAndStaysPaused) {
    RecordingPlayer rec;
    ASSERT_TRUE(rec.Open(Fixtures().h264AacMp4)) << rec.player.LastError();
    ASSERT_TRUE(rec.WaitForPosition(500000));
    rec.player.Pause();
    std::this_thread::sleep_for(400ms); // the pictures already queued are shown
    int64_t before = -1;
    rec.player.CurrentFrame(before);

    int64_t previous = before;
    for (int step = 0; step < 2; ++step) {
        rec.player.StepFrame();
        std::this_thread::sleep_for(400ms);
        int64_t now = -1;
        rec.player.CurrentFrame(now);
        // The next picture kept by the decoder: one frame on, or a few when a slow machine makes it
        // drop pictures.
        EXPECT_GT(now, previous) << "step " << step;
        EXPECT_LE(now - previous, 200000) << "step " << step;
        EXPECT_TRUE(rec.player.IsPaused());
        previous = now;
    }
    EXPECT_EQ(rec.Count(psStep), 1);
}

TEST(PlayerPlayback, EachSeekWhilePausedShowsExactlyOneNewPicture) {
    RecordingPlayer rec;
    rec.CountHookCalls();
    ASSERT_TRUE(rec.Open(Fixtures().h264AacMp4)) << rec.player.LastError();
    ASSERT_TRUE(rec.WaitForPosition(500000));
    rec.player.Pause();
    std::this_thread::sleep_for(400ms);
    const int hooksBefore = rec.HookCalls();

    // A waiting seek returns with its picture on screen.
    int64_t pts = -1;
    rec.player.Seek(2000000, 0, true);
    const TBitmap& picture = rec.player.CurrentFrame(pts);
    EXPECT_EQ(picture.Width(), 320);
    EXPECT_NEAR(pts, 2000000, 50000);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(rec.HookCalls() - hooksBefore, 1);
    EXPECT_TRUE(rec.player.IsPaused());

    // Back to the start: the first picture carries time 0, not the clock from before the seek.
    rec.player.Seek(0, 0, true);
    rec.player.CurrentFrame(pts);
    EXPECT_EQ(pts, 0);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(rec.HookCalls() - hooksBefore, 2);
}

TEST(PlayerPlayback, CurrentFrameWithAndWithoutAFile) {
    RecordingPlayer rec;
    int64_t pts = 0;
    EXPECT_EQ(rec.player.CurrentFrame(pts).Width(), 0);
    EXPECT_EQ(rec.player.CurrentFrame(pts).Height(), 0);
    EXPECT_EQ(pts, -1);

    ASSERT_TRUE(rec.Open(Fixtures().h264AacMp4)) << rec.player.LastError();
    ASSERT_TRUE(rec.WaitForPosition(1000000));
    const TBitmap& picture = rec.player.CurrentFrame(pts);
    EXPECT_EQ(picture.Width(), 320);
    EXPECT_EQ(picture.Height(), 240);
    EXPECT_GE(pts, 500000);
    EXPECT_LE(pts, 3000000);
    const std::vector<bool> rows = test::NonBlackRows(picture);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), true), 240);
}

TEST(PlayerPlayback, DisableAudioAndDisableVideoChooseTheOtherStream) {
    {
        RecordingPlayer rec;
        rec.player.SetDisableVideo(true);
        ASSERT_TRUE(rec.Open(Fixtures().h264AacMp4)) << rec.player.LastError();
        EXPECT_EQ(rec.openWidth, -1);
        ASSERT_TRUE(rec.WaitForPosition(500000));
        double difference;
        EXPECT_FALSE(rec.player.ClockDifference(difference));
        EXPECT_EQ(rec.player.CurrentFrame().Width(), 0);
    }
    {
        RecordingPlayer rec;
        rec.player.SetDisableAudio(true);
        ASSERT_TRUE(rec.Open(Fixtures().h264AacMp4)) << rec.player.LastError();
        EXPECT_EQ(rec.openWidth, 320);
        ASSERT_TRUE(rec.WaitForPosition(500000));
        double difference;
        EXPECT_FALSE(rec.player.ClockDifference(difference));
        EXPECT_EQ(rec.player.CurrentFrame().Width(), 320);
        ASSERT_TRUE(rec.WaitForState(psEnd, 15s));
    }
}

TEST(PlayerPlayback, FileWithoutAudioAndVideoFailsThenAGoodFileOpens) {
    TempDir dir;
    const std::string subtitlesOnly = (dir / "subtitles.mkv").string();
    ASSERT_EQ(test::ConvertWithEngine(Fixtures().withSubtitles, {{"vn", ""}, {"an", ""}, {"scodec", "copy"}},
                                      subtitlesOnly),
              "");
    const std::string garbage = (dir / "garbage.mp4").string();
    std::ofstream(garbage) << std::string(4096, 'x');

    RecordingPlayer rec;
    EXPECT_FALSE(rec.Open(subtitlesOnly));
    EXPECT_EQ(rec.player.LastError(), subtitlesOnly + ": could not open codecs, no stream to play.");
    EXPECT_FALSE(rec.Open(garbage));
    EXPECT_EQ(rec.player.LastError().rfind(garbage + ": ", 0), 0u) << rec.player.LastError();
    EXPECT_TRUE(rec.player.IsPaused()); // no session
    EXPECT_TRUE(rec.States().empty());

    ASSERT_TRUE(rec.Open(Fixtures().h264AacMp4)) << rec.player.LastError();
    ASSERT_TRUE(rec.WaitForPosition(300000));
}

TEST(PlayerPlayback, OpeningASecondFileStopsTheFirst) {
    RecordingPlayer rec;
    ASSERT_TRUE(rec.Open(Fixtures().h264AacMp4)) << rec.player.LastError();
    ASSERT_TRUE(rec.WaitForState(psPlay));
    ASSERT_TRUE(rec.Open(Fixtures().videoOnly)) << rec.player.LastError();
    ASSERT_TRUE(rec.WaitForState(psPlay, 5s, 2));
    const std::vector<TPlayState> states = rec.States();
    EXPECT_EQ(states, (std::vector<TPlayState>{psPlay, psStop, psPlay}));
}

} // namespace
} // namespace tarnel
