#include "player/PlayerEventRing.h"

namespace tarnel {

namespace {
int Next(int index) {
    return (index + 1) % PlayerEventRing::kSlots;
}
int Previous(int index) {
    return (index + PlayerEventRing::kSlots - 1) % PlayerEventRing::kSlots;
}
} // namespace

void PlayerEventRing::Push(const PlayerEvent& event) {
    std::lock_guard lock(mutex_);
    if (!EmptyLocked() && slots_[Previous(write_)].Kind == event.Kind) {
        slots_[Previous(write_)] = event;
    } else {
        write_ = Next(write_);
        if (write_ == read_)
            read_ = Next(read_);
        slots_[Previous(write_)] = event;
    }
    pending_.Set();
}

PlayerEvent PlayerEventRing::Pop() {
    std::lock_guard lock(mutex_);
    if (EmptyLocked())
        return {};
    PlayerEvent event = slots_[read_];
    read_ = Next(read_);
    if (EmptyLocked())
        pending_.Reset();
    return event;
}

void PlayerEventRing::Clear() {
    std::lock_guard lock(mutex_);
    read_ = write_ = 0;
    pending_.Reset();
}

} // namespace tarnel
