// tarnel-cli: the command-line front end of Tarnel's media engine.
#include "ConvertCommand.h"
#include "FailureOutput.h"
#include "PlayCommand.h"
#include "ProbeCommand.h"
#include "ProfilesCommand.h"
#include "RunCommand.h"
#include "TimeoutOption.h"
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "base/MainThread.h"
#include "base/ProcessMemory.h"
#include "converter/LoudnessMeter.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>

namespace {

// Log lines go to stderr as they come, from whichever thread logs them; lines above `least` (less
// severe) are left out. An error line right after the same error line is the engine recording the
// failure it has just logged, and is left out too.
void RouteLogToStderr(tarnel::TLogLevel least) {
    static std::mutex outputMutex;
    tarnel::Logger().SetTriggerEventInMainThread(false);
    tarnel::Logger().SetOnLog(
        [least](const void*, uint32_t, tarnel::TLogLevel level, const std::string& message) {
            if (level > least)
                return;
            std::lock_guard lock(outputMutex);
            static std::string lastLine;
            const bool repeated = level <= tarnel::llError && message == lastLine;
            lastLine = message;
            if (repeated)
                return;
            std::fprintf(stderr, "%s\n", message.c_str());
            if (level <= tarnel::llError)
                tarnel::cli::NoteLoggedError(message);
        });
}

constexpr const char* kTimeoutHelp =
    "Fail an input that gives nothing (a network address that never answers or stalls) after SECONDS "
    "(default 30)";

// --timeout of a command, checked as it is read.
void AddTimeoutOption(CLI::App& command, double& seconds) {
    command.add_option("--timeout", seconds, kTimeoutHelp)
        ->type_name("SECONDS")
        ->capture_default_str()
        ->check(CLI::Validator([](std::string& text) { return tarnel::cli::TimeoutProblem(text); }, "",
                               "SECONDS"));
}

} // namespace

int main(int argc, char** argv) {
    tarnel::LimitAllocatorArenas();
    tarnel::InstallMainThreadDispatcher(std::make_shared<tarnel::QueueDispatcher>());

    CLI::App app{"Tarnel's media engine on the command line: convert, probe and play media files."};
    app.set_version_flag("--version", std::string("tarnel-cli ") + TARNEL_VERSION);
    std::string logLevel = "info";
    app.add_option("--loglevel", logLevel,
                   "Log level: quiet, panic, fatal, error, warning, info, verbose, debug or a number")
        ->capture_default_str();

    CLI::App* run = app.add_subcommand(
        "run", "Configure the engine with its command line: -NAME VALUE options, -i FILE inputs and output "
               "file names, in order (e.g. run -i in.mp4 -vcodec libx264 out.mkv)");
    bool join = false;
    run->add_flag("--join", join, "The output joins all inputs into one file");
    double runTimeout = tarnel::TInputWatch::kDefaultSeconds;
    AddTimeoutOption(*run, runTimeout);
    run->prefix_command();

    CLI::App* probe =
        app.add_subcommand("probe", "Describe media files: container, size, duration, tags and streams");
    std::vector<std::string> probeFiles;
    probe->add_option("FILE", probeFiles, "Media files to describe")->required();
    double probeTimeout = tarnel::TInputWatch::kDefaultSeconds;
    AddTimeoutOption(*probe, probeTimeout);

    CLI::App* play = app.add_subcommand(
        "play", "Play a media file in a window of its own (with SDL's dummy drivers where there is no "
                "display) and print each event as a line: state play|pause|resume|step|end|stop, "
                "position SECONDS. Closes after the end");
    tarnel::cli::PlayOptions playOptions;
    double seekSeconds = 0;
    double untilSeconds = 0;
    play->add_option("FILE", playOptions.file, "Media file to play")->required();
    CLI::Option* seek =
        play->add_option("--seek", seekSeconds, "Seek to SECONDS right after opening")->type_name("SECONDS");
    CLI::Option* until =
        play->add_option("--until", untilSeconds, "Close once a reported position reaches SECONDS")
            ->type_name("SECONDS");
    play->add_option("--snapshot", playOptions.snapshot,
                     "Once the position reaches SECONDS, write the picture shown as a 24-bit BMP file")
        ->type_name("SECONDS:PATH.bmp");
    play->add_flag("--no-audio", playOptions.noAudio, "Play without sound");
    play->add_flag("--no-video", playOptions.noVideo, "Play without pictures or subtitles");

    CLI::App* convert = app.add_subcommand(
        "convert", "Convert files with an output profile of the catalogue (see profiles), with the desktop "
                   "program's settings; one progress line and one summary line per file");
    tarnel::cli::ConvertOptions convertOptions;
    convert->add_option("--profile", convertOptions.profile, "Profile code (tarnel-cli profiles lists them)")
        ->required()
        ->type_name("CODE");
    convert
        ->add_option("--out", convertOptions.outputFolder,
                     "Output folder for this run (default: the desktop "
                     "program's output folder)")
        ->type_name("DIR");
    convert->add_option("--start", convertOptions.startSeconds, "Start converting at SECONDS into each file")
        ->type_name("SECONDS")
        ->check(CLI::NonNegativeNumber);
    convert
        ->add_option("--length", convertOptions.lengthSeconds,
                     "Convert SECONDS of each file (default: to the end)")
        ->type_name("SECONDS")
        ->check(CLI::NonNegativeNumber);
    convert
        ->add_option("--adjust", convertOptions.adjust,
                     "Picture settings BRIGHTNESS:CONTRAST:SATURATION:EXPOSURE (unchanged: 255:0:255:0)")
        ->type_name("B:C:S:X");
    convert
        ->add_option("--crop", convertOptions.crop,
                     "Cut source pixels off the picture TOP:BOTTOM:LEFT:RIGHT (made even)")
        ->type_name("T:B:L:R");
    convert
        ->add_option("--zoom", convertOptions.zoom,
                     "Fit the picture into the profile's size: full (stretch), lbox (letterbox), pan (pan "
                     "and scan to 4:3) or center (pad without scaling); default: the profile's setting")
        ->check(CLI::IsMember({"full", "lbox", "pan", "center"}));
    convert
        ->add_option("--audio-tracks", convertOptions.audioTracks,
                     "Keep the first audio track, or all of them where the container holds several (MKV, "
                     "MP4, MOV, TS, WebM); default: the profile's setting")
        ->check(CLI::IsMember({"first", "all"}));
    convert
        ->add_option(
            "--layer", convertOptions.layers,
            "A watermark layer, repeatable: text=…,x=,y=,font=,size=,bold=,italic=,underline=,strike=,"
            "color=#rrggbb,back=#rrggbb,alpha=0..255,from=,to= (seconds), or image=FILE,x=,y=,alpha=")
        ->type_name("KEY=VALUE,...");
    convert->add_option("--jobs", convertOptions.jobs, "Convert N files side by side (default 1)")
        ->type_name("N")
        ->check(CLI::Range(1, 64));
    convert
        ->add_option("--loudness", convertOptions.loudness,
                     "Normalise each file's loudness (EBU R128) to LUFS, from -70 to -5 (-23 for broadcast, "
                     "-16 for streaming and podcasts), with true peaks at most -1 dBTP; the sound is "
                     "measured first. Default: the profile's setting")
        ->type_name("LUFS")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                double lufs = 0;
                if (!CLI::detail::lexical_cast(text, lufs) || lufs < tarnel::kLoudnessTargetLow ||
                    lufs > tarnel::kLoudnessTargetHigh)
                    return "expected a loudness from -70 to -5 LUFS, got \"" + text + "\"";
                return {};
            },
            "LUFS"));
    convert->add_flag("--quality", convertOptions.quality,
                      "Measure PSNR and SSIM of each video output against its source, after the same trim "
                      "and crop, at the output's size");
    convert->add_flag("--keep-names", convertOptions.keepNames,
                      "Name each output as its source (name.ext, without \"_(new)\"); an existing file "
                      "is never overwritten, and that source is reported as failed");
    convert->add_flag("--skip-existing", convertOptions.skipExisting,
                      "Skip a source whose output exists already (outputs are only ever complete): run "
                      "the same command again to finish what is missing");
    convert->add_flag("--json", convertOptions.json,
                      "One JSON object per file on standard output (source, output, status, reason, "
                      "seconds, speed, size, loudness, quality); progress goes to standard error");
    AddTimeoutOption(*convert, convertOptions.timeoutSeconds);
    convert
        ->add_option("FILE", convertOptions.files,
                     "Media files, or folders whose files (and their subfolders') are converted")
        ->required();

    CLI::App* profiles =
        app.add_subcommand("profiles", "List the output profiles: code and caption, by group");
    CLI11_PARSE(app, argc, argv);

    // convert draws its own progress lines: the engine's reports come only when asked for.
    const bool quietEngine = convert->parsed() && app.get_option("--loglevel")->count() == 0;
    RouteLogToStderr(quietEngine ? tarnel::llWarning : tarnel::llDebug);
    if (!tarnel::Loader().LoadSet(play->parsed() ? tarnel::kPlayerLibraries : tarnel::kConverterLibraries)) {
        std::cerr << tarnel::Loader().LastLoadError() << "\n";
        return 1;
    }
    try {
        tarnel::Logger().SetLogLevelByName(logLevel);
    } catch (const std::exception& e) {
        std::cerr << "Invalid log level: " << e.what() << "\n";
        return 1;
    }
    if (run->parsed()) {
        std::vector<std::string> engineArgs;
        const std::vector<std::string> rest = run->remaining();
        for (size_t i = 0; i < rest.size(); ++i) {
            if (rest[i] == "--join") {
                join = true;
            } else if (rest[i] == "--timeout") {
                const std::string value = i + 1 < rest.size() ? rest[++i] : std::string();
                if (const std::string problem = tarnel::cli::TimeoutProblem(value); !problem.empty()) {
                    std::cerr << "--timeout: " << problem << "\n";
                    return static_cast<int>(CLI::ExitCodes::ValidationError);
                }
                runTimeout = *tarnel::cli::ParseTimeout(value);
            } else {
                engineArgs.push_back(rest[i]);
            }
        }
        return tarnel::cli::RunEngine(engineArgs, join, runTimeout);
    }
    if (convert->parsed())
        return tarnel::cli::ConvertFiles(convertOptions, std::cout, std::cerr);
    if (profiles->parsed()) {
        tarnel::cli::ListProfiles(std::cout);
        return 0;
    }
    if (probe->parsed())
        return tarnel::cli::ProbeFiles(probeFiles, std::cout, std::cerr, probeTimeout);
    if (play->parsed()) {
        if (seek->count() > 0)
            playOptions.seekSeconds = seekSeconds;
        if (until->count() > 0)
            playOptions.untilSeconds = untilSeconds;
        return tarnel::cli::RunPlayCommand(playOptions, std::cout, std::cerr);
    }
    std::cout << app.help();
    return 0;
}
