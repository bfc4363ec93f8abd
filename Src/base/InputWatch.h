// TInputWatch: how long a call that reads an input (opening it, analysing its streams, reading a
// packet) may wait for data, and a stop from another thread, both given to the media library
// through its interrupt callback. Each such call arms the watch first; the library checks the
// callback while it waits (a network input at least ten times a second), and the call returns with
// an error once the time-out has passed since arming or a stop was requested.
#pragma once

#include "base/LibHandles.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

extern "C" {
#include <libavformat/avio.h>
}

namespace tarnel {

class TInputWatch {
public:
    static constexpr double kDefaultSeconds = 30;
    static constexpr double kMaxSeconds = 1e6;

    // `ownerStop`: a flag of the owner that also stops the watched calls (null: none).
    explicit TInputWatch(const std::atomic<bool>* ownerStop = nullptr);
    TInputWatch(const TInputWatch&) = delete;
    TInputWatch& operator=(const TInputWatch&) = delete;

    // Seconds, brought into (0, kMaxSeconds].
    void SetTimeout(double seconds);
    double Timeout() const { return static_cast<double>(timeoutUs_) / 1e6; }

    // Starts the time-out of the next watched call and forgets that of the previous one.
    void Arm();
    // No time-out until the next Arm.
    void Disarm();

    // Marks the span of one open (see TOpenScope): RequestStop only reaches calls inside such a
    // span, and the span's end forgets the stop, so the next open proceeds.
    void BeginOpen();
    void EndOpen();
    // From any thread: the open in progress ends as soon as the library checks the callback.
    void RequestStop();

    bool StopRequested() const;
    bool TimedOut() const { return timedOut_; }

    // For AVFormatContext::interrupt_callback; points at this watch.
    AVIOInterruptCB Callback();
    // The protocols' own read/write time-out ("rw_timeout"), for the options of an open.
    void AddProtocolOptions(DictionaryPtr& options) const;

    // "NAME: no answer within N s" after a time-out, "NAME: stopped" after a stop, else empty.
    std::string Interruption(const std::string& name) const;
    // The message for a watched call that failed with `code`: Interruption, the time-out text for
    // the protocols' own time-out, else ErrorText.
    std::string FailureText(const std::string& name, int code) const;
    std::string TimeoutText(const std::string& name) const;

private:
    static int Interrupted(void* watch);

    const std::atomic<bool>* ownerStop_;
    std::atomic<bool> ownStop_{false};
    std::atomic<int64_t> timeoutUs_;
    std::atomic<int64_t> deadline_{0}; // µs on the library's monotonic clock; 0: none
    std::atomic<bool> timedOut_{false};
    std::mutex openMutex_; // orders RequestStop against the span's start and end
    bool opening_ = false; // guarded by openMutex_
};

// One open's span on a watch (BeginOpen to EndOpen).
class TOpenScope {
public:
    explicit TOpenScope(TInputWatch& watch)
        : watch_(watch) {
        watch_.BeginOpen();
    }
    ~TOpenScope() { watch_.EndOpen(); }
    TOpenScope(const TOpenScope&) = delete;
    TOpenScope& operator=(const TOpenScope&) = delete;

private:
    TInputWatch& watch_;
};

// Opens `path` and reads its stream information, each call watched by `watch` (its time-out, its
// stop). Throws FFmpegException with the watch's text ("NAME: no answer within N s") or the
// library's.
InputContextPtr OpenWatchedInput(const std::string& path, TInputWatch& watch);

// av_read_frame watched by `watch`: 0, AVERROR_EOF at the end (or another library error), and
// FFmpegException when the input gave nothing within the time-out.
int ReadWatchedPacket(AVFormatContext* input, AVPacket* packet, TInputWatch& watch, const std::string& path);

} // namespace tarnel
