// The file list as it is saved between runs: every row with its tick, trim, crop, picture settings
// and watermark layers, in "tarnellist.ini" in the settings folder. Each save writes a new file and
// then puts it in place of the old one, so a crash or a kill leaves either list whole.
#pragma once

#include "FilesRecord.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarnel {

struct TSavedRow {
    std::unique_ptr<TlvFilesRecord> Record;
    bool Checked = true;
};

struct TLoadedList {
    std::vector<TSavedRow> Rows;
    // Empty when the list was read or there was none; else why it could not be read. The file is
    // then kept as KeptAs, beside where the next list is saved.
    std::string Problem;
    std::string KeptAs;
};

constexpr const char* kSavedListName = "tarnellist.ini";
constexpr int kSavedListVersion = 1;

using TListRows = std::vector<std::pair<const TlvFilesRecord*, bool>>; // each record and its tick

// The saved form of the rows.
std::string ListText(const TListRows& rows);
// Writes `text` as the list at `path`; false, with the reason in `error`, when it could not be
// written, and then the old list stays.
bool WriteListFile(const std::string& path, const std::string& text, std::string& error);
bool SaveList(const std::string& path, const TListRows& rows, std::string& error);
TLoadedList LoadList(const std::string& path);

// Saves the list on a thread of its own, so that writing and flushing it to the disk never holds
// up the caller: Save takes the rows' saved form at once, the newest form waiting replaces an
// older one, and destruction waits until the newest is written.
class TListSaver {
public:
    // `failed` is called on the saver's thread with the reason when a save fails.
    TListSaver(std::string path, std::function<void(const std::string&)> failed);
    ~TListSaver();
    TListSaver(const TListSaver&) = delete;
    TListSaver& operator=(const TListSaver&) = delete;

    void Save(const TListRows& rows);
    // Waits until every list handed over is written.
    void Flush();

private:
    void Run();

    const std::string path_;
    const std::function<void(const std::string&)> failed_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<std::string> waiting_; // guarded by mutex_
    bool writing_ = false;               // guarded by mutex_
    bool quit_ = false;                  // guarded by mutex_
    std::thread thread_;
};

} // namespace tarnel
