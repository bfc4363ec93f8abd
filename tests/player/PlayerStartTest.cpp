// The start of playback: the pictures shown in the first second begin at the file's start and
// keep pace with the wall clock, also when the host takes its time before the player's threads
// run; and the sound does not wait for ever for a picture that never comes.
#include "PlayerSupport.h"
#include "TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

namespace tarnel {
namespace {

using namespace std::chrono_literals;
using test::Fixtures;
using test::RecordingPlayer;
using Clock = std::chrono::steady_clock;

constexpr int64_t kTwoFramesUs = 80000; // the clip runs at 25 pictures a second
constexpr int64_t kToleranceUs = 300000;

int64_t Microseconds(Clock::duration duration) {
    return std::chrono::duration_cast<std::chrono::microseconds>(duration).count();
}

// Plays the 3 s clip for a little more than a second. The host's file-open handler takes
// `hostDelay`, as a window does that lays itself out for the file before the player's threads run.
std::vector<RecordingPlayer::TimedPosition> FirstSecondOfPositions(std::chrono::milliseconds hostDelay,
                                                                   Clock::time_point& opened) {
    RecordingPlayer rec;
    rec.player.OnFileOpen = [hostDelay](TCustomPlayer&, int64_t, int, int, int& screenWidth,
                                        int& screenHeight) {
        screenWidth = 370; // a panel of the main window's size
        screenHeight = 240;
        std::this_thread::sleep_for(hostDelay);
    };
    EXPECT_TRUE(rec.Open(Fixtures().h264AacMp4)) << rec.player.LastError();
    opened = Clock::now();
    std::this_thread::sleep_for(1300ms);
    return rec.TimedPositions();
}

// The positions reported in the first second after the first one: each is the picture then shown.
void ExpectPicturesFromTheStartInTime(const std::vector<RecordingPlayer::TimedPosition>& positions,
                                      Clock::time_point opened) {
    ASSERT_FALSE(positions.empty()) << "no picture shown";
    const RecordingPlayer::TimedPosition& first = positions.front();
    EXPECT_GE(first.Pts, 0);
    EXPECT_LE(first.Pts, kTwoFramesUs);
    EXPECT_LE(Microseconds(first.At - opened), 1000000) << "the first picture came late";
    int64_t lastPts = first.Pts;
    Clock::time_point lastAt = first.At;
    for (const RecordingPlayer::TimedPosition& p : positions) {
        const int64_t wall = Microseconds(p.At - first.At);
        if (wall > 1000000)
            break;
        const int64_t played = p.Pts - first.Pts;
        EXPECT_LE(Microseconds(p.At - lastAt), kToleranceUs) << "still before " << p.Pts;
        EXPECT_GE(p.Pts, lastPts);
        EXPECT_LE(p.Pts - lastPts, kToleranceUs) << "jump to " << p.Pts;
        EXPECT_NEAR(played, wall, kToleranceUs) << "at " << wall / 1000 << " ms";
        lastPts = p.Pts;
        lastAt = p.At;
    }
    EXPECT_GE(lastPts - first.Pts, 1000000 - kToleranceUs) << "stopped at " << lastPts;
}

TEST(PlayerStart, FirstSecondStartsAtTheFileStartAndKeepsPace) {
    Clock::time_point opened;
    const auto positions = FirstSecondOfPositions(0ms, opened);
    ExpectPicturesFromTheStartInTime(positions, opened);
}

// The sound device runs from the moment the file opens; the clock it drives must not run on while
// the host is still busy and no picture is on screen yet.
TEST(PlayerStart, FirstSecondKeepsPaceWhenTheHostIsSlowToStartThePlayer) {
    test::DiskAudio audio;
    Clock::time_point opened;
    const auto positions = FirstSecondOfPositions(600ms, opened);
    ExpectPicturesFromTheStartInTime(positions, opened);
}

// The cover of this file cannot be decoded, so no picture ever comes: the sound starts anyway.
TEST(PlayerStart, SoundStartsWhenTheVideoGivesNoPicture) {
    test::DiskAudio audio;
    {
        RecordingPlayer rec;
        ASSERT_TRUE(rec.Open(test::RealWorldFixtures().mp3CorruptCover)) << rec.player.LastError();
        std::this_thread::sleep_for(2500ms);
    }
    const std::vector<int16_t> samples = audio.Samples();
    EXPECT_TRUE(std::any_of(samples.begin(), samples.end(), [](int16_t s) { return std::abs(s) > 1000; }));
}

} // namespace
} // namespace tarnel
