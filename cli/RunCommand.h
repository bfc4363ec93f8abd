// "tarnel-cli run": one engine configured by the engine's command line.
#pragma once

#include <string>
#include <vector>

namespace tarnel::cli {

// Returns the process exit status: 0 on success, 1 with the engine's message on stderr on failure.
int RunEngine(const std::vector<std::string>& args, bool join);

} // namespace tarnel::cli
