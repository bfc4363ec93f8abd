// The built tarnel-cli, for tests that run it as a program of its own.
#pragma once

#include <cstdlib>
#include <filesystem>

namespace tarnel::test {

// $TARNEL_CLI, else cli/tarnel-cli in the build tree the test runs from.
inline std::filesystem::path CliProgram() {
    if (const char* path = std::getenv("TARNEL_CLI"))
        return path;
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "cli" / "tarnel-cli";
}

} // namespace tarnel::test
