#include "ProfileFile.h"

#include "Catalogue.h"

namespace tarnel {

TProfileFile::TProfileFile(const std::string& fileName)
    : ini_(fileName) {}

std::string TProfileFile::ReadString(int32_t code, const std::string& key, const std::string& def) {
    return ini_.ReadString(ProfileSection(code), key, def);
}

std::string TProfileFile::Format(int32_t code) {
    return ReadString(code, "Format", "null");
}

std::string TProfileFile::FileExt(int32_t code) {
    return ReadString(code, "FileExt", "mp4");
}

bool TProfileFile::HasProfile(int32_t code) {
    return ini_.SectionExists(ProfileSection(code));
}

} // namespace tarnel
