#include "ProbeCommand.h"

#include "TestSupport.h"
#include "base/FFUtils.h"
#include "base/FFmpegLoader.h"

#include <gtest/gtest.h>
#include <sstream>

extern "C" {
#include <libavutil/error.h>
}

using namespace tarnel;

namespace {

struct ProbeResult {
    int status;
    std::string out;
    std::string errors;
};

ProbeResult Probe(const std::vector<std::string>& files) {
    std::ostringstream out, errors;
    const int status = cli::ProbeFiles(files, out, errors);
    return {status, out.str(), errors.str()};
}

class ProbeCommand : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)) << Loader().LastLoadError(); }
};

TEST_F(ProbeCommand, PrintsTheInformationTextOfEachFile) {
    const std::string mp4 = test::Fixtures().h264AacMp4;
    const std::string ac3 = test::Fixtures().surround51;
    const ProbeResult result = Probe({mp4, ac3});
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(result.errors, "");
    const size_t first = result.out.find("File Name: " + mp4 + "\n");
    const size_t second = result.out.find("\n\nFile Name: " + ac3 + "\n");
    EXPECT_EQ(first, 0u) << result.out;
    ASSERT_NE(second, std::string::npos) << result.out;
    EXPECT_NE(result.out.find(": Video: h264"), std::string::npos);
    EXPECT_NE(result.out.find(": Audio: ac3", second), std::string::npos);
    EXPECT_EQ(result.out.back(), '\n');
}

TEST_F(ProbeCommand, AFileThatCannotBeOpenedFailsTheRunButNotTheOthers) {
    test::TempDir dir;
    const std::string missing = (dir / "missing.mkv").string();
    const std::string good = test::Fixtures().withSubtitles;
    const ProbeResult result = Probe({missing, good});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.errors, ErrorText(missing, AVERROR(ENOENT)) + "\n");
    EXPECT_EQ(result.out.find("File Name: " + good + "\n"), 0u) << result.out;
    EXPECT_EQ(result.out.find(missing), std::string::npos);
}

} // namespace
