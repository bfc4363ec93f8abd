#include "BatchPlan.h"

#include "BatchSummary.h"
#include "FilesRecord.h"
#include "MainSettings.h"
#include "OutputNaming.h"
#include "ProfileFile.h"
#include "StreamChoices.h"

#include <filesystem>

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

TBatchPlan BuildBatch(TCustomFFConverter& converter, const std::vector<TBatchRow>& rows, int32_t code,
                      TMappingContext& context) {
    TBatchPlan plan;
    converter.ClearTasks();
    TAVProbe& probe = converter.Probe();
    for (const TBatchRow& row : rows) {
        if (!row.Checked)
            continue;
        TlvFilesRecord& record = *row.Record;
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
        const std::string destination =
            MakeOutputFileName(probe.FileName(), extension, context.Settings, context.Services, plan.Outputs);
        record.Zoom = context.Settings.ProfileZoom(code);

        TOutputOptions output;
        InitOutputOptions(output);
        output.FileName = destination;
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
        if (!converter.SetOutputFile(task, destination, &output)) {
            plan.Skipped.push_back(
                {row.Index, record.SourceFile, FileReason(record.SourceFile, converter.LastError())});
            converter.RemoveTask(task);
            continue;
        }
        plan.TaskRows.push_back(row.Index);
        plan.Outputs.push_back(destination);
    }
    return plan;
}

void RemoveUnfinishedOutput(const TBatchPlan& plan, const TTerminateInfo& info) {
    if ((info.Finished && !info.Failed) || info.TaskIndex < 0 ||
        static_cast<size_t>(info.TaskIndex) >= plan.Outputs.size())
        return;
    std::error_code ignored;
    std::filesystem::remove(plan.Outputs[static_cast<size_t>(info.TaskIndex)], ignored);
}

std::string SkippedFilesText(const TBatchPlan& plan) {
    std::string text;
    for (const TBatchSkip& skip : plan.Skipped)
        text += (text.empty() ? "" : "\n") + skip.Reason;
    return text;
}

} // namespace tarnel
