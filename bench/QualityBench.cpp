// The measuring passes against the conversion they go with: a generated 60 s 1080p H.264 + AAC file
// converted to 720p H.264 (libx264 veryfast) + AAC; before it the loudness pass (EBU R128 over the
// source's sound), after it the quality pass (PSNR and SSIM of the output against the source).
// Prints each run and the median share of each pass in the conversion's time.
//
// Usage: QualityBench [work folder] [runs]
#include "BenchSupport.h"
#include "Fixtures.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "converter/LoudnessMeter.h"
#include "converter/QualityMeter.h"
#include "engine/FFmpeg.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

using namespace tarnel;
using bench::Median;
using bench::Now;
namespace fs = std::filesystem;

namespace {

constexpr int kSeconds = 60;
constexpr int kTargetWidth = 1280, kTargetHeight = 720;

double Convert(const std::string& source, const std::string& output) {
    TCustomFFmpeg engine;
    engine.Reset();
    if (!engine.AddInputFile(source))
        throw std::runtime_error(engine.LastError());
    engine.SetOption("s", std::to_string(kTargetWidth) + "x" + std::to_string(kTargetHeight));
    engine.SetOption("vcodec", "libx264");
    engine.SetOption("preset", "veryfast");
    engine.SetOption("acodec", "aac");
    fs::remove(output);
    const double start = Now();
    if (engine.AddOutputFile(output) < 0)
        throw std::runtime_error(engine.LastError());
    engine.Start(false);
    if (engine.ErrorOccurred())
        throw std::runtime_error(engine.ErrorMessage());
    return Now() - start;
}

} // namespace

int main(int argc, char** argv) {
    const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "tarnel-quality-bench";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    fs::create_directories(folder);
    if (!Loader().LoadSet(kConverterLibraries)) {
        std::fprintf(stderr, "%s\n", Loader().LastLoadError().c_str());
        return 1;
    }
    Logger().SetLogLevel(llError);
    av_log_set_level(AV_LOG_ERROR);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    try {
        const fixtures::FixtureSet clips = fixtures::EnsureFixtures((folder / "fixtures").string());
        const std::string joined = bench::JoinClip(folder, "joined.mkv", clips.h264AacMp4,
                                                   static_cast<int>(kSeconds / fixtures::kFixtureSeconds));
        const std::string source = bench::MakeHd(folder, "source-1080p-60s.mp4", joined, kSeconds, 0);
        const std::string output = (folder / "output-720p.mp4").string();

        std::vector<double> conversions, passes, shares, loudnessShares;
        TQualityReport report;
        for (int i = 0; i < runs; ++i) {
            const double measureStart = Now();
            const TLoudness loudness = MeasureLoudness({source});
            const double measure = Now() - measureStart;
            const double conversion = Convert(source, output);
            loudnessShares.push_back(measure / conversion);
            std::printf("run %d: loudness pass %.2f s (%s), share %.3f\n", i + 1, measure,
                        LoudnessText(loudness).c_str(), loudnessShares.back());
            const double start = Now();
            report = MeasureQuality(
                {.Source = source, .Output = output, .Width = kTargetWidth, .Height = kTargetHeight},
                nullptr);
            const double pass = Now() - start;
            conversions.push_back(conversion);
            passes.push_back(pass);
            shares.push_back(pass / conversion);
            std::printf("run %d: conversion %.2f s, quality pass %.2f s, share %.3f (%s, %d pictures)\n",
                        i + 1, conversion, pass, shares.back(), QualityText(report).c_str(),
                        report.ComparedPictures);
        }
        std::printf("\n%d s 1920x1080 -> %dx%d libx264 veryfast, median of %d runs:\n", kSeconds,
                    kTargetWidth, kTargetHeight, runs);
        std::printf("  conversion %.2f s, quality pass %.2f s, quality pass / conversion %.3f\n",
                    Median(conversions), Median(passes), Median(shares));
        std::printf("  loudness pass / conversion %.3f\n", Median(loudnessShares));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
