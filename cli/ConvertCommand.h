// tarnel-cli convert: files converted with an output profile of the catalogue, through the same
// settings, profile files and mapping as the desktop program.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace tarnel::cli {

struct ConvertOptions {
    int32_t profile = -1;
    std::string outputFolder; // empty: the desktop program's output folder
    double startSeconds = 0;
    double lengthSeconds = 0;        // 0: to the end
    std::string adjust;              // "B:C:S:X"; empty: the picture as it is
    std::string crop;                // "T:B:L:R" in source pixels; empty: the whole picture
    std::string zoom;                // full, lbox, pan or center; empty: the profile's own
    std::string audioTracks;         // first or all; empty: the profile's own
    std::vector<std::string> layers; // watermark layers, key=value lists
    int32_t jobs = 1;                // conversions side by side
    double timeoutSeconds = 30;      // how long an input may give nothing
    double loudness = 0;             // LUFS to normalise the sound to; 0: the profile's setting
    bool quality = false;            // measure PSNR and SSIM of each video output
    bool keepNames = false;          // "name.ext" without "_(new)", never overwriting a file
    bool skipExisting = false;       // a source whose output exists is skipped as done
    bool json = false;               // one JSON object per file on the output
    std::vector<std::string> files;
};

// 0 when every file converted (or was done before, with skipExisting), 1 when any failed or was
// skipped, 130 when stopped with Ctrl-C, 143 when stopped by a termination request.
int ConvertFiles(const ConvertOptions& options, std::ostream& out, std::ostream& errors);

} // namespace tarnel::cli
