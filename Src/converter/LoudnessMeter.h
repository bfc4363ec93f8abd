// EBU R128 loudness of a source's sound (the libraries' ebur128 meter over the decoded audio of the
// part that is converted), and the gain that brings it to a target loudness without letting the
// true peak rise above the ceiling.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tarnel {

constexpr double kLoudnessTargetLow = -70.0; // LUFS, the range a target may take
constexpr double kLoudnessTargetHigh = -5.0;
constexpr double kTruePeakCeiling = -1.0; // dBTP, the highest true peak a normalised output may reach

struct TLoudnessJob {
    std::string Source;
    int64_t StartUs = 0;        // the converted part of the source
    int64_t DurationUs = -1;    // -1: to the end
    double TimeoutSeconds = 30; // how long the source may give nothing
};

enum class TLoudnessVerdict {
    Measured, // the figures hold
    NoSound,  // the source has no audio stream
    Silent,   // silence (or nothing above the meter's gate): no gain is applied
    TooShort, // less sound than the 400 ms the meter needs for a figure
};

struct TLoudness {
    TLoudnessVerdict Verdict = TLoudnessVerdict::NoSound;
    double Integrated = 0; // LUFS
    double Range = 0;      // LU
    double TruePeak = 0;   // dBTP, the highest of the channels
    double Seconds = 0;    // of sound measured
    int SampleRate = 0;    // of the decoded sound
    double Reached = 0;    // LUFS after the gain, when a gain was set
};

// Called with the measured share (0…1); returns false to stop the measurement.
using TMeasureProgress = std::function<bool(double fraction)>;

// Throws FFmpegException when the source cannot be read, and when `progress` stops it (the text
// is then "stopped"). `filters` (an audio filter text) are applied before the meter.
TLoudness MeasureLoudness(const TLoudnessJob& job, const TMeasureProgress& progress = {},
                          const std::string& filters = {});

// The audio filter text that takes `measured` to `targetLufs` with its true peak at or below the
// ceiling: a plain gain when that keeps the peak below it, else the gain followed by a limiter on
// the sound oversampled four times. Empty when nothing was measured (no gain for silence).
std::string LoudnessFilter(const TLoudness& measured, double targetLufs);
struct TNormalisation {
    std::string Filter;
    double Reached = 0; // LUFS the output measures at: the target, unless limiting kept it below
};
// LoudnessFilter, and when it limits, the gain corrected by measuring the limited sound again (up to
// five more passes over the source), since limiting lowers the loudness.
TNormalisation NormalisationFilter(const TLoudnessJob& job, const TLoudness& measured, double targetLufs,
                                   const TMeasureProgress& progress = {});

// "-14.2 LUFS, true peak -3.1 dBTP" / "silent" / "too short to measure" / "" (no sound).
std::string LoudnessText(const TLoudness& measured);

} // namespace tarnel
