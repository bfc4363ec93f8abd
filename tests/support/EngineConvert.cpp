#include "EngineConvert.h"

#include "engine/FFmpeg.h"

namespace tarnel::test {

std::string ConvertWithEngine(const std::string& input, const EngineOptions& options,
                              const std::string& output) {
    TCustomFFmpeg engine;
    engine.Reset();
    if (!engine.AddInputFile(input))
        return "input: " + engine.LastError();
    for (const auto& [name, value] : options)
        engine.SetOption(name, value);
    if (engine.AddOutputFile(output) < 0)
        return "output: " + engine.LastError();
    engine.Start(false);
    if (engine.ErrorOccurred())
        return engine.ErrorMessage();
    return engine.IsFinished() ? std::string() : "not finished";
}

} // namespace tarnel::test
