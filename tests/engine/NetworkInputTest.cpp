// A network input whose peer stops sending: a stop ends the run at once instead of waiting for the
// peer, and the output is still finished.
#include "TestSupport.h"
#include "base/FFmpegLoader.h"
#include "engine/FFmpeg.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace tarnel;
using namespace std::chrono_literals;

namespace {

// Listens on a free local port; the first connection gets `bytes` and then nothing until Release.
class SilentPeer {
public:
    explicit SilentPeer(std::string bytes)
        : bytes_(std::move(bytes)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener_, 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            const int connection = ::accept(listener_, nullptr, nullptr);
            if (connection < 0)
                return;
            for (size_t sent = 0; sent < bytes_.size();) {
                const ssize_t n =
                    ::send(connection, bytes_.data() + sent, bytes_.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += static_cast<size_t>(n);
            }
            while (!released_)
                std::this_thread::sleep_for(10ms);
            ::close(connection);
        });
    }
    ~SilentPeer() {
        Release();
        ::shutdown(listener_, SHUT_RDWR);
        if (thread_.joinable())
            thread_.join();
        ::close(listener_);
    }
    int Port() const { return port_; }
    void Release() { released_ = true; }

private:
    std::string bytes_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> released_{false};
    std::thread thread_;
};

TEST(NetworkInput, StopEndsARunWaitingForItsPeer) {
    ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)) << Loader().LastLoadError();
    std::ifstream file(test::Fixtures().mpeg2Ts, std::ios::binary);
    SilentPeer peer{std::string(std::istreambuf_iterator<char>(file), {})};
    ASSERT_GT(peer.Port(), 0);
    test::TempDir dir;
    const std::string output = (dir / "out.ts").string();

    TCustomFFmpeg engine;
    engine.Reset();
    ASSERT_TRUE(engine.AddInputFile("tcp://127.0.0.1:" + std::to_string(peer.Port()))) << engine.LastError();
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

} // namespace
