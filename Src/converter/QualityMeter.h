// Measures how close a converted video is to its source: PSNR and SSIM, computed by the libraries'
// psnr and ssim filters on the output's pictures against the source's pictures put through the same
// turn, trim, crop, scale and filters the engine applied, at the output's size and pixel format.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tarnel {

struct TQualityJob {
    std::string Source;
    std::string Output;
    int64_t StartUs = 0;     // the part of the source that was converted, from the file's start
    int64_t DurationUs = -1; // -1: to the end
    // The engine's crop, in pixels of the upright source picture.
    int32_t CropTop = 0;
    int32_t CropBottom = 0;
    int32_t CropLeft = 0;
    int32_t CropRight = 0;
    int32_t Width = 0; // the size the engine scaled to before the filter text; 0: no scale
    int32_t Height = 0;
    std::string VideoFilters;   // the conversion's own filter text
    bool AutoRotate = true;     // the engine turned the source upright by its display matrix
    double TimeoutSeconds = 30; // how long an input may give nothing
};

struct TQualityReport {
    bool HasVideo = false; // false: the output or the source has no video, and there are no figures
    bool Stopped = false;  // the progress callback asked to stop; the figures cover what was compared
    double Psnr = 0;       // dB over all planes, from the mean squared error; +infinity when identical
    double Ssim = 0;       // the mean of the per-picture "All" values
    int ComparedPictures = 0;
    int SourcePictures = 0; // source pictures read within the trim, up to the output's end
    int OutputPictures = 0;
    // The counts differ: each output picture was compared with the source picture shown at its time.
    bool ByTimestamp = false;
};

// Reads both files to the output's end. `progress` (may be empty) gets the fraction of the output
// compared so far; returning false stops the measurement, which then returns with Stopped set.
// Throws FFmpegException when a file cannot be read or decoded, or the filters cannot be set up.
TQualityReport MeasureQuality(const TQualityJob& job, const std::function<bool(double fraction)>& progress);

// "PSNR 41.2 dB, SSIM 0.982", "PSNR ∞ (identical), SSIM 1.000", with the picture counts when the
// pictures were paired by time; empty without video or when stopped.
std::string QualityText(const TQualityReport& report);

} // namespace tarnel
