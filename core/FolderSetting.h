// Setting the output or snapshot folder from the folder chooser's answer: a folder root is refused,
// a folder that cannot be written is replaced by the fallback folder after a warning.
#pragma once

#include <functional>
#include <string>

namespace tarnel {

class TShellServices;

// True when the folder exists, or could be made, and a file can be written in it.
bool FolderUsable(const std::string& folder);

// `chosen` is the chooser's answer, `shown` the folder the field shows now; `store` writes the key.
// Returns the folder to show, or an empty text when nothing changes.
std::string SetFolderFromChooser(const std::string& chosen, const std::string& shown,
                                 TShellServices& services,
                                 const std::function<void(const std::string&)>& store);

} // namespace tarnel
