#include "FileAdmission.h"

#include <filesystem>
#include <fstream>

namespace tarnel {

namespace fs = std::filesystem;

std::string RefusalBeforeReading(const std::string& file) {
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (!fs::exists(status))
        return "does not exist";
    if (fs::is_directory(status))
        return "is a folder";
    if (!fs::is_regular_file(status) && !fs::is_fifo(status) && !fs::is_character_file(status))
        return "is not a file";
    if (fs::is_regular_file(status) && fs::file_size(file, error) == 0 && !error)
        return "is empty";
    if (fs::is_regular_file(status) && !std::ifstream(file, std::ios::binary))
        return "cannot be read";
    return {};
}

std::string NotMediaReason(const std::string& libraryMessage) {
    return libraryMessage.empty() ? "is not a media file" : "is not a media file (" + libraryMessage + ")";
}

std::string RefusalMessage(const std::vector<TRefusedFile>& refused) {
    if (refused.empty())
        return {};
    std::string text = "These files were not added:";
    for (const TRefusedFile& file : refused)
        text += "\n" + file.File + ": " + file.Reason;
    return text;
}

} // namespace tarnel
