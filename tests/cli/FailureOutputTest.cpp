// A failing run, probe or play prints its failure once: the library's log line and the command's
// final error carry the same text.
#include "CliProgram.h"
#include "TestSupport.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

struct Output {
    int status = -1;
    std::string text; // stdout and stderr together
};

Output RunProgram(const std::vector<std::string>& args) {
    std::string command = "'" + tarnel::test::CliProgram().string() + "'";
    for (const std::string& arg : args)
        command += " '" + arg + "'";
    command += " 2>&1";
    Output output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return output;
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.text.append(buffer, n);
    const int status = ::pclose(pipe);
    output.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

TEST(FailureOutputTest, EachFailureIsPrintedOnce) {
    tarnel::test::TempDir dir;
    const std::string missing = (dir / "missing.mp4").string();
    const std::string garbage = (dir / "garbage.mp4").string();
    std::ofstream(garbage) << "this is not a media file";
    const struct {
        std::vector<std::string> args;
        std::string failure;
    } cases[] = {
        {{"run", "-i", missing, (dir / "out.mkv").string()}, missing + ": No such file or directory"},
        {{"run", "-i", tarnel::test::Fixtures().videoOnly, "-vcodec", "h263", (dir / "out.avi").string()},
         "Error while opening encoder for output stream #0.0 (Video)"},
        {{"probe", garbage}, garbage + ": Invalid data found when processing input"},
        {{"probe", missing}, missing + ": No such file or directory"},
        {{"play", "--no-audio", "--no-video", garbage},
         garbage + ": Invalid data found when processing input"},
    };
    for (const auto& c : cases) {
        const Output output = RunProgram(c.args);
        EXPECT_EQ(output.status, 1) << c.args[0] << "\n" << output.text;
        EXPECT_EQ(Occurrences(output.text, c.failure), 1u) << c.args[0] << "\n" << output.text;
    }
}

} // namespace
