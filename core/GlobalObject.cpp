#include "GlobalObject.h"

#include "IniFile.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <stdlib.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

#ifndef TARNEL_VERSION
#define TARNEL_VERSION "0.0.0"
#endif

namespace tarnel {

namespace fs = std::filesystem;

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string WithTrailingSlash(std::string path) {
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path;
}

std::string HomeFolder() {
    std::string home = Environment("HOME");
    if (home.empty())
        if (const passwd* entry = ::getpwuid(::getuid()))
            home = entry->pw_dir ? entry->pw_dir : "";
    return home;
}

// XDG_VIDEOS_DIR from user-dirs.dirs, a line such as XDG_VIDEOS_DIR="$HOME/Videos".
std::string VideosFromUserDirs(const std::string& home) {
    std::string config = Environment("XDG_CONFIG_HOME");
    if (config.empty())
        config = home + "/.config";
    std::ifstream in(config + "/user-dirs.dirs");
    std::string line;
    const std::string key = "XDG_VIDEOS_DIR=";
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) != 0)
            continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0)
            value = home + value.substr(5);
        if (!value.empty() && value.front() == '/')
            return value;
    }
    return {};
}

} // namespace

TGlobalObject::TGlobalObject()
    : helpUrl_("https://tarnel.org/help")
    , appTitle_("Tarnelix")
    , versionText_(" ver 1.80 ")
    , websiteUrl_("https://tarnel.org") {}

void TGlobalObject::SetHelpUrl(const std::string& value) {
    if (!value.empty())
        helpUrl_ = value;
}

void TGlobalObject::SetSettingsFile(const std::string& value) {
    if (value.size() > 3)
        settingsFile_ = value;
}

void TGlobalObject::SetProfileFile(const std::string& value) {
    if (value.size() > 3)
        profileFile_ = value;
}

void TGlobalObject::SetAppTitle(const std::string& value) {
    if (!value.empty())
        appTitle_ = value;
}

void TGlobalObject::SetVersionText(const std::string& value) {
    if (!value.empty())
        versionText_ = value;
}

void TGlobalObject::SetWebsiteUrl(const std::string& value) {
    if (!value.empty())
        websiteUrl_ = value;
}

std::string TGlobalObject::GetSpecialFolder(TSpecialFolder folder) {
    const std::string home = HomeFolder();
    switch (folder) {
    case TSpecialFolder::Settings: {
        std::string config = Environment("XDG_CONFIG_HOME");
        if (config.empty() || config.front() != '/') {
            if (home.empty())
                return {};
            config = home + "/.config";
        }
        return WithTrailingSlash(config) + "tarnel/";
    }
    case TSpecialFolder::Home:
        return WithTrailingSlash(home);
    case TSpecialFolder::Videos: {
        std::string videos = VideosFromUserDirs(home);
        if (videos.empty() && !home.empty())
            videos = home + "/Videos";
        return WithTrailingSlash(videos);
    }
    }
    return {};
}

bool TGlobalObject::IsFolderWritable(const std::string& folder) {
    if (folder.empty())
        return false;
    std::string pattern = WithTrailingSlash(folder) + "DAXXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return false;
    ::close(fd);
    return ::unlink(name.data()) == 0;
}

std::string TGlobalObject::GetLoginName() {
    if (const passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_name)
        return entry->pw_name;
    char name[254] = {};
    if (::getlogin_r(name, sizeof name) == 0)
        return name;
    return Environment("USER");
}

bool TGlobalObject::IsOnReadOnlyMedium(const std::string& folder) {
    constexpr long kIso9660Magic = 0x9660;
    constexpr long kUdfMagic = 0x15013346;
    struct statvfs volume {};
    if (::statvfs(folder.c_str(), &volume) == 0 && (volume.f_flag & ST_RDONLY))
        return true;
    struct statfs fileSystem {};
    if (::statfs(folder.c_str(), &fileSystem) != 0)
        return false;
    const long type = static_cast<long>(fileSystem.f_type);
    return type == kIso9660Magic || type == kUdfMagic;
}

std::string TGlobalObject::GetFileVersionText() {
    return GetFileVersionText(TARNEL_VERSION);
}

std::string TGlobalObject::GetFileVersionText(const std::string& version) {
    // major.minor.release.build; missing parts count as 0.
    std::string parts[4] = {"0", "0", "0", "0"};
    size_t start = 0;
    for (int i = 0; i < 4 && start <= version.size(); ++i) {
        const size_t dot = version.find('.', start);
        const std::string part =
            version.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (!part.empty())
            parts[i] = part;
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    return " " + parts[0] + "." + parts[1] + parts[2] + parts[3] + " ";
}

std::string TGlobalObject::RightChars(const std::string& text, size_t count) {
    return count >= text.size() ? text : text.substr(text.size() - count);
}

std::string TGlobalObject::DefaultOutputFolder() {
    const std::string videos = GetSpecialFolder(TSpecialFolder::Videos);
    return videos.empty() ? FallbackOutputFolder() : videos + "tarnelout";
}

std::string TGlobalObject::FallbackOutputFolder() {
    return GetSpecialFolder(TSpecialFolder::Home) + "tarnelout";
}

std::string TGlobalObject::ExecutableFolder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : WithTrailingSlash(exe.parent_path().string());
}

std::string TGlobalObject::ShippedDataFolder() {
    const std::string exeFolder = ExecutableFolder();
    const std::string candidates[] = {exeFolder + "data/", exeFolder + "../share/tarnel/"};
    for (const std::string& candidate : candidates) {
        std::error_code ec;
        if (fs::is_directory(candidate, ec))
            return fs::weakly_canonical(candidate, ec).string() + "/";
    }
    return {};
}

// Profiles a newer version ships are added to the user's copy; the profiles already there stay as
// they are.
void TGlobalObject::AddMissingProfiles(const std::string& target, const std::string& shipped) {
    std::error_code ec;
    if (!fs::exists(shipped, ec))
        return;
    TIniFile from(shipped);
    TIniFile to(target);
    for (const std::string& section : from.SectionNames()) {
        if (to.SectionExists(section))
            continue;
        for (const std::string& key : from.KeyNames(section))
            to.WriteString(section, key, from.ReadString(section, key, ""));
    }
}

std::string TGlobalObject::PrepareProfileFile(const std::string& settingsFolder, std::string& problem) {
    const std::string target = settingsFolder + kProfileFileName;
    const std::string shipped = ShippedDataFolder() + kProfileFileName;
    std::error_code ec;
    if (fs::exists(target, ec)) {
        AddMissingProfiles(target, shipped);
        return target;
    }
    if (!fs::exists(shipped, ec)) {
        problem = "The profile catalogue " + shipped + " is missing; profiles use their default values.";
        return target;
    }
    fs::create_directories(settingsFolder, ec);
    fs::copy_file(shipped, target, ec);
    if (!ec)
        return target;
    problem = "Cannot copy the profile catalogue to " + target + ": " + ec.message();
    return shipped;
}

} // namespace tarnel
