// tarnel-cli convert and profiles: the desktop program's profiles on the command line.
#include "ConvertCommand.h"

#include "CliProgram.h"
#include "MediaInspect.h"
#include "ProfilesCommand.h"
#include "TestSupport.h"
#include "converter/LoudnessMeter.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tarnel {
namespace {

using test::Fixtures;
using test::TempDir;
namespace fs = std::filesystem;

// A home of its own, so that the user's settings are neither read nor written.
class ConvertCommandTest : public ::testing::Test {
protected:
    test::TPrivateHome home_;
};

TEST_F(ConvertCommandTest, ProfilesAreListedWithTheirCodes) {
    std::ostringstream out;
    cli::ListProfiles(out);
    const std::string text = out.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\t'), 44);
    EXPECT_NE(text.find("Apple iPod\n  0\tiPod Video MPEG-4 (*.mp4)\n"), std::string::npos);
    EXPECT_NE(text.find("  506\tAC-3 Audio Codec (*.ac3)\n"), std::string::npos);
}

TEST_F(ConvertCommandTest, ConvertsGoodFilesAndNamesTheOthers) {
    cli::ConvertOptions options;
    options.profile = 404;
    options.outputFolder = (home_.Home() / "out").string();
    options.startSeconds = 1;
    options.lengthSeconds = 1;
    options.files = {Fixtures().h264AacMp4, (home_.Home() / "missing.mp4").string()};
    std::ostringstream out, errors;
    EXPECT_EQ(cli::ConvertFiles(options, out, errors), 1);
    const fs::path output = home_.Home() / "out" / "h264_aac_(new).avi";
    EXPECT_NE(out.str().find("h264_aac.mp4 -> " + output.string()), std::string::npos) << out.str();
    EXPECT_NE(errors.str().find("Skipped: " + (home_.Home() / "missing.mp4").string()), std::string::npos)
        << errors.str();
    const test::MediaFacts facts = test::InspectMedia(output.string());
    ASSERT_TRUE(facts.opened);
    EXPECT_EQ(facts.format, "avi");
    ASSERT_NE(facts.First("video"), nullptr);
    EXPECT_NEAR(facts.First("video")->endTime, 1.0, 0.2) << "--length 1";
    EXPECT_FALSE(fs::exists(home_.Home() / ".config" / "tarnel" / "tarnelmain.ini")) << "--out is not stored";

    std::ostringstream none;
    options.profile = 9;
    EXPECT_EQ(cli::ConvertFiles(options, none, errors), 1);
    EXPECT_NE(errors.str().find("Unknown profile 9"), std::string::npos);
}

// A folder converts every file in it and below it; what is not media is skipped with its reason,
// and a folder with no files at all is an error.
TEST_F(ConvertCommandTest, AFolderConvertsItsFilesAndSkipsTheRest) {
    const fs::path folder = home_.Home() / "in";
    fs::create_directories(folder / "deeper");
    fs::copy_file(Fixtures().h264AacMp4, folder / "deeper" / "clip.mp4");
    std::ofstream(folder / "notes.txt") << "not media";
    cli::ConvertOptions options;
    options.profile = 404;
    options.lengthSeconds = 1;
    options.outputFolder = (home_.Home() / "out").string();
    options.files = {folder.string()};
    std::ostringstream out, errors;
    EXPECT_EQ(cli::ConvertFiles(options, out, errors), 1) << "a skipped file makes the status 1";
    EXPECT_TRUE(fs::exists(home_.Home() / "out" / "clip_(new).avi")) << out.str() << errors.str();
    EXPECT_NE(errors.str().find("Skipped: " + (folder / "notes.txt").string()), std::string::npos)
        << errors.str();

    fs::create_directories(home_.Home() / "nothing");
    options.files = {(home_.Home() / "nothing").string()};
    std::ostringstream none, noneErrors;
    EXPECT_EQ(cli::ConvertFiles(options, none, noneErrors), 1);
    EXPECT_NE(noneErrors.str().find("No files to convert"), std::string::npos) << noneErrors.str();
}

// More side-by-side conversions than files: every file converts once.
TEST_F(ConvertCommandTest, SideBySideWithMoreJobsThanFiles) {
    cli::ConvertOptions options;
    options.profile = 404;
    options.jobs = 8;
    options.outputFolder = (home_.Home() / "out").string();
    const fs::path copy = home_.Home() / "copy.mp4";
    fs::copy_file(Fixtures().h264AacMp4, copy);
    options.files = {Fixtures().h264AacMp4, copy.string()};
    std::ostringstream out, errors;
    EXPECT_EQ(cli::ConvertFiles(options, out, errors), 0) << out.str() << errors.str();
    EXPECT_NE(out.str().find("h264_aac.mp4 -> "), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("copy.mp4 -> "), std::string::npos) << out.str();
}

// The measuring passes: the figures end each file's line; a file without pictures has no quality
// figures, and the loudness of a file is brought to the target.
TEST_F(ConvertCommandTest, LoudnessAndQualityFiguresEndEachFilesLine) {
    cli::ConvertOptions options;
    options.profile = 403;
    options.loudness = -16;
    options.quality = true;
    options.outputFolder = (home_.Home() / "out").string();
    options.files = {Fixtures().h264AacMp4};
    std::ostringstream out, errors;
    ASSERT_EQ(cli::ConvertFiles(options, out, errors), 0) << out.str() << errors.str();
    const std::string line = out.str();
    EXPECT_NE(line.find(" LUFS \u2192 -16 LUFS, PSNR "), std::string::npos) << line;
    EXPECT_NE(line.find(" dB, SSIM 0."), std::string::npos) << line;
    const TLoudness converted = MeasureLoudness({(home_.Home() / "out" / "h264_aac_(new).mp4").string()});
    EXPECT_NEAR(converted.Integrated, -16, 1.0);

    options.profile = 500; // MP3: sound only
    std::ostringstream audioOut;
    ASSERT_EQ(cli::ConvertFiles(options, audioOut, errors), 0) << errors.str();
    EXPECT_NE(audioOut.str().find("LUFS"), std::string::npos) << audioOut.str();
    EXPECT_EQ(audioOut.str().find("PSNR"), std::string::npos) << audioOut.str();
}

TEST_F(ConvertCommandTest, AnAudioProfileSkipsAFileWithoutSoundBeforeTheRun) {
    cli::ConvertOptions options;
    options.profile = 500;
    options.outputFolder = (home_.Home() / "out").string();
    options.files = {Fixtures().videoOnly};
    std::ostringstream out, errors;
    EXPECT_EQ(cli::ConvertFiles(options, out, errors), 1);
    EXPECT_NE(errors.str().find("Skipped: " + Fixtures().videoOnly + ": it has no sound to convert"),
              std::string::npos)
        << errors.str();
    EXPECT_TRUE(!fs::exists(home_.Home() / "out") || fs::is_empty(home_.Home() / "out"));
}

TEST_F(ConvertCommandTest, ALoudnessTargetOutsideItsRangeNamesTheOption) {
    for (const char* target : {"-80", "0", "loud"}) {
        SCOPED_TRACE(target);
        const std::string command = test::CliProgram().string() + " convert --profile 500 --loudness " +
                                    target + " " + Fixtures().audioOnly + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string text;
        char buffer[512];
        while (fgets(buffer, sizeof buffer, pipe))
            text += buffer;
        const int status = pclose(pipe);
        EXPECT_NE(WEXITSTATUS(status), 0);
        EXPECT_NE(text.find("--loudness"), std::string::npos) << text;
    }
}

// Ctrl-C stops the conversion and, as the desktop's Cancel, removes the unfinished file.
TEST_F(ConvertCommandTest, CtrlCStopsAndRemovesTheUnfinishedFile) {
    const fs::path program = test::CliProgram();
    const fs::path outputFolder = home_.Home() / "out";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, STDOUT_FILENO);
        dup2(devnull, STDERR_FILENO);
        execl(program.c_str(), program.c_str(), "convert", "--profile", "205", "--out", outputFolder.c_str(),
              Fixtures().h264AacMp4.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const fs::path output = outputFolder / "h264_aac_(new).mp4";
    const fs::path partial = outputFolder / ".partial-h264_aac_(new).mp4";
    for (int i = 0; i < 500 && !(fs::exists(partial) && fs::file_size(partial) > 0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(fs::exists(partial)) << "the file was being written";
    kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_FALSE(fs::exists(output));
    EXPECT_FALSE(fs::exists(partial));
}

} // namespace
} // namespace tarnel
