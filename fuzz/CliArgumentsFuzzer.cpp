// Arbitrary command-line words, one per line, for tarnel-cli's own parsers: "run" splits them into
// options, inputs and outputs and sets every option on an engine (files are neither opened nor
// made); "convert" reads each word as a --adjust, --crop and --layer value.
#include "EngineArguments.h"
#include "FuzzSupport.h"
#include "LayerOptions.h"
#include "engine/FFmpeg.h"

#include <QGuiApplication>
#include <memory>

namespace {

std::vector<std::string> Words(const uint8_t* data, size_t size) {
    std::vector<std::string> words;
    std::string word;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    words.push_back(word);
    return words;
}

void SetEngineOptions(const std::vector<std::string>& words) {
    using namespace tarnel;
    std::vector<cli::EngineArgument> arguments;
    try {
        arguments = cli::ParseEngineArguments(words);
    } catch (const std::invalid_argument&) {
        return;
    }
    TCustomFFmpeg engine;
    engine.Reset();
    for (const cli::EngineArgument& argument : arguments) {
        if (argument.kind != cli::EngineArgument::Option)
            continue;
        try {
            engine.SetOption(argument.name, argument.value);
        } catch (const std::exception&) {
            // A refused option or value is reported to the user; only crashes are findings.
        }
    }
}

void ParseConvertValues(const std::vector<std::string>& words) {
    using namespace tarnel;
    for (const std::string& word : words) {
        TlvFilesRecord record;
        try {
            cli::ParseAdjust(word, record);
        } catch (const cli::OptionError&) {
        }
        try {
            cli::ParseCrop(word, record);
        } catch (const cli::OptionError&) {
        }
        try {
            record.WaterMarks.push_back(cli::ParseLayer(word));
        } catch (const cli::OptionError&) {
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    tarnel::fuzz::LoadQuietly(tarnel::kConverterLibraries);
    // Text layers measure their text with Qt's fonts.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static std::unique_ptr<QGuiApplication> fonts = std::make_unique<QGuiApplication>(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> words = Words(data, size);
    SetEngineOptions(words);
    ParseConvertValues(words);
    return 0;
}
