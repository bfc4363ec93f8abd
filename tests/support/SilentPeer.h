// A local TCP peer (127.0.0.1, a free port) that lets its client wait: it accepts, sends the bytes
// it was given and then nothing until released, or it never accepts at all (its backlog is kept
// full, so a connection attempt gets no reply).
#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tarnel::test {

class SilentPeer {
public:
    enum class Kind { SendsThenStops, NeverAccepts };

    explicit SilentPeer(Kind kind, std::string bytes = {})
        : bytes_(std::move(bytes)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener_, kind == Kind::NeverAccepts ? 0 : 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        if (kind == Kind::NeverAccepts) {
            // The one connection a backlog of 0 holds; the kernel drops the next attempts.
            filler_ = ::socket(AF_INET, SOCK_STREAM, 0);
            if (::connect(filler_, reinterpret_cast<sockaddr*>(&address), length) != 0)
                return;
            port_ = ntohs(address.sin_port);
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~SilentPeer() {
        Release();
        ::shutdown(listener_, SHUT_RDWR);
        if (thread_.joinable())
            thread_.join();
        if (filler_ >= 0)
            ::close(filler_);
        ::close(listener_);
    }
    SilentPeer(const SilentPeer&) = delete;
    SilentPeer& operator=(const SilentPeer&) = delete;

    // 0 when the peer could not be set up.
    int Port() const { return port_; }
    std::string Url() const { return "tcp://127.0.0.1:" + std::to_string(port_); }
    // Closes the connection, so that a client that ignored its time-out or stop still ends.
    void Release() { released_ = true; }

private:
    void Serve() {
        const int connection = ::accept(listener_, nullptr, nullptr);
        if (connection < 0)
            return;
        for (size_t sent = 0; sent < bytes_.size();) {
            const ssize_t n = ::send(connection, bytes_.data() + sent, bytes_.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<size_t>(n);
        }
        while (!released_)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::close(connection);
    }

    std::string bytes_;
    int listener_ = -1;
    int filler_ = -1;
    int port_ = 0;
    std::atomic<bool> released_{false};
    std::thread thread_;
};

// Seconds since `start`.
inline double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace tarnel::test
