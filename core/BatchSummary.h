// What a batch run did with each file: converted, failed, stopped or skipped, with what went wrong.
#pragma once

#include "converter/LoudnessMeter.h"
#include "converter/QualityMeter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarnel {

enum class TFileOutcome { Converted, Failed, Stopped, Skipped };

struct TFileResult {
    TFileOutcome Outcome = TFileOutcome::Converted;
    int32_t Row = -1;      // in the host's file list
    int32_t Task = -1;     // -1 for a skipped file: no task was made
    std::string File;      // the source
    std::string Output;    // empty for a skipped file
    std::string Message;   // what went wrong (it may name the file); empty when nothing did
    bool Existing = false; // skipped because its output exists already

    // The measuring passes of a converted file, when they ran.
    double LoudnessTarget = 0; // LUFS; 0: not normalised
    TLoudness Loudness;        // of the source
    bool QualityMeasured = false;
    TQualityReport Quality;
    std::string QualityError;

    // "file: what went wrong", naming the file once.
    std::string Reason() const;
    // "loudness -40.1 LUFS → -23 LUFS, PSNR 41.2 dB, SSIM 0.982"; empty when nothing was measured.
    std::string FiguresText() const;
};

// "file: message", or the message alone when it starts with the file's name already.
std::string FileReason(const std::string& file, const std::string& message);

struct TBatchSummary {
    // Each list in the order of the reports; the skipped files in row order.
    std::vector<TFileResult> Converted;
    std::vector<TFileResult> Failed;   // the output was removed
    std::vector<TFileResult> Stopped;  // the unfinished output was removed
    std::vector<TFileResult> Skipped;  // not converted: the reason says why
    std::vector<TFileResult> Existing; // skipped as done: the output exists already

    void Add(const TFileResult& result);
    // The reasons of the skipped, then of the failed, then of the stopped files, one a line; empty
    // when there is none.
    std::string ProblemsText() const;
    // "3 files converted, 1 failed", with ", 2 done before" when outputs existed already; skipped
    // files count as failed.
    std::string CountsText() const;
    // "file: figures" for each converted file that has any, one a line; empty when none has.
    std::string FiguresText() const;
};

} // namespace tarnel
