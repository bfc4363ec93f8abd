// Playing real files with SDL's dummy drivers: states, positions, pause, step, seek, snapshots.
#include "PlayerSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <thread>

namespace tarnel {
namespace {

using namespace std::chrono_literals;
using test::Fixtures;
using test::RecordingPlayer;

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

} // namespace
} // namespace tarnel
