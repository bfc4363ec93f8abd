// The shipped profile file tarnelformat.ini, one section per profile ("formatInfo" + code). The
// program only reads it.
#pragma once

#include "IniFile.h"

#include <string>

namespace tarnel {

class TProfileFile {
public:
    explicit TProfileFile(const std::string& fileName);

    std::string ReadString(int32_t code, const std::string& key, const std::string& def);
    // The output container name, "null" when missing.
    std::string Format(int32_t code);
    // The output file extension without the dot, "mp4" when missing.
    std::string FileExt(int32_t code);
    bool HasProfile(int32_t code);

private:
    TIniFile ini_;
};

} // namespace tarnel
