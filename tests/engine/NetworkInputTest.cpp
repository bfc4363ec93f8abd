// A network input whose peer stops sending or never answers: a stop ends the run or the open at
// once instead of waiting for the peer, and the time-out ends them with a message that says so.
#include "SilentPeer.h"
#include "TestSupport.h"
#include "base/FFmpegLoader.h"
#include "engine/FFmpeg.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <iterator>
#include <thread>

using namespace tarnel;
using namespace std::chrono_literals;
using test::SilentPeer;

namespace {

std::string FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// Waits up to `limit` for the engine's run to end.
bool EndsWithin(const TCustomFFmpeg& engine, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!engine.IsTerminated() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    return engine.IsTerminated();
}

class NetworkInput : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)) << Loader().LastLoadError(); }
};

TEST_F(NetworkInput, StopEndsARunWaitingForItsPeer) {
    SilentPeer peer(SilentPeer::Kind::SendsThenStops, FileBytes(test::Fixtures().mpeg2Ts));
    ASSERT_GT(peer.Port(), 0);
    test::TempDir dir;
    const std::string output = (dir / "out.ts").string();

    TCustomFFmpeg engine;
    engine.Reset();
    ASSERT_TRUE(engine.AddInputFile(peer.Url())) << engine.LastError();
    engine.SetOption("vcodec", "copy");
    engine.SetOption("acodec", "copy");
    ASSERT_GE(engine.AddOutputFile(output), 0) << engine.LastError();
    engine.Start(true)->Resume();
    std::this_thread::sleep_for(500ms); // everything sent is read; the next read waits for the peer

    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        engine.Stop(true);
        stopped = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!stopped && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    const bool stoppedInTime = stopped;
    peer.Release(); // lets a run that ignored the stop end, so the test itself ends
    stopper.join();
    EXPECT_TRUE(stoppedInTime) << "the stop waited for the peer";
    EXPECT_FALSE(engine.ErrorOccurred()) << engine.ErrorMessage();
    EXPECT_GT(std::filesystem::file_size(output), 0u);
}

TEST_F(NetworkInput, AnInputThatNeverAnswersFailsAfterTheTimeOut) {
    for (const SilentPeer::Kind kind : {SilentPeer::Kind::SendsThenStops, SilentPeer::Kind::NeverAccepts}) {
        SilentPeer peer(kind);
        ASSERT_GT(peer.Port(), 0);
        TCustomFFmpeg engine;
        engine.Reset();
        engine.SetTimeout(1);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(engine.AddInputFile(peer.Url()));
        const double elapsed = test::SecondsSince(start);
        EXPECT_EQ(engine.LastError(), peer.Url() + ": no answer within 1 s") << static_cast<int>(kind);
        EXPECT_GE(elapsed, 0.9);
        EXPECT_LT(elapsed, 4.0);
    }
}

TEST_F(NetworkInput, StopFromAnotherThreadEndsAnOpenAndTheEngineStaysUsable) {
    SilentPeer peer(SilentPeer::Kind::SendsThenStops);
    ASSERT_GT(peer.Port(), 0);
    TCustomFFmpeg engine;
    engine.Reset(); // the default time-out (30 s) is far longer than the test waits
    auto opened = std::async(std::launch::async, [&] { return engine.AddInputFile(peer.Url()); });
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(opened.wait_for(0s), std::future_status::timeout) << "the open did not wait for the peer";
    engine.Stop(false);
    const bool endedInTime = opened.wait_for(3s) == std::future_status::ready;
    peer.Release();
    EXPECT_TRUE(endedInTime) << "the stop did not reach the open";
    EXPECT_FALSE(opened.get());
    EXPECT_EQ(engine.LastError(), peer.Url() + ": stopped");

    EXPECT_TRUE(engine.AddInputFile(test::Fixtures().mpeg2Ts)) << engine.LastError();
    EXPECT_EQ(engine.InputFileCount(), 1);
}

TEST_F(NetworkInput, ARunWhoseInputStallsEndsWithTheTimeOutMessage) {
    std::string bytes = FileBytes(test::Fixtures().mpeg2Ts);
    bytes.resize(bytes.size() / 2 / 188 * 188); // whole transport packets
    SilentPeer peer(SilentPeer::Kind::SendsThenStops, bytes);
    ASSERT_GT(peer.Port(), 0);
    test::TempDir dir;
    const std::string output = (dir / "out.ts").string();

    TCustomFFmpeg engine;
    engine.Reset();
    engine.SetTimeout(1);
    ASSERT_TRUE(engine.AddInputFile(peer.Url())) << engine.LastError();
    engine.SetOption("vcodec", "copy");
    engine.SetOption("acodec", "copy");
    ASSERT_GE(engine.AddOutputFile(output), 0) << engine.LastError();
    engine.Start(true)->Resume();
    const bool ended = EndsWithin(engine, 6s);
    peer.Release();
    ASSERT_TRUE(ended) << "the run waited for the peer";
    engine.Stop(true);
    EXPECT_TRUE(engine.ErrorOccurred());
    EXPECT_FALSE(engine.IsFinished());
    EXPECT_EQ(engine.ErrorMessage(), peer.Url() + ": no answer within 1 s");
    EXPECT_GT(std::filesystem::file_size(output), 0u); // what was read is written and closed
}

} // namespace
