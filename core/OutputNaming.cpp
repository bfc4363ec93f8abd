#include "OutputNaming.h"

#include "GlobalObject.h"
#include "MainSettings.h"
#include "ShellServices.h"

#include <algorithm>
#include <filesystem>

namespace tarnel {

namespace fs = std::filesystem;

namespace {

bool FolderExistsOrCreated(const std::string& folder) {
    std::error_code ec;
    if (fs::is_directory(folder, ec))
        return true;
    fs::create_directories(folder, ec);
    return fs::is_directory(folder, ec);
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

} // namespace

std::string FreeOutputName(const std::string& base, const std::string& suffix,
                           const std::vector<std::string>& reserved) {
    const auto taken = [&](const std::string& name) {
        return FileExists(name) || std::find(reserved.begin(), reserved.end(), name) != reserved.end();
    };
    std::string candidate = base + "_(new)" + suffix;
    for (int n = 1; taken(candidate); ++n)
        candidate = base + "_(new_" + std::to_string(n) + ")" + suffix;
    return candidate;
}

std::string FolderOrDefault(const std::string& folder, const std::function<void(const std::string&)>& store,
                            TShellServices& services) {
    std::string usable = folder;
    if (!FolderExistsOrCreated(usable)) {
        const std::string fallback = TGlobalObject::DefaultOutputFolder();
        services.ShowMessage("Cannot create output directory:" + folder +
                                 ".It will create default directory " + fallback + "!",
                             "Warning", TMessageIcon::Warning);
        FolderExistsOrCreated(fallback);
        store(fallback);
        usable = fallback;
    }
    if (usable.empty() || usable.back() != '/')
        usable += '/';
    return usable;
}

std::string MakeOutputFileName(const std::string& sourceFile, const std::string& suffix,
                               TMainSettings& settings, TShellServices& services,
                               const std::vector<std::string>& reserved) {
    const std::string folder = FolderOrDefault(
        settings.OutputFolder(),
        [&settings](const std::string& fallback) { settings.SetOutputFolder(fallback); }, services);
    return FreeOutputName(folder + fs::path(sourceFile).stem().string(), suffix, reserved);
}

} // namespace tarnel
