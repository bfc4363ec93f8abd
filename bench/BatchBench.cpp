// The batch run's cost: every profile of the shipped catalogue on one 640 × 360 clip (wall time per
// profile as a multiple of real time, and the process's peak memory against its size before the
// batch), and one profile through the desktop program's path (profile mapping, the component with
// progress and preview-bitmap events) against the bare engine set with the same options. The desktop
// path is the batch run the desktop program uses: planning, the frame hook's renderer on every
// picture, the reports handed over in order and the end of the run.
//
//   BatchBench [folder]
#include "BenchSupport.h"
#include "Fixtures.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "converter/FFConverter.h"
#include "core/BatchPlan.h"
#include "core/BatchRun.h"
#include "core/Catalogue.h"
#include "core/ConsoleShellServices.h"
#include "core/FilesRecord.h"
#include "core/MainSettings.h"
#include "core/ProfileFile.h"
#include "engine/FFmpeg.h"
#include "render/FrameHookRenderer.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <malloc.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace tarnel;
using bench::Median;
using bench::Now;
namespace fs = std::filesystem;

constexpr int kRepeats = 8;
constexpr int32_t kComparedProfile = 404; // AVI: MPEG-4 and MP3, letterboxed to 640 × 480

long PeakMemoryKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct TDesktopPath {
    TMainSettings Settings;
    TProfileFile Profiles;
    TConsoleShellServices Services{std::cerr};
    TMappingContext Context{Settings, Profiles, Services};
    double MappingSeconds = 0; // of the last Convert: probing and mapping before the conversion starts

    TDesktopPath(const fs::path& folder)
        : Settings((folder / "tarnelmain.ini").string())
        , Profiles(TARNEL_DATA_DIR "/tarnelformat.ini") {
        Settings.SetOutputFolder((folder / "out").string());
    }

    // Maps the clip with the profile and runs the batch as the desktop program does (the batch run
    // with its frame hook, preview bitmaps and progress reports); returns the seconds taken and the
    // plan.
    double Convert(const std::string& clip, int32_t code, TBatchPlan& plan) {
        TFFConverter converter;
        converter.SetPreview(true);
        converter.SetPreviewBitmap(true);
        converter.SetTriggerEventInMainThread(false);
        int previews = 0;
        converter.OnPreviewBitmap = [&](TCustomFFConverter&, const TPreviewInfo&) {
            ++previews;
        };
        TCountingListener listener;
        TFrameHookRenderer renderer;
        TBatchRun run(converter, Services, listener,
                      [&renderer](TBitmap& frame, const TlvFilesRecord& row, int64_t pts) {
                          renderer.Render(frame, row, pts);
                      });
        TlvFilesRecord record;
        record.SourceFile = clip;
        const double start = Now();
        plan = run.Prepare({{0, &record, true}}, code, Context);
        MappingSeconds = Now() - start;
        run.Start(1);
        while (!run.WaitForReports(std::chrono::milliseconds(100))) {
        }
        const double seconds = Now() - start;
        if (run.Summary().Converted.size() != 1)
            std::fprintf(stderr, "profile %d did not convert: %s\n", code,
                         run.Summary().ProblemsText().c_str());
        return seconds;
    }

    // Counts what the desktop program would show; the run's own work is what is measured.
    struct TCountingListener final : TBatchRunListener {
        int Reports = 0;
        void TaskProgress(const TProgressInfo&) override { ++Reports; }
        void TaskEnded(const TFileResult&) override { ++Reports; }
    };
};

// The bare engine set with what the mapping made of the profile, as the component would set it.
double ConvertWithBareEngine(const std::string& clip, const TOutputOptions& o, const std::string& output) {
    TCustomFFmpeg engine;
    engine.Reset();
    engine.AddInputFile(clip);
    const std::pair<const char*, std::string> options[] = {{"vcodec", o.VideoCodec},
                                                           {"acodec", o.AudioCodec},
                                                           {"b", std::to_string(o.VideoBitrate)},
                                                           {"r", o.FrameRate},
                                                           {"aspect", o.FrameAspectRatio},
                                                           {"ab", std::to_string(o.AudioBitrate)},
                                                           {"ar", std::to_string(o.AudioSampleRate)},
                                                           {"ac", std::to_string(o.AudioChannels)},
                                                           {"s", o.FrameSize},
                                                           {"vf", o.VideoFilters}};
    for (const auto& [name, value] : options)
        if (!value.empty() && value != "-1")
            engine.SetOption(name, value);
    engine.AddOutputFile(output);
    const double start = Now();
    engine.Start(false);
    return Now() - start;
}

} // namespace

int main(int argc, char** argv) {
    const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "tarnel-batch-bench";
    fs::create_directories(folder);
    if (!Loader().LoadSet(kConverterLibraries)) {
        std::fprintf(stderr, "%s\n", Loader().LastLoadError().c_str());
        return 1;
    }
    Logger().SetLogLevel(llQuiet);
    const fixtures::FixtureSet clips = fixtures::EnsureFixtures((folder / "fixtures").string());
    const std::string joined = bench::JoinClip(folder, "long.mkv", clips.h264AacMp4, 4);
    const std::string clip = (folder / "clip-640x360.mp4").string();
    if (!fs::exists(clip)) {
        TCustomFFmpeg engine;
        engine.Reset();
        engine.AddInputFile(joined);
        for (const auto& [name, value] : {std::pair{"s", "640x360"},
                                          {"aspect", "16:9"},
                                          {"vcodec", "libx264"},
                                          {"vpre", "veryfast"},
                                          {"acodec", "aac"}})
            engine.SetOption(name, value);
        bench::WriteOutput(engine, clip + ".part.mp4", clip, false);
    }
    const double clipSeconds = 12.0;
    TDesktopPath desktop(folder);

    const long memoryBefore = PeakMemoryKiB();
    std::printf("every profile on a %.0f s 640x360 H.264+AAC clip (wall time / clip length):\n", clipSeconds);
    double total = 0;
    for (int32_t code : ProfileCodes()) {
        TBatchPlan plan;
        const double seconds = desktop.Convert(clip, code, plan);
        total += seconds;
        std::printf("  %3d  %5.2f s  %5.2fx  %s\n", code, seconds, seconds / clipSeconds,
                    ProfileCaptionOfCode(code).c_str());
        for (const std::string& output : plan.Outputs)
            fs::remove(output);
    }
    std::printf("  all %zu profiles: %.1f s (%.2fx the clip's length each on average)\n",
                ProfileCodes().size(), total, total / ProfileCodes().size() / clipSeconds);
    const long afterBatch = bench::ResidentKiB();
    malloc_trim(0); // what the allocator keeps for reuse is not in use
    std::printf(
        "  peak memory %ld MiB, %ld MiB before the batch (ratio %.2f); after it %ld MiB resident, %ld MiB "
        "once the allocator gives back its free memory\n",
        PeakMemoryKiB() / 1024, memoryBefore / 1024, static_cast<double>(PeakMemoryKiB()) / memoryBefore,
        afterBatch / 1024, bench::ResidentKiB() / 1024);

    // A minute of the clip: the fixed cost of mapping a file weighs as it does on real files.
    const std::string minute = bench::JoinClip(folder, "minute.mp4", clip, 5);
    std::vector<double> ratios, desktopTimes, bareTimes, mappingTimes;
    // The options the mapping makes of the profile, for the bare engine.
    TOutputOptions mapped;
    {
        TlvFilesRecord record;
        record.SourceFile = minute;
        TAVProbe probe;
        probe.Open(minute);
        TInputOptions input;
        BuildTaskOptions(record, kComparedProfile, mapped, TSourceFacts::FromProbe(probe), input,
                         desktop.Context);
    }
    // Pairs in alternating order, so that neither side always runs second.
    for (int i = 0; i < kRepeats; ++i) {
        TBatchPlan plan;
        double viaDesktop = 0, bare = 0;
        if (i % 2 == 0) {
            viaDesktop = desktop.Convert(minute, kComparedProfile, plan);
            bare = ConvertWithBareEngine(minute, mapped, (folder / "bare.avi").string());
        } else {
            bare = ConvertWithBareEngine(minute, mapped, (folder / "bare.avi").string());
            viaDesktop = desktop.Convert(minute, kComparedProfile, plan);
        }
        for (const std::string& output : plan.Outputs)
            fs::remove(output);
        desktopTimes.push_back(viaDesktop);
        mappingTimes.push_back(desktop.MappingSeconds);
        bareTimes.push_back(bare);
        ratios.push_back(viaDesktop / bare);
    }
    std::printf(
        "profile %d on a 60 s clip through the desktop path against the bare engine, median of %d pairs:\n",
        kComparedProfile, kRepeats);
    std::printf(
        "  desktop path %.3f s (of which mapping %.3f s), bare engine %.3f s, ratio %.3f (aim <= 1.02)\n",
        Median(desktopTimes), Median(mappingTimes), Median(bareTimes), Median(ratios));
    return 0;
}
