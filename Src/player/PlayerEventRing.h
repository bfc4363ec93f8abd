// The player's event ring: ten records between the threads that post events and the one thread
// that delivers them. A record of the same kind as the one pushed just before it replaces that one
// (the newest position wins); when the ring is full the oldest record is dropped.
#pragma once

#include "base/ManualResetEvent.h"
#include "player/PlayerTypes.h"

#include <array>
#include <chrono>
#include <mutex>

namespace tarnel {

class PlayerEventRing {
public:
    static constexpr int kSlots = 10;

    void Push(const PlayerEvent& event);
    // The oldest record, or one of Kind NoEvent when the ring is empty.
    PlayerEvent Pop();
    // Waits until a record may be pending (set by Push, reset when Pop empties the ring).
    void WaitPending() { pending_.Wait(); }
    bool WaitPendingFor(std::chrono::milliseconds timeout) { return pending_.WaitFor(timeout); }
    void Clear();

private:
    bool EmptyLocked() const { return read_ == write_; }

    std::mutex mutex_;
    std::array<PlayerEvent, kSlots> slots_{}; // guarded by mutex_
    int read_ = 0;                            // guarded by mutex_
    int write_ = 0;                           // guarded by mutex_
    ManualResetEvent pending_{false};
};

} // namespace tarnel
