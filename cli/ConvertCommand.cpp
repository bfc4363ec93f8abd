#include "ConvertCommand.h"

#include "FailureOutput.h"
#include "LayerOptions.h"
#include "converter/FFConverter.h"
#include "core/BatchPlan.h"
#include "core/Catalogue.h"
#include "core/ConsoleShellServices.h"
#include "core/FilesRecord.h"
#include "core/GlobalObject.h"
#include "core/MainSettings.h"
#include "core/ProfileFile.h"
#include "core/ProgressEstimate.h"
#include "render/FrameHookRenderer.h"

#include <QGuiApplication>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <mutex>
#include <pthread.h>
#include <unistd.h>

namespace tarnel::cli {

namespace {

constexpr int kInterruptedStatus = 130;
constexpr int kBarWidth = 24;

double SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// One line per file, rewritten in place: the bar, the percentage, the speed and the time left.
std::string ProgressLine(const std::string& name, const TProgressEstimate& estimate) {
    const int percent = estimate.Percent();
    std::string bar(kBarWidth, '-');
    if (percent >= 0)
        bar.replace(0, static_cast<size_t>(percent * kBarWidth / 100),
                    static_cast<size_t>(percent * kBarWidth / 100), '#');
    std::string line =
        name + " [" + bar + "] " + (percent >= 0 ? std::to_string(percent) + "%" : std::string("?%"));
    char speed[32];
    std::snprintf(speed, sizeof speed, " %.1fx", estimate.Speed());
    line += speed;
    const double left = estimate.SecondsLeft();
    if (left >= 0)
        line += " " + SecondsToClock(std::llround(left)) + " left";
    return line;
}

// The run's reports, handed from the component's threads to the main thread, which prints them.
struct TRunState {
    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;                   // guarded by mutex
    std::vector<TTerminateInfo> finished; // guarded by mutex; task reports not printed yet
    int task = -1;                        // guarded by mutex; of the last progress report
    int64_t current = 0, total = -1;      // guarded by mutex
    bool progressed = false;              // guarded by mutex
};

std::unique_ptr<QGuiApplication> MakeFontApplication() {
    if (QCoreApplication::instance())
        return nullptr;
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "tarnel-cli";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
}

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

int ConvertFiles(const ConvertOptions& options, std::ostream& out, std::ostream& errors) {
    if (ProfileCaptionOfCode(options.profile).empty()) {
        errors << "Unknown profile " << options.profile << "; tarnel-cli profiles lists them\n";
        return 1;
    }
    const std::string settingsFolder = TGlobalObject::GetSpecialFolder(TSpecialFolder::Settings);
    std::string problem;
    const std::string profileFile = TGlobalObject::PrepareProfileFile(settingsFolder, problem);
    if (!problem.empty())
        errors << problem << "\n";
    TMainSettings settings(settingsFolder + TGlobalObject::kSettingsFileName);
    if (!options.outputFolder.empty())
        settings.OverrideOutputFolder(
            std::filesystem::absolute(options.outputFolder).lexically_normal().string());
    if (!options.zoom.empty())
        settings.OverrideProfileZoom(options.zoom);
    if (!options.audioTracks.empty())
        settings.OverrideAudioTracks(options.audioTracks == "all" ? "All" : "First");
    TProfileFile profiles(profileFile);
    TConsoleShellServices services(errors);
    TMappingContext context{settings, profiles, services};

    // Text layers are measured and drawn with Qt's fonts, which need an application object.
    std::unique_ptr<QGuiApplication> fonts;
    if (!options.adjust.empty() || !options.layers.empty())
        fonts = MakeFontApplication();
    std::vector<TlvFilesRecord> records(options.files.size());
    std::vector<TBatchRow> rows;
    try {
        for (size_t i = 0; i < options.files.size(); ++i) {
            records[i].SourceFile = options.files[i];
            records[i].TrimStart = std::llround(options.startSeconds * 1e6);
            records[i].TrimLength = std::llround(options.lengthSeconds * 1e6);
            if (!options.adjust.empty())
                ParseAdjust(options.adjust, records[i]);
            if (!options.crop.empty())
                ParseCrop(options.crop, records[i]);
            for (const std::string& layer : options.layers)
                records[i].WaterMarks.push_back(ParseLayer(layer));
            rows.push_back({static_cast<int32_t>(i), &records[i], true});
        }
    } catch (const OptionError& e) {
        errors << e.what() << "\n";
        return 1;
    }

    TFFConverter converter;
    if (!converter.LoadLibraries(TGlobalObject::ExecutableFolder() + "LibAV")) {
        PrintFailure(errors, converter.LastError());
        return 1;
    }
    ApplyPrioritySetting(converter, settings.Priority());
    converter.SetTriggerEventInMainThread(false);
    TBatchPlan plan;
    try {
        plan = BuildBatch(converter, rows, options.profile, context);
    } catch (const std::exception& e) {
        errors << e.what() << "\n";
        return 1;
    }
    for (const TBatchSkip& skip : plan.Skipped)
        errors << "Skipped: " << skip.Reason << "\n";

    TFrameHookRenderer renderer([&errors](const std::string& warning) { errors << warning << "\n"; });
    converter.OnCustomHook = [&](TCustomFFConverter&, PHookInfo info) {
        const int32_t row = plan.RowOfTask(info->TaskIndex);
        if (row >= 0 && info->Bitmap)
            renderer.Render(*info->Bitmap, records[static_cast<size_t>(row)], info->PTS);
    };

    TRunState state;
    converter.OnProgress = [&state](TCustomFFConverter&, PProgressInfo info) {
        std::lock_guard lock(state.mutex);
        state.task = info->TaskIndex;
        state.current = info->CurrentDuration;
        state.total = info->TotalDuration;
        state.progressed = true;
        state.changed.notify_all();
    };
    converter.OnTerminate = [&state](TCustomFFConverter&, const TTerminateInfo& info) {
        std::lock_guard lock(state.mutex);
        if (info.TaskIndex < 0)
            state.ended = true;
        else
            state.finished.push_back(info);
        state.changed.notify_all();
    };

    // Ctrl-C and termination requests are taken here (blocked for every thread started from now
    // on), so the conversion is stopped and its file closed properly.
    const sigset_t stopSignals = StopSignals();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
    const bool terminal = ::isatty(STDERR_FILENO);
    bool interrupted = false;
    int failures = static_cast<int>(plan.Skipped.size());
    std::vector<TProgressEstimate> estimates(plan.TaskRows.size());
    std::vector<bool> started(plan.TaskRows.size(), false);
    std::vector<double> startedAt(plan.TaskRows.size(), 0);
    // One at a time, a task begins when the one before it ends; side by side, at its first report.
    double lastEnd = SteadySeconds();
    const int jobs = std::max(1, options.jobs);
    size_t reported = 0;
    double endedAt = 0;
    const auto name = [&](int task) {
        return std::filesystem::path(options.files[plan.TaskRows[task]]).filename().string();
    };

    if (!plan.TaskRows.empty()) {
        converter.StartTask(jobs);
        for (;;) {
            std::unique_lock lock(state.mutex);
            state.changed.wait_for(lock, std::chrono::milliseconds(100));
            const bool ended = state.ended;
            std::vector<TTerminateInfo> finished;
            finished.swap(state.finished);
            const bool progressed = state.progressed;
            state.progressed = false;
            const int task = state.task;
            const int64_t current = state.current, total = state.total;
            lock.unlock();

            const timespec none{0, 0};
            if (!interrupted && sigtimedwait(&stopSignals, nullptr, &none) > 0) {
                interrupted = true;
                errors << "\nStopping: the current file is closed properly\n";
                converter.Stop(false);
            }
            if (progressed && task >= 0 && static_cast<size_t>(task) < estimates.size()) {
                if (!started[task]) {
                    started[task] = true;
                    startedAt[task] = jobs == 1 ? lastEnd : SteadySeconds();
                    estimates[task].Start(startedAt[task]);
                }
                estimates[task].Update(current, total, SteadySeconds());
                if (terminal)
                    errors << "\r" << ProgressLine(name(task), estimates[task]) << "\033[K" << std::flush;
            }
            for (const TTerminateInfo& info : finished) {
                RemoveFailedOutput(plan, info);
                const std::string& output = plan.Outputs[info.TaskIndex];
                if (terminal)
                    errors << "\r\033[K";
                if (info.Failed) {
                    ++failures;
                    out << name(info.TaskIndex) << ": failed: " << info.ErrorMessage << "\n";
                } else if (!info.Finished) {
                    out << name(info.TaskIndex) << ": stopped; what was converted is in " << output << "\n";
                } else {
                    const double seconds =
                        SteadySeconds() -
                        (jobs == 1 || !started[info.TaskIndex] ? lastEnd : startedAt[info.TaskIndex]);
                    char took[64];
                    std::snprintf(took, sizeof took, " (%.1f s)", seconds);
                    out << name(info.TaskIndex) << " -> " << output << took << "\n";
                }
                out.flush();
                lastEnd = SteadySeconds();
            }
            reported += finished.size();
            if (ended && endedAt == 0)
                endedAt = SteadySeconds();
            // Each task's report comes on a thread of its own and may come after the final one.
            if (ended && (reported >= plan.TaskRows.size() || SteadySeconds() - endedAt > 2))
                break;
        }
        converter.ClearTasks();
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (interrupted)
        return kInterruptedStatus;
    return failures > 0 ? 1 : 0;
}

} // namespace tarnel::cli
