// The probe on a network input that never answers: the time-out and a stop from another thread end
// its open with a message that says so, and the probe stays usable.
#include "SilentPeer.h"
#include "TestSupport.h"
#include "base/FFmpegLoader.h"
#include "probe/AVProbe.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>

using namespace tarnel;
using namespace std::chrono_literals;
using test::SilentPeer;

namespace {

class NetworkProbe : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)) << Loader().LastLoadError(); }
};

TEST_F(NetworkProbe, AnInputThatNeverAnswersFailsAfterTheTimeOut) {
    for (const SilentPeer::Kind kind : {SilentPeer::Kind::SendsThenStops, SilentPeer::Kind::NeverAccepts}) {
        SilentPeer peer(kind);
        ASSERT_GT(peer.Port(), 0);
        TAVProbe probe;
        probe.SetTimeout(1);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(probe.Open(peer.Url()));
        const double elapsed = test::SecondsSince(start);
        EXPECT_EQ(probe.LastError(), peer.Url() + ": no answer within 1 s") << static_cast<int>(kind);
        EXPECT_GE(elapsed, 0.9);
        EXPECT_LT(elapsed, 4.0);
        EXPECT_FALSE(probe.IsOpen());
    }
}

TEST_F(NetworkProbe, StopFromAnotherThreadEndsAnOpenAndTheProbeStaysUsable) {
    SilentPeer peer(SilentPeer::Kind::SendsThenStops);
    ASSERT_GT(peer.Port(), 0);
    TAVProbe probe; // the default time-out (30 s) is far longer than the test waits
    auto opened = std::async(std::launch::async, [&] { return probe.Open(peer.Url()); });
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(opened.wait_for(0s), std::future_status::timeout) << "the open did not wait for the peer";
    probe.Stop();
    const bool endedInTime = opened.wait_for(3s) == std::future_status::ready;
    peer.Release();
    EXPECT_TRUE(endedInTime) << "the stop did not reach the open";
    EXPECT_FALSE(opened.get());
    EXPECT_EQ(probe.LastError(), peer.Url() + ": stopped");

    ASSERT_TRUE(probe.Open(test::Fixtures().mpeg2Ts)) << probe.LastError();
    EXPECT_EQ(probe.StreamCount(), 2);
}

} // namespace
