// Feeds arbitrary bytes to the engine as an input file and copies every stream into Matroska:
// opening, probing, the run's set-up, the main loop and the muxer all see hostile data.
#include "base/FFmpegLoader.h"
#include "base/FFmpegLogger.h"
#include "engine/FFmpeg.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

std::string ScratchName(const char* suffix) {
    return (std::filesystem::temp_directory_path() / ("tarnel-fuzz-" + std::to_string(getpid()) + suffix))
        .string();
}

bool WriteBytes(const std::string& fileName, const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(fileName.c_str(), "wb");
    if (!file)
        return false;
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

void CopyIntoMatroska(const std::string& input, const std::string& output) {
    using namespace tarnel;
    TCustomFFmpeg engine;
    engine.Reset();
    if (!engine.AddInputFile(input))
        return;
    engine.SetOption("vcodec", "copy");
    engine.SetOption("acodec", "copy");
    engine.SetOption("scodec", "copy");
    if (engine.AddOutputFile(output) < 0)
        return;
    engine.Start(false);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    av_log_set_level(AV_LOG_QUIET);
    tarnel::TFFLogger::Instance().SetLogLevel(tarnel::llQuiet);
    if (!tarnel::Loader().LoadSet(tarnel::kConverterLibraries))
        std::abort();
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string input = ScratchName(".in");
    static const std::string output = ScratchName(".mkv");
    if (!WriteBytes(input, data, size))
        return 0;
    try {
        CopyIntoMatroska(input, output);
    } catch (const std::exception&) {
        // Refused options or files are fine; only crashes and leaks are findings.
    }
    std::error_code ignored;
    std::filesystem::remove(output, ignored);
    return 0;
}
