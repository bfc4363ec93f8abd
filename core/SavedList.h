// The file list as it is saved between runs: every row with its tick, trim, crop, picture settings
// and watermark layers, in "tarnellist.ini" in the settings folder. Each save writes a new file and
// then puts it in place of the old one, so a crash or a kill leaves either list whole.
#pragma once

#include "FilesRecord.h"

#include <memory>
#include <string>
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

// False, with the reason in `error`, when the list could not be written; the old one stays.
bool SaveList(const std::string& path, const std::vector<std::pair<const TlvFilesRecord*, bool>>& rows,
              std::string& error);
TLoadedList LoadList(const std::string& path);

} // namespace tarnel
