// Whether a file named for the list (chosen, dropped or given on the command line) can be tried as
// media, and the message that names every file that was not added with its reason.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnel {

class TFFConverter;

struct TRefusedFile {
    std::string File;
    std::string Reason; // "does not exist", "is empty", …
};

struct TAdmittedFile {
    std::string File;
    int32_t LengthSeconds = 0;
};

struct TAdmission {
    std::vector<TAdmittedFile> Admitted; // in the order given, folders' files in name order
    std::vector<TRefusedFile> Refused;
    bool Cancelled = false; // by `cancel`; what was found so far is in the lists
};

// How far an admission got, for a progress display on another thread.
struct TAdmissionProgress {
    std::atomic<size_t> Found{0};   // files found so far (folders being scanned)
    std::atomic<size_t> Total{0};   // files to read, once the folders are scanned
    std::atomic<size_t> Checked{0}; // files read so far
};

// Reads each named file, and every file in each named folder and its subfolders, with `converter`
// (whose libraries are loaded) as the list adds them: the files that open as media with their
// length, the others with their reason; a folder without files is refused as a whole. Files
// in `listed` are refused as already listed. Stops early once `cancel` is set. Runs on any thread.
TAdmission AdmitFiles(const std::vector<std::string>& names, const std::vector<std::string>& listed,
                      TFFConverter& converter, const std::atomic<bool>& cancel, TAdmissionProgress& progress);

// Why `file` cannot be added, before it is read as media; empty when it may be tried.
std::string RefusalBeforeReading(const std::string& file);
// The reason for a file the libraries cannot read as media, from their message.
std::string NotMediaReason(const std::string& libraryMessage);
// "These files were not added:" and one line per file with its reason; empty when none.
std::string RefusalMessage(const std::vector<TRefusedFile>& refused);

} // namespace tarnel
