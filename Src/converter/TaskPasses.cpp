// The measuring passes around a task's run: the source's loudness before it (which sets the gain of
// the output's sound), the output's picture quality after it. Both run on the task's own thread,
// pause and stop with the task, and report their progress as a phase of the task.
#include "base/ConvertThread.h"
#include "base/FFmpegException.h"
#include "converter/FFConverter.h"

#include <chrono>

namespace tarnel {

namespace {

constexpr auto kPassReportInterval = std::chrono::milliseconds(250);

} // namespace

std::function<bool(double)> TFFmpeg::PassWatcher(TTaskPhase phase) {
    auto lastReport = std::chrono::steady_clock::time_point{};
    return [this, phase, lastReport](double fraction) mutable {
        if (TConvertThread* thread = Thread())
            thread->WaitWhileSuspended();
        if (StopRequested())
            return false;
        const auto now = std::chrono::steady_clock::now();
        if (PassProgress && now - lastReport >= kPassReportInterval) {
            lastReport = now;
            PassProgress(*this, phase, fraction);
        }
        return true;
    };
}

void TFFmpeg::Transcode() {
    if (Passes.LoudnessTarget != 0 && !MeasureLoudnessFirst())
        return; // stopped while measuring: nothing was written
    TCustomFFmpeg::Transcode();
}

// False when the task was stopped during the measurement.
bool TFFmpeg::MeasureLoudnessFirst() {
    TNormalisation gain;
    try {
        const auto watcher = PassWatcher(TTaskPhase::MeasuringLoudness);
        loudness_ = MeasureLoudness(Passes.Loudness, watcher);
        gain = NormalisationFilter(Passes.Loudness, loudness_, Passes.LoudnessTarget, watcher);
        loudness_.Reached = gain.Reached;
    } catch (const FFmpegException&) {
        if (StopRequested())
            return false;
        throw;
    }
    SetOutputAudioFilters(gain.Filter);
    return true;
}

void TFFmpeg::MeasureOutputQuality(TTerminateInfo& info) {
    if (!Passes.Quality || !IsFinished() || ErrorOccurred())
        return;
    try {
        TQualityReport report = MeasureQuality(Passes.QualityJob, PassWatcher(TTaskPhase::MeasuringQuality));
        if (report.Stopped)
            return;
        info.Quality = report;
        info.QualityMeasured = true;
    } catch (const FFmpegException& e) {
        info.QualityError = e.what();
    }
}

} // namespace tarnel
