// What the fuzz targets share: scratch files of their own under the temporary folder, and the
// libraries loaded once, quietly.
#pragma once

#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace tarnel::fuzz {

// A path under the temporary folder that belongs to this process.
inline std::string ScratchName(const std::string& suffix) {
    return (std::filesystem::temp_directory_path() / ("tarnel-fuzz-" + std::to_string(getpid()) + suffix))
        .string();
}

inline bool WriteBytes(const std::string& fileName, const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(fileName.c_str(), "wb");
    if (!file)
        return false;
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

// The input written to this process's scratch file with `suffix`: its name, or empty when it cannot
// be written.
inline std::string WriteScratchInput(const uint8_t* data, size_t size, const std::string& suffix) {
    const std::string name = ScratchName(suffix);
    return WriteBytes(name, data, size) ? name : std::string();
}

// Loads `libraries` with every log line switched off; a machine without them cannot fuzz at all.
inline void LoadQuietly(TLibrarySet libraries) {
    av_log_set_level(AV_LOG_QUIET);
    Logger().SetLogLevel(llQuiet);
    if (!Loader().LoadSet(libraries))
        std::abort();
    av_log_set_level(AV_LOG_QUIET);
}

} // namespace tarnel::fuzz
