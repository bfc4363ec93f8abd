#include "TestSupport.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>

namespace tarnel::test {

const fixtures::FixtureSet& Fixtures() {
    static const fixtures::FixtureSet set = fixtures::EnsureFixtures(fixtures::DefaultFixtureDir());
    return set;
}

const fixtures::RealWorldSet& RealWorldFixtures() {
    static const fixtures::RealWorldSet set =
        fixtures::EnsureRealWorldFixtures(fixtures::DefaultFixtureDir());
    return set;
}

std::filesystem::path TestModuleDir() {
    const char* dir = std::getenv("TARNEL_TEST_MODULES");
    return dir ? std::filesystem::path(dir) : std::filesystem::current_path();
}

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("tarnel-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

namespace {

void Remember(const char* name, std::string& value, bool& had) {
    const char* current = std::getenv(name);
    had = current != nullptr;
    value = current ? current : "";
}

void Restore(const char* name, const std::string& value, bool had) {
    if (had)
        ::setenv(name, value.c_str(), 1);
    else
        ::unsetenv(name);
}

} // namespace

TPrivateHome::TPrivateHome() {
    Remember("HOME", oldHome_, hadHome_);
    Remember("XDG_CONFIG_HOME", oldConfig_, hadConfig_);
    ::setenv("HOME", home_.Path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home_.Path() / ".config").c_str(), 1);
}

TPrivateHome::~TPrivateHome() {
    Restore("HOME", oldHome_, hadHome_);
    Restore("XDG_CONFIG_HOME", oldConfig_, hadConfig_);
}

} // namespace tarnel::test
