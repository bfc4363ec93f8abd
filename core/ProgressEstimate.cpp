#include "ProgressEstimate.h"

#include <cstdio>

namespace tarnel {

void TProgressEstimate::Start(double now) {
    *this = {};
    started_ = now;
}

void TProgressEstimate::Pause(double now) {
    if (pausedSince_ < 0)
        pausedSince_ = now;
}

void TProgressEstimate::Resume(double now) {
    if (pausedSince_ >= 0) {
        pausedTotal_ += now - pausedSince_;
        pausedSince_ = -1;
    }
}

double TProgressEstimate::WorkSeconds(double now) const {
    const double pausedNow = pausedSince_ >= 0 ? now - pausedSince_ : 0;
    return now - started_ - pausedTotal_ - pausedNow;
}

void TProgressEstimate::Update(int64_t currentUs, int64_t totalUs, double now) {
    current_ = currentUs;
    total_ = totalUs;
    lastWork_ = WorkSeconds(now);
}

int TProgressEstimate::Percent() const {
    if (total_ <= 0)
        return -1;
    const int64_t percent = current_ * 100 / total_;
    return static_cast<int>(percent < 0 ? 0 : percent > 100 ? 100 : percent);
}

double TProgressEstimate::Speed() const {
    return lastWork_ > 0 && current_ > 0 ? current_ / 1e6 / lastWork_ : 0;
}

double TProgressEstimate::SecondsLeft() const {
    const double speed = Speed();
    if (total_ <= 0 || speed <= 0)
        return -1;
    const double left = (total_ - current_) / 1e6 / speed;
    return left < 0 ? 0 : left;
}

std::string SecondsToClock(int64_t seconds) {
    if (seconds < 0)
        seconds = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

} // namespace tarnel
