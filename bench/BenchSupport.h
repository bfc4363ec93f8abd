// Helpers shared by the benchmarks: the median of repeated measurements, the resident size, CPU time
// from a resource usage record, and making longer inputs from the test clip with the engine.
#pragma once

#include "engine/FFmpeg.h"

extern "C" {
#include <libavutil/time.h>
}

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace tarnel::bench {

// A monotonic clock in seconds.
inline double Now() {
    return av_gettime_relative() / 1e6;
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The resident size of this process, in KiB (0 when it cannot be read).
inline long ResidentKiB() {
    long pages = 0, resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// User plus system time, in seconds.
inline double CpuSeconds(const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the configured engine into `part` and, once it finished without error, renames it to `path`,
// so that a run cut short never leaves a file that a later run would take as made.
inline std::string WriteOutput(TCustomFFmpeg& engine, const std::string& part, const std::string& path,
                               bool join) {
    if (engine.AddOutputFile(part, join) < 0)
        throw std::runtime_error(engine.LastError());
    engine.Start(false);
    if (engine.ErrorOccurred())
        throw std::runtime_error(engine.ErrorMessage());
    std::filesystem::rename(part, path);
    return path;
}

// `copies` of `clip` joined by stream copy into `folder`/`name` (kept for later runs).
inline std::string JoinClip(const std::filesystem::path& folder, const std::string& name,
                            const std::string& clip, int copies) {
    const std::string path = (folder / name).string();
    if (std::filesystem::exists(path))
        return path;
    const std::string part = (folder / ("part-" + name)).string();
    TCustomFFmpeg engine;
    engine.Reset();
    for (int i = 0; i < copies; ++i)
        if (!engine.AddInputFile(clip))
            throw std::runtime_error(engine.LastError());
    engine.SetOption("vcodec", "copy");
    engine.SetOption("acodec", "copy");
    return WriteOutput(engine, part, path, true);
}

// `source` scaled to 1920 × 1080 with libx264 veryfast + AAC, cut to `seconds`, in `folder`/`name`
// (kept for later runs); with `gopFrames` > 0 one key frame every that many pictures and no extra
// ones at scene changes.
inline std::string MakeHd(const std::filesystem::path& folder, const std::string& name,
                          const std::string& source, int seconds, int gopFrames) {
    const std::string path = (folder / name).string();
    if (std::filesystem::exists(path))
        return path;
    const std::string part = (folder / ("part-" + name)).string();
    std::fprintf(stderr, "making %s (%d s of 1920x1080 H.264 + AAC)\n", path.c_str(), seconds);
    TCustomFFmpeg engine;
    engine.Reset();
    if (!engine.AddInputFile(source))
        throw std::runtime_error(engine.LastError());
    engine.SetOption("t", std::to_string(seconds));
    engine.SetOption("s", "1920x1080");
    engine.SetOption("vcodec", "libx264");
    engine.SetOption("preset", "veryfast");
    if (gopFrames > 0) {
        engine.SetOption("g", std::to_string(gopFrames));
        engine.SetOption("sc_threshold", "0");
    }
    engine.SetOption("acodec", "aac");
    engine.SetOption("ar", "48000");
    engine.SetOption("ac", "2");
    return WriteOutput(engine, part, path, false);
}

} // namespace tarnel::bench
