#include "RunCommand.h"

#include "EngineArguments.h"
#include "FFmpeg.h"

#include <iostream>
#include <stdexcept>

namespace tarnel::cli {

namespace {

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
    std::cerr << engine.LastError() << "\n";
    return false;
}

} // namespace

int RunEngine(const std::vector<std::string>& args, bool join) {
    try {
        const std::vector<EngineArgument> arguments = ParseEngineArguments(args);
        TCustomFFmpeg engine;
        engine.Reset();
        for (const EngineArgument& argument : arguments) {
            if (!Apply(engine, argument, join))
                return 1;
        }
        if (engine.OutputFileCount() == 0) {
            std::cerr << "At least one output file must be specified\n";
            return 1;
        }
        std::cout << "Opened " << engine.InputFileCount() << " input file(s) and " << engine.OutputFileCount()
                  << " output file(s). Converting is not available in this build yet.\n";
        return 0;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
}

} // namespace tarnel::cli
