#include "RunCommand.h"

#include "TestSupport.h"
#include "base/FFmpegLoader.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace tarnel;

namespace {

struct RunResult {
    int status;
    std::string errors;
};

RunResult RunCli(const std::vector<std::string>& args, bool join = false) {
    ::testing::internal::CaptureStderr();
    const int status = cli::RunEngine(args, join);
    return {status, ::testing::internal::GetCapturedStderr()};
}

class RunCommand : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)) << Loader().LastLoadError(); }
    test::TempDir dir_;
};

TEST_F(RunCommand, EveryBadArgumentEndsWithTheEnginesMessage) {
    const std::string input = test::Fixtures().h264AacMp4;
    const std::string out = (dir_ / "out.mkv").string();
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"-i", (dir_ / "missing.mp4").string(), out},
         (dir_ / "missing.mp4").string() + ": No such file or directory"},
        {{"-i", input, "-qscale", "0", out}, "qscale must be > 0.0 and <= 255"},
        {{"-i", input, "-vcodec", "nope", out}, "new_video_stream fail: Unknown encoder 'nope'"},
        {{"-i", input, "-f", "nope", out}, "Requested output format 'nope' is not a suitable output format"},
        {{"-i", input, "-ar", "x", out}, "Invalid value \"x\" for option \"ar\""},
        {{"-i", input, "-vtag", "abc", out}, "video tag parameter must be 4 chars"},
        {{"-i", input}, "At least one output file must be specified"},
        {{"-i", input, "-acodec"}, "Missing value for option -acodec"},
    };
    for (const Case& c : cases) {
        const RunResult result = RunCli(c.args);
        EXPECT_EQ(result.status, 1) << c.message;
        EXPECT_NE(result.errors.find(c.message + "\n"), std::string::npos) << result.errors;
    }
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(RunCommand, OpensInputsAndOutputs) {
    const std::string input = test::Fixtures().h264AacMp4;
    const RunResult result = RunCli(
        {"-i", input, "-i", input, "-vcodec", "libx264", "-vpre", "fast", (dir_ / "joined.mkv").string()},
        true);
    EXPECT_EQ(result.status, 0) << result.errors;
}

} // namespace
