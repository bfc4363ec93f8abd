// A batch run's tasks: one conversion task per ticked row of the file list, in row order, built
// with the current profile; rows whose file can no longer be opened are skipped and named.
#pragma once

#include "OutputClaim.h"
#include "TaskOptionsBuilder.h"
#include "converter/FFConverter.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarnel {

struct TlvFilesRecord;

struct TBatchRow {
    int32_t Index = 0; // in the file list
    TlvFilesRecord* Record = nullptr;
    bool Checked = false;
};

struct TBatchSkip {
    int32_t Row = 0;
    std::string File;
    std::string Reason;    // names the file
    bool Existing = false; // its output exists already (a re-run skips what is done)
};

struct TBatchPlan {
    std::vector<int32_t> TaskRows;    // the row of each task
    std::vector<std::string> Outputs; // the output file of each task
    // The claim on each task's output: the task writes the partial file, which takes the output's
    // name when the task has finished. A claim that goes unfinished removes its partial file.
    std::vector<std::shared_ptr<TOutputClaim>> Claims;
    std::vector<TBatchSkip> Skipped;

    // The file-list row of a task; -1 for an index outside the run.
    int32_t RowOfTask(int32_t task) const;
};

// The thread priority of the conversions from the settings' "priority": 0 idle, 1 normal, 2 lower,
// 3 lowest; other values leave the component's priority as it is.
void ApplyPrioritySetting(TCustomFFConverter& converter, int32_t priority);

// Clears the component's tasks and adds one per ticked row, converted with profile `code`. Errors
// of the profile's values (std::invalid_argument) are not caught: the tasks made so far stay until
// the next ClearTasks.
TBatchPlan BuildBatch(TCustomFFConverter& converter, const std::vector<TBatchRow>& rows, int32_t code,
                      TMappingContext& context);

// A task's end for its output: a finished task's output takes its name, the partial file of a task
// that failed or was stopped is removed. Returns what went wrong giving the name (empty when
// nothing did, or the task did not finish).
std::string SettleOutput(TBatchPlan& plan, const TTerminateInfo& info);

// One line naming the files that were skipped and why; empty when none was.
std::string SkippedFilesText(const TBatchPlan& plan);

} // namespace tarnel
