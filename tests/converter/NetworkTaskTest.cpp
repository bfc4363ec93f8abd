// AddTask on a network input that never answers: a Stop from another thread ends it at once, and
// the component's time-out reaches its tasks.
#include "SilentPeer.h"
#include "TestSupport.h"
#include "base/FFmpegLoader.h"
#include "converter/FFConverter.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>

using namespace tarnel;
using namespace std::chrono_literals;
using test::SilentPeer;

namespace {

class NetworkTask : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)) << Loader().LastLoadError(); }
};

TEST_F(NetworkTask, StopFromAnotherThreadEndsABlockedAddTaskAndTheComponentStaysUsable) {
    SilentPeer peer(SilentPeer::Kind::NeverAccepts);
    ASSERT_GT(peer.Port(), 0);
    TFFConverter converter; // the default time-out (30 s) is far longer than the test waits
    auto added = std::async(std::launch::async, [&] { return converter.AddTask(peer.Url()); });
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(added.wait_for(0s), std::future_status::timeout) << "AddTask did not wait for the peer";
    converter.Stop(true);
    const bool endedInTime = added.wait_for(3s) == std::future_status::ready;
    EXPECT_TRUE(endedInTime) << "the stop did not reach AddTask";
    EXPECT_EQ(added.get(), -1);
    EXPECT_EQ(converter.LastError(), peer.Url() + ": stopped");

    EXPECT_EQ(converter.AddTask(test::Fixtures().mpeg2Ts), 0) << converter.LastError();
    EXPECT_EQ(converter.TaskCount(), 1);
}

TEST_F(NetworkTask, TheComponentsTimeOutEndsAnAddTaskOnASilentInput) {
    SilentPeer peer(SilentPeer::Kind::SendsThenStops);
    ASSERT_GT(peer.Port(), 0);
    TFFConverter converter;
    converter.SetTimeout(1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(converter.AddTask(peer.Url()), -1);
    EXPECT_LT(test::SecondsSince(start), 4.0);
    EXPECT_EQ(converter.LastError(), peer.Url() + ": no answer within 1 s");
    EXPECT_EQ(converter.TaskCount(), 0);
}

} // namespace
