// Runs one conversion with the engine in the calling thread, for tests that need a converted file.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tarnel::test {

using EngineOptions = std::vector<std::pair<std::string, std::string>>;

// Converts `input` into `output` with `options` set before the output; the error message, or empty
// when the run finished without one.
std::string ConvertWithEngine(const std::string& input, const EngineOptions& options,
                              const std::string& output);

} // namespace tarnel::test
