#include "base/FrameHook.h"

#include "LogCapture.h"
#include "TestSupport.h"
#include "base/FFmpegLogger.h"
#include "base/FrameHookApi.h"

#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace tarnel {
namespace {

namespace fs = std::filesystem;

std::string ModulePath(const std::string& name) {
    return fs::absolute(test::TestModuleDir() / (name + ".so")).string();
}

// A function exported by an already loaded module, for reading its counters.
template <typename Function>
Function* ModuleFunction(const std::string& path, const char* name) {
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!module)
        return nullptr;
    auto* function = reinterpret_cast<Function*>(dlsym(module, name));
    dlclose(module);
    return function;
}

int ReleaseCount(const std::string& path) {
    auto* count = ModuleFunction<int()>(path, "HookReleaseCount");
    return count ? count() : -1;
}

class FrameHookTest : public ::testing::Test {
protected:
    test::LogCapture log_;
};

TEST_F(FrameHookTest, AddResultsAndMessages) {
    struct Case {
        std::vector<std::string> args;
        int result;
        std::optional<std::string> log; // exact text; nullopt: nothing logged
    };
    const std::string noProcess = ModulePath("hook_noprocess");
    const std::string noConfigure = ModulePath("hook_noconfigure");
    const std::string failConfigure = ModulePath("hook_failconfigure");
    const std::string invert = ModulePath("hook_invert");
    const Case cases[] = {
        {{}, -2, std::nullopt},
        {{noProcess}, -2, "Failed to find Process entrypoint in " + noProcess + "\n"},
        {{noConfigure, "x"}, -2, "Failed to find Configure entrypoint in " + noConfigure + "\n"},
        {{noConfigure}, 0, std::nullopt},
        {{failConfigure}, -22, "Failed to Configure " + failConfigure + "\n"},
        {{failConfigure, "a", "b"}, -22, "Failed to Configure " + failConfigure + "\n"},
        {{invert}, 0, std::nullopt},
        {{invert, "3"}, 0, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? std::string("(no arguments)") : c.args.back());
        FrameHookList hooks;
        EXPECT_EQ(hooks.Add(c.args), c.result);
        EXPECT_EQ(hooks.Empty(), c.result != 0);
        const auto log = log_.Take();
        if (c.log) {
            ASSERT_EQ(log.size(), 1u);
            EXPECT_EQ(log[0].level, llError);
            EXPECT_EQ(log[0].text, *c.log);
        } else {
            EXPECT_TRUE(log.empty()) << log.front().text;
        }
    }
}

TEST_F(FrameHookTest, MissingModuleLogsTheLoadersReason) {
    const std::string missing = (test::TestModuleDir() / "no_such_hook.so").string();
    FrameHookList hooks;
    EXPECT_EQ(hooks.Add({missing}), -1);
    EXPECT_TRUE(hooks.Empty());

    const auto log = log_.Take();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].level, llError);
    EXPECT_NE(log[0].text.find(missing), std::string::npos) << log[0].text;
    EXPECT_EQ(log[0].text.back(), '\n');
}

TEST_F(FrameHookTest, ProcessRunsEveryHookInOrder) {
    FrameHookList hooks;
    ASSERT_EQ(hooks.Add({ModulePath("hook_invert")}), 0);
    ASSERT_EQ(hooks.Add({ModulePath("hook_invert"), "10"}), 0);

    constexpr int width = 5, height = 3, linesize = 8;
    std::vector<uint8_t> plane(linesize * height);
    for (size_t i = 0; i < plane.size(); ++i)
        plane[i] = static_cast<uint8_t>(i * 17);
    const std::vector<uint8_t> original = plane;
    TarnelPicture picture{{plane.data(), nullptr, nullptr, nullptr}, {linesize, 0, 0, 0}};

    hooks.Process(&picture, 0, width, height, 1234);

    for (int y = 0; y < height; ++y)
        for (int x = 0; x < linesize; ++x) {
            const size_t i = static_cast<size_t>(y * linesize + x);
            // Inverted first, then raised by 10; the padding past the width stays as it was.
            const uint8_t expected = x < width ? static_cast<uint8_t>(255 - original[i] + 10) : original[i];
            EXPECT_EQ(plane[i], expected) << "x=" << x << " y=" << y;
        }
}

TEST_F(FrameHookTest, ReleaseCalledOncePerEntry) {
    const std::string path = ModulePath("hook_invert");
    {
        FrameHookList hooks;
        ASSERT_EQ(hooks.Add({path}), 0);
        ASSERT_EQ(hooks.Add({path, "1"}), 0);
        // A refused hook is never released.
        ASSERT_EQ(hooks.Add({ModulePath("hook_failconfigure")}), -22);
        const int before = ReleaseCount(path);
        ASSERT_GE(before, 0);

        hooks.Release();
        EXPECT_EQ(ReleaseCount(path), before + 2);
        EXPECT_TRUE(hooks.Empty());
        hooks.Release();
        EXPECT_EQ(ReleaseCount(path), before + 2);

        ASSERT_EQ(hooks.Add({path}), 0);
    }
    // The last entry is released when the list goes away.
    const int afterDestruction = ReleaseCount(path);
    FrameHookList other;
    ASSERT_EQ(other.Add({path}), 0);
    other.Release();
    EXPECT_EQ(ReleaseCount(path), afterDestruction + 1);
}

TEST_F(FrameHookTest, ModuleCacheIgnoresCase) {
    test::TempDir dir;
    fs::copy_file(ModulePath("hook_invert"), dir / "casehook.so");
    const std::string lower = (dir / "casehook.so").string();
    const std::string mixed = (dir / "CaseHook.SO").string();

    FrameHookList hooks;
    // No such file on a case-sensitive file system, and failures are not cached.
    EXPECT_EQ(hooks.Add({mixed}), -1);
    EXPECT_EQ(hooks.Add({lower}), 0);
    EXPECT_EQ(hooks.Add({mixed}), 0);
    EXPECT_EQ(hooks.Add({lower}), 0);

    auto* configureCount = ModuleFunction<int()>(lower, "HookConfigureCount");
    ASSERT_NE(configureCount, nullptr);
    EXPECT_EQ(configureCount(), 3) << "each name loaded its own copy of the module";
}

// Restores the current directory and PATH of the test process.
class ProcessStateGuard {
public:
    ProcessStateGuard()
        : directory_(fs::current_path()) {
        const char* path = std::getenv("PATH");
        path_ = path ? path : "";
    }
    ~ProcessStateGuard() {
        std::error_code ignored;
        fs::current_path(directory_, ignored);
        setenv("PATH", path_.c_str(), 1);
    }
    ProcessStateGuard(const ProcessStateGuard&) = delete;
    ProcessStateGuard& operator=(const ProcessStateGuard&) = delete;

private:
    fs::path directory_;
    std::string path_;
};

TEST_F(FrameHookTest, ModuleDirectoryCurrentDuringAddOnly) {
    const ProcessStateGuard guard;
    const fs::path moduleDir = fs::absolute(test::TestModuleDir());
    const std::string path = ModulePath("hook_invert");
    const fs::path before = fs::current_path();
    setenv("PATH", "/usr/bin:/bin", 1);

    FrameHookList hooks;
    ASSERT_EQ(hooks.Add({path}), 0);
    auto* configureDirectory = ModuleFunction<const char*()>(path, "HookConfigureDirectory");
    ASSERT_NE(configureDirectory, nullptr);
    EXPECT_TRUE(fs::equivalent(configureDirectory(), moduleDir)) << configureDirectory();
    EXPECT_EQ(fs::current_path(), before);
    const std::string expectedPath = moduleDir.string() + ":/usr/bin:/bin";
    EXPECT_EQ(std::getenv("PATH"), expectedPath);

    // A relative path still names the module while its directory is current; PATH is not extended twice.
    fs::current_path(moduleDir.parent_path());
    EXPECT_EQ(hooks.Add({(moduleDir.filename() / "hook_invert.so").string(), "2"}), 0);
    EXPECT_EQ(fs::current_path(), moduleDir.parent_path());
    EXPECT_EQ(std::getenv("PATH"), expectedPath);
}

} // namespace
} // namespace tarnel
