// tarnel-cli profiles: the output profiles of the catalogue, with the codes that convert takes.
#pragma once

#include <ostream>

namespace tarnel::cli {

void ListProfiles(std::ostream& out);

} // namespace tarnel::cli
