#include "RunCommand.h"

#include "EngineArguments.h"
#include "FailureOutput.h"
#include "base/FFUtils.h"
#include "base/MainThread.h"
#include "engine/FFmpeg.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <pthread.h>
#include <stdexcept>

namespace tarnel::cli {

namespace {

constexpr int kInterruptedStatus = 130;

// The engine reports a malformed number with the runtime's bare conversion error ("stoi"); the
// user is told which option and value it was.
void SetOption(TCustomFFmpeg& engine, const EngineArgument& argument) {
    try {
        engine.SetOption(argument.name, argument.value);
    } catch (const std::invalid_argument&) {
        throw std::runtime_error("Invalid value \"" + argument.value + "\" for option \"" + argument.name +
                                 "\"");
    } catch (const std::out_of_range&) {
        throw std::runtime_error("Value \"" + argument.value + "\" out of range for option \"" +
                                 argument.name + "\"");
    }
}

// Applies one argument; false (with the engine's message on stderr) when it failed.
bool Apply(TCustomFFmpeg& engine, const EngineArgument& argument, bool join) {
    switch (argument.kind) {
    case EngineArgument::Option:
        SetOption(engine, argument);
        return true;
    case EngineArgument::Input:
        if (engine.AddInputFile(argument.value))
            return true;
        break;
    case EngineArgument::Output:
        if (engine.AddOutputFile(argument.value, join) >= 0)
            return true;
        break;
    }
    PrintFailure(std::cerr, engine.LastError());
    return false;
}

// One terminal line, rewritten in place while the run goes on; the final report ends it.
void ShowProgress(int fileIndex, int64_t outputTime, int64_t outputSize, float bitRate, float quality,
                  int fps, int frame) {
    std::string line = frame >= 0 ? Format("frame=%5d fps=%3d q=%4.1f ", frame, fps, quality) : std::string();
    line += Format("size=%8.0fkB time=%s bitrate=%6.1fkbits/s", outputSize / 1024.0,
                   TimestampText(outputTime).c_str(), bitRate);
    std::fprintf(stderr, "\r%s%s", line.c_str(), fileIndex < 0 ? "\n" : "");
    std::fflush(stderr);
}

// Ctrl-C and termination requests are taken by this thread (blocked everywhere else), which
// asks the engine to stop, so the output files still get their trailers.
int RunToTheEnd(TCustomFFmpeg& engine) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    engine.ProgressCallback = [](TCustomFFmpeg&, int fileIndex, int64_t, int64_t outputTime,
                                 int64_t outputSize, float bitRate, float quality, int fps, int frame) {
        ShowProgress(fileIndex, outputTime, outputSize, bitRate, quality, fps, frame);
    };
    bool interrupted = false;
    if (TConvertThread* worker = engine.Start(true)) {
        worker->Resume();
        while (!engine.IsTerminated()) {
            const timespec slice{0, 100'000'000};
            if (sigtimedwait(&stopSignals, nullptr, &slice) > 0 && !interrupted) {
                interrupted = true;
                engine.Stop(false);
            }
            ProcessMessages();
        }
        engine.Stop(true);
    }
    pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
    if (engine.ErrorOccurred()) {
        PrintFailure(std::cerr, engine.ErrorMessage());
        return 1;
    }
    return interrupted ? kInterruptedStatus : 0;
}

} // namespace

int RunEngine(const std::vector<std::string>& args, bool join, double timeoutSeconds) {
    try {
        const std::vector<EngineArgument> arguments = ParseEngineArguments(args);
        TCustomFFmpeg engine;
        engine.Reset();
        engine.SetTimeout(timeoutSeconds);
        for (const EngineArgument& argument : arguments) {
            if (!Apply(engine, argument, join))
                return 1;
        }
        if (engine.OutputFileCount() == 0) {
            std::cerr << "At least one output file must be specified\n";
            return 1;
        }
        return RunToTheEnd(engine);
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
}

} // namespace tarnel::cli
