// Loudness normalisation through the conversion component: generated sound at known loudness is
// converted to a target and measured back with the libraries' own EBU R128 meter.
#include "TestSupport.h"
#include "base/FFmpegException.h"
#include "base/FFmpegLoader.h"
#include "base/MainThread.h"
#include "converter/FFConverter.h"
#include "converter/LoudnessMeter.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

using namespace tarnel;

namespace {

constexpr int kRate = 48000;
constexpr double kPi = 3.14159265358979323846;

using TSignal = std::function<double(double seconds)>;

// A 32-bit float stereo WAV file.
void WriteWav(const std::filesystem::path& path, const std::vector<float>& mono) {
    std::ofstream out(path, std::ios::binary);
    const auto put32 = [&](uint32_t v) {
        out.write(reinterpret_cast<const char*>(&v), 4);
    };
    const auto put16 = [&](uint16_t v) {
        out.write(reinterpret_cast<const char*>(&v), 2);
    };
    const uint32_t bytes = static_cast<uint32_t>(mono.size() * 2 * sizeof(float));
    out.write("RIFF", 4);
    put32(36 + bytes);
    out.write("WAVEfmt ", 8);
    put32(16);
    put16(3); // IEEE float
    put16(2);
    put32(kRate);
    put32(kRate * 8);
    put16(8);
    put16(32);
    out.write("data", 4);
    put32(bytes);
    for (float sample : mono) {
        out.write(reinterpret_cast<const char*>(&sample), sizeof sample);
        out.write(reinterpret_cast<const char*>(&sample), sizeof sample);
    }
}

std::vector<float> Sample(const TSignal& signal, double seconds, double gain = 1.0) {
    std::vector<float> samples(static_cast<size_t>(seconds * kRate));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(gain * signal(static_cast<double>(i) / kRate));
    return samples;
}

double Tone(double t) {
    return 0.5 * std::sin(2 * kPi * 997 * t);
}

// Voiced syllables four a second with a pause after every fourth: a sound with speech's peaks and
// gaps, which the meter's gating must see through.
double Speech(double t) {
    const double syllable = std::fmod(t * 4, 1.0);
    const bool pause = static_cast<int>(t * 4) % 5 == 4;
    const double envelope = pause ? 0 : std::pow(std::sin(kPi * syllable), 2);
    const double pitch = 120 + 20 * std::sin(2 * kPi * 0.5 * t);
    double voice = 0;
    for (int harmonic = 1; harmonic < 12; ++harmonic)
        voice += std::sin(2 * kPi * pitch * harmonic * t) / harmonic;
    return 0.15 * envelope * voice;
}

// A full-scale 40 Hz square wave: loud peaks, and (the meter weighting low notes down) a loudness
// well below them, so a loud target needs the limiter.
double LowSquare(double t) {
    return std::fmod(t * 40, 1.0) < 0.5 ? 0.99 : -0.99;
}

// Writes `signal` at `lufs` (measured, then scaled).
void WriteAtLoudness(const std::filesystem::path& path, const TSignal& signal, double lufs, double seconds) {
    WriteWav(path, Sample(signal, seconds));
    const TLoudness raw = MeasureLoudness({path.string()});
    ASSERT_EQ(raw.Verdict, TLoudnessVerdict::Measured);
    WriteWav(path, Sample(signal, seconds, std::pow(10.0, (lufs - raw.Integrated) / 20)));
}

class Loudness : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(converter_.LoadLibraries("")) << converter_.LastError(); }

    // Converts in the calling thread; the task's final report.
    TTerminateInfo Convert(const std::filesystem::path& source, const std::filesystem::path& output,
                           double target, int64_t startUs = AV_NOPTS_VALUE,
                           int64_t durationUs = AV_NOPTS_VALUE) {
        TTerminateInfo report;
        converter_.OnTerminate = [&](TCustomFFConverter&, const TTerminateInfo& info) {
            if (info.TaskIndex >= 0)
                report = info;
        };
        converter_.ClearTasks();
        TInputOptions input;
        input.StartTime = startUs;
        const int task = converter_.AddTask(source.string(), &input);
        EXPECT_GE(task, 0) << converter_.LastError();
        TOutputOptions options;
        options.LoudnessTarget = target;
        options.Duration = durationUs;
        EXPECT_TRUE(converter_.SetOutputFile(task, output.string(), &options)) << converter_.LastError();
        converter_.StartTask(0);
        return report;
    }

    TFFConverter converter_;
    test::TempDir dir_;
};

TEST_F(Loudness, TonesAndSpeechReachEachTargetWithinOneLu) {
    struct Case {
        const char* name;
        TSignal signal;
        double sourceLufs;
        double target;
        const char* extension;
    };
    const std::vector<Case> cases = {
        {"tone", Tone, -40, -23, "wav"},     {"tone", Tone, -23, -16, "wav"},
        {"tone", Tone, -6, -23, "wav"},      {"tone", Tone, -6, -16, "m4a"},
        {"speech", Speech, -40, -16, "wav"}, {"speech", Speech, -40, -23, "m4a"},
        {"speech", Speech, -23, -16, "wav"}, {"speech", Speech, -6, -23, "wav"},
        {"speech", Speech, -6, -16, "mp3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(c.sourceLufs) + " LUFS to " +
                     std::to_string(c.target) + " LUFS, " + c.extension);
        const auto source = dir_ / "source.wav";
        WriteAtLoudness(source, c.signal, c.sourceLufs, 4.0);
        const auto output = dir_ / (std::string("out.") + c.extension);
        const TTerminateInfo report = Convert(source, output, c.target);
        ASSERT_TRUE(report.Finished && !report.Failed) << report.ErrorMessage;
        EXPECT_NEAR(report.Loudness.Integrated, c.sourceLufs, 0.5); // the source as measured first
        const TLoudness result = MeasureLoudness({output.string()});
        EXPECT_NEAR(result.Integrated, c.target, 1.0);
        EXPECT_LE(result.TruePeak, kTruePeakCeiling);
        EXPECT_NEAR(result.Seconds, 4.0, 0.1);
    }
}

TEST_F(Loudness, ALoudSquareWaveIsLimitedBelowTheTruePeakCeiling) {
    const auto source = dir_ / "square.wav";
    WriteWav(source, Sample(LowSquare, 4.0));
    const TLoudness before = MeasureLoudness({source.string()});
    ASSERT_GT(before.TruePeak, 0.0); // over full scale between the samples
    for (const char* extension : {"wav", "mp3"}) {
        SCOPED_TRACE(extension);
        const auto output = dir_ / (std::string("square_out.") + extension);
        const TTerminateInfo report = Convert(source, output, -5);
        ASSERT_TRUE(report.Finished && !report.Failed) << report.ErrorMessage;
        const TLoudness result = MeasureLoudness({output.string()});
        EXPECT_LE(result.TruePeak, kTruePeakCeiling);
        EXPECT_NEAR(result.Integrated, -5, 1.0);
    }
}

TEST_F(Loudness, OnlyTheKeptPartOfATrimmedFileIsMeasured) {
    // Two seconds at -40 LUFS, then four at -10 LUFS; the kept part is the loud one.
    std::vector<float> quiet = Sample(Tone, 2.0, std::pow(10.0, -34.0 / 20));
    const std::vector<float> loud = Sample(Tone, 4.0, std::pow(10.0, -4.0 / 20));
    quiet.insert(quiet.end(), loud.begin(), loud.end());
    const auto source = dir_ / "steps.wav";
    WriteWav(source, quiet);
    const TTerminateInfo report = Convert(source, dir_ / "steps_out.wav", -23, 2500000, 3000000);
    ASSERT_TRUE(report.Finished && !report.Failed) << report.ErrorMessage;
    EXPECT_NEAR(report.Loudness.Integrated, -10, 0.5);
    const TLoudness result = MeasureLoudness({(dir_ / "steps_out.wav").string()});
    EXPECT_NEAR(result.Integrated, -23, 1.0);
    EXPECT_NEAR(result.Seconds, 3.0, 0.1);
}

TEST_F(Loudness, SoundWithoutAFigureIsLeftAsItIs) {
    struct Case {
        const char* name;
        std::vector<float> samples;
        TLoudnessVerdict verdict;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"digital silence", std::vector<float>(3 * kRate, 0.0f), TLoudnessVerdict::Silent, "silent"},
        {"200 ms", Sample(Tone, 0.2), TLoudnessVerdict::TooShort, "too short to measure"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto source = dir_ / "plain.wav";
        WriteWav(source, c.samples);
        const TTerminateInfo report = Convert(source, dir_ / "plain_out.wav", -16);
        ASSERT_TRUE(report.Finished && !report.Failed) << report.ErrorMessage;
        EXPECT_EQ(report.Loudness.Verdict, c.verdict);
        EXPECT_EQ(LoudnessText(report.Loudness), c.text);
        EXPECT_EQ(LoudnessFilter(report.Loudness, -16), "");
        const TLoudness result = MeasureLoudness({(dir_ / "plain_out.wav").string()});
        if (std::isinf(report.Loudness.TruePeak))
            EXPECT_TRUE(std::isinf(result.TruePeak)); // still silence
        else
            EXPECT_NEAR(result.TruePeak, report.Loudness.TruePeak, 0.1); // the level unchanged
    }
}

TEST_F(Loudness, AFileWithoutSoundHasNoFigure) {
    const TLoudness none = MeasureLoudness({test::Fixtures().videoOnly});
    EXPECT_EQ(none.Verdict, TLoudnessVerdict::NoSound);
    EXPECT_EQ(LoudnessText(none), "");
    EXPECT_THROW(MeasureLoudness({(dir_ / "missing.wav").string()}), FFmpegException);
}

TEST_F(Loudness, AStopWhileMeasuringEndsTheTaskAsStoppedWithNoOutput) {
    const auto source = dir_ / "long.wav";
    WriteWav(source, Sample(Speech, 60.0));
    std::vector<TTerminateInfo> reports;
    std::atomic<bool> measuring{false};
    converter_.SetTriggerEventInMainThread(false);
    converter_.OnProgress = [&](TCustomFFConverter&, PProgressInfo info) {
        if (info->Phase == TTaskPhase::MeasuringLoudness)
            measuring = true;
    };
    std::mutex mutex;
    converter_.OnTerminate = [&](TCustomFFConverter&, const TTerminateInfo& info) {
        std::lock_guard lock(mutex);
        reports.push_back(info);
    };
    const int task = converter_.AddTask(source.string());
    TOutputOptions options;
    options.LoudnessTarget = -23;
    const auto output = dir_ / "long_out.wav";
    ASSERT_TRUE(converter_.SetOutputFile(task, output.string(), &options));
    converter_.StartTask(1);
    for (int i = 0; i < 2000 && !measuring; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(measuring);
    converter_.Stop(true);
    converter_.ClearTasks();
    std::lock_guard lock(mutex);
    ASSERT_FALSE(reports.empty());
    EXPECT_FALSE(reports.front().Finished);
    EXPECT_FALSE(reports.front().Failed) << reports.front().ErrorMessage;
    EXPECT_FALSE(std::filesystem::exists(output));
}

} // namespace
