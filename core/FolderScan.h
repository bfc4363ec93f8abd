// The files inside a folder and its subfolders, for adding a whole folder to the list.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tarnel {

// Every file under `folder` (following no links to folders, so a link loop ends), in name order of
// their paths. The subfolders that cannot be read are passed over and listed in `unreadable` when
// it is given. `keepGoing` is asked after each entry with the number of files found so far; false
// stops the scan and returns what was found.
std::vector<std::string> FilesInFolder(const std::string& folder,
                                       const std::function<bool(size_t found)>& keepGoing = {},
                                       std::vector<std::string>* unreadable = nullptr);

// `names` with every folder among them replaced by the files in it, in the order given.
std::vector<std::string> ExpandFolders(const std::vector<std::string>& names,
                                       const std::function<bool(size_t found)>& keepGoing = {});

} // namespace tarnel
