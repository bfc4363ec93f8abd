// --timeout of tarnel-cli: an input that never answers ends the command with the time-out
// message, and a bad value is a usage error that names the option.
#include "CliProgram.h"
#include "SilentPeer.h"

#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

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

constexpr int kUsageError = 105; // CLI11's status for a value its check refuses

TEST(TimeoutOption, ProbeAndRunOfAnInputThatNeverAnswersEndAfterTheTimeOut) {
    using tarnel::test::SilentPeer;
    SilentPeer peer(SilentPeer::Kind::SendsThenStops);
    ASSERT_GT(peer.Port(), 0);
    const std::vector<std::vector<std::string>> commands = {
        {"probe", "--timeout", "1", peer.Url()},
        {"run", "--timeout", "1", "-i", peer.Url(), "/tmp/tarnel-never-written.mkv"},
    };
    for (const auto& command : commands) {
        const auto start = std::chrono::steady_clock::now();
        const Output output = RunProgram(command);
        EXPECT_LT(tarnel::test::SecondsSince(start), 5.0) << command[0];
        EXPECT_EQ(output.status, 1) << output.text;
        EXPECT_NE(output.text.find(peer.Url() + ": no answer within 1 s\n"), std::string::npos)
            << output.text;
    }
}

TEST(TimeoutOption, ABadValueIsAUsageErrorNamingTheOption) {
    const std::vector<std::vector<std::string>> commands = {
        {"probe", "--timeout", "0", "x.mkv"},
        {"probe", "--timeout", "soon", "x.mkv"},
        {"convert", "--profile", "1", "--timeout", "-5", "x.mkv"},
        {"run", "--timeout", "1e9", "-i", "x.mkv", "y.mkv"},
        {"run", "-i", "x.mkv", "--timeout", "ten", "y.mkv"},
    };
    for (const auto& command : commands) {
        const Output output = RunProgram(command);
        EXPECT_EQ(output.status, kUsageError) << output.text;
        EXPECT_EQ(output.text.rfind("--timeout: ", 0), 0u) << output.text;
    }
}

} // namespace
