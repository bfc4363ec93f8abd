// "tarnel-cli probe FILE...": the information text of each file.
#pragma once

#include "base/InputWatch.h"

#include <ostream>
#include <string>
#include <vector>

namespace tarnel::cli {

// Writes each file's information text to `out`, one blank line between files. A file that cannot
// be opened gets the probe's error on `errors` and makes the result 1; the others are still
// written. Returns 0 when every file was described. An input that gives nothing for
// `timeoutSeconds` fails with "NAME: no answer within N s".
int ProbeFiles(const std::vector<std::string>& files, std::ostream& out, std::ostream& errors,
               double timeoutSeconds = TInputWatch::kDefaultSeconds);

} // namespace tarnel::cli
