#include "JsonReports.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace tarnel::cli {

namespace {

using nlohmann::json;

const char* StatusOf(TFileOutcome outcome) {
    switch (outcome) {
    case TFileOutcome::Converted:
        return "finished";
    case TFileOutcome::Failed:
        return "failed";
    case TFileOutcome::Stopped:
        return "stopped";
    case TFileOutcome::Skipped:
        break;
    }
    return "skipped";
}

json LoudnessJson(const TFileResult& result) {
    if (result.LoudnessTarget == 0 || result.Loudness.Verdict == TLoudnessVerdict::NoSound)
        return nullptr;
    json loudness{{"target", result.LoudnessTarget}};
    switch (result.Loudness.Verdict) {
    case TLoudnessVerdict::Measured:
        loudness["verdict"] = "measured";
        loudness["source"] = result.Loudness.Integrated;
        loudness["range"] = result.Loudness.Range;
        loudness["true_peak"] = result.Loudness.TruePeak;
        loudness["output"] = result.Loudness.Reached;
        break;
    case TLoudnessVerdict::Silent:
        loudness["verdict"] = "silent";
        break;
    default:
        loudness["verdict"] = "too short";
        break;
    }
    return loudness;
}

json QualityJson(const TFileResult& result) {
    if (!result.QualityError.empty())
        return json{{"error", result.QualityError}};
    if (!result.QualityMeasured || !result.Quality.HasVideo)
        return nullptr;
    const TQualityReport& quality = result.Quality;
    // Identical pictures have an infinite PSNR, which JSON cannot hold.
    return json{{"psnr", std::isinf(quality.Psnr) ? json(nullptr) : json(quality.Psnr)},
                {"identical", std::isinf(quality.Psnr)},
                {"ssim", quality.Ssim},
                {"pictures", quality.ComparedPictures},
                {"source_pictures", quality.SourcePictures},
                {"by_timestamp", quality.ByTimestamp}};
}

} // namespace

std::string FileResultJson(const TFileResult& result, const TFileFacts& facts) {
    const json line{{"source", result.File},
                    {"output", result.Output.empty() ? json(nullptr) : json(result.Output)},
                    {"status", StatusOf(result.Outcome)},
                    {"reason", result.Message.empty() ? json(nullptr) : json(result.Message)},
                    {"seconds", std::round(facts.Seconds * 1000) / 1000},
                    {"speed", std::round(facts.Speed * 100) / 100},
                    {"size", facts.Size >= 0 ? json(facts.Size) : json(nullptr)},
                    {"loudness", LoudnessJson(result)},
                    {"quality", QualityJson(result)}};
    return line.dump(-1, ' ', false, json::error_handler_t::replace);
}

} // namespace tarnel::cli
