// tarnel-cli convert --json: one JSON object per file, a line each, for schedulers and scripts.
#pragma once

#include "core/BatchSummary.h"

#include <cstdint>
#include <string>

namespace tarnel::cli {

struct TFileFacts {
    double Seconds = 0; // wall time of the file's conversion (with its measuring passes)
    double Speed = 0;   // media time converted per second of wall time; 0 when not known
    int64_t Size = -1;  // bytes of the output; -1 without one
};

// {"source":…,"output":…,"status":"finished"|"failed"|"skipped"|"stopped","reason":…,"seconds":…,
//  "speed":…,"size":…,"loudness":{…}|null,"quality":{…}|null} on one line, without the line break.
// Names that are not valid UTF-8 have each bad byte replaced by U+FFFD: the line is always JSON.
std::string FileResultJson(const TFileResult& result, const TFileFacts& facts);

} // namespace tarnel::cli
