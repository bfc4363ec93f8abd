// The long batch run: short generated files of mixed formats through the conversion component, two
// tasks side by side, with pauses, resumes and stops at random moments; profiles change every ten
// files, as a user's batches do. Afterwards every finished output is decoded to its end and every
// stopped one is played; the resident size is sampled over the run and threads and open files are
// counted before and after. Started by bench/soak.sh.
//
//   SoakBench [folder] [files] [seed]
#include "BenchSupport.h"
#include "Fixtures.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "base/LibHandles.h"
#include "base/ProcessMemory.h"
#include "converter/FFConverter.h"
#include "core/BatchPlan.h"
#include "core/ConsoleShellServices.h"
#include "core/FilesRecord.h"
#include "core/MainSettings.h"
#include "core/ProfileFile.h"
#include "engine/FFmpeg.h"
#include "player/FFPlayer.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/time.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <malloc.h>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace tarnel;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kFilesPerBatch = 10;
constexpr int kJobs = 2;
// Video, audio and modern profiles, one per batch in turn.
constexpr int32_t kProfiles[] = {403, 1, 400, 500, 404, 605, 502, 405, 604, 504, 600, 505};

struct Source {
    std::string path;
    double seconds = 0;
    bool sound = true;
};

bool AudioOnlyProfile(int32_t code) {
    return (code >= 500 && code < 600) || code == 604 || code == 605;
}

// Refused: an audio profile given a file without sound, which the engine refuses as it should.
enum class Outcome { Finished, Stopped, Failed, NotRun, Refused };

struct Output {
    std::string source;
    std::string path;
    int32_t profile = 0;
    Outcome outcome = Outcome::NotRun;
    std::string error;
};

long CountEntries(const char* folder) {
    std::error_code ec;
    return std::distance(fs::directory_iterator(folder, ec), fs::directory_iterator());
}

// A stream copy of the first `seconds` of `fixture` into a container of `extension`.
bool Rewrap(const std::string& fixture, const std::string& path, double seconds) {
    TCustomFFmpeg engine;
    engine.Reset();
    if (!engine.AddInputFile(fixture))
        return false;
    engine.SetOption("t", std::to_string(seconds));
    engine.SetOption("vcodec", "copy");
    engine.SetOption("acodec", "copy");
    engine.SetOption("sn", "");
    if (engine.AddOutputFile(path) < 0)
        return false;
    engine.Start(false);
    return engine.IsFinished() && !engine.ErrorOccurred();
}

// `count` files cut from the test clips, 0.6 to 2.85 s long, in the containers each clip's streams fit.
std::vector<Source> MakeSources(const fs::path& folder, int count) {
    const fixtures::FixtureSet clips = fixtures::EnsureFixtures((folder / "clips").string());
    const std::vector<std::pair<std::string, std::vector<const char*>>> kinds = {
        {clips.h264AacMp4, {"mp4", "mkv", "mov", "avi", "ts"}},
        {clips.mpeg2Ts, {"ts", "mpg", "mkv", "mp4"}},
        {clips.audioOnly, {"mp3", "mka", "mp4"}},
        {clips.videoOnly, {"avi", "mkv", "mp4"}},
        {clips.surround51, {"ac3", "mka", "mp4"}},
        {clips.withSubtitles, {"mkv", "mp4", "mov"}},
    };
    fs::create_directories(folder / "sources");
    std::vector<Source> sources;
    for (int i = 0; i < count; ++i) {
        const auto& [clip, extensions] = kinds[i % kinds.size()];
        const double seconds = 0.6 + (i * 7 % 10) * 0.25;
        const std::string extension = extensions[(i / kinds.size()) % extensions.size()];
        const fs::path path = folder / "sources" / ("source-" + std::to_string(i) + "." + extension);
        if (!fs::exists(path) && !Rewrap(clip, path.string(), seconds)) {
            std::fprintf(stderr, "could not make %s\n", path.c_str());
            std::exit(1);
        }
        sources.push_back({path.string(), seconds, clip != clips.videoOnly});
    }
    return sources;
}

// The resident size every 250 ms while the batches run.
class MemorySampler {
public:
    MemorySampler()
        : thread_([this] { Run(); }) {}
    ~MemorySampler() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    std::vector<long> Samples() {
        std::lock_guard lock(mutex_);
        return samples_;
    }

private:
    void Run() {
        std::unique_lock lock(mutex_);
        while (!done_) {
            samples_.push_back(bench::ResidentKiB());
            changed_.wait_for(lock, 250ms, [this] { return done_; });
        }
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    std::vector<long> samples_;
    std::thread thread_;
};

// One batch of files with one profile, two at a time, while random pauses, resumes and stops come.
std::vector<Output> RunBatch(const fs::path& folder, const std::vector<Source>& sources, int32_t profile,
                             std::mt19937& random, int& pauses, int& stops) {
    TMainSettings settings((folder / "tarnelmain.ini").string());
    settings.OverrideOutputFolder((folder / "out").string());
    TProfileFile profiles(TARNEL_DATA_DIR "/tarnelformat.ini");
    std::ostringstream messages;
    TConsoleShellServices services(messages);
    TMappingContext context{settings, profiles, services};
    std::vector<TlvFilesRecord> records(sources.size());
    std::vector<TBatchRow> rows;
    for (size_t i = 0; i < sources.size(); ++i) {
        records[i].SourceFile = sources[i].path;
        rows.push_back({static_cast<int32_t>(i), &records[i], true});
    }

    TFFConverter converter;
    converter.SetTriggerEventInMainThread(false);
    std::mutex mutex;
    std::condition_variable changed;
    std::map<int32_t, TTerminateInfo> reports;
    bool ended = false;
    converter.OnTerminate = [&](TCustomFFConverter&, const TTerminateInfo& info) {
        std::lock_guard lock(mutex);
        if (info.TaskIndex < 0)
            ended = true;
        else
            reports[info.TaskIndex] = info;
        changed.notify_all();
    };
    TBatchPlan plan = BuildBatch(converter, rows, profile, context);
    std::vector<Output> outputs;
    for (const TBatchSkip& skip : plan.Skipped)
        outputs.push_back({skip.File, "", profile, Outcome::Failed, skip.Reason});

    converter.StartTask(kJobs);
    std::uniform_int_distribution<int> wait(30, 400);
    std::uniform_int_distribution<int> action(0, 99);
    std::unique_lock lock(mutex);
    while (!ended) {
        if (changed.wait_for(lock, std::chrono::milliseconds(wait(random)), [&] { return ended; }))
            break;
        const int choice = action(random);
        lock.unlock();
        if (choice < 30) {
            ++pauses;
            converter.Pause();
            std::this_thread::sleep_for(std::chrono::milliseconds(wait(random)));
            converter.Resume();
        } else if (choice < 38) {
            ++stops;
            converter.Stop(true);
            lock.lock();
            // A stop ends the run: its final report follows the reports of the tasks that ran.
            changed.wait_for(lock, 30s, [&] { return ended; });
            break;
        }
        lock.lock();
    }
    const bool finalReport = ended;
    lock.unlock();

    for (size_t task = 0; task < plan.TaskRows.size(); ++task) {
        Output output{sources[plan.TaskRows[task]].path, plan.Outputs[task], profile, Outcome::NotRun, ""};
        std::lock_guard guard(mutex);
        if (const auto found = reports.find(static_cast<int32_t>(task)); found != reports.end()) {
            const TTerminateInfo& info = found->second;
            output.outcome = info.Failed     ? Outcome::Failed
                             : info.Finished ? Outcome::Finished
                                             : Outcome::Stopped;
            output.error = info.ErrorMessage;
            // A stopped engine closes a valid file too: both take their names, to be read back.
            std::string naming;
            if (!info.Failed && !plan.Claims[task]->Commit(naming))
                output.error = naming;
        }
        outputs.push_back(output);
    }
    if (!finalReport)
        outputs.push_back({"", "", profile, Outcome::Failed, "no final report within 30 s of the stop"});
    converter.ClearTasks();
    return outputs;
}

// Decodes every packet of every stream; the length of the longest stream in seconds, or -1 when the
// file cannot be opened, a decoder refuses a packet, or nothing decodes.
double DecodedSeconds(const std::string& path, std::string& problem) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
        problem = "does not open";
        return -1;
    }
    InputContextPtr input(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0) {
        problem = "no stream information";
        return -1;
    }
    std::vector<CodecContextPtr> decoders(raw->nb_streams);
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        const AVCodec* codec = avcodec_find_decoder(raw->streams[i]->codecpar->codec_id);
        if (!codec)
            continue;
        decoders[i].reset(avcodec_alloc_context3(codec));
        avcodec_parameters_to_context(decoders[i].get(), raw->streams[i]->codecpar);
        if (avcodec_open2(decoders[i].get(), codec, nullptr) < 0)
            decoders[i].reset();
    }
    PacketPtr packet = MakePacket();
    FramePtr frame = MakeFrame();
    int64_t frames = 0;
    double seconds = 0;
    const auto drain = [&](AVCodecContext* decoder, const AVStream* stream) {
        while (avcodec_receive_frame(decoder, frame.get()) >= 0) {
            ++frames;
            if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
                seconds = std::max(seconds, frame->best_effort_timestamp * av_q2d(stream->time_base));
        }
    };
    while (av_read_frame(raw, packet.get()) >= 0) {
        AVCodecContext* decoder = decoders[packet->stream_index].get();
        if (decoder && avcodec_send_packet(decoder, packet.get()) < 0) {
            problem = "a packet does not decode";
            return -1;
        }
        if (decoder)
            drain(decoder, raw->streams[packet->stream_index]);
        av_packet_unref(packet.get());
    }
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        if (decoders[i]) {
            avcodec_send_packet(decoders[i].get(), nullptr);
            drain(decoders[i].get(), raw->streams[i]);
        }
    }
    if (frames == 0) {
        problem = "nothing decodes";
        return -1;
    }
    return seconds;
}

// True once the player reports a position of the stopped output within 5 s of opening it.
bool Plays(TFFPlayer& player, const std::string& path) {
    std::mutex mutex;
    std::condition_variable changed;
    bool played = false;
    player.OnPosition = [&](TCustomPlayer&, int64_t) {
        std::lock_guard lock(mutex);
        played = true;
        changed.notify_all();
    };
    if (!player.Open(path))
        return false;
    {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, 5s, [&] { return played; });
    }
    player.Close(true);
    player.OnPosition = nullptr;
    return played;
}

const char* OutcomeText(Outcome outcome) {
    switch (outcome) {
    case Outcome::Finished:
        return "finished";
    case Outcome::Stopped:
        return "stopped";
    case Outcome::Failed:
        return "failed";
    case Outcome::NotRun:
        return "not run";
    case Outcome::Refused:
        return "refused";
    }
    return "";
}

} // namespace

int main(int argc, char** argv) {
    const fs::path folder = argc > 1 ? argv[1] : fs::temp_directory_path() / "tarnel-soak";
    const int count = argc > 2 ? std::atoi(argv[2]) : 200;
    const unsigned seed = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 20261210u;
    LimitAllocatorArenas(); // as the desktop program and tarnel-cli do
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    av_log_set_level(AV_LOG_QUIET);
    Logger().SetLogLevel(llQuiet);
    if (!Loader().LoadSet(kPlayerLibraries)) {
        std::fprintf(stderr, "%s\n", Loader().LastLoadError().c_str());
        return 1;
    }
    av_log_set_level(AV_LOG_QUIET);
    fs::remove_all(folder / "out");
    fs::create_directories(folder / "out");
    const std::vector<Source> sources = MakeSources(folder, count);
    std::printf("%d sources in %s, seed %u\n", count, (folder / "sources").c_str(), seed);

    const long threadsBefore = CountEntries("/proc/self/task");
    const long filesBefore = CountEntries("/proc/self/fd");
    std::mt19937 random(seed);
    std::vector<Output> outputs;
    std::vector<long> rssAfterBatch;
    int pauses = 0, stops = 0;
    const int64_t start = av_gettime_relative();
    std::vector<long> samples;
    {
        MemorySampler sampler;
        for (int first = 0, batch = 0; first < count; first += kFilesPerBatch, ++batch) {
            const std::vector<Source> part(sources.begin() + first,
                                           sources.begin() + std::min(count, first + kFilesPerBatch));
            const int32_t profile = kProfiles[batch % std::size(kProfiles)];
            for (Output& output : RunBatch(folder, part, profile, random, pauses, stops))
                outputs.push_back(std::move(output));
            // What the allocator keeps for later is given back first: what remains is in use.
            malloc_trim(0);
            rssAfterBatch.push_back(bench::ResidentKiB());
        }
        samples = sampler.Samples();
    }
    const double runSeconds = (av_gettime_relative() - start) / 1e6;

    std::map<Outcome, int> tally;
    int problems = 0;
    TFFPlayer player;
    player.LoadLibraries("");
    player.SetTriggerEventInMainThread(false);
    for (Output& output : outputs) {
        const auto source = std::find_if(sources.begin(), sources.end(),
                                         [&](const Source& s) { return s.path == output.source; });
        if (output.outcome == Outcome::Failed && source != sources.end() && !source->sound &&
            AudioOnlyProfile(output.profile) && output.error == "Output file #0 does not contain any stream")
            output.outcome = Outcome::Refused;
        // Tasks still waiting when the run is stopped are reported as stopped too; they never made a file.
        if (output.outcome == Outcome::Stopped && !fs::exists(output.path))
            output.outcome = Outcome::NotRun;
        ++tally[output.outcome];
        std::string problem;
        if (output.outcome == Outcome::Failed) {
            problem = output.error;
        } else if (output.outcome == Outcome::Finished) {
            const double seconds = DecodedSeconds(output.path, problem);
            if (seconds >= 0 && source != sources.end() && seconds < source->seconds - 0.5)
                problem = "decodes " + std::to_string(seconds) + " s of " + std::to_string(source->seconds);
        } else if (output.outcome == Outcome::Stopped) {
            // A stop before the first packet leaves a file with headers only; anything written plays.
            if (DecodedSeconds(output.path, problem) >= 0 && !Plays(player, output.path))
                problem = "does not play";
            else if (problem == "nothing decodes")
                problem.clear();
        } else if (output.outcome == Outcome::NotRun && fs::exists(output.path)) {
            problem = "a task that never ran left a file";
        }
        if (!problem.empty()) {
            ++problems;
            std::printf("  %s (profile %d, %s): %s\n",
                        output.path.empty() ? output.source.c_str() : output.path.c_str(), output.profile,
                        OutcomeText(output.outcome), problem.c_str());
        }
    }
    const long threadsAfter = CountEntries("/proc/self/task");
    const long filesAfter = CountEntries("/proc/self/fd");

    std::printf("%zu tasks in %.0f s: %d finished, %d stopped, %d not run after a stop, %d refused (an audio "
                "profile for a file without sound), %d failed; %d pauses, %d stops\n",
                outputs.size(), runSeconds, tally[Outcome::Finished], tally[Outcome::Stopped],
                tally[Outcome::NotRun], tally[Outcome::Refused], tally[Outcome::Failed], pauses, stops);
    const long first = rssAfterBatch.front(), last = rssAfterBatch.back();
    const long peak = *std::max_element(samples.begin(), samples.end());
    std::printf("resident size in use: %.1f MiB after the first batch, %.1f MiB after the last (%+.1f MiB); "
                "peak %.1f MiB over %zu samples during the run\n",
                first / 1024.0, last / 1024.0, (last - first) / 1024.0, peak / 1024.0, samples.size());
    std::printf("resident size after each batch (MiB):");
    for (const long kib : rssAfterBatch)
        std::printf(" %.0f", kib / 1024.0);
    std::printf("\nthreads %ld before, %ld after; open files %ld before, %ld after\n", threadsBefore,
                threadsAfter, filesBefore, filesAfter);
    std::printf("outputs with a problem: %d\n", problems);
    const bool leaked = threadsAfter > threadsBefore || filesAfter > filesBefore;
    return problems == 0 && !leaked ? 0 : 1;
}
