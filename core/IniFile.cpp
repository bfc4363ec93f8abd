#include "IniFile.h"

#define SI_NO_CONVERSION
#include <SimpleIni.h>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <tuple>

namespace tarnel {

namespace fs = std::filesystem;

struct TIniFile::Document {
    CSimpleIniA ini{true /* UTF-8 */, false /* multi-key */, false /* multi-line */};
    // What identifies the file version last loaded; a change reloads it.
    bool loaded = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec mtime{};
    // Writes that did not reach the disk; applied again after every reload.
    std::vector<std::tuple<std::string, std::string, std::string>> unsaved;
};

TIniFile::TIniFile(fs::path path)
    : path_(std::move(path))
    , doc_(std::make_unique<Document>()) {
    doc_->ini.SetSpaces(false); // "key=value", as other INI readers expect
}

TIniFile::~TIniFile() = default;

void TIniFile::Refresh() {
    struct stat st {};
    const bool exists = ::stat(path_.c_str(), &st) == 0;
    Document& d = *doc_;
    if (d.loaded && exists && st.st_dev == d.device && st.st_ino == d.inode && st.st_size == d.size &&
        st.st_mtim.tv_sec == d.mtime.tv_sec && st.st_mtim.tv_nsec == d.mtime.tv_nsec)
        return;
    if (d.loaded && !exists && d.size == -1)
        return;
    d.ini.Reset();
    d.size = -1;
    if (exists) {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        if (in.good() || in.eof()) {
            d.ini.LoadData(text.str());
            d.device = st.st_dev;
            d.inode = st.st_ino;
            d.size = st.st_size;
            d.mtime = st.st_mtim;
        }
    }
    d.loaded = true;
    for (const auto& [section, key, value] : d.unsaved)
        d.ini.SetValue(section.c_str(), key.c_str(), value.c_str());
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) {
    Refresh();
    const char* value = doc_->ini.GetValue(section.c_str(), key.c_str(), nullptr);
    return value ? std::string(value) : def;
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key, int32_t def) {
    int32_t value = 0;
    return TryStrToInt(ReadString(section, key, ""), value) ? value : def;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) {
    const std::string text = LowerCase(Trim(ReadString(section, key, "")));
    int32_t value = 0;
    if (TryStrToInt(text, value))
        return value != 0;
    if (text == "true")
        return true;
    if (text == "false")
        return false;
    return def;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) {
    Refresh();
    return doc_->ini.GetValue(section.c_str(), key.c_str(), nullptr) != nullptr;
}

bool TIniFile::SectionExists(const std::string& section) {
    Refresh();
    return doc_->ini.GetSectionSize(section.c_str()) >= 0;
}

std::vector<std::string> TIniFile::SectionNames() {
    Refresh();
    CSimpleIniA::TNamesDepend sections;
    doc_->ini.GetAllSections(sections);
    sections.sort(CSimpleIniA::Entry::LoadOrder());
    std::vector<std::string> names;
    for (const auto& entry : sections)
        names.emplace_back(entry.pItem);
    return names;
}

std::vector<std::string> TIniFile::KeyNames(const std::string& section) {
    Refresh();
    CSimpleIniA::TNamesDepend keys;
    doc_->ini.GetAllKeys(section.c_str(), keys);
    keys.sort(CSimpleIniA::Entry::LoadOrder());
    std::vector<std::string> names;
    for (const auto& entry : keys)
        names.emplace_back(entry.pItem);
    return names;
}

bool TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    Refresh();
    doc_->ini.SetValue(section.c_str(), key.c_str(), value.c_str());
    if (Save())
        return true;
    doc_->unsaved.emplace_back(section, key, value);
    return false;
}

bool TIniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
    return WriteString(section, key, std::to_string(value));
}

bool TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    return WriteString(section, key, value ? "1" : "0");
}

// Writes the whole file next to itself and renames it into place, so that a crash or a full disk
// never leaves half a settings file behind.
bool TIniFile::Save() {
    std::string text;
    if (doc_->ini.Save(text) < 0) {
        lastError_ = "Cannot format the settings of " + path_.string();
        return false;
    }
    std::error_code ec;
    if (path_.has_parent_path())
        fs::create_directories(path_.parent_path(), ec);
    const fs::path temporary = path_.string() + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            lastError_ = "Cannot write " + path_.string() + ": " + std::strerror(errno);
            out.close();
            fs::remove(temporary, ec);
            return false;
        }
    }
    fs::rename(temporary, path_, ec);
    if (ec) {
        lastError_ = "Cannot write " + path_.string() + ": " + ec.message();
        fs::remove(temporary, ec);
        return false;
    }
    doc_->unsaved.clear();
    doc_->loaded = false; // the next read picks up the file just written
    lastError_.clear();
    return true;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string LowerCase(const std::string& text) {
    std::string lower = text;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

bool TryStrToInt(const std::string& text, int32_t& value) {
    if (text.empty())
        return false;
    const char* first = text.data();
    const char* last = first + text.size();
    if (*first == '+')
        ++first;
    int32_t parsed = 0;
    const auto [end, ec] = std::from_chars(first, last, parsed);
    if (ec != std::errc() || end != last)
        return false;
    value = parsed;
    return true;
}

// Locale-independent: the Qt shell sets the user's locale, whose decimal comma must not change how
// "29.97" in a settings file reads.
bool TryStrToFloat(const std::string& text, double& value) {
    if (text.empty())
        return false;
    const char* first = text.data();
    const char* last = first + text.size();
    if (*first == '+')
        ++first;
    double parsed = 0;
    const auto [end, ec] = std::from_chars(first, last, parsed);
    if (ec != std::errc() || end != last || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

} // namespace tarnel
