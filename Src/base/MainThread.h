// Calls that must run on the host's main thread. The host installs one dispatcher (the Qt shell
// posts to its event loop); tests and the CLI use QueueDispatcher, whose pending calls run when the
// main thread calls ProcessMessages.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace tarnel {

class MainThreadDispatcher {
public:
    virtual ~MainThreadDispatcher() = default;
    virtual bool IsMainThread() const = 0;
    // Runs `call` on the main thread and returns once it has run. On the main thread it runs at once.
    virtual void CallInMainThread(const std::function<void()>& call) = 0;
    // Runs every pending call (and, for a GUI host, pending window events) of the calling thread.
    virtual void ProcessMessages() = 0;
};

// A dispatcher whose calls from other threads wait in a queue until the main thread runs
// ProcessMessages. The main thread is the creating one unless a test for it is given.
class QueueDispatcher final : public MainThreadDispatcher {
public:
    QueueDispatcher();
    explicit QueueDispatcher(std::function<bool()> isMainThread);
    bool IsMainThread() const override;
    void CallInMainThread(const std::function<void()>& call) override;
    void ProcessMessages() override;

private:
    struct PendingCall;
    std::function<bool()> isMainThread_;
    std::mutex mutex_;
    std::condition_variable done_;
    std::deque<std::shared_ptr<PendingCall>> queue_; // guarded by mutex_
};

// The process-wide dispatcher. Without an installed one, a QueueDispatcher bound to the process's
// first thread is used.
void InstallMainThreadDispatcher(std::shared_ptr<MainThreadDispatcher> dispatcher);
MainThreadDispatcher& Dispatcher();

bool IsMainThread();
void CallInMainThread(const std::function<void()>& call);
void ProcessMessages();

} // namespace tarnel
