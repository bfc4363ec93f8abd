// "tarnel-cli run" end to end: a conversion, a failing run and an interrupted one.
#include "CliProgram.h"
#include "MediaInspect.h"
#include "RunCommand.h"
#include "TestSupport.h"
#include "base/FFUtils.h"
#include "base/FFmpegLoader.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern "C" {
#include <libavutil/error.h>
}

using namespace tarnel;

namespace {

namespace fs = std::filesystem;

struct RunResult {
    int status;
    std::string errors;
};

RunResult RunCli(const std::vector<std::string>& args) {
    ::testing::internal::CaptureStderr();
    const int status = cli::RunEngine(args, false);
    return {status, ::testing::internal::GetCapturedStderr()};
}

class RunConversion : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Loader().LoadSet(kConverterLibraries)) << Loader().LastLoadError(); }
    test::TempDir dir_;
};

TEST_F(RunConversion, ConvertsAFixture) {
    const std::string output = (dir_ / "out.mkv").string();
    const RunResult result =
        RunCli({"-i", test::Fixtures().h264AacMp4, "-vcodec", "mpeg4", "-acodec", "mp2", output});
    ASSERT_EQ(result.status, 0) << result.errors;
    const test::MediaFacts facts = test::InspectMedia(output);
    ASSERT_TRUE(facts.opened);
    ASSERT_NE(facts.First("video"), nullptr);
    ASSERT_NE(facts.First("audio"), nullptr);
    EXPECT_EQ(facts.First("video")->codec, "mpeg4");
    EXPECT_EQ(facts.First("audio")->codec, "mp2");
    EXPECT_NEAR(facts.duration, fixtures::kFixtureSeconds, 0.15);
}

TEST_F(RunConversion, AnEncoderThatRefusesItsParametersFailsTheRun) {
    // H.263 knows only a few picture sizes, and 320x240 is not one of them.
    const std::string output = (dir_ / "refused.avi").string();
    const RunResult result = RunCli({"-i", test::Fixtures().videoOnly, "-vcodec", "h263", output});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(
        result.errors.find("Error while opening encoder for output stream #0.0 (Video) - maybe incorrect "
                           "parameters such as bit_rate, rate, width or height. Please check error log "
                           "message to find out more detail information.\n"),
        std::string::npos)
        << result.errors;
    EXPECT_FALSE(fs::exists(output));
}

// An audio filter graph the library refuses, in its text or when it is put together, fails the run
// before the output is written: the library says what is wrong with the graph, and the last line is
// the engine's message with the library's error text.
TEST_F(RunConversion, ARefusedAudioFilterGraphFailsTheRun) {
    const fs::path program = test::CliProgram();
    ASSERT_TRUE(fs::exists(program)) << program << " is not built";
    const std::string output = (dir_ / "filtered.mkv").string();
    const struct {
        const char* graph;
        const char* libraryLine;
    } cases[] = {
        {"nosuchfilter", "No such filter: 'nosuchfilter'"},
        {"asplit", "of asplit not connected to any destination"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.graph);
        const std::string command = "'" + program.string() + "' run -i '" + test::Fixtures().audioOnly +
                                    "' -af '" + c.graph + "' '" + output + "' 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string text;
        char buffer[4096];
        while (const size_t got = std::fread(buffer, 1, sizeof buffer, pipe))
            text.append(buffer, got);
        const int status = pclose(pipe);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1);
        EXPECT_NE(text.find(c.libraryLine), std::string::npos) << text;
        const std::string message = "Error configuring the audio filters \"" + std::string(c.graph) +
                                    "\" of output stream #0.0: " + LibraryErrorText(AVERROR(EINVAL)) + "\n";
        EXPECT_TRUE(text.ends_with(message)) << text;
        EXPECT_FALSE(fs::exists(output));
    }
}

TEST_F(RunConversion, CtrlCStopsWithAValidFile) {
    const fs::path program = test::CliProgram();
    ASSERT_TRUE(fs::exists(program)) << program << " is not built";
    const std::string output = (dir_ / "interrupted.mkv").string();
    const std::string input = test::Fixtures().h264AacMp4;
    const std::string errors = (dir_ / "stderr.txt").string();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int log = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(log, STDERR_FILENO);
        // Rate emulation: the 3 s input takes 3 s to convert.
        execl(program.c_str(), program.c_str(), "--loglevel", "quiet", "run", "-re", "-i", input.c_str(),
              "-vcodec", "copy", "-acodec", "copy", output.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    const test::MediaFacts facts = test::InspectMedia(output);
    ASSERT_TRUE(facts.opened);
    ASSERT_NE(facts.First("video"), nullptr);
    EXPECT_GT(facts.First("video")->packets, 0);
    EXPECT_LT(facts.First("video")->endTime, fixtures::kFixtureSeconds - 0.15);
}

} // namespace
