// Whether a file named for the list (chosen, dropped or given on the command line) can be tried as
// media, and the message that names every file that was not added with its reason.
#pragma once

#include <string>
#include <vector>

namespace tarnel {

struct TRefusedFile {
    std::string File;
    std::string Reason; // "does not exist", "is empty", …
};

// Why `file` cannot be added, before it is read as media; empty when it may be tried.
std::string RefusalBeforeReading(const std::string& file);
// The reason for a file the libraries cannot read as media, from their message.
std::string NotMediaReason(const std::string& libraryMessage);
// "These files were not added:" and one line per file with its reason; empty when none.
std::string RefusalMessage(const std::vector<TRefusedFile>& refused);

} // namespace tarnel
