// How far a conversion is and how long it still needs: the percentage of the expected length, the
// speed in media seconds per second of work, and the time left. Paused time does not count as work.
#pragma once

#include <cstdint>
#include <string>

namespace tarnel {

class TProgressEstimate {
public:
    // `now` is any steady clock in seconds.
    void Start(double now);
    void Pause(double now);
    void Resume(double now);
    // The converted part and the expected length in microseconds (≤ 0 when unknown).
    void Update(int64_t currentUs, int64_t totalUs, double now);

    // -1 while the expected length is unknown.
    int Percent() const;
    // 0 while nothing is measured yet.
    double Speed() const;
    // -1 while it cannot be told: before the first second of work or without a length. At least
    // 1 while the task runs, even when the converted part reaches the expected length.
    double SecondsLeft() const;

private:
    double WorkSeconds(double now) const;

    double started_ = 0;
    double pausedTotal_ = 0;
    double pausedSince_ = -1;
    double lastWork_ = 0;
    int64_t current_ = 0;
    int64_t total_ = 0;
};

// Whole seconds as H:MM:SS with unpadded hours; negative values count as 0 (3725 → "1:02:05").
std::string SecondsToClock(int64_t seconds);
// The seconds of a typed time: "H:MM:SS", "M:SS" or "S", digits only, minutes and seconds after a
// colon below 60; -1 for any other text.
int64_t ClockToSeconds(const std::string& text);

} // namespace tarnel
