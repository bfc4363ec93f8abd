#include "base/ConvertThread.h"

namespace tarnel {

TConvertThread::TConvertThread(std::function<void()> body, TThreadPriority priority)
    : thread_([this, body = std::move(body), priority] {
        ApplyThreadPriority(priority);
        WaitWhileSuspended();
        body();
    }) {}

TConvertThread::~TConvertThread() {
    if (thread_.joinable()) {
        if (IsCurrentThread())
            thread_.detach();
        else
            thread_.join();
    }
}

void TConvertThread::Resume() {
    {
        std::lock_guard lock(mutex_);
        suspended_ = false;
    }
    resumed_.notify_all();
}

void TConvertThread::Suspend() {
    std::lock_guard lock(mutex_);
    suspended_ = true;
}

bool TConvertThread::Suspended() const {
    std::lock_guard lock(mutex_);
    return suspended_;
}

void TConvertThread::WaitWhileSuspended() {
    std::unique_lock lock(mutex_);
    resumed_.wait(lock, [this] { return !suspended_; });
}

} // namespace tarnel
