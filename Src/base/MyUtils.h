// Plain helpers shared by the media components: text splitting, local date-times and file names.
#pragma once

#include <cstdint>
#include <string>

namespace tarnel {

// The part of `text` before the first `delimiter`, or all of it when there is none (or the
// delimiter is empty). With `remove`, `text` keeps only what follows the delimiter (empty when
// there is none).
std::string SplitFirst(std::string& text, const std::string& delimiter, bool remove);

// Unix seconds → local date-time counted in days since 30 December 1899 (fractions are the time
// of day), using the local zone's offset from UTC at that moment.
double LocalDateTimeFromUnix(int64_t seconds);
// The reverse: local date-time → Unix seconds, rounded to whole seconds.
int64_t UnixFromLocalDateTime(double localDateTime);

// Folder part of a file name, up to and including the last "/" (empty when there is none).
std::string ExtractFilePath(const std::string& fileName);
// The part after the last "/".
std::string ExtractFileName(const std::string& fileName);
// `path` ending in "/"; an empty path stays empty (it stands for the current folder, not the root).
std::string IncludeTrailingPathDelimiter(const std::string& path);

// True for an existing file (following links); false for folders and missing names.
bool FileExists(const std::string& fileName);
// Size in bytes; -1 when the file does not exist, is a folder or cannot be read.
int64_t FileSize(const std::string& fileName);

// Empty when the current folder cannot be read.
std::string GetCurrentDir();
bool SetCurrentDir(const std::string& dir);

// The variable's value, empty when it is not set.
std::string GetEnvironmentVariable(const std::string& name);

} // namespace tarnel
