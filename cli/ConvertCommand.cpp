#include "ConvertCommand.h"

#include "FailureOutput.h"
#include "JsonReports.h"
#include "LayerOptions.h"
#include "converter/FFConverter.h"
#include "core/BatchRun.h"
#include "core/Catalogue.h"
#include "core/ConsoleShellServices.h"
#include "core/FilesRecord.h"
#include "core/FolderScan.h"
#include "core/GlobalObject.h"
#include "core/MainSettings.h"
#include "core/ProfileFile.h"
#include "core/ProgressEstimate.h"
#include "render/FrameHookRenderer.h"

#include <QGuiApplication>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <map>
#include <pthread.h>
#include <unistd.h>

namespace tarnel::cli {

namespace {

constexpr int kInterruptedStatus = 130; // SIGINT
constexpr int kTerminatedStatus = 143;  // SIGTERM
constexpr int kBarWidth = 24;
constexpr std::chrono::milliseconds kSignalPoll{100};

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

std::string FileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

// The terminal's side of the run: a progress line rewritten in place (on a terminal), and one line
// per file when it ends. Called on the thread that waits for the run.
class TTerminalReports final : public TBatchRunListener {
public:
    // With `json`, each file's line on `out` is a JSON object (progress stays on `errors`).
    TTerminalReports(int jobs, std::ostream& out, std::ostream& errors, bool json)
        : jobs_(jobs)
        , out_(out)
        , errors_(errors)
        , terminal_(::isatty(STDERR_FILENO))
        , json_(json)
        , lastEnd_(SteadySeconds()) {}

    // A file skipped before the run: named on `errors`, and a JSON line when asked for.
    void Skipped(const TFileResult& result) {
        errors_ << (result.Existing ? "Done before: " : "Skipped: ") << result.Reason() << "\n";
        if (json_)
            out_ << FileResultJson(result, {}) << std::endl;
    }

    // The file name of each task of the planned run.
    void SetTaskNames(const TBatchPlan& plan, const std::vector<std::string>& files) {
        names_.clear();
        for (int32_t row : plan.TaskRows)
            names_.push_back(FileName(files[static_cast<size_t>(row)]));
    }

    void TaskProgress(const TProgressInfo& info) override {
        if (info.Phase != TTaskPhase::Converting) {
            StartedClock(info.TaskIndex);
            if (terminal_)
                errors_ << "\r" << names_[static_cast<size_t>(info.TaskIndex)] << " "
                        << TaskPhaseText(info.Phase) << " "
                        << info.CurrentDuration * 100 / std::max<int64_t>(1, info.TotalDuration) << "%\033[K"
                        << std::flush;
            return;
        }
        TProgressEstimate& estimate = StartedClock(info.TaskIndex).Estimate;
        estimate.Update(info.CurrentDuration, info.TotalDuration, SteadySeconds());
        if (terminal_)
            errors_ << "\r" << ProgressLine(names_[static_cast<size_t>(info.TaskIndex)], estimate) << "\033[K"
                    << std::flush;
    }

    void TaskEnded(const TFileResult& result) override {
        if (terminal_)
            errors_ << "\r\033[K";
        if (json_) {
            out_ << FileResultJson(result, FactsOf(result)) << std::endl;
            lastEnd_ = SteadySeconds();
            return;
        }
        const std::string name = FileName(result.File);
        switch (result.Outcome) {
        case TFileOutcome::Failed:
            out_ << name << ": failed: " << result.Message << "\n";
            break;
        case TFileOutcome::Stopped:
            out_ << name << ": " << result.Message << "\n";
            break;
        default: {
            const std::string figures = result.FiguresText();
            out_ << name << " -> " << result.Output << TookText(result.Task)
                 << (figures.empty() ? "" : ", " + figures) << "\n";
            break;
        }
        }
        out_.flush();
        lastEnd_ = SteadySeconds();
    }

private:
    struct TTaskClock {
        TProgressEstimate Estimate;
        double StartedAt = 0;
    };

    // One at a time, a task begins when the one before it ends; side by side, at its first report.
    TTaskClock& StartedClock(int task) {
        auto [found, added] = clocks_.try_emplace(task);
        if (added) {
            found->second.StartedAt = jobs_ == 1 ? lastEnd_ : SteadySeconds();
            found->second.Estimate.Start(found->second.StartedAt);
        }
        return found->second;
    }

    double SecondsTaken(int task) const {
        const auto found = clocks_.find(task);
        const double started = jobs_ == 1 || found == clocks_.end() ? lastEnd_ : found->second.StartedAt;
        return SteadySeconds() - started;
    }

    std::string TookText(int task) const {
        char took[64];
        std::snprintf(took, sizeof took, " (%.1f s)", SecondsTaken(task));
        return took;
    }

    TFileFacts FactsOf(const TFileResult& result) const {
        TFileFacts facts;
        facts.Seconds = SecondsTaken(result.Task);
        const auto found = clocks_.find(result.Task);
        if (found != clocks_.end())
            facts.Speed = std::max(0.0, found->second.Estimate.Speed());
        std::error_code missing;
        if (result.Outcome == TFileOutcome::Converted) {
            const auto size = std::filesystem::file_size(result.Output, missing);
            facts.Size = missing ? -1 : static_cast<int64_t>(size);
        }
        return facts;
    }

    const int jobs_;
    std::ostream& out_;
    std::ostream& errors_;
    const bool terminal_;
    const bool json_;
    double lastEnd_; // when the last file ended, or the run began
    std::vector<std::string> names_;
    std::map<int, TTaskClock> clocks_;
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

void ApplyOverrides(const ConvertOptions& options, TMainSettings& settings) {
    if (!options.outputFolder.empty())
        settings.OverrideOutputFolder(
            std::filesystem::absolute(options.outputFolder).lexically_normal().string());
    if (!options.zoom.empty())
        settings.OverrideProfileZoom(options.zoom);
    if (!options.audioTracks.empty())
        settings.OverrideAudioTracks(options.audioTracks == "all" ? "All" : "First");
    if (options.loudness != 0)
        settings.OverrideLoudness(options.loudness);
    if (options.quality)
        settings.OverrideMeasureQuality(true);
}

// One ticked row per file, with the options' trim, picture settings, crop and layers; throws
// OptionError for a value that cannot be read.
std::vector<TBatchRow> MakeRows(const ConvertOptions& options, std::vector<TlvFilesRecord>& records) {
    std::vector<TBatchRow> rows;
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
    return rows;
}

// Ctrl-C and termination requests, taken by the command (blocked for its threads, each thread
// started from then on inheriting the mask), so that a stop removes the unfinished files, as the
// desktop's Cancel does, and the exit status tells which signal it was.
class TStopSignals {
public:
    TStopSignals() {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set_, &previous_);
    }
    ~TStopSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

    // The first stop signal that came, 0 while none has.
    int Received() {
        const timespec none{0, 0};
        const int signal = sigtimedwait(&set_, nullptr, &none);
        if (signal > 0 && received_ == 0)
            received_ = signal;
        return received_;
    }

private:
    sigset_t set_{};
    sigset_t previous_{};
    int received_ = 0;
};

// 128 + the signal, as shells report a process ended by it.
int StoppedStatus(int signal) {
    return signal == SIGTERM ? kTerminatedStatus : kInterruptedStatus;
}

// Runs the planned tasks to their end; the stop signal that stopped them, or 0.
int RunToTheEnd(TBatchRun& run, int jobs, TStopSignals& stopSignals, std::ostream& errors) {
    bool stopping = false;
    if (run.Start(jobs)) {
        for (bool ended = false; !ended;) {
            ended = run.WaitForReports(kSignalPoll);
            if (!stopping && stopSignals.Received() != 0) {
                stopping = true;
                errors << "\nStopping: the unfinished files are removed\n";
                run.Stop(false);
            }
        }
    }
    return stopSignals.Received();
}

} // namespace

int ConvertFiles(const ConvertOptions& given, std::ostream& out, std::ostream& errors) {
    // A folder stands for every file in it and its subfolders, in name order; the batch run skips,
    // with its reason, each that is not media.
    ConvertOptions options = given;
    options.files = ExpandFolders(given.files);
    if (options.files.empty()) {
        errors << "No files to convert in the folders given\n";
        return 1;
    }
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
    ApplyOverrides(options, settings);
    TProfileFile profiles(profileFile);
    TConsoleShellServices services(errors);
    TMappingContext context{settings, profiles, services, options.keepNames, options.skipExisting};

    // Text layers are measured and drawn with Qt's fonts, which need an application object.
    std::unique_ptr<QGuiApplication> fonts;
    if (!options.adjust.empty() || !options.layers.empty())
        fonts = MakeFontApplication();
    std::vector<TlvFilesRecord> records(options.files.size());
    std::vector<TBatchRow> rows;
    try {
        rows = MakeRows(options, records);
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
    converter.SetTimeout(options.timeoutSeconds);
    converter.SetTriggerEventInMainThread(false);
    TFrameHookRenderer renderer([&errors](const std::string& warning) { errors << warning << "\n"; });
    const int jobs = std::max(1, options.jobs);
    TTerminalReports reports(jobs, out, errors, options.json);
    TStopSignals stopSignals; // from here on, for the opens too
    TBatchRun run(converter, services, reports,
                  [&renderer](TBitmap& frame, const TlvFilesRecord& row, int64_t pts) {
                      renderer.Render(frame, row, pts);
                  });
    try {
        reports.SetTaskNames(run.Prepare(rows, options.profile, context), options.files);
    } catch (const std::exception& e) {
        errors << e.what() << "\n";
        return 1;
    }
    for (const auto* skips : {&run.Summary().Skipped, &run.Summary().Existing})
        for (const TFileResult& skipped : *skips)
            reports.Skipped(skipped);
    if (stopSignals.Received() != 0) // while the files were opened: nothing has started
        return StoppedStatus(stopSignals.Received());
    if (const int signal = RunToTheEnd(run, jobs, stopSignals, errors))
        return StoppedStatus(signal);
    return run.Summary().Failed.empty() && run.Summary().Skipped.empty() ? 0 : 1;
}

} // namespace tarnel::cli
