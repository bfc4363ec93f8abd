// Feeds arbitrary bytes to the engine as an input file and copies every stream into Matroska:
// opening, probing, the run's set-up, the main loop and the muxer all see hostile data.
#include "FuzzSupport.h"
#include "engine/FFmpeg.h"

namespace {

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
    tarnel::fuzz::LoadQuietly(tarnel::kConverterLibraries);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarnel::fuzz;
    const std::string input = WriteScratchInput(data, size, ".in");
    const std::string output = ScratchName(".mkv");
    if (input.empty())
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
