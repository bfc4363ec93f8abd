// tarnel-cli: the command-line front end of Tarnel's media engine.
#include "FFmpegLoader.h"
#include "FFmpegLogger.h"
#include "MainThread.h"
#include "ProbeCommand.h"
#include "RunCommand.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>

namespace {

// Log lines go to stderr as they come, from whichever thread logs them.
void RouteLogToStderr() {
    static std::mutex outputMutex;
    tarnel::Logger().SetTriggerEventInMainThread(false);
    tarnel::Logger().SetOnLog([](const void*, uint32_t, tarnel::TLogLevel, const std::string& message) {
        std::lock_guard lock(outputMutex);
        std::fprintf(stderr, "%s\n", message.c_str());
    });
}

} // namespace

int main(int argc, char** argv) {
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
    run->prefix_command();

    CLI::App* probe =
        app.add_subcommand("probe", "Describe media files: container, size, duration, tags and streams");
    std::vector<std::string> probeFiles;
    probe->add_option("FILE", probeFiles, "Media files to describe")->required();
    CLI11_PARSE(app, argc, argv);

    RouteLogToStderr();
    if (!tarnel::Loader().LoadSet(tarnel::kConverterLibraries)) {
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
        for (const std::string& arg : run->remaining()) {
            if (arg == "--join")
                join = true;
            else
                engineArgs.push_back(arg);
        }
        return tarnel::cli::RunEngine(engineArgs, join);
    }
    if (probe->parsed())
        return tarnel::cli::ProbeFiles(probeFiles, std::cout, std::cerr);
    std::cout << app.help();
    return 0;
}
