// The engine's command line as tarnel-cli takes it: "-NAME VALUE" options, "-i FILE" inputs and bare
// output file names, in order. Boolean and flag options take no value ("-vn", "-copyts").
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace tarnel::cli {

struct EngineArgument {
    enum Kind { Option, Input, Output };
    Kind kind;
    std::string name; // option name without the leading "-"; empty for files
    std::string value;

    bool operator==(const EngineArgument&) const = default;
};

// Throws std::invalid_argument with a message for the user when an option lacks its value.
std::vector<EngineArgument> ParseEngineArguments(const std::vector<std::string>& args);

// True for options written without a value.
bool TakesNoValue(const std::string& name);

} // namespace tarnel::cli
