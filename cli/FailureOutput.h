// Failures reach the terminal once. The libraries log an error line as it happens, and the command
// then reports the engine's error, which is often the very same text.
#pragma once

#include <ostream>
#include <string>

namespace tarnel::cli {

// An error line the log has already written to the terminal.
void NoteLoggedError(const std::string& line);
// Writes `message` and a line end, unless the log already wrote exactly this line.
void PrintFailure(std::ostream& errors, const std::string& message);

} // namespace tarnel::cli
