// The player on 1080p H.264 + AAC: CPU time per second of media while playing a file to its end,
// the audio–video clock difference over that run, and how long a waiting Seek takes on a file with
// one key frame every 250 pictures, while playing and while paused. The media is made once with the
// engine from the 320x240 test clip (joined, then scaled up) and kept in the work folder. SDL runs
// with its dummy drivers unless SDL_VIDEODRIVER / SDL_AUDIODRIVER are already set.
//
//   PlayerBench [work folder]
#include "BenchSupport.h"
#include "Fixtures.h"
#include "base/FFUtils.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "base/LibHandles.h"
#include "engine/FFmpeg.h"
#include "player/FFPlayer.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <type_traits>
#include <unistd.h>
#include <vector>

namespace {

using namespace tarnel;
using bench::JoinClip;
using bench::Median;
using bench::WriteOutput;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kPlaySeconds = 10;
constexpr int kSeekFileSeconds = 20;
constexpr int kLongGopFrames = 250;
constexpr int kSeeksPerMode = 15;
constexpr uint32_t kSeekSeed = 20240611;
constexpr auto kClockPollInterval = std::chrono::milliseconds(50);
constexpr double kOperationLimitSeconds = 20; // a player call taking longer counts as a hang

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return bench::CpuSeconds(usage);
}

// Ends the process with a message when a player call does not return in time: a hang is a result
// of this bench, not something to wait for.
class Watchdog {
public:
    Watchdog()
        : thread_([this] { Watch(); }) {}
    ~Watchdog() {
        done_ = true;
        thread_.join();
    }
    void Arm(const std::string& what) {
        std::lock_guard lock(mutex_);
        what_ = what;
        start_ = Clock::now();
        armed_ = true;
    }
    void Disarm() {
        std::lock_guard lock(mutex_);
        armed_ = false;
    }

private:
    void Watch() {
        while (!done_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::lock_guard lock(mutex_);
            if (armed_ && SecondsSince(start_) > kOperationLimitSeconds) {
                std::fprintf(stderr, "HANG: %s did not return within %.0f s\n", what_.c_str(),
                             kOperationLimitSeconds);
                std::fflush(stdout);
                std::fflush(stderr);
                _exit(3);
            }
        }
    }
    std::mutex mutex_;
    std::string what_;        // guarded by mutex_
    Clock::time_point start_; // guarded by mutex_
    bool armed_ = false;      // guarded by mutex_
    std::atomic<bool> done_{false};
    std::thread thread_;
};

Watchdog& Guard() {
    static Watchdog watchdog;
    return watchdog;
}

// Runs one player call under the watchdog.
template <typename Call>
auto Guarded(const std::string& what, Call call) {
    Guard().Arm(what);
    if constexpr (std::is_void_v<decltype(call())>) {
        call();
        Guard().Disarm();
    } else {
        auto result = call();
        Guard().Disarm();
        return result;
    }
}

// ---- media ----

struct MediaFacts {
    int width = 0, height = 0;
    int pictures = 0, keyPictures = 0;
    std::vector<double> keyTimes; // seconds from the file's start, ascending
    bool audio = false;
    double seconds = 0;
};

// What the file really holds, read with the libraries directly.
MediaFacts Inspect(const std::string& path) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        throw std::runtime_error("cannot open " + path);
    InputContextPtr input(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0)
        throw std::runtime_error("no stream info in " + path);
    MediaFacts facts;
    const int video = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    facts.audio = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0) >= 0;
    facts.seconds = raw->duration > 0 ? static_cast<double>(raw->duration) / AV_TIME_BASE : 0;
    if (video < 0)
        return facts;
    facts.width = raw->streams[video]->codecpar->width;
    facts.height = raw->streams[video]->codecpar->height;
    const AVStream* stream = raw->streams[video];
    const int64_t startTime = raw->start_time != AV_NOPTS_VALUE ? raw->start_time : 0;
    PacketPtr packet = MakePacket();
    while (av_read_frame(raw, packet.get()) >= 0) {
        if (packet->stream_index == video) {
            ++facts.pictures;
            if (packet->flags & AV_PKT_FLAG_KEY) {
                ++facts.keyPictures;
                if (packet->pts != AV_NOPTS_VALUE)
                    facts.keyTimes.push_back(
                        static_cast<double>(av_rescale_q(packet->pts, stream->time_base, kMicrosecondBase) -
                                            startTime) /
                        AV_TIME_BASE);
            }
        }
        av_packet_unref(packet.get());
    }
    std::sort(facts.keyTimes.begin(), facts.keyTimes.end());
    return facts;
}

void PrintFacts(const char* label, const std::string& path, const MediaFacts& f) {
    std::string keys;
    for (double k : f.keyTimes) {
        char text[32];
        std::snprintf(text, sizeof text, "%s%.2f", keys.empty() ? "" : " ", k);
        keys += text;
    }
    std::printf("%-20s %s: %dx%d, %.2f s, %d pictures, key pictures: %d (at %s s), %s\n", label,
                fs::path(path).filename().c_str(), f.width, f.height, f.seconds, f.pictures, f.keyPictures,
                f.keyPictures <= 10 ? keys.c_str() : "...", f.audio ? "with audio" : "NO AUDIO");
}

// ---- player ----

// What the player's events told us; written by the event thread, read by main.
struct EventLog {
    std::atomic<int64_t> duration{-1};
    std::atomic<bool> ended{false};
    std::atomic<int> positions{0};
    std::atomic<int64_t> lastPosition{INT64_MIN};
    std::mutex mutex;
    std::string states; // guarded by mutex

    void Attach(TFFPlayer& player) {
        player.SetTriggerEventInMainThread(false);
        player.OnFileOpen = [this](TCustomPlayer&, int64_t length, int, int, int&, int&) {
            duration = length;
        };
        player.OnPosition = [this](TCustomPlayer&, int64_t pts) {
            lastPosition = pts;
            ++positions;
        };
        player.OnState = [this](TCustomPlayer&, TPlayState state) {
            {
                std::lock_guard lock(mutex);
                states += states.empty() ? "" : " ";
                states += PlayStateName(state);
            }
            if (state == psEnd)
                ended = true;
        };
    }
    std::string States() {
        std::lock_guard lock(mutex);
        return states;
    }
};

bool WaitUntil(const std::function<bool()>& done, double seconds) {
    const Clock::time_point start = Clock::now();
    while (!done()) {
        if (SecondsSince(start) > seconds)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void OpenOrThrow(TFFPlayer& player, const std::string& path) {
    const bool opened = Guarded("Open(" + path + ")", [&] { return player.Open(path); });
    if (!opened)
        throw std::runtime_error("Open failed: " + player.LastError());
}

void CloseGuarded(TFFPlayer& player) {
    Guarded("Close(true)", [&] { player.Close(true); });
}

struct PlayRun {
    double mediaSeconds = 0;
    double cpuSeconds = 0;
    double wallSeconds = 0;
    bool reachedEnd = false;
    double lastPositionSeconds = 0;
    int positions = 0;
    std::vector<double> clockDifferences; // seconds, every poll that had a value
    int polls = 0;
    std::string states;
};

// Plays `path` to psEnd, polling the clock difference from this thread.
PlayRun PlayToEnd(const std::string& path) {
    TFFPlayer player;
    EventLog events;
    events.Attach(player);
    PlayRun run;
    const double cpuStart = CpuSeconds();
    const Clock::time_point start = Clock::now();
    OpenOrThrow(player, path);
    run.mediaSeconds = static_cast<double>(events.duration) / 1e6;
    const double limit = std::max(1.0, run.mediaSeconds) * 3 + 10;
    while (!events.ended && SecondsSince(start) < limit) {
        double difference = 0;
        ++run.polls;
        if (player.ClockDifference(difference))
            run.clockDifferences.push_back(difference);
        std::this_thread::sleep_for(kClockPollInterval);
    }
    run.wallSeconds = SecondsSince(start);
    run.cpuSeconds = CpuSeconds() - cpuStart;
    run.reachedEnd = events.ended;
    run.lastPositionSeconds = static_cast<double>(events.lastPosition.load()) / 1e6;
    run.positions = events.positions;
    CloseGuarded(player);
    run.states = events.States();
    return run;
}

// Deterministic positions spread over the file, away from both ends.
std::vector<int64_t> SeekTargets(uint32_t seed, double mediaSeconds, int count) {
    std::vector<int64_t> targets;
    uint32_t state = seed;
    const double span = std::max(0.0, mediaSeconds - 3.0);
    for (int i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        const double fraction = static_cast<double>(state >> 8) / static_cast<double>(1u << 24);
        targets.push_back(static_cast<int64_t>((1.0 + fraction * span) * 1e6));
    }
    return targets;
}

struct SeekFigures {
    std::vector<double> milliseconds;
    int staleAtReturn = 0; // the picture on show when the call returned was not the seek's
    int wrongLater = 0;    // paused: the picture a little later was not the seek's key picture either
};

// Time of the last key picture at or before `seconds`: where a seek without the any-frame flag lands.
double KeyBefore(const std::vector<double>& keyTimes, double seconds) {
    double key = keyTimes.empty() ? 0 : keyTimes.front();
    for (double k : keyTimes)
        if (k <= seconds + 1e-3)
            key = k;
    return key;
}

double PictureSeconds(TFFPlayer& player) {
    int64_t pts = -1;
    player.CurrentFrame(pts);
    return static_cast<double>(pts) / 1e6;
}

// Times each waiting seek. A picture counts as the seek's when it lies between the key picture the
// seek lands on and half a second after it (the player does not decode on to the exact target).
// One line per seek goes to stderr.
SeekFigures TimeSeeks(TFFPlayer& player, const EventLog& events, const std::vector<int64_t>& targets,
                      const std::vector<double>& keyTimes, bool paused) {
    SeekFigures figures;
    const char* mode = paused ? "paused" : "playing";
    const int settleMs = paused ? 100 : 300;
    for (int64_t target : targets) {
        const double targetSeconds = static_cast<double>(target) / 1e6;
        const double landing = KeyBefore(keyTimes, targetSeconds);
        auto isSeeks = [&](double picture) {
            return picture >= landing - 1e-3 && picture <= landing + 0.5;
        };
        char what[128];
        std::snprintf(what, sizeof what, "waiting Seek(%.3f s) number %zu while %s", targetSeconds,
                      figures.milliseconds.size() + 1, mode);
        const Clock::time_point start = Clock::now();
        Guarded(what, [&] { player.Seek(target, 0, true); });
        figures.milliseconds.push_back(SecondsSince(start) * 1000);
        const double atReturn = Guarded("CurrentFrame", [&] { return PictureSeconds(player); });
        std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
        const double later = Guarded("CurrentFrame", [&] { return PictureSeconds(player); });
        figures.staleAtReturn += !isSeeks(atReturn);
        figures.wrongLater += paused && std::fabs(later - landing) > 1e-3;
        std::fprintf(stderr,
                     "  seek %2zu while %-7s to %6.3f s (key picture %6.3f s): %6.1f ms; picture %6.3f s at "
                     "return, %6.3f s %d ms later; last position %6.3f s\n",
                     figures.milliseconds.size(), mode, targetSeconds, landing, figures.milliseconds.back(),
                     atReturn, later, settleMs, static_cast<double>(events.lastPosition.load()) / 1e6);
    }
    return figures;
}

struct SeekRun {
    SeekFigures playing, paused;
    std::string states;
};

SeekRun MeasureSeeks(const std::string& path, const MediaFacts& facts) {
    TFFPlayer player;
    EventLog events;
    events.Attach(player);
    SeekRun run;
    OpenOrThrow(player, path);
    const double mediaSeconds = static_cast<double>(events.duration) / 1e6;
    if (!WaitUntil([&] { return events.positions > 0; }, 10))
        std::fprintf(stderr, "note: no OnPosition within 10 s of Open on the seek file\n");
    run.playing =
        TimeSeeks(player, events, SeekTargets(kSeekSeed, mediaSeconds, kSeeksPerMode), facts.keyTimes, false);
    Guarded("Pause()", [&] { player.Pause(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    run.paused = TimeSeeks(player, events, SeekTargets(kSeekSeed + 1, mediaSeconds, kSeeksPerMode),
                           facts.keyTimes, true);
    CloseGuarded(player);
    run.states = events.States();
    return run;
}

void PrintPlayFigures(const PlayRun& play) {
    if (!play.reachedEnd)
        std::printf("PLAYBACK: no psEnd within %.0f s\n", play.wallSeconds);
    std::printf("playback to psEnd    media %.2f s, wall %.2f s (wall/media %.3f), cpu %.2f s\n",
                play.mediaSeconds, play.wallSeconds, play.wallSeconds / play.mediaSeconds, play.cpuSeconds);
    std::printf("cpu per media second %.3f s (user + sys of the whole process, Open to psEnd)\n",
                play.cpuSeconds / play.mediaSeconds);
    std::printf("events               %d OnPosition, last at %.3f s; states %s\n", play.positions,
                play.lastPositionSeconds, play.states.c_str());
    if (play.clockDifferences.empty()) {
        std::printf("clock difference     none: ClockDifference returned false in all %d polls\n",
                    play.polls);
        return;
    }
    double sum = 0, worst = 0;
    for (double d : play.clockDifferences) {
        sum += std::fabs(d);
        worst = std::max(worst, std::fabs(d));
    }
    std::printf(
        "clock difference     last before psEnd %+.4f s, mean |video - audio| %.4f s, max %.4f s (%zu "
        "values in %d polls every %lld ms)\n",
        play.clockDifferences.back(), sum / static_cast<double>(play.clockDifferences.size()), worst,
        play.clockDifferences.size(), play.polls, static_cast<long long>(kClockPollInterval.count()));
}

void PrintSeekFigures(const char* mode, const SeekFigures& f) {
    std::printf("waiting Seek %-7s median %6.1f ms, max %6.1f ms, min %6.1f ms over %zu seeks; picture from "
                "before the seek still current at return: %d",
                mode, Median(f.milliseconds), *std::max_element(f.milliseconds.begin(), f.milliseconds.end()),
                *std::min_element(f.milliseconds.begin(), f.milliseconds.end()), f.milliseconds.size(),
                f.staleAtReturn);
    if (std::string(mode) == "paused")
        std::printf(", wrong picture 100 ms later: %d", f.wrongLater);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "tarnel-player-bench";
    fs::create_directories(folder);
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!Loader().LoadSet(kPlayerLibraries)) {
        std::fprintf(stderr, "libraries: %s\n", Loader().LastLoadError().c_str());
        return 1;
    }
    Logger().SetLogLevel(llError);
    try {
        const fixtures::FixtureSet clips = fixtures::EnsureFixtures((folder / "fixtures").string());
        const std::string joined = JoinClip(folder, "joined.mkv", clips.h264AacMp4, 8);
        const std::string playFile = bench::MakeHd(folder, "play-1080p.mp4", joined, kPlaySeconds, 0);
        const std::string seekFile =
            bench::MakeHd(folder, "seek-1080p-gop250.mp4", joined, kSeekFileSeconds, kLongGopFrames);
        const MediaFacts playFacts = Inspect(playFile);
        const MediaFacts seekFacts = Inspect(seekFile);

        std::fprintf(stderr, "playing %s to the end ...\n", playFile.c_str());
        const PlayRun play = PlayToEnd(playFile);
        std::printf("\nplayer on 1080p H.264 + AAC; SDL video driver %s, audio driver %s; %u cores\n",
                    std::getenv("SDL_VIDEODRIVER"), std::getenv("SDL_AUDIODRIVER"),
                    std::thread::hardware_concurrency());
        PrintFacts("file 1", playFile, playFacts);
        PrintFacts("file 2", seekFile, seekFacts);
        PrintPlayFigures(play);

        std::fprintf(stderr, "seeking in %s ...\n", seekFile.c_str());
        const SeekRun seeks = MeasureSeeks(seekFile, seekFacts);
        PrintSeekFigures("playing", seeks.playing);
        PrintSeekFigures("paused", seeks.paused);
        std::printf("seek file states     %s\n", seeks.states.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
