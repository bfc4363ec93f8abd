// --timeout SECONDS of convert, run and probe: how long an input may give nothing before it fails.
#pragma once

#include <optional>
#include <string>

namespace tarnel::cli {

// Seconds above 0 and at most a million, written as a plain number; nullopt for anything else.
std::optional<double> ParseTimeout(const std::string& text);

// What is wrong with `text` as the value of --timeout (without the option's name); empty when it is
// fine.
std::string TimeoutProblem(const std::string& text);

} // namespace tarnel::cli
