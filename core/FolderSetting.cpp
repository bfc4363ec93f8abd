#include "FolderSetting.h"

#include "GlobalObject.h"
#include "IniFile.h"
#include "ShellServices.h"

#include <filesystem>

namespace tarnel {

bool FolderUsable(const std::string& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return TGlobalObject::IsFolderWritable(folder);
}

std::string SetFolderFromChooser(const std::string& chosen, const std::string& shown,
                                 TShellServices& services,
                                 const std::function<void(const std::string&)>& store) {
    if (chosen.empty() || chosen == shown)
        return {};
    if (chosen.size() < 4) {
        services.ShowMessage("The path " + chosen + " is not a valid directory.", "Warning",
                             TMessageIcon::Warning);
        return {};
    }
    std::string folder = chosen;
    if (!TGlobalObject::IsFolderWritable(folder)) {
        services.ShowMessage("You login as " + Trim(TGlobalObject::GetLoginName()) +
                                 " .You don't have permission to write to directory:" + folder,
                             "Warning", TMessageIcon::Warning);
        folder = TGlobalObject::FallbackOutputFolder();
    }
    store(folder);
    return folder;
}

} // namespace tarnel
