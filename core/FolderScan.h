// The files inside a folder and its subfolders, for adding a whole folder to the list.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tarnel {

// Every file under `folder` (following no links to folders), in name order of their paths.
// Folders that cannot be read are passed over. `keepGoing` is asked after each entry with the
// number of files found so far; false stops the scan and returns what was found.
std::vector<std::string> FilesInFolder(const std::string& folder,
                                       const std::function<bool(size_t found)>& keepGoing = {});

// `names` with every folder among them replaced by the files in it, in the order given.
std::vector<std::string> ExpandFolders(const std::vector<std::string>& names,
                                       const std::function<bool(size_t found)>& keepGoing = {});

} // namespace tarnel
