#include "FailureOutput.h"

#include <mutex>
#include <set>

namespace tarnel::cli {

namespace {

std::mutex& LoggedMutex() {
    static std::mutex mutex;
    return mutex;
}

std::set<std::string>& LoggedErrors() {
    static std::set<std::string> lines;
    return lines;
}

} // namespace

void NoteLoggedError(const std::string& line) {
    std::lock_guard lock(LoggedMutex());
    LoggedErrors().insert(line);
}

void PrintFailure(std::ostream& errors, const std::string& message) {
    {
        std::lock_guard lock(LoggedMutex());
        if (LoggedErrors().count(message) != 0)
            return;
    }
    errors << message << "\n";
}

} // namespace tarnel::cli
