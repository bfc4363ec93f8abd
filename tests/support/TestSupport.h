// Helpers shared by the test suites.
#pragma once

#include "Fixtures.h"

#include <filesystem>
#include <string>

namespace tarnel::test {

// The generated media fixtures (made on first use when the fixture test has not run).
const fixtures::FixtureSet& Fixtures();

// Folder of the frame-hook test modules ($TARNEL_TEST_MODULES).
std::filesystem::path TestModuleDir();

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

} // namespace tarnel::test
