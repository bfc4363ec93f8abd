#include "player/PlayerEventRing.h"

#include <gtest/gtest.h>

namespace tarnel {
namespace {

PlayerEvent Position(int64_t pts) {
    return {PlayerEvent::PositionEvent, psPlay, pts};
}
PlayerEvent State(TPlayState state) {
    return {PlayerEvent::StateEvent, state, 0};
}

std::vector<PlayerEvent> Drain(PlayerEventRing& ring) {
    std::vector<PlayerEvent> events;
    for (PlayerEvent e = ring.Pop(); e.Kind != PlayerEvent::NoEvent; e = ring.Pop())
        events.push_back(e);
    return events;
}

TEST(PlayerEventRing, ConsecutiveRecordsOfOneKindMergeAndOthersKeepTheirOrder) {
    PlayerEventRing ring;
    ring.Push(Position(1));
    ring.Push(Position(2));
    ring.Push(State(psPause));
    ring.Push(Position(3));
    ring.Push(Position(4));
    const std::vector<PlayerEvent> events = Drain(ring);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].Pts, 2);
    EXPECT_EQ(events[1].State, psPause);
    EXPECT_EQ(events[2].Pts, 4);
}

TEST(PlayerEventRing, APoppedRecordIsNotMergedInto) {
    PlayerEventRing ring;
    ring.Push(Position(1));
    EXPECT_EQ(ring.Pop().Pts, 1);
    ring.Push(Position(2));
    EXPECT_EQ(ring.Pop().Pts, 2);
    EXPECT_EQ(ring.Pop().Kind, PlayerEvent::NoEvent);
}

TEST(PlayerEventRing, AFullRingDropsTheOldestRecord) {
    PlayerEventRing ring;
    for (int i = 0; i < 12; ++i)
        ring.Push(i % 2 ? State(psPlay) : Position(i));
    const std::vector<PlayerEvent> events = Drain(ring);
    // Ten slots keep nine records: the newest nine of the twelve.
    ASSERT_EQ(events.size(), 9u);
    EXPECT_EQ(events.front().Kind, PlayerEvent::StateEvent);
    EXPECT_EQ(events[1].Pts, 4);
    EXPECT_EQ(events.back().Kind, PlayerEvent::StateEvent);
}

TEST(PlayerEventRing, PendingFollowsTheRingContents) {
    PlayerEventRing ring;
    EXPECT_FALSE(ring.WaitPendingFor(std::chrono::milliseconds(0)));
    ring.Push(State(psStop));
    EXPECT_TRUE(ring.WaitPendingFor(std::chrono::milliseconds(0)));
    ring.Pop();
    EXPECT_FALSE(ring.WaitPendingFor(std::chrono::milliseconds(0)));
}

} // namespace
} // namespace tarnel
