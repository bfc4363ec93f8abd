#include "QtDispatcher.h"

#include <QMetaObject>

namespace tarnel {

TQtDispatcher::TQtDispatcher()
    : mainThread_(std::this_thread::get_id()) {}

bool TQtDispatcher::IsMainThread() const {
    return std::this_thread::get_id() == mainThread_;
}

void TQtDispatcher::CallInMainThread(const std::function<void()>& call) {
    if (IsMainThread()) {
        call();
        return;
    }
    auto pending = std::make_shared<PendingCall>();
    pending->call = call;
    std::unique_lock lock(mutex_);
    queue_.push_back(pending);
    QMetaObject::invokeMethod(
        &receiver_, [this] { RunPending(); }, Qt::QueuedConnection);
    done_.wait(lock, [&] { return pending->done; });
}

void TQtDispatcher::ProcessMessages() {
    if (IsMainThread())
        RunPending();
}

void TQtDispatcher::RunPending() {
    for (;;) {
        std::shared_ptr<PendingCall> pending;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty())
                return;
            pending = queue_.front();
            queue_.pop_front();
        }
        // An exception from the call must not leave its caller waiting for ever; it is handed on
        // once the caller is released.
        std::exception_ptr failure;
        try {
            pending->call();
        } catch (...) {
            failure = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            pending->done = true;
        }
        done_.notify_all();
        if (failure && onFailure_)
            onFailure_(failure);
        else if (failure)
            std::rethrow_exception(failure);
    }
}

} // namespace tarnel
