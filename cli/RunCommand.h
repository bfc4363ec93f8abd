// "tarnel-cli run": one engine configured by the engine's command line.
#pragma once

#include "base/InputWatch.h"

#include <string>
#include <vector>

namespace tarnel::cli {

// Returns the process exit status: 0 on success, 1 with the engine's message on stderr on failure.
// An input that gives nothing for `timeoutSeconds` fails with "NAME: no answer within N s".
int RunEngine(const std::vector<std::string>& args, bool join,
              double timeoutSeconds = TInputWatch::kDefaultSeconds);

} // namespace tarnel::cli
