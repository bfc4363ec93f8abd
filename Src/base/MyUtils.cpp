#include "base/MyUtils.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <unistd.h>

namespace tarnel {

namespace {

constexpr double kSecondsPerDay = 86400.0;
// Days from 30 December 1899 to 1 January 1970.
constexpr double kUnixEpochDays = 25569.0;

// The local zone's offset from UTC, in seconds, at the given moment.
int64_t LocalZoneOffsetSeconds(int64_t unixSeconds) {
    const std::time_t moment = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    if (!localtime_r(&moment, &local))
        return 0;
    return local.tm_gmtoff;
}

} // namespace

std::string SplitFirst(std::string& text, const std::string& delimiter, bool remove) {
    const size_t pos = delimiter.empty() ? std::string::npos : text.find(delimiter);
    if (pos == std::string::npos) {
        std::string head = text;
        if (remove)
            text.clear();
        return head;
    }
    std::string head = text.substr(0, pos);
    if (remove)
        text.erase(0, pos + delimiter.size());
    return head;
}

double LocalDateTimeFromUnix(int64_t seconds) {
    const double offsetDays = static_cast<double>(LocalZoneOffsetSeconds(seconds)) / kSecondsPerDay;
    return static_cast<double>(seconds) / kSecondsPerDay + kUnixEpochDays + offsetDays;
}

int64_t UnixFromLocalDateTime(double localDateTime) {
    const int64_t asUtc = std::llround((localDateTime - kUnixEpochDays) * kSecondsPerDay);
    // The offset belongs to the UTC moment we are looking for; a second look settles the moments
    // next to a daylight-saving change.
    int64_t result = asUtc - LocalZoneOffsetSeconds(asUtc);
    result = asUtc - LocalZoneOffsetSeconds(result);
    return result;
}

std::string ExtractFilePath(const std::string& fileName) {
    const size_t slash = fileName.rfind('/');
    return slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& fileName) {
    const size_t slash = fileName.rfind('/');
    return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
    if (path.empty() || path.back() == '/')
        return path;
    return path + '/';
}

bool FileExists(const std::string& fileName) {
    std::error_code error;
    const auto status = std::filesystem::status(fileName, error);
    return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

int64_t FileSize(const std::string& fileName) {
    // Only regular files have a size; access() asks about reading without opening, which would
    // block on a pipe.
    std::error_code error;
    if (!std::filesystem::is_regular_file(fileName, error) || ::access(fileName.c_str(), R_OK) != 0)
        return -1;
    const auto size = std::filesystem::file_size(fileName, error);
    return error ? -1 : static_cast<int64_t>(size);
}

std::string GetCurrentDir() {
    std::error_code error;
    const auto dir = std::filesystem::current_path(error);
    return error ? std::string() : dir.string();
}

bool SetCurrentDir(const std::string& dir) {
    std::error_code error;
    std::filesystem::current_path(dir, error);
    return !error;
}

std::string GetEnvironmentVariable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? value : std::string();
}

} // namespace tarnel
