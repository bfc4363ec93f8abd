// The filters of the dialog that adds media files to the list.
#pragma once

#include "ShellServices.h"

#include <string>
#include <vector>

namespace tarnel {

const std::vector<TFileFilter>& MediaFileFilters();
// Descriptions and patterns, and the pairs, joined with "|".
std::string MediaFileFilterString();

} // namespace tarnel
