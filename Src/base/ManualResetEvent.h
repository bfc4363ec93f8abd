// A manual-reset event: once set it stays set, releasing every waiter, until reset.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tarnel {

class ManualResetEvent {
public:
    explicit ManualResetEvent(bool initiallySet)
        : set_(initiallySet) {}

    void Set() {
        {
            std::lock_guard lock(mutex_);
            set_ = true;
        }
        changed_.notify_all();
    }

    void Reset() {
        std::lock_guard lock(mutex_);
        set_ = false;
    }

    bool IsSet() const {
        std::lock_guard lock(mutex_);
        return set_;
    }

    void Wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return set_; });
    }

    // True when the event was set within the time-out.
    bool WaitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [this] { return set_; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool set_; // guarded by mutex_
};

} // namespace tarnel
