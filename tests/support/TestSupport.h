// Helpers shared by the test suites.
#pragma once

#include "Fixtures.h"

#include <filesystem>
#include <string>

namespace tarnel::test {

// The generated media fixtures (made on first use when the fixture test has not run).
const fixtures::FixtureSet& Fixtures();
// The fixtures shaped like the files people have (subtitles, covers, rotation, several tracks).
const fixtures::RealWorldSet& RealWorldFixtures();

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

// A fresh $HOME and $XDG_CONFIG_HOME for one test; the previous values come back afterwards.
class TPrivateHome {
public:
    TPrivateHome();
    ~TPrivateHome();
    const std::filesystem::path& Home() const { return home_.Path(); }
    std::filesystem::path SettingsFolder() const { return home_.Path() / ".config" / "tarnel"; }
    std::filesystem::path SettingsFile() const { return SettingsFolder() / "tarnelmain.ini"; }

private:
    TempDir home_;
    std::string oldHome_;
    std::string oldConfig_;
    bool hadHome_ = false;
    bool hadConfig_ = false;
};

} // namespace tarnel::test
