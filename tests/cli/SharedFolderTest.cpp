// tarnel-cli convert for many processes writing into one folder: kept names, re-runs that finish
// what is missing, JSON lines, and stops that leave nothing half written.
#include "CliProgram.h"
#include "ConvertCommand.h"
#include "TestSupport.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tarnel {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::Fixtures;

class SharedFolderTest : public ::testing::Test {
protected:
    cli::ConvertOptions Options(std::vector<std::string> files) const {
        cli::ConvertOptions options;
        options.profile = 404;
        options.lengthSeconds = 1;
        options.outputFolder = out_.string();
        options.keepNames = true;
        options.files = std::move(files);
        return options;
    }

    std::vector<json> JsonLines(const std::string& text) const {
        std::vector<json> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            lines.push_back(json::parse(line)); // throws on anything that is not one JSON object a line
        return lines;
    }

    // Files in the output folder, the partial ones too.
    std::vector<std::string> OutputFolder() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(out_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    test::TPrivateHome home_;
    fs::path out_ = home_.Home() / "out";
};

// Kept names and --skip-existing: the same command run again converts only what is missing, and a
// kept name is never overwritten.
TEST_F(SharedFolderTest, ARerunFinishesExactlyWhatIsMissing) {
    const fs::path in = home_.Home() / "in";
    fs::create_directories(in);
    for (const char* name : {"a.mp4", "b.mp4", "c.mp4"})
        fs::copy_file(Fixtures().h264AacMp4, in / name);
    cli::ConvertOptions options = Options({(in / "a.mp4").string()});
    std::ostringstream out, errors;
    ASSERT_EQ(cli::ConvertFiles(options, out, errors), 0) << errors.str();
    EXPECT_EQ(OutputFolder(), std::vector<std::string>{"a.avi"});

    options.files = {in.string()};
    options.skipExisting = true;
    options.json = true;
    std::ostringstream rerun;
    ASSERT_EQ(cli::ConvertFiles(options, rerun, errors), 0) << errors.str();
    EXPECT_EQ(OutputFolder(), (std::vector<std::string>{"a.avi", "b.avi", "c.avi"}));
    std::map<std::string, std::string> statuses;
    for (const json& line : JsonLines(rerun.str()))
        statuses[fs::path(line["source"].get<std::string>()).filename().string()] = line["status"];
    EXPECT_EQ(statuses, (std::map<std::string, std::string>{
                            {"a.mp4", "skipped"}, {"b.mp4", "finished"}, {"c.mp4", "finished"}}));

    options.skipExisting = false; // kept names without skipping: the existing file is refused
    std::ostringstream refused, refusedErrors;
    EXPECT_EQ(cli::ConvertFiles(options, refused, refusedErrors), 1);
    for (const json& line : JsonLines(refused.str())) {
        EXPECT_EQ(line["status"], "skipped");
        EXPECT_NE(line["reason"].get<std::string>().find("exists already"), std::string::npos) << line;
    }
}

TEST_F(SharedFolderTest, JsonLinesDescribeEachFileEvenWithNamesThatAreNotUtf8) {
    const fs::path odd = home_.Home() / "caf\xe9.mp4"; // Latin-1, not UTF-8
    fs::copy_file(Fixtures().h264AacMp4, odd);
    cli::ConvertOptions options = Options({odd.string(), (home_.Home() / "missing.mp4").string()});
    options.keepNames = false;
    options.json = true;
    options.quality = true;
    std::ostringstream out, errors;
    EXPECT_EQ(cli::ConvertFiles(options, out, errors), 1);
    const std::vector<json> lines = JsonLines(out.str());
    ASSERT_EQ(lines.size(), 2u) << out.str();
    const json& missing = lines[0]; // skipped files come first, before the run
    EXPECT_EQ(missing["status"], "skipped");
    EXPECT_TRUE(missing["output"].is_null());
    const json& converted = lines[1];
    EXPECT_EQ(converted["status"], "finished");
    EXPECT_NE(converted["source"].get<std::string>().find("caf\xef\xbf\xbd.mp4"), std::string::npos)
        << "the bad byte becomes U+FFFD";
    EXPECT_GT(converted["size"].get<int64_t>(), 0);
    EXPECT_GT(converted["seconds"].get<double>(), 0);
    EXPECT_TRUE(converted["quality"]["ssim"].is_number()) << converted;
    EXPECT_TRUE(converted["loudness"].is_null());
}

// Several processes given the same kept name: one converts it, the others say it exists.
TEST_F(SharedFolderTest, ProcessesGivenOneKeptNameConvertItOnce) {
    const fs::path program = test::CliProgram();
    constexpr int kProcesses = 3;
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, STDOUT_FILENO);
            dup2(devnull, STDERR_FILENO);
            execl(program.c_str(), program.c_str(), "convert", "--profile", "404", "--keep-names", "--out",
                  out_.c_str(), Fixtures().h264AacMp4.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        children.push_back(child);
    }
    int succeeded = 0;
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_LE(WEXITSTATUS(status), 1);
        succeeded += WEXITSTATUS(status) == 0 ? 1 : 0;
    }
    EXPECT_EQ(succeeded, 1);
    EXPECT_EQ(OutputFolder(), std::vector<std::string>{"h264_aac.avi"});
}

// A disk that fills up mid-write: the partial file goes, and the message names the disk. A small
// memory file system stands for the disk (mounting one needs the right to; without it the test
// is skipped).
TEST_F(SharedFolderTest, AFullDiskLeavesNothingAndIsNamed) {
    fs::create_directories(out_);
    if (mount("tarnel-test", out_.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
    cli::ConvertOptions options = Options({Fixtures().h264AacMp4});
    options.lengthSeconds = 0;
    std::ostringstream out, errors;
    const int status = cli::ConvertFiles(options, out, errors);
    const std::vector<std::string> left = OutputFolder();
    umount(out_.c_str());
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.str().find("the disk holding " + out_.string() + " is full"), std::string::npos)
        << out.str();
    EXPECT_TRUE(left.empty()) << left.front();
}

// A termination request (as a scheduler sends) stops like Ctrl-C: the partial file is removed and
// the status says which signal it was.
TEST_F(SharedFolderTest, ATerminationRequestLeavesNoPartialFile) {
    const fs::path program = test::CliProgram();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, STDOUT_FILENO);
        dup2(devnull, STDERR_FILENO);
        execl(program.c_str(), program.c_str(), "convert", "--profile", "205", "--out", out_.c_str(),
              Fixtures().h264AacMp4.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const fs::path partial = out_ / ".partial-h264_aac_(new).mp4";
    for (int i = 0; i < 500 && !(fs::exists(partial) && fs::file_size(partial) > 0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(fs::exists(partial)) << "the file was being written under its partial name";
    EXPECT_FALSE(fs::exists(out_ / "h264_aac_(new).mp4"));
    kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 143);
    EXPECT_TRUE(OutputFolder().empty());
}

} // namespace
} // namespace tarnel
