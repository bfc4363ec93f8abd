// "tarnel-cli play": event lines, early stops, snapshots and failures.
#include "PlayCommand.h"

#include "TestSupport.h"
#include "base/Bitmap.h"
#include "base/FFmpegLoader.h"
#include "player/FFPlayer.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

using namespace tarnel;

namespace {

namespace fs = std::filesystem;

struct PlayResult {
    int status;
    std::vector<std::string> lines;
    std::string errors;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

PlayResult Play(const cli::PlayOptions& options) {
    std::ostringstream out, errors;
    const int status = cli::RunPlayCommand(options, out, errors);
    return {status, Lines(out.str()), errors.str()};
}

cli::PlayOptions Options(const std::string& file) {
    cli::PlayOptions options;
    options.file = file;
    return options;
}

std::vector<double> Positions(const std::vector<std::string>& lines) {
    std::vector<double> positions;
    for (const std::string& line : lines) {
        if (line.starts_with("position "))
            positions.push_back(std::stod(line.substr(9)));
    }
    return positions;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Every line is an event line; the first is "state play", the last "state stop".
void ExpectEventLines(const std::vector<std::string>& lines) {
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), "state play");
    EXPECT_EQ(lines.back(), "state stop");
    const auto eventLine =
        testing::MatchesRegex(R"(state (play|pause|resume|step|stop|end)|position -?[0-9]+\.[0-9]{3})");
    for (const std::string& line : lines)
        EXPECT_THAT(line, eventLine);
}

std::string ReadText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
    const std::string bytes = ReadText(path);
    return {bytes.begin(), bytes.end()};
}

uint32_t LittleEndian(const std::vector<uint8_t>& bytes, size_t offset, int size) {
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | bytes.at(offset + i);
    return value;
}

class PlayCommand : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Loader().LoadSet(kPlayerLibraries)) << Loader().LastLoadError(); }
    test::TempDir dir_;
};

TEST_F(PlayCommand, PlaysToTheEndWithOneLinePerEventInOrder) {
    const PlayResult result = Play(Options(test::Fixtures().h264AacMp4));
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(result.errors, "");
    ExpectEventLines(result.lines);
    const auto end = std::find(result.lines.begin(), result.lines.end(), "state end");
    ASSERT_NE(end, result.lines.end());
    EXPECT_EQ(std::count(result.lines.begin(), result.lines.end(), "state end"), 1);
    const std::vector<double> positions = Positions(result.lines);
    ASSERT_GE(positions.size(), 10u);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    // The end is reported as the exact duration even when the clock came within a millisecond of it,
    // so only the last line may repeat the one before it at this precision.
    EXPECT_EQ(std::adjacent_find(positions.begin(), positions.end() - 1), positions.end() - 1)
        << "repeated position";
    EXPECT_NEAR(positions.back(), fixtures::kFixtureSeconds, 0.15);
}

// Without video the player may report "end" more than once before it is closed; it is printed once.
TEST_F(PlayCommand, SeeksBeforePlayingAnAudioFileToItsEnd) {
    cli::PlayOptions options = Options(test::Fixtures().audioOnly);
    options.seekSeconds = 2.0;
    const PlayResult result = Play(options);
    EXPECT_EQ(result.status, 0) << result.errors;
    ExpectEventLines(result.lines);
    EXPECT_EQ(std::count(result.lines.begin(), result.lines.end(), "state end"), 1);
    const std::vector<double> positions = Positions(result.lines);
    ASSERT_FALSE(positions.empty());
    EXPECT_NEAR(positions.back(), fixtures::kFixtureSeconds, 0.15);
    // Played from the start, these would have been reported.
    EXPECT_TRUE(std::none_of(positions.begin(), positions.end(), [](double p) { return p > 0.5 && p < 1.9; }))
        << ::testing::PrintToString(positions);
}

TEST_F(PlayCommand, UntilClosesOnceThePositionIsReached) {
    cli::PlayOptions options = Options(test::Fixtures().h264AacMp4);
    options.untilSeconds = 1.0;
    const PlayResult result = Play(options);
    EXPECT_EQ(result.status, 0) << result.errors;
    ExpectEventLines(result.lines);
    EXPECT_FALSE(Has(result.lines, "state end"));
    const std::vector<double> positions = Positions(result.lines);
    EXPECT_TRUE(std::any_of(positions.begin(), positions.end(), [](double p) { return p >= 1.0; }));
}

TEST_F(PlayCommand, SnapshotWritesTheShownPictureAsABmpFile) {
    const fs::path bmp = dir_ / "x.bmp";
    cli::PlayOptions options = Options(test::Fixtures().h264AacMp4);
    options.snapshot = "0.5:" + bmp.string();
    options.untilSeconds = 0.5;
    const PlayResult result = Play(options);
    ASSERT_EQ(result.status, 0) << result.errors;
    ExpectEventLines(result.lines);

    const std::vector<uint8_t> file = ReadFile(bmp);
    const int width = fixtures::kFixtureWidth;
    const int height = fixtures::kFixtureHeight;
    const size_t pixelBytes = static_cast<size_t>(TBitmap::RowSizeFor(width)) * height;
    ASSERT_EQ(file.size(), 54 + pixelBytes);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(LittleEndian(file, 2, 4), file.size());
    EXPECT_EQ(LittleEndian(file, 10, 4), 54u); // pixel data offset
    EXPECT_EQ(LittleEndian(file, 14, 4), 40u); // info header size
    EXPECT_EQ(LittleEndian(file, 18, 4), static_cast<uint32_t>(width));
    EXPECT_EQ(LittleEndian(file, 22, 4), static_cast<uint32_t>(height)); // positive: bottom-up
    EXPECT_EQ(LittleEndian(file, 26, 2), 1u);                            // planes
    EXPECT_EQ(LittleEndian(file, 28, 2), 24u);                           // bits per pixel
    EXPECT_EQ(LittleEndian(file, 30, 4), 0u);                            // uncompressed
    EXPECT_EQ(LittleEndian(file, 34, 4), pixelBytes);
    EXPECT_TRUE(std::any_of(file.begin() + 54, file.end(), [](uint8_t b) { return b > 16; }))
        << "the picture is black";
    // The fixture's gradient runs along x + y: a pixel is much closer to its upper-right neighbour
    // than to its lower-right one, unless the rows were written in the wrong order.
    const auto pixel = [&](int x, int y) {
        return file.data() + 54 + static_cast<size_t>(height - 1 - y) * TBitmap::RowSizeFor(width) + 3 * x;
    };
    int64_t alongGradientLines = 0, acrossGradientLines = 0;
    for (int y = 1; y + 1 < height; ++y) {
        for (int x = 0; x + 1 < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                alongGradientLines += std::abs(pixel(x, y)[c] - pixel(x + 1, y - 1)[c]);
                acrossGradientLines += std::abs(pixel(x, y)[c] - pixel(x + 1, y + 1)[c]);
            }
        }
    }
    EXPECT_LT(2 * alongGradientLines, acrossGradientLines);
}

TEST_F(PlayCommand, ASnapshotThatCannotBeMadeFailsTheRun) {
    const fs::path bmp = dir_ / "x.bmp";
    const fs::path unwritable = dir_ / "missing" / "x.bmp";
    struct Case {
        bool noVideo;
        std::optional<double> until;
        fs::path path;
        std::string message;
    };
    const Case cases[] = {
        {true, std::nullopt, bmp, "Cannot take a snapshot: no video is playing"},
        {false, std::nullopt, unwritable,
         "Cannot write the snapshot \"" + unwritable.string() +
             "\": " + std::generic_category().message(ENOENT)},
        {false, 0.2, bmp, "No snapshot written to \"" + bmp.string() + "\": playback stopped before 0.500 s"},
    };
    for (const Case& c : cases) {
        cli::PlayOptions options = Options(test::Fixtures().h264AacMp4);
        options.noVideo = c.noVideo;
        options.untilSeconds = c.until;
        options.snapshot = "0.5:" + c.path.string();
        const PlayResult result = Play(options);
        EXPECT_EQ(result.status, 1) << c.message;
        EXPECT_EQ(result.errors, c.message + "\n");
        ExpectEventLines(result.lines);
        EXPECT_FALSE(Positions(result.lines).empty()) << "it did play: " << c.message;
        EXPECT_FALSE(fs::exists(c.path)) << c.message;
    }
}

TEST_F(PlayCommand, AFileThatCannotBePlayedFailsWithThePlayersMessage) {
    const std::string missing = (dir_ / "missing.mp4").string();
    const std::string text = (dir_ / "text.mp4").string();
    std::ofstream(text) << "not a media file\n";
    for (const std::string& file : {missing, text}) {
        std::string expected;
        {
            TFFPlayer player;
            ASSERT_FALSE(player.Open(file));
            expected = player.LastError();
        }
        ASSERT_FALSE(expected.empty());
        const PlayResult result = Play(Options(file));
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.errors, expected + "\n");
        EXPECT_TRUE(result.lines.empty());
    }
}

TEST_F(PlayCommand, BadOptionsFailBeforePlaying) {
    struct Case {
        std::string snapshot;
        double seek;
        std::string message;
    };
    const Case cases[] = {
        {"0.5", 0, "Invalid --snapshot \"0.5\": expected SECONDS:PATH.bmp"},
        {"x:a.bmp", 0, "Invalid --snapshot \"x:a.bmp\": expected SECONDS:PATH.bmp"},
        {"-1:a.bmp", 0, "Invalid --snapshot \"-1:a.bmp\": expected SECONDS:PATH.bmp"},
        {":a.bmp", 0, "Invalid --snapshot \":a.bmp\": expected SECONDS:PATH.bmp"},
        {"0.5:", 0, "Invalid --snapshot \"0.5:\": expected SECONDS:PATH.bmp"},
        {"0.5:a.png", 0, "Invalid --snapshot \"0.5:a.png\": expected SECONDS:PATH.bmp"},
        {"1e300:a.bmp", 0, "Invalid --snapshot \"1e300:a.bmp\": expected SECONDS:PATH.bmp"},
        {"", -1, "Invalid --seek value: it must be a number of seconds, 0 or more"},
    };
    for (const Case& c : cases) {
        cli::PlayOptions options = Options(test::Fixtures().h264AacMp4);
        options.snapshot = c.snapshot;
        options.seekSeconds = c.seek;
        const PlayResult result = Play(options);
        EXPECT_EQ(result.status, 1) << c.message;
        EXPECT_EQ(result.errors, c.message + "\n");
        EXPECT_TRUE(result.lines.empty()) << c.message;
    }
}

// The built program: $TARNEL_CLI, else cli/tarnel-cli in the build tree this test runs from.
fs::path CliProgram() {
    if (const char* path = std::getenv("TARNEL_CLI"))
        return path;
    return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "cli" / "tarnel-cli";
}

TEST_F(PlayCommand, CtrlCClosesThePlayerAndExitsWith130) {
    const fs::path program = CliProgram();
    ASSERT_TRUE(fs::exists(program)) << program << " is not built";
    const fs::path output = dir_ / "stdout.txt";
    const std::string input = test::Fixtures().h264AacMp4;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int file = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(file, STDOUT_FILENO);
        execl(program.c_str(), program.c_str(), "--loglevel", "quiet", "play", input.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    // Interrupt once it is playing (a player that never starts is killed rather than waited for).
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int status = 0;
    while (ReadText(output).find("position ") == std::string::npos) {
        ASSERT_EQ(waitpid(child, &status, WNOHANG), 0) << "ended before playing:\n" << ReadText(output);
        if (std::chrono::steady_clock::now() > giveUp) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            FAIL() << "no position reported:\n" << ReadText(output);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(child, SIGINT);
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    const std::vector<std::string> lines = Lines(ReadText(output));
    ExpectEventLines(lines);
    EXPECT_FALSE(Has(lines, "state end"));
}

} // namespace
