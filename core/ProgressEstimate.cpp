#include "ProgressEstimate.h"

#include <cstdio>
#include <sstream>
#include <vector>

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

namespace {

// A speed measured over less work than this says too little.
constexpr double kSettleSeconds = 1.0;

} // namespace

double TProgressEstimate::SecondsLeft() const {
    const double speed = Speed();
    if (total_ <= 0 || speed <= 0 || lastWork_ < kSettleSeconds)
        return -1;
    const double left = (total_ - current_) / 1e6 / speed;
    return left < 1 ? 1 : left;
}

std::string SecondsToClock(int64_t seconds) {
    if (seconds < 0)
        seconds = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

namespace {

// The value of a piece of a typed time; -1 unless it is 1 to `maxDigits` digits.
int64_t ClockPiece(const std::string& piece, size_t maxDigits) {
    if (piece.empty() || piece.size() > maxDigits)
        return -1;
    int64_t value = 0;
    for (const char c : piece) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

int64_t ClockToSeconds(const std::string& text) {
    std::vector<std::string> pieces;
    std::istringstream stream(text);
    for (std::string piece; std::getline(stream, piece, ':');)
        pieces.push_back(piece);
    if (pieces.empty() || pieces.size() > 3 || text.back() == ':')
        return -1;
    int64_t seconds = 0;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const bool first = i == 0;
        const int64_t value = ClockPiece(pieces[i], first ? 6 : 2);
        if (value < 0 || (!first && value >= 60))
            return -1;
        seconds = seconds * 60 + value;
    }
    return seconds;
}

} // namespace tarnel
