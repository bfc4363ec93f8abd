// Output names claimed through partial files: a name only ever holds a complete file, two claims
// never share a name, and what a killed process left behind is taken over.
#include "core/OutputClaim.h"

#include "TestSupport.h"
#include "core/OutputNaming.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnel {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(OutputClaim, TheOutputTakesItsNameOnlyWhenComplete) {
    test::TempDir dir;
    const std::string output = (dir / "clip.mp4").string();
    TOutputClaim claim;
    std::string error;
    ASSERT_EQ(claim.Claim(output, error), TClaimResult::Claimed) << error;
    EXPECT_EQ(claim.Partial(), (dir / ".partial-clip.mp4").string()); // the extension still tells the format
    std::ofstream(claim.Partial()) << "complete";
    EXPECT_FALSE(fs::exists(output));
    ASSERT_TRUE(claim.Commit(error)) << error;
    EXPECT_EQ(Read(output), "complete");
    EXPECT_FALSE(fs::exists(dir / ".partial-clip.mp4"));

    TOutputClaim unfinished;
    ASSERT_EQ(unfinished.Claim((dir / "other.mp4").string(), error), TClaimResult::Claimed);
    std::ofstream(unfinished.Partial()) << "half";
    unfinished.Abandon();
    EXPECT_FALSE(fs::exists(dir / "other.mp4"));
    EXPECT_FALSE(fs::exists(dir / ".partial-other.mp4"));
}

TEST(OutputClaim, ANameIsNeverSharedAndNeverOverwritten) {
    test::TempDir dir;
    const std::string output = (dir / "clip.mp4").string();
    std::string error;
    TOutputClaim first;
    ASSERT_EQ(first.Claim(output, error), TClaimResult::Claimed);
    TOutputClaim second;
    EXPECT_EQ(second.Claim(output, error), TClaimResult::Taken);
    EXPECT_TRUE(TOutputClaim::InUse(output));

    // A file that appears under the name while the output is written stays as it is.
    std::ofstream(output) << "someone else's";
    EXPECT_FALSE(first.Commit(error));
    EXPECT_NE(error.find("exists already"), std::string::npos) << error;
    EXPECT_EQ(Read(output), "someone else's");
    EXPECT_FALSE(fs::exists(dir / ".partial-clip.mp4"));
    EXPECT_EQ(second.Claim(output, error), TClaimResult::Exists);

    EXPECT_EQ(second.Claim((dir / "missing-folder" / "clip.mp4").string(), error), TClaimResult::Failed);
    EXPECT_NE(error.find("cannot write into"), std::string::npos) << error;
}

// kill -9 leaves the partial file; the next claim of the name removes it and takes the name.
TEST(OutputClaim, WhatAKilledProcessLeftIsTakenOver) {
    test::TempDir dir;
    const std::string output = (dir / "clip.mp4").string();
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TOutputClaim claim;
        std::string error;
        const bool claimed = claim.Claim(output, error) == TClaimResult::Claimed;
        std::ofstream(claim.Partial()) << "half written";
        const char answer = claimed ? 'y' : 'n';
        (void)!write(ready[1], &answer, 1);
        pause();
        _exit(0);
    }
    char answer = 0;
    ASSERT_EQ(read(ready[0], &answer, 1), 1);
    ASSERT_EQ(answer, 'y');
    std::string error;
    TOutputClaim meanwhile;
    EXPECT_EQ(meanwhile.Claim(output, error), TClaimResult::Taken) << "the writer still lives";

    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(fs::exists(dir / ".partial-clip.mp4"));
    EXPECT_FALSE(fs::exists(output)) << "never an incomplete file under the name";
    TOutputClaim next;
    ASSERT_EQ(next.Claim(output, error), TClaimResult::Claimed) << error;
    EXPECT_EQ(fs::file_size(next.Partial()), 0u) << "the leftover was removed";
    close(ready[0]);
    close(ready[1]);
}

TEST(OutputClaim, NamesSkipClaimedOnesAndKeptNamesRefuseExistingFiles) {
    test::TempDir dir;
    const std::string base = (dir / "clip").string();
    std::string error;
    TOutputClaim writing;
    ASSERT_EQ(writing.Claim(base + "_(new).mp4", error), TClaimResult::Claimed);
    EXPECT_EQ(FreeOutputName(base, ".mp4"), base + "_(new_1).mp4");
    TOutputClaim next;
    ASSERT_EQ(ClaimOutputName(base, ".mp4", false, {base + "_(new_1).mp4"}, next, error),
              TClaimResult::Claimed);
    EXPECT_EQ(next.Output(), base + "_(new_2).mp4");

    TOutputClaim kept;
    ASSERT_EQ(ClaimOutputName(base, ".mp4", true, {}, kept, error), TClaimResult::Claimed);
    EXPECT_EQ(kept.Output(), base + ".mp4");
    TOutputClaim again;
    EXPECT_EQ(ClaimOutputName(base, ".mp4", true, {}, again, error), TClaimResult::Taken);
    std::ofstream(kept.Partial()) << "done";
    ASSERT_TRUE(kept.Commit(error));
    EXPECT_EQ(ClaimOutputName(base, ".mp4", true, {}, again, error), TClaimResult::Exists);
    EXPECT_EQ(FirstOutputName(base, ".mp4", true), base + ".mp4");
    EXPECT_EQ(FirstOutputName(base, ".mp4", false), base + "_(new).mp4");
}

} // namespace
} // namespace tarnel
