#include "BatchSummary.h"

namespace tarnel {

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
        Skipped.push_back(result);
        break;
    }
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
           std::to_string(Failed.size() + Skipped.size()) + " failed";
}

} // namespace tarnel
