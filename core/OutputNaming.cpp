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
        return FileExists(name) || std::find(reserved.begin(), reserved.end(), name) != reserved.end() ||
               TOutputClaim::InUse(name);
    };
    std::string candidate = base + "_(new)" + suffix;
    for (int n = 1; taken(candidate); ++n)
        candidate = base + "_(new_" + std::to_string(n) + ")" + suffix;
    return candidate;
}

std::string FirstOutputName(const std::string& base, const std::string& suffix, bool keepNames) {
    return keepNames ? base + suffix : base + "_(new)" + suffix;
}

TClaimResult ClaimOutputName(const std::string& base, const std::string& suffix, bool keepNames,
                             const std::vector<std::string>& reserved, TOutputClaim& claim,
                             std::string& error) {
    if (keepNames) {
        if (std::find(reserved.begin(), reserved.end(), base + suffix) != reserved.end())
            return TClaimResult::Taken;
        return claim.Claim(base + suffix, error);
    }
    // Another process may take a free name between the look and the claim: then the next one.
    for (;;) {
        const std::string name = FreeOutputName(base, suffix, reserved);
        const TClaimResult result = claim.Claim(name, error);
        if (result == TClaimResult::Claimed || result == TClaimResult::Failed)
            return result;
    }
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

std::string OutputBase(const std::string& sourceFile, TMainSettings& settings, TShellServices& services) {
    const std::string folder = FolderOrDefault(
        settings.OutputFolder(),
        [&settings](const std::string& fallback) { settings.SetOutputFolder(fallback); }, services);
    return folder + fs::path(sourceFile).stem().string();
}

std::string MakeOutputFileName(const std::string& sourceFile, const std::string& suffix,
                               TMainSettings& settings, TShellServices& services,
                               const std::vector<std::string>& reserved) {
    return FreeOutputName(OutputBase(sourceFile, settings, services), suffix, reserved);
}

} // namespace tarnel
