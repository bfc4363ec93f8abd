// Adding files and whole folders to the list: what is found, in which order, what is refused and
// why, and stopping a long read.
#include "core/FileAdmission.h"

#include "TestSupport.h"
#include "converter/FFConverter.h"
#include "core/FolderScan.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace tarnel {
namespace {

namespace fs = std::filesystem;
using test::Fixtures;

// music/b.mp3, music/deep/a.mp4, music/notes.txt, music/empty/ and a.mp4 next to music/.
class FileAdmissionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(converter_.LoadLibraries(""));
        fs::create_directories(dir_ / "music" / "deep");
        fs::create_directories(dir_ / "music" / "empty");
        fs::copy_file(Fixtures().audioOnly, dir_ / "music" / "b.mp3");
        fs::copy_file(Fixtures().h264AacMp4, dir_ / "music" / "deep" / "a.mp4");
        fs::copy_file(Fixtures().h264AacMp4, dir_ / "a.mp4");
        std::ofstream(dir_ / "music" / "notes.txt") << "not a video";
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    test::TempDir dir_;
    TFFConverter converter_;
    std::atomic<bool> cancel_{false};
    TAdmissionProgress progress_;
};

TEST_F(FileAdmissionTest, FoldersGiveTheirFilesInNameOrder) {
    EXPECT_EQ(
        FilesInFolder(Path("music")),
        (std::vector<std::string>{Path("music/b.mp3"), Path("music/deep/a.mp4"), Path("music/notes.txt")}));
    EXPECT_EQ(ExpandFolders({Path("a.mp4"), Path("music"), Path("missing.mp4")}),
              (std::vector<std::string>{Path("a.mp4"), Path("music/b.mp3"), Path("music/deep/a.mp4"),
                                        Path("music/notes.txt"), Path("missing.mp4")}));
    EXPECT_TRUE(FilesInFolder(Path("music/empty")).empty());
}

TEST_F(FileAdmissionTest, MediaIsAdmittedAndTheRestRefusedWithItsReason) {
    const TAdmission admission = AdmitFiles({Path("music"), Path("a.mp4"), Path("music/empty")},
                                            {Path("a.mp4")}, converter_, cancel_, progress_);
    ASSERT_EQ(admission.Admitted.size(), 2u);
    EXPECT_EQ(admission.Admitted[0].File, Path("music/b.mp3"));
    EXPECT_EQ(admission.Admitted[0].LengthSeconds, 3);
    EXPECT_EQ(admission.Admitted[1].File, Path("music/deep/a.mp4"));
    ASSERT_EQ(admission.Refused.size(), 3u);
    EXPECT_EQ(admission.Refused[0].File, Path("music/notes.txt"));
    EXPECT_EQ(admission.Refused[0].Reason.rfind("is not a media file (", 0), 0u)
        << admission.Refused[0].Reason;
    EXPECT_EQ(admission.Refused[0].Reason.find(Path("music/notes.txt")), std::string::npos)
        << "the file is named once, by the message: " << admission.Refused[0].Reason;
    EXPECT_EQ(admission.Refused[1].Reason, "is in the list already");
    EXPECT_EQ(admission.Refused[2].File, Path("music/empty"));
    EXPECT_EQ(admission.Refused[2].Reason, "has nothing to convert");
    EXPECT_FALSE(admission.Cancelled);
    EXPECT_EQ(progress_.Total, 4u);
    EXPECT_EQ(progress_.Checked, 3u);
    EXPECT_EQ(RefusalMessage(admission.Refused).substr(0, 27), "These files were not added:");
}

TEST_F(FileAdmissionTest, ACancelledReadStopsAndSaysSo) {
    cancel_ = true;
    const TAdmission admission = AdmitFiles({Path("music")}, {}, converter_, cancel_, progress_);
    EXPECT_TRUE(admission.Cancelled);
    EXPECT_TRUE(admission.Admitted.empty());
    EXPECT_TRUE(admission.Refused.empty()) << "a cancelled folder is not called empty";
}

// A link back up the tree is not followed, and a folder that cannot be read is named.
TEST_F(FileAdmissionTest, LinkLoopsEndAndUnreadableFoldersAreNamed) {
    fs::create_directory_symlink(dir_.Path() / "music", dir_ / "music" / "deep" / "loop");
    EXPECT_EQ(FilesInFolder(Path("music")).size(), 3u);
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";
    fs::create_directories(dir_ / "music" / "locked");
    fs::permissions(dir_ / "music" / "locked", fs::perms::none);
    const TAdmission admission = AdmitFiles({Path("music")}, {}, converter_, cancel_, progress_);
    fs::permissions(dir_ / "music" / "locked", fs::perms::owner_all);
    EXPECT_EQ(admission.Admitted.size(), 2u);
    ASSERT_FALSE(admission.Refused.empty());
    EXPECT_EQ(admission.Refused[0].File, Path("music/locked"));
    EXPECT_EQ(admission.Refused[0].Reason, "cannot be read");
}

} // namespace
} // namespace tarnel
