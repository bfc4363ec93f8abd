#include "FolderScan.h"

#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace tarnel {

namespace fs = std::filesystem;

std::vector<std::string> FilesInFolder(const std::string& folder,
                                       const std::function<bool(size_t found)>& keepGoing,
                                       std::vector<std::string>* unreadable) {
    std::vector<std::string> files;
    std::error_code error;
    fs::recursive_directory_iterator entry(folder, error);
    if (error && unreadable)
        unreadable->push_back(folder);
    for (; !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
        std::error_code statusError;
        if (entry->is_directory(statusError) && !entry->is_symlink(statusError) &&
            ::access(entry->path().c_str(), R_OK | X_OK) != 0) {
            // Entering it would fail and end the whole scan.
            entry.disable_recursion_pending();
            if (unreadable)
                unreadable->push_back(entry->path().string());
        } else if (entry->is_regular_file(statusError)) {
            files.push_back(entry->path().string());
        }
        if (keepGoing && !keepGoing(files.size()))
            break;
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> ExpandFolders(const std::vector<std::string>& names,
                                       const std::function<bool(size_t found)>& keepGoing) {
    std::vector<std::string> files;
    for (const std::string& name : names) {
        std::error_code error;
        if (!fs::is_directory(name, error)) {
            files.push_back(name);
            continue;
        }
        const size_t before = files.size();
        const std::vector<std::string> inside =
            FilesInFolder(name, [&](size_t found) { return !keepGoing || keepGoing(before + found); });
        files.insert(files.end(), inside.begin(), inside.end());
    }
    return files;
}

} // namespace tarnel
