// The name a source file's output gets: "<output folder>/<source name>_(new)<suffix>", or
// "_(new_1)", "_(new_2)", … when that file exists already.
#pragma once

#include "OutputClaim.h"

#include <functional>
#include <string>
#include <vector>

namespace tarnel {

class TMainSettings;
class TShellServices;

// Uses the output folder of the settings. When it cannot be created, warns, creates the default
// output folder and stores it as the output folder. Names in `reserved` (the outputs of other tasks
// of the same batch) count as taken, so that no task writes over another one's file.
std::string MakeOutputFileName(const std::string& sourceFile, const std::string& suffix,
                               TMainSettings& settings, TShellServices& services,
                               const std::vector<std::string>& reserved = {});

// The output folder of the settings (made as MakeOutputFileName does) + the source's name.
std::string OutputBase(const std::string& sourceFile, TMainSettings& settings, TShellServices& services);

// The name the output would have in a folder free of others: base + suffix with `keepNames`, else
// base + "_(new)" + suffix.
std::string FirstOutputName(const std::string& base, const std::string& suffix, bool keepNames);

// Claims the output's name for a conversion. With `keepNames` the name is base + suffix, and an
// existing file or another conversion writing it is refused (Exists, Taken); else the first of the
// "_(new)" names that no file, living claim or name in `reserved` has.
TClaimResult ClaimOutputName(const std::string& base, const std::string& suffix, bool keepNames,
                             const std::vector<std::string>& reserved, TOutputClaim& claim,
                             std::string& error);

// `folder`, made when missing, with a trailing "/". When it cannot be made: warns, makes the default
// output folder, hands it to `store` and returns that one.
std::string FolderOrDefault(const std::string& folder, const std::function<void(const std::string&)>& store,
                            TShellServices& services);

// The first of base + "_(new)" + suffix, base + "_(new_1)" + suffix, … that names no existing file,
// no output another conversion is writing, and none of `reserved`.
std::string FreeOutputName(const std::string& base, const std::string& suffix,
                           const std::vector<std::string>& reserved = {});

} // namespace tarnel
