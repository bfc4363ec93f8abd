#include "BatchPlan.h"

#include "BatchSummary.h"
#include "FilesRecord.h"
#include "MainSettings.h"
#include "OutputNaming.h"
#include "ProfileFile.h"
#include "StreamChoices.h"

#include <filesystem>
#include <memory>

namespace tarnel {

int32_t TBatchPlan::RowOfTask(int32_t task) const {
    return task >= 0 && static_cast<size_t>(task) < TaskRows.size() ? TaskRows[static_cast<size_t>(task)]
                                                                    : -1;
}

void ApplyPrioritySetting(TCustomFFConverter& converter, int32_t priority) {
    switch (priority) {
    case 0:
        converter.SetThreadPriority(tpIdle);
        break;
    case 1:
        converter.SetThreadPriority(tpNormal);
        break;
    case 2:
        converter.SetThreadPriority(tpLower);
        break;
    case 3:
        converter.SetThreadPriority(tpLowest);
        break;
    default:
        break;
    }
}

namespace {

// Claims the output of `source`; false with the reason when it cannot be written.
bool ClaimOutput(const std::string& source, const std::string& extension, TMappingContext& context,
                 const std::vector<std::string>& reserved, TOutputClaim& claim, std::string& refusal) {
    const std::string base = OutputBase(source, context.Settings, context.Services);
    std::string error;
    switch (ClaimOutputName(base, extension, context.KeepNames, reserved, claim, error)) {
    case TClaimResult::Claimed:
        return true;
    case TClaimResult::Exists:
        refusal = "its output " + base + extension + " exists already and is not overwritten";
        return false;
    case TClaimResult::Taken:
        refusal = "its output " + base + extension + " exists already (another conversion is writing it)";
        return false;
    case TClaimResult::Failed:
        break;
    }
    refusal = error;
    return false;
}

} // namespace

TBatchPlan BuildBatch(TCustomFFConverter& converter, const std::vector<TBatchRow>& rows, int32_t code,
                      TMappingContext& context) {
    TBatchPlan plan;
    converter.ClearTasks();
    TAVProbe& probe = converter.Probe();
    for (const TBatchRow& row : rows) {
        if (!row.Checked)
            continue;
        TlvFilesRecord& record = *row.Record;
        if (context.SkipExisting) {
            const std::string done =
                FirstOutputName(OutputBase(record.SourceFile, context.Settings, context.Services),
                                "." + context.Profiles.FileExt(code), context.KeepNames);
            if (std::filesystem::exists(done)) {
                plan.Skipped.push_back(
                    {row.Index, record.SourceFile,
                     FileReason(record.SourceFile, "its output " + done + " exists already"), true});
                continue;
            }
        }
        TInputOptions input;
        InitInputOptions(input);
        input.FileName = record.SourceFile;
        if (!probe.Open(input.FileName)) {
            plan.Skipped.push_back(
                {row.Index, record.SourceFile, FileReason(record.SourceFile, probe.LastError())});
            continue;
        }
        input.ForceFormat = probe.ForcedFormat();
        if (record.TrimStart >= 0)
            input.StartTime = record.TrimStart;
        const std::string extension = "." + context.Profiles.FileExt(code);
        auto claim = std::make_shared<TOutputClaim>();
        std::string refusal;
        if (!ClaimOutput(probe.FileName(), extension, context, plan.Outputs, *claim, refusal)) {
            probe.Close();
            plan.Skipped.push_back({row.Index, record.SourceFile, FileReason(record.SourceFile, refusal)});
            continue;
        }
        const std::string destination = claim->Output();
        record.Zoom = context.Settings.ProfileZoom(code);

        TOutputOptions output;
        InitOutputOptions(output);
        output.FileName = claim->Partial();
        if (record.CropTop > 0 || record.CropLeft > 0 || record.CropBottom > 0 || record.CropRight > 0) {
            output.CropTop = record.CropTop;
            output.CropBottom = record.CropBottom;
            output.CropLeft = record.CropLeft;
            output.CropRight = record.CropRight;
        }
        if (record.TrimLength > 0)
            output.Duration = record.TrimLength;
        output.LoudnessTarget = context.Settings.Loudness(code);
        output.MeasureQuality = context.Settings.MeasureQuality();
        try {
            BuildTaskOptions(record, code, output, TSourceFacts::FromProbe(probe), input, context);
        } catch (const TSourceRefused& refused) {
            probe.Close();
            plan.Skipped.push_back(
                {row.Index, record.SourceFile, FileReason(record.SourceFile, refused.what())});
            continue;
        }
        probe.Close();

        const int task = converter.AddTask(input.FileName, &input);
        if (task < 0) {
            plan.Skipped.push_back(
                {row.Index, record.SourceFile, FileReason(record.SourceFile, converter.LastError())});
            continue;
        }
        output.CustomHook = record.NeedsFrameHook();
        if (!converter.SetOutputFile(task, claim->Partial(), &output)) {
            plan.Skipped.push_back(
                {row.Index, record.SourceFile, FileReason(record.SourceFile, converter.LastError())});
            converter.RemoveTask(task);
            continue;
        }
        plan.TaskRows.push_back(row.Index);
        plan.Outputs.push_back(destination);
        plan.Claims.push_back(std::move(claim));
    }
    return plan;
}

std::string SettleOutput(TBatchPlan& plan, const TTerminateInfo& info) {
    if (info.TaskIndex < 0 || static_cast<size_t>(info.TaskIndex) >= plan.Claims.size())
        return {};
    TOutputClaim& claim = *plan.Claims[static_cast<size_t>(info.TaskIndex)];
    if (!info.Finished || info.Failed) {
        claim.Abandon();
        return {};
    }
    std::string error;
    return claim.Commit(error) ? std::string() : error;
}

std::string SkippedFilesText(const TBatchPlan& plan) {
    std::string text;
    for (const TBatchSkip& skip : plan.Skipped)
        text += (text.empty() ? "" : "\n") + skip.Reason;
    return text;
}

} // namespace tarnel
