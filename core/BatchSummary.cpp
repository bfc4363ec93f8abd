#include "BatchSummary.h"

#include "base/FFUtils.h"

#include <cmath>
#include <filesystem>

namespace tarnel {

namespace {

std::string LoudnessFigures(const TFileResult& result) {
    switch (result.Loudness.Verdict) {
    case TLoudnessVerdict::Measured:
        // Limiting the peaks to the ceiling can keep a loud target out of reach.
        if (std::fabs(result.Loudness.Reached - result.LoudnessTarget) > 1.0)
            return Format("loudness %.1f LUFS \u2192 %.1f LUFS (%g LUFS would take the peaks above %g dBTP)",
                          result.Loudness.Integrated, result.Loudness.Reached, result.LoudnessTarget,
                          kTruePeakCeiling);
        return Format("loudness %.1f LUFS \u2192 %g LUFS", result.Loudness.Integrated, result.LoudnessTarget);
    case TLoudnessVerdict::Silent:
        return "loudness: silent, left as it is";
    case TLoudnessVerdict::TooShort:
        return "loudness: too short to measure (under 400 ms of sound), left as it is";
    case TLoudnessVerdict::NoSound:
        break;
    }
    return {};
}

std::string QualityFigures(const TFileResult& result) {
    if (!result.QualityError.empty())
        return "quality not measured: " + result.QualityError;
    return result.QualityMeasured ? QualityText(result.Quality) : std::string();
}

} // namespace

std::string FileReason(const std::string& file, const std::string& message) {
    return message.rfind(file, 0) == 0 ? message : file + ": " + message;
}

std::string TFileResult::Reason() const {
    return FileReason(File, Message);
}

void TBatchSummary::Add(const TFileResult& result) {
    switch (result.Outcome) {
    case TFileOutcome::Converted:
        Converted.push_back(result);
        break;
    case TFileOutcome::Failed:
        Failed.push_back(result);
        break;
    case TFileOutcome::Stopped:
        Stopped.push_back(result);
        break;
    case TFileOutcome::Skipped:
        (result.Existing ? Existing : Skipped).push_back(result);
        break;
    }
}

std::string TFileResult::FiguresText() const {
    std::string text = LoudnessTarget != 0 ? LoudnessFigures(*this) : std::string();
    const std::string quality = QualityFigures(*this);
    if (!quality.empty())
        text += (text.empty() ? "" : ", ") + quality;
    return text;
}

std::string TBatchSummary::FiguresText() const {
    std::string text;
    for (const TFileResult& result : Converted) {
        const std::string figures = result.FiguresText();
        if (!figures.empty())
            text += (text.empty() ? "" : "\n") + std::filesystem::path(result.File).filename().string() +
                    ": " + figures;
    }
    return text;
}

std::string TBatchSummary::ProblemsText() const {
    std::string text;
    for (const auto* list : {&Skipped, &Failed, &Stopped})
        for (const TFileResult& result : *list)
            text += (text.empty() ? "" : "\n") + result.Reason();
    return text;
}

std::string TBatchSummary::CountsText() const {
    return std::to_string(Converted.size()) + " files converted, " +
           std::to_string(Failed.size() + Skipped.size()) + " failed" +
           (Existing.empty() ? "" : ", " + std::to_string(Existing.size()) + " done before");
}

} // namespace tarnel
