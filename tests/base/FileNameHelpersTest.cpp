#include "TestSupport.h"
#include "base/MyUtils.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, size_t bytes) {
    std::ofstream out(path, std::ios::binary);
    out << std::string(bytes, 'x');
}

struct NameCase {
    const char* fileName;
    const char* path;
    const char* name;
};
std::ostream& operator<<(std::ostream& os, const NameCase& c) {
    return os << '"' << c.fileName << '"';
}

class FileNameParts : public ::testing::TestWithParam<NameCase> {};

TEST_P(FileNameParts, SplitAtTheLastSlash) {
    EXPECT_EQ(ExtractFilePath(GetParam().fileName), GetParam().path);
    EXPECT_EQ(ExtractFileName(GetParam().fileName), GetParam().name);
    EXPECT_EQ(ExtractFilePath(GetParam().fileName) + ExtractFileName(GetParam().fileName),
              GetParam().fileName);
}

INSTANTIATE_TEST_SUITE_P(Cases, FileNameParts,
                         ::testing::Values(NameCase{"/home/u/video.avi", "/home/u/", "video.avi"},
                                           NameCase{"video.avi", "", "video.avi"},
                                           NameCase{"/home/u/", "/home/u/", ""}, NameCase{"/a", "/", "a"},
                                           NameCase{"rel/dir/a b.mp4", "rel/dir/", "a b.mp4"},
                                           NameCase{"", "", ""}));

TEST(IncludeTrailingPathDelimiter, AddsOneSlashOnlyWhenMissing) {
    EXPECT_EQ(IncludeTrailingPathDelimiter("/tmp/out"), "/tmp/out/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/tmp/out/"), "/tmp/out/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/"), "/");
    EXPECT_EQ(IncludeTrailingPathDelimiter(""), "");
}

TEST(FileExistsAndSize, TellFilesFromFoldersAndMissingNames) {
    test::TempDir dir;
    WriteFile(dir / "clip.bin", 1234);
    WriteFile(dir / "empty.bin", 0);
    fs::create_directory(dir / "folder");
    fs::create_symlink(dir / "clip.bin", dir / "link.bin");

    EXPECT_TRUE(FileExists((dir / "clip.bin").string()));
    EXPECT_TRUE(FileExists((dir / "link.bin").string()));
    EXPECT_FALSE(FileExists((dir / "folder").string()));
    EXPECT_FALSE(FileExists((dir / "missing.bin").string()));

    EXPECT_EQ(FileSize((dir / "clip.bin").string()), 1234);
    EXPECT_EQ(FileSize((dir / "link.bin").string()), 1234);
    EXPECT_EQ(FileSize((dir / "empty.bin").string()), 0);
    EXPECT_EQ(FileSize((dir / "folder").string()), -1);
    EXPECT_EQ(FileSize((dir / "missing.bin").string()), -1);
}

TEST(FileSize, IsMinusOneForAPipeWithoutBlocking) {
    test::TempDir dir;
    const std::string pipe = (dir / "pipe").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(FileSize(pipe), -1);
}

TEST(FileSize, IsMinusOneForAnUnreadableFile) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    test::TempDir dir;
    WriteFile(dir / "secret.bin", 10);
    fs::permissions(dir / "secret.bin", fs::perms::none);
    EXPECT_TRUE(FileExists((dir / "secret.bin").string()));
    EXPECT_EQ(FileSize((dir / "secret.bin").string()), -1);
}

TEST(CurrentDir, ChangesAndReadsBack) {
    const std::string previous = GetCurrentDir();
    ASSERT_FALSE(previous.empty());
    test::TempDir dir;
    ASSERT_TRUE(SetCurrentDir(dir.Path().string()));
    EXPECT_EQ(fs::path(GetCurrentDir()), fs::canonical(dir.Path()));
    EXPECT_FALSE(SetCurrentDir((dir / "missing").string()));
    EXPECT_EQ(fs::path(GetCurrentDir()), fs::canonical(dir.Path()));
    ASSERT_TRUE(SetCurrentDir(previous));
}

TEST(GetEnvironmentVariable, ReadsSetValuesAndEmptyForUnset) {
    const std::string name = "TARNEL_HELPER_TEST_VARIABLE";
    const std::string longValue(5000, 'v');
    ASSERT_EQ(setenv(name.c_str(), longValue.c_str(), 1), 0);
    EXPECT_EQ(GetEnvironmentVariable(name), longValue);
    ASSERT_EQ(unsetenv(name.c_str()), 0);
    EXPECT_EQ(GetEnvironmentVariable(name), "");
}

} // namespace
} // namespace tarnel
