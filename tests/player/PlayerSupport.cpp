#include "PlayerSupport.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace tarnel::test {

RecordingPlayer::RecordingPlayer() {
    player.LoadLibraries("");
    player.SetTriggerEventInMainThread(false);
    player.OnState = [this](TCustomPlayer&, TPlayState state) {
        std::lock_guard lock(mutex_);
        states_.push_back(state);
        changed_.notify_all();
    };
    player.OnPosition = [this](TCustomPlayer&, int64_t pts) {
        std::lock_guard lock(mutex_);
        positions_.push_back(pts);
        timedPositions_.push_back({std::chrono::steady_clock::now(), pts});
        changed_.notify_all();
    };
    player.OnFileOpen = [this](TCustomPlayer&, int64_t duration, int width, int height, int&, int&) {
        openDuration = duration;
        openWidth = width;
        openHeight = height;
    };
}

RecordingPlayer::~RecordingPlayer() = default;

bool RecordingPlayer::Open(const std::string& file) {
    return player.Open(file);
}

bool RecordingPlayer::WaitForState(TPlayState state, std::chrono::milliseconds timeout, int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout,
                             [&] { return std::count(states_.begin(), states_.end(), state) >= count; });
}

bool RecordingPlayer::WaitForLastState(TPlayState state, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return !states_.empty() && states_.back() == state; });
}

bool RecordingPlayer::WaitForPosition(int64_t microseconds, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout,
                             [&] { return !positions_.empty() && positions_.back() >= microseconds; });
}

std::vector<TPlayState> RecordingPlayer::States() {
    std::lock_guard lock(mutex_);
    return states_;
}

std::vector<int64_t> RecordingPlayer::Positions() {
    std::lock_guard lock(mutex_);
    return positions_;
}

std::vector<RecordingPlayer::TimedPosition> RecordingPlayer::TimedPositions() {
    std::lock_guard lock(mutex_);
    return timedPositions_;
}

int RecordingPlayer::Count(TPlayState state) {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(states_.begin(), states_.end(), state));
}

int RecordingPlayer::HookCalls() {
    std::lock_guard lock(mutex_);
    return hookCalls_;
}

void RecordingPlayer::CountHookCalls() {
    player.SetHook(true);
    player.OnHook = [this](TCustomPlayer&, TBitmap&, int64_t) {
        std::lock_guard lock(mutex_);
        ++hookCalls_;
    };
}

DiskAudio::DiskAudio()
    : file_((dir_ / "mixed.raw").string()) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", file_.c_str(), 1);
}

DiskAudio::~DiskAudio() {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
}

std::vector<int16_t> DiskAudio::Samples() const {
    std::vector<int16_t> samples;
    std::ifstream in(file_, std::ios::binary);
    for (int16_t sample; in.read(reinterpret_cast<char*>(&sample), sizeof sample);)
        samples.push_back(sample);
    return samples;
}

std::vector<bool> NonBlackRows(const TBitmap& bitmap) {
    std::vector<bool> rows(bitmap.Height());
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = bitmap.ScanLine(y);
        rows[y] = std::any_of(row, row + bitmap.Width() * 3, [](uint8_t v) { return v > 24; });
    }
    return rows;
}

} // namespace tarnel::test
