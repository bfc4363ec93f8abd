// Drives a TFFPlayer from a test: records its events (delivered directly, not through the main
// thread) and waits for states.
#pragma once

#include "TestSupport.h"
#include "player/FFPlayer.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace tarnel::test {

class RecordingPlayer {
public:
    RecordingPlayer();
    ~RecordingPlayer();

    bool Open(const std::string& file);
    // True once `state` was delivered at least `count` times, within `timeout`.
    bool WaitForState(TPlayState state, std::chrono::milliseconds timeout = std::chrono::seconds(10),
                      int count = 1);
    // True once the latest delivered state is `state`, within `timeout`.
    bool WaitForLastState(TPlayState state, std::chrono::milliseconds timeout);
    // True once a position of at least `microseconds` was delivered.
    bool WaitForPosition(int64_t microseconds, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    std::vector<TPlayState> States();
    std::vector<int64_t> Positions();
    // A delivered position with the steady-clock time it arrived.
    struct TimedPosition {
        std::chrono::steady_clock::time_point At;
        int64_t Pts;
    };
    std::vector<TimedPosition> TimedPositions();
    int Count(TPlayState state);
    int HookCalls();
    void CountHookCalls();

    int64_t openDuration = 0;
    int openWidth = 0;
    int openHeight = 0;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<TPlayState> states_;
    std::vector<int64_t> positions_;
    std::vector<TimedPosition> timedPositions_;
    int hookCalls_ = 0;

public:
    // Declared last so that it is destroyed first, while its handlers' data still exists.
    TFFPlayer player;
};

// While it exists, players send their sound through SDL's "disk" driver, which writes it to a file
// at the pace of a real device; afterwards they use the dummy driver again.
class DiskAudio {
public:
    DiskAudio();
    ~DiskAudio();
    DiskAudio(const DiskAudio&) = delete;
    DiskAudio& operator=(const DiskAudio&) = delete;
    // The samples written so far (interleaved 16-bit).
    std::vector<int16_t> Samples() const;

private:
    TempDir dir_;
    std::string file_;
};

// The rows of a captured picture that hold something other than black.
std::vector<bool> NonBlackRows(const TBitmap& bitmap);

} // namespace tarnel::test
