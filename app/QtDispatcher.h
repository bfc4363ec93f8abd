// The media library's main-thread calls on the Qt event loop: a call from another thread is queued,
// the loop is woken to run it, and the caller waits until it has run. ProcessMessages runs the
// queued calls at once, so that the main thread can wait for a worker that is calling into it.
#pragma once

#include "base/MainThread.h"

#include <QObject>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace tarnel {

class TQtDispatcher final : public MainThreadDispatcher {
public:
    // Must be made on the thread that runs the Qt event loop.
    TQtDispatcher();
    bool IsMainThread() const override;
    void CallInMainThread(const std::function<void()>& call) override;
    void ProcessMessages() override;
    // Receives an exception thrown by a queued call, after its caller was released (the
    // application's error display).
    void SetFailureHandler(std::function<void(std::exception_ptr)> handler) {
        onFailure_ = std::move(handler);
    }

private:
    struct PendingCall {
        std::function<void()> call;
        bool done = false;
    };
    void RunPending();

    std::thread::id mainThread_;
    std::function<void(std::exception_ptr)> onFailure_;
    QObject receiver_; // lives on the main thread; queued wake-ups are delivered to it
    std::mutex mutex_;
    std::condition_variable done_;
    std::deque<std::shared_ptr<PendingCall>> queue_; // guarded by mutex_
};

} // namespace tarnel
