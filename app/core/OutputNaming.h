// The name a source file's output gets: "<output folder>/<source name>_(new)<suffix>", or
// "_(new_1)", "_(new_2)", … when that file exists already.
#pragma once

#include <string>

namespace tarnel {

class TMainSettings;
class TShellServices;

// Uses the output folder of the settings. When it cannot be created, warns, creates the default
// output folder and stores it as the output folder.
std::string MakeOutputFileName(const std::string& sourceFile, const std::string& suffix,
                               TMainSettings& settings, TShellServices& services);

// The first of base + "_(new)" + suffix, base + "_(new_1)" + suffix, … that names no existing file.
std::string FreeOutputName(const std::string& base, const std::string& suffix);

} // namespace tarnel
