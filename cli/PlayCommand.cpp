#include "PlayCommand.h"

#include "FailureOutput.h"
#include "base/FFUtils.h"
#include "player/FFPlayer.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <system_error>
#include <utility>
#include <vector>

namespace tarnel::cli {

namespace {

constexpr int kInterruptedStatus = 130;
// Beyond this many seconds a time no longer fits the player's microsecond positions.
constexpr double kLongestSeconds = 9e12;
// How long to wait for the final "stop" after a close that waited for the play thread; the event
// thread delivers it right after, so this only keeps a misbehaving player from hanging the command.
constexpr std::chrono::seconds kStopDeliveryLimit{5};

bool ToMicroseconds(double seconds, int64_t& us) {
    if (!std::isfinite(seconds) || seconds < 0 || seconds > kLongestSeconds)
        return false;
    us = std::llround(seconds * 1e6);
    return true;
}

struct SnapshotRequest {
    int64_t position = 0; // microseconds
    std::string path;
};

bool EndsWithBmp(const std::string& path) {
    if (path.size() < 4)
        return false;
    std::string extension = path.substr(path.size() - 4);
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".bmp";
}

// "SECONDS:PATH.bmp"; the path may contain further colons.
bool ParseSnapshot(const std::string& text, SnapshotRequest& request) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    double seconds = 0;
    const char* first = text.data();
    const char* last = text.data() + colon;
    const auto [end, error] = std::from_chars(first, last, seconds);
    if (colon == 0 || error != std::errc() || end != last || !ToMicroseconds(seconds, request.position))
        return false;
    request.path = text.substr(colon + 1);
    return EndsWithBmp(request.path);
}

void PutLittleEndian(std::vector<uint8_t>& bytes, size_t offset, uint32_t value, int size) {
    for (int i = 0; i < size; ++i)
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// BITMAPFILEHEADER and BITMAPINFOHEADER of an uncompressed 24-bit bottom-up picture.
std::vector<uint8_t> BmpHeader(const TBitmap& bitmap) {
    constexpr uint32_t kFileHeaderSize = 14;
    constexpr uint32_t kInfoHeaderSize = 40;
    constexpr uint32_t kPixelsPerMetre = 2835; // 72 dpi
    const auto imageSize = static_cast<uint32_t>(bitmap.ByteSize());
    std::vector<uint8_t> header(kFileHeaderSize + kInfoHeaderSize, 0);
    header[0] = 'B';
    header[1] = 'M';
    PutLittleEndian(header, 2, kFileHeaderSize + kInfoHeaderSize + imageSize, 4);
    PutLittleEndian(header, 10, kFileHeaderSize + kInfoHeaderSize, 4);
    PutLittleEndian(header, 14, kInfoHeaderSize, 4);
    PutLittleEndian(header, 18, static_cast<uint32_t>(bitmap.Width()), 4);
    PutLittleEndian(header, 22, static_cast<uint32_t>(bitmap.Height()), 4);
    PutLittleEndian(header, 26, 1, 2); // planes
    PutLittleEndian(header, 28, 8 * TBitmap::kBytesPerPixel, 2);
    PutLittleEndian(header, 34, imageSize, 4); // compression (at 30) stays 0: none
    PutLittleEndian(header, 38, kPixelsPerMetre, 4);
    PutLittleEndian(header, 42, kPixelsPerMetre, 4);
    return header;
}

// Writes `bitmap` (whose rows are already padded as BMP wants them) as a BMP file; on failure
// removes what was written and returns the reason.
bool WriteBmpFile(const TBitmap& bitmap, const std::string& path, std::string& error) {
    if (bitmap.ByteSize() > UINT32_MAX - 1024) {
        error = "the picture is too large for a BMP file";
        return false;
    }
    const std::vector<uint8_t> header = BmpHeader(bitmap);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = std::system_category().message(errno);
        return false;
    }
    bool written = std::fwrite(header.data(), 1, header.size(), file) == header.size();
    const auto rowSize = static_cast<size_t>(bitmap.RowSize());
    for (int y = bitmap.Height() - 1; written && y >= 0; --y)
        written = std::fwrite(bitmap.ScanLine(y), 1, rowSize, file) == rowSize;
    int reason = errno;
    if (std::fclose(file) != 0 && written) {
        written = false;
        reason = errno;
    }
    if (!written) {
        error = std::system_category().message(reason);
        std::remove(path.c_str());
    }
    return written;
}

// Neither DISPLAY nor WAYLAND_DISPLAY: SDL would find no video device, so the drivers that are
// not chosen by the environment become the dummy ones.
void UseDummyDriversWithoutDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return;
    }
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
}

// Blocks SIGINT and SIGTERM in the calling thread, and so in every thread it starts meanwhile,
// so that they wait for sigtimedwait; restores the previous mask after discarding any left over.
class StopSignals {
public:
    StopSignals() {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGINT);
        sigaddset(&signals_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
    }
    ~StopSignals() {
        const timespec noWait{0, 0};
        while (sigtimedwait(&signals_, nullptr, &noWait) > 0) {
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Waits up to `slice` for one; true when one came.
    bool Wait(const timespec& slice) { return sigtimedwait(&signals_, nullptr, &slice) > 0; }

private:
    sigset_t signals_;
    sigset_t previous_;
};

struct EventRecord {
    bool isState = false;
    TPlayState state = psPlay;
    int64_t pts = 0;
};

// Events as the player's event thread hands them over, taken in order by the command's thread.
class EventInbox {
public:
    void Push(const EventRecord& record) {
        std::lock_guard lock(mutex_);
        events_.push_back(record);
    }
    std::deque<EventRecord> TakeAll() {
        std::lock_guard lock(mutex_);
        return std::exchange(events_, {});
    }

private:
    std::mutex mutex_;
    std::deque<EventRecord> events_; // guarded by mutex_
};

class PlayRun {
public:
    PlayRun(const PlayOptions& options, std::ostream& out, std::ostream& err)
        : options_(options)
        , out_(out)
        , err_(err) {}

    int Run();

private:
    bool CheckOptions();
    bool Open();
    void Handle(const EventRecord& record);
    void HandleState(TPlayState state);
    void HandlePosition(int64_t pts);
    void TakeSnapshot();
    void ReportMissedSnapshot();
    void Fail(const std::string& message);

    const PlayOptions& options_;
    std::ostream& out_;
    std::ostream& err_;
    int64_t seekUs_ = 0;
    std::optional<int64_t> untilUs_;
    std::optional<SnapshotRequest> snapshot_;

    bool snapshotTaken_ = false;
    bool failed_ = false;
    bool interrupted_ = false;
    bool closeRequested_ = false;
    bool stopped_ = false;
    std::optional<TPlayState> lastState_;

    EventInbox inbox_;
    TFFPlayer player_; // after inbox_: its event thread pushes there until the player is gone
};

bool PlayRun::CheckOptions() {
    if (options_.seekSeconds && !ToMicroseconds(*options_.seekSeconds, seekUs_)) {
        err_ << "Invalid --seek value: it must be a number of seconds, 0 or more\n";
        return false;
    }
    int64_t until = 0;
    if (options_.untilSeconds) {
        if (!ToMicroseconds(*options_.untilSeconds, until)) {
            err_ << "Invalid --until value: it must be a number of seconds, 0 or more\n";
            return false;
        }
        untilUs_ = until;
    }
    if (!options_.snapshot.empty()) {
        SnapshotRequest request;
        if (!ParseSnapshot(options_.snapshot, request)) {
            err_ << "Invalid --snapshot \"" << options_.snapshot << "\": expected SECONDS:PATH.bmp\n";
            return false;
        }
        snapshot_ = request;
    }
    return true;
}

bool PlayRun::Open() {
    player_.SetTriggerEventInMainThread(false);
    player_.SetDisableAudio(options_.noAudio);
    player_.SetDisableVideo(options_.noVideo);
    player_.OnState = [this](TCustomPlayer&, TPlayState state) {
        inbox_.Push({true, state, 0});
    };
    player_.OnPosition = [this](TCustomPlayer&, int64_t pts) {
        inbox_.Push({false, psPlay, pts});
    };
    UseDummyDriversWithoutDisplay();
    if (!player_.Open(options_.file)) {
        PrintFailure(err_, player_.LastError());
        return false;
    }
    if (options_.seekSeconds)
        player_.Seek(seekUs_, 0, true);
    return true;
}

void PlayRun::Handle(const EventRecord& record) {
    if (record.isState)
        HandleState(record.state);
    else
        HandlePosition(record.pts);
}

// Without video the player repeats "end" at every position update until it is closed; a state
// is printed once until it changes.
void PlayRun::HandleState(TPlayState state) {
    if (lastState_ != state)
        out_ << "state " << PlayStateName(state) << std::endl;
    lastState_ = state;
    if (state == psEnd)
        closeRequested_ = true;
    else if (state == psStop)
        stopped_ = true;
}

void PlayRun::HandlePosition(int64_t pts) {
    out_ << Format("position %.3f", static_cast<double>(pts) / 1e6) << std::endl;
    if (closeRequested_)
        return;
    if (snapshot_ && !snapshotTaken_ && pts >= snapshot_->position)
        TakeSnapshot();
    if (untilUs_ && pts >= *untilUs_)
        closeRequested_ = true;
}

void PlayRun::TakeSnapshot() {
    snapshotTaken_ = true;
    int64_t pts = 0;
    const TBitmap& frame = player_.CurrentFrame(pts);
    if (frame.Empty()) {
        Fail("Cannot take a snapshot: no video is playing");
        return;
    }
    std::string error;
    if (!WriteBmpFile(frame, snapshot_->path, error))
        Fail("Cannot write the snapshot \"" + snapshot_->path + "\": " + error);
}

void PlayRun::Fail(const std::string& message) {
    err_ << message << "\n";
    failed_ = true;
    closeRequested_ = true;
}

void PlayRun::ReportMissedSnapshot() {
    Fail(Format("No snapshot written to \"%s\": playback stopped before %.3f s", snapshot_->path.c_str(),
                static_cast<double>(snapshot_->position) / 1e6));
}

int PlayRun::Run() {
    if (!CheckOptions())
        return 1;
    StopSignals stopSignals;
    if (!Open())
        return 1;
    std::optional<std::chrono::steady_clock::time_point> closedAt;
    while (!stopped_) {
        const timespec slice{0, 10'000'000};
        if (stopSignals.Wait(slice) && !closeRequested_) {
            interrupted_ = true;
            closeRequested_ = true;
        }
        for (const EventRecord& record : inbox_.TakeAll())
            Handle(record);
        if (closeRequested_ && !closedAt) {
            player_.Close(true);
            closedAt = std::chrono::steady_clock::now();
        }
        if (closedAt && std::chrono::steady_clock::now() - *closedAt > kStopDeliveryLimit)
            break;
    }
    if (interrupted_)
        return kInterruptedStatus;
    if (snapshot_ && !snapshotTaken_)
        ReportMissedSnapshot();
    return failed_ ? 1 : 0;
}

} // namespace

int RunPlayCommand(const PlayOptions& options, std::ostream& out, std::ostream& err) {
    try {
        PlayRun run(options, out, err);
        return run.Run();
    } catch (const std::exception& e) {
        err << e.what() << "\n";
        return 1;
    }
}

} // namespace tarnel::cli
