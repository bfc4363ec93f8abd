// Conversions side by side and the modern profiles: a batch of eight short 720p clips to H.264
// (profile 403) with one and with two simultaneous conversions (wall time ratio and each run's peak
// memory, in a process of its own), and each modern profile's speed on a 1080p clip as a multiple
// of real time.
//
//   JobsBench [folder]
#include "BenchSupport.h"
#include "Fixtures.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "converter/FFConverter.h"
#include "core/BatchPlan.h"
#include "core/Catalogue.h"
#include "core/ConsoleShellServices.h"
#include "core/FilesRecord.h"
#include "core/MainSettings.h"
#include "core/ProfileFile.h"
#include "engine/FFmpeg.h"

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace tarnel;
using bench::Median;
using bench::Now;
namespace fs = std::filesystem;

constexpr int32_t kH264Profile = 403;
constexpr int kClips = 8;
constexpr int kPairs = 3;

// Converts `clips` with the profile as the desktop program does, `jobs` at a time; false when a
// task failed.
bool ConvertBatch(const fs::path& folder, const std::vector<std::string>& clips, int32_t code, int jobs) {
    TMainSettings settings((folder / "tarnelmain.ini").string());
    settings.SetOutputFolder((folder / "out").string());
    TProfileFile profiles(TARNEL_DATA_DIR "/tarnelformat.ini");
    TConsoleShellServices services(std::cerr);
    TMappingContext context{settings, profiles, services};
    std::vector<TlvFilesRecord> records(clips.size());
    std::vector<TBatchRow> rows;
    for (size_t i = 0; i < clips.size(); ++i) {
        records[i].SourceFile = clips[i];
        rows.push_back({static_cast<int32_t>(i), &records[i], true});
    }
    TFFConverter converter;
    converter.SetTriggerEventInMainThread(false);
    std::mutex mutex;
    std::condition_variable changed;
    size_t reports = 0;
    bool ended = false, failed = false;
    converter.OnTerminate = [&](TCustomFFConverter&, const TTerminateInfo& info) {
        std::lock_guard lock(mutex);
        if (info.TaskIndex < 0)
            ended = true;
        else
            ++reports;
        failed = failed || info.Failed;
        changed.notify_all();
    };
    const TBatchPlan plan = BuildBatch(converter, rows, code, context);
    if (plan.TaskRows.size() != clips.size())
        return false;
    converter.StartTask(jobs);
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return ended && reports == clips.size(); });
    lock.unlock();
    converter.ClearTasks();
    for (const std::string& output : plan.Outputs)
        fs::remove(output);
    return !failed;
}

struct TRun {
    double Seconds = 0;
    long PeakKiB = 0;
    bool Ok = false;
};

// The batch in a child process, so that each run's peak memory is its own.
TRun RunInChild(const fs::path& folder, const std::vector<std::string>& clips, int32_t code, int jobs) {
    TRun run;
    std::fflush(stdout); // the child would write out what the parent has buffered
    const double start = Now();
    const pid_t child = fork();
    if (child == 0) {
        // The encoders' own banners go straight to the terminal; they are not the figures.
        if (FILE* quiet = std::freopen("/dev/null", "w", stderr); !quiet)
            _exit(2);
        _exit(ConvertBatch(folder, clips, code, jobs) ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child)
        return run;
    run.Seconds = Now() - start;
    run.PeakKiB = usage.ru_maxrss;
    run.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

std::string MakeClip(const std::string& source, const fs::path& path, const char* size) {
    if (!fs::exists(path)) {
        TCustomFFmpeg engine;
        engine.Reset();
        engine.AddInputFile(source);
        for (const auto& [name, value] :
             {std::pair{"s", size}, {"vcodec", "libx264"}, {"vpre", "veryfast"}, {"acodec", "aac"}})
            engine.SetOption(name, value);
        bench::WriteOutput(engine, path.string() + ".part.mp4", path.string(), false);
    }
    return path.string();
}

} // namespace

int main(int argc, char** argv) {
    const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "tarnel-jobs-bench";
    fs::create_directories(folder / "out");
    if (!Loader().LoadSet(kConverterLibraries)) {
        std::fprintf(stderr, "%s\n", Loader().LastLoadError().c_str());
        return 1;
    }
    Logger().SetLogLevel(llQuiet);
    const fixtures::FixtureSet fixtures = fixtures::EnsureFixtures((folder / "fixtures").string());
    const std::string clip720 = MakeClip(fixtures.h264AacMp4, folder / "clip-720p.mp4", "1280x720");
    std::vector<std::string> clips;
    for (int i = 0; i < kClips; ++i) {
        const fs::path copy = folder / ("clip-720p-" + std::to_string(i) + ".mp4");
        if (!fs::exists(copy))
            fs::copy_file(clip720, copy);
        clips.push_back(copy.string());
    }

    // Pairs in alternating order, so that neither side always runs second.
    std::vector<double> one, two, ratios;
    std::vector<double> peakOne, peakTwo;
    for (int i = 0; i < kPairs; ++i) {
        TRun single, side;
        if (i % 2 == 0) {
            single = RunInChild(folder, clips, kH264Profile, 1);
            side = RunInChild(folder, clips, kH264Profile, 2);
        } else {
            side = RunInChild(folder, clips, kH264Profile, 2);
            single = RunInChild(folder, clips, kH264Profile, 1);
        }
        if (!single.Ok || !side.Ok) {
            std::fprintf(stderr, "a conversion failed\n");
            return 1;
        }
        one.push_back(single.Seconds);
        two.push_back(side.Seconds);
        ratios.push_back(side.Seconds / single.Seconds);
        peakOne.push_back(single.PeakKiB / 1024.0);
        peakTwo.push_back(side.PeakKiB / 1024.0);
    }
    std::printf("%d 3 s 720p clips to profile %d, median of %d alternating pairs (%u cores):\n", kClips,
                kH264Profile, kPairs, std::thread::hardware_concurrency());
    std::printf("  one at a time %.2f s, two side by side %.2f s, ratio %.2f\n", Median(one), Median(two),
                Median(ratios));
    std::printf("  peak memory: one at a time %.0f MiB, two side by side %.0f MiB\n", Median(peakOne),
                Median(peakTwo));

    const std::string clip1080 = MakeClip(fixtures.h264AacMp4, folder / "clip-1080p.mp4", "1920x1080");
    std::printf("modern profiles on a 3 s 1080p clip (clip length / wall time):\n");
    for (int32_t code = 600; code <= 605; ++code) {
        const TRun run = RunInChild(folder, {clip1080}, code, 1);
        std::printf("  %d  %6.2f s  %5.2fx real time  %s%s\n", code, run.Seconds, 3.0 / run.Seconds,
                    ProfileCaptionOfCode(code).c_str(), run.Ok ? "" : "  (failed)");
    }
    return 0;
}
