// The worker thread of one engine run. It is created suspended and runs its body once resumed;
// while running it can be suspended again, which takes effect at the body's next safe point
// (WaitWhileSuspended).
#pragma once

#include "base/ThreadPriority.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tarnel {

class TConvertThread {
public:
    TConvertThread(std::function<void()> body, TThreadPriority priority);
    ~TConvertThread(); // waits for the body to end; resume or stop it first
    TConvertThread(const TConvertThread&) = delete;
    TConvertThread& operator=(const TConvertThread&) = delete;

    void Resume();
    void Suspend();
    bool Suspended() const;
    bool IsCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }

    // Called by the body at safe points: returns once the thread is not suspended.
    void WaitWhileSuspended();

private:
    mutable std::mutex mutex_;
    std::condition_variable resumed_;
    bool suspended_ = true; // guarded by mutex_
    std::thread thread_;
};

} // namespace tarnel
