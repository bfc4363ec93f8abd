// One INI file, read and written at the moment of use. Keys and sections are matched without
// regard to letter case, so "snapOutPutDir" written and "SnapOutPutDir" read reach one entry.
// Each read sees the file as it is on disk now; each write goes to disk at once. A write that
// cannot reach the disk is still kept in memory for this run, so no setting is lost while the
// program runs, and the failure is left in LastError.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tarnel {

class TIniFile {
public:
    explicit TIniFile(std::filesystem::path path);
    ~TIniFile();
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;

    const std::filesystem::path& Path() const { return path_; }

    std::string ReadString(const std::string& section, const std::string& key, const std::string& def);
    // The whole value as a 32-bit integer; `def` when missing or not an integer.
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def);
    // "0" and "false" are false, any other integer and "true" are true; `def` otherwise.
    bool ReadBool(const std::string& section, const std::string& key, bool def);
    bool ValueExists(const std::string& section, const std::string& key);
    bool SectionExists(const std::string& section);
    std::vector<std::string> SectionNames();
    std::vector<std::string> KeyNames(const std::string& section);

    bool WriteString(const std::string& section, const std::string& key, const std::string& value);
    bool WriteInteger(const std::string& section, const std::string& key, int32_t value);
    bool WriteBool(const std::string& section, const std::string& key, bool value);

    const std::string& LastError() const { return lastError_; }

private:
    struct Document;
    void Refresh();
    bool Save();

    std::filesystem::path path_;
    std::unique_ptr<Document> doc_;
    std::string lastError_;
};

// Text helpers shared by the readers of the two INI files.
std::string Trim(const std::string& text);
std::string LowerCase(const std::string& text);
// True when the whole text (no blanks around it) is a 32-bit integer; the value goes to `value`.
bool TryStrToInt(const std::string& text, int32_t& value);
// True when the whole text is a floating-point number.
bool TryStrToFloat(const std::string& text, double& value);

} // namespace tarnel
