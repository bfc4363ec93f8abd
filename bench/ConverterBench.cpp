// The conversion component's cost: one conversion through the component with progress and
// preview-bitmap events at the default intervals against the same conversion on the bare engine,
// and two tasks at once (StartTask(2)) against one after the other (StartTask(1)).
//
//   ConverterBench [folder]
#include "BenchSupport.h"
#include "Fixtures.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "converter/FFConverter.h"
#include "engine/FFmpeg.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace tarnel;
using bench::Median;
using bench::Now;
namespace fs = std::filesystem;

constexpr int kRepeats = 5;

void SetConversionOptions(TCustomFFmpeg& engine) {
    engine.SetOption("vcodec", "libx264");
    engine.SetOption("vpre", "veryfast");
    engine.SetOption("acodec", "aac");
}

double RunBareEngine(const std::string& input, const std::string& output) {
    TCustomFFmpeg engine;
    engine.Reset();
    engine.AddInputFile(input);
    SetConversionOptions(engine);
    engine.AddOutputFile(output);
    const double start = Now();
    engine.Start(false);
    return Now() - start;
}

TOutputOptions ConversionRecord() {
    TOutputOptions options;
    options.VideoCodec = "libx264";
    options.VideoPreset = "veryfast";
    options.AudioCodec = "aac";
    return options;
}

double RunThroughComponent(const std::string& input, const std::string& output, int& progress,
                           int& previews) {
    TFFConverter converter;
    converter.SetPreviewBitmap(true);
    converter.OnProgress = [&](TCustomFFConverter&, PProgressInfo) {
        ++progress;
    };
    converter.OnPreviewBitmap = [&](TCustomFFConverter&, const TPreviewInfo&) {
        ++previews;
    };
    const int task = converter.AddTask(input);
    TOutputOptions options = ConversionRecord();
    converter.SetOutputFile(task, output, &options);
    const double start = Now();
    converter.StartTask(0); // in this thread, like the bare engine
    return Now() - start;
}

double RunTasks(const std::string& input, const fs::path& folder, int atOnce) {
    TFFConverter converter;
    converter.SetTriggerEventInMainThread(false);
    std::atomic<bool> done{false};
    converter.OnTerminate = [&](TCustomFFConverter&, const TTerminateInfo& info) {
        if (info.TaskIndex == -1)
            done = true;
    };
    for (int i = 0; i < 2; ++i) {
        const int task = converter.AddTask(input);
        TOutputOptions options = ConversionRecord();
        converter.SetOutputFile(task, (folder / ("task" + std::to_string(i) + ".mp4")).string(), &options);
    }
    const double start = Now();
    converter.StartTask(atOnce);
    while (!done)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double seconds = Now() - start;
    converter.ClearTasks();
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    const fs::path folder =
        argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "tarnel-converter-bench";
    fs::create_directories(folder);
    if (!Loader().LoadSet(kConverterLibraries)) {
        std::fprintf(stderr, "%s\n", Loader().LastLoadError().c_str());
        return 1;
    }
    Logger().SetLogLevel(llError);
    const fixtures::FixtureSet clips = fixtures::EnsureFixtures((folder / "fixtures").string());
    const std::string input = bench::JoinClip(folder, "long.mkv", clips.h264AacMp4, 10);

    std::vector<double> bare, component, ratios;
    int progress = 0, previews = 0;
    for (int i = 0; i < kRepeats; ++i) {
        const double a = RunBareEngine(input, (folder / "bare.mp4").string());
        const double b = RunThroughComponent(input, (folder / "component.mp4").string(), progress, previews);
        bare.push_back(a);
        component.push_back(b);
        ratios.push_back(b / a);
    }
    std::printf("conversion (30 s 320x240 H.264+AAC -> libx264 veryfast + AAC), median of %d pairs:\n",
                kRepeats);
    std::printf("  bare engine        %.3f s\n", Median(bare));
    std::printf("  component + events %.3f s  (%d progress reports, %d preview bitmaps in all runs)\n",
                Median(component), progress, previews);
    std::printf("  ratio component/engine %.3f (aim <= 1.02)\n", Median(ratios));

    std::vector<double> one, two;
    for (int i = 0; i < 3; ++i) {
        one.push_back(RunTasks(input, folder, 1));
        two.push_back(RunTasks(input, folder, 2));
    }
    std::printf("two tasks: StartTask(1) %.3f s, StartTask(2) %.3f s, speed-up %.2fx\n", Median(one),
                Median(two), Median(one) / Median(two));
    return 0;
}
