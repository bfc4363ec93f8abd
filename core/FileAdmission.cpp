#include "FileAdmission.h"

#include "FolderScan.h"
#include "converter/FFConverter.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace tarnel {

namespace fs = std::filesystem;

std::string RefusalBeforeReading(const std::string& file) {
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (!fs::exists(status))
        return "does not exist";
    if (fs::is_directory(status))
        return "is a folder";
    if (!fs::is_regular_file(status) && !fs::is_fifo(status) && !fs::is_character_file(status))
        return "is not a file";
    if (fs::is_regular_file(status) && fs::file_size(file, error) == 0 && !error)
        return "is empty";
    if (fs::is_regular_file(status) && !std::ifstream(file, std::ios::binary))
        return "cannot be read";
    return {};
}

std::string NotMediaReason(const std::string& libraryMessage) {
    return libraryMessage.empty() ? "is not a media file" : "is not a media file (" + libraryMessage + ")";
}

namespace {

// The file's length when it opens as media, else its reason in `reason`.
bool ReadAsMedia(const std::string& file, TFFConverter& converter, int32_t& lengthSeconds,
                 std::string& reason) {
    reason = RefusalBeforeReading(file);
    if (!reason.empty())
        return false;
    TInputOptions input;
    input.FileName = file;
    const int task = converter.AddTask(file, &input);
    if (task < 0) {
        // The library's text names the file first; the message names it already.
        std::string message = converter.LastError();
        if (message.rfind(file + ": ", 0) == 0)
            message.erase(0, file.size() + 2);
        reason = NotMediaReason(message);
        return false;
    }
    TAVProbe* probe = converter.InputProbe(task, 0);
    TFileStreamInfo info;
    if (probe && probe->FileStreamInfo(info))
        lengthSeconds = static_cast<int32_t>(info.Duration / 1000000);
    // A text file the libraries take for lyrics or subtitles holds nothing a profile converts.
    bool soundOrPictures = false;
    if (probe)
        for (const TStreamSummary& stream : probe->Streams())
            soundOrPictures =
                soundOrPictures || stream.Type == AVMEDIA_TYPE_AUDIO || stream.Type == AVMEDIA_TYPE_VIDEO;
    converter.RemoveTask(task);
    converter.ClearTasks();
    if (!soundOrPictures) {
        reason = "has no sound or pictures";
        return false;
    }
    return true;
}

} // namespace

TAdmission AdmitFiles(const std::vector<std::string>& names, const std::vector<std::string>& listed,
                      TFFConverter& converter, const std::atomic<bool>& cancel,
                      TAdmissionProgress& progress) {
    TAdmission admission;
    std::vector<std::string> seen = listed;
    const auto admit = [&](const std::string& file) {
        if (std::find(seen.begin(), seen.end(), file) != seen.end()) {
            admission.Refused.push_back({file, "is in the list already"});
            return;
        }
        int32_t length = 0;
        std::string reason;
        ++progress.Checked;
        if (!ReadAsMedia(file, converter, length, reason)) {
            admission.Refused.push_back({file, reason});
            return;
        }
        seen.push_back(file);
        admission.Admitted.push_back({file, length});
    };

    // Folders are scanned first, so that the progress knows how many files there are to read.
    std::vector<std::vector<std::string>> contents(names.size());
    std::vector<bool> folder(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        std::error_code error;
        folder[i] = fs::is_directory(names[i], error);
    }
    for (size_t i = 0; i < names.size() && !cancel; ++i) {
        if (!folder[i])
            continue;
        const size_t before = progress.Found;
        std::vector<std::string> unreadable;
        contents[i] = FilesInFolder(
            names[i],
            [&](size_t found) {
                progress.Found = before + found;
                return !cancel;
            },
            &unreadable);
        for (const std::string& locked : unreadable)
            admission.Refused.push_back({locked, "cannot be read"});
    }
    size_t total = 0;
    for (size_t i = 0; i < names.size(); ++i)
        total += folder[i] ? contents[i].size() : 1;
    progress.Total = total;

    for (size_t i = 0; i < names.size() && !cancel; ++i) {
        if (!folder[i]) {
            admit(names[i]);
            continue;
        }
        if (contents[i].empty())
            admission.Refused.push_back({names[i], "has nothing to convert"});
        for (size_t f = 0; f < contents[i].size() && !cancel; ++f)
            admit(contents[i][f]);
    }
    admission.Cancelled = cancel;
    return admission;
}

std::string RefusalMessage(const std::vector<TRefusedFile>& refused) {
    if (refused.empty())
        return {};
    std::string text = "These files were not added:";
    for (const TRefusedFile& file : refused)
        text += "\n" + file.File + ": " + file.Reason;
    return text;
}

} // namespace tarnel
