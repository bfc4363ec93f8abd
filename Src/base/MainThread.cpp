#include "base/MainThread.h"

#include <exception>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace tarnel {

struct QueueDispatcher::PendingCall {
    std::function<void()> call;
    std::exception_ptr error;
    bool done = false; // guarded by the dispatcher's mutex_
};

QueueDispatcher::QueueDispatcher()
    : isMainThread_(
          [creator = std::this_thread::get_id()] { return std::this_thread::get_id() == creator; }) {}

QueueDispatcher::QueueDispatcher(std::function<bool()> isMainThread)
    : isMainThread_(std::move(isMainThread)) {}

bool QueueDispatcher::IsMainThread() const {
    return isMainThread_();
}

void QueueDispatcher::CallInMainThread(const std::function<void()>& call) {
    if (IsMainThread()) {
        call();
        return;
    }
    auto pending = std::make_shared<PendingCall>();
    pending->call = call;
    std::unique_lock lock(mutex_);
    queue_.push_back(pending);
    done_.wait(lock, [&] { return pending->done; });
    if (pending->error)
        std::rethrow_exception(pending->error);
}

void QueueDispatcher::ProcessMessages() {
    if (!IsMainThread())
        return;
    for (;;) {
        std::shared_ptr<PendingCall> pending;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty())
                return;
            pending = std::move(queue_.front());
            queue_.pop_front();
        }
        try {
            pending->call();
        } catch (...) {
            pending->error = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            pending->done = true;
        }
        done_.notify_all();
    }
}

namespace {

std::mutex g_dispatcherMutex;
std::shared_ptr<MainThreadDispatcher> g_dispatcher; // guarded by g_dispatcherMutex

bool IsProcessFirstThread() {
    return ::syscall(SYS_gettid) == ::getpid();
}

} // namespace

void InstallMainThreadDispatcher(std::shared_ptr<MainThreadDispatcher> dispatcher) {
    std::lock_guard lock(g_dispatcherMutex);
    g_dispatcher = std::move(dispatcher);
}

MainThreadDispatcher& Dispatcher() {
    std::lock_guard lock(g_dispatcherMutex);
    if (!g_dispatcher)
        g_dispatcher = std::make_shared<QueueDispatcher>(IsProcessFirstThread);
    return *g_dispatcher;
}

bool IsMainThread() {
    return Dispatcher().IsMainThread();
}
void CallInMainThread(const std::function<void()>& call) {
    Dispatcher().CallInMainThread(call);
}
void ProcessMessages() {
    Dispatcher().ProcessMessages();
}

} // namespace tarnel
